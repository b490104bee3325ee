// What the host's own files share and nothing outside the host sees: the
// sizes of a room and the text helpers of text.cpp. (The records it keeps
// beside each user and room are in host.h, for its inline lookups; the Host
// owns them, in users_ and rooms_.)
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

} // namespace vh
