#pragma once

#include "host.h"

namespace vh
{

constexpr uint32_t kVarBufSize = 16384;
constexpr int kMaxPeoplePerRoom = 64;

std::string lower(std::string s);
std::string pascalToString(const unsigned char *p, size_t maxChars);
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
