// What the host's own files share and nothing outside the host sees: the
// records it keeps beside each user and room (the Host owns them, in users_
// and rooms_), the sizes of a room, and the text helpers of text.cpp.
#pragma once

#include "host.h"

namespace vh
{

constexpr uint32_t kVarBufSize = 16384; // bytes of a room's variable buffer
constexpr int kMaxPeoplePerRoom = 64;

std::string lower(std::string s);
// At most `maxChars` of a length-prefixed name.
std::string pascalToString(const unsigned char *p, size_t maxChars);
// An address as the records keep it (network order), in dotted form.
std::string ipText(uint32_t ip);

struct Host::HostUser {
    ServerUserRec rec{};
    std::string handle;
    int rank = 1;
    std::string nameKey; // lower-cased name, as indexed in byName_
    std::vector<unsigned char> slot;
    uint32_t lateCounter = 0, lateCrc = 0; // logon data that arrive late
};

struct Host::HostRoom {
    ServerRoomRec rec{};
    std::string name;
    std::vector<unsigned char> varBuf;
    std::vector<UserID> occupants;
    std::vector<LPropRec> props;
    std::vector<int> drawings; // payload bytes of each drawing
    int extraVars = 0;         // lenVars set by hand beyond the laid-out bytes
    std::vector<unsigned char> slot;
};

} // namespace vh
