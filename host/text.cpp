// Text as the host reads and prints it: Pascal strings, addresses, names
// in lower case for lookups, and the transcript's printable form of text,
// prop lists and event codes.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "host_internal.h"

namespace vh
{

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string pascalToString(const unsigned char *p, size_t maxChars)
{
    size_t n = std::min<size_t>(p[0], maxChars);
    return std::string(reinterpret_cast<const char *>(p + 1), n);
}

std::string ipText(uint32_t ip)
{
    const auto *o = reinterpret_cast<const unsigned char *>(&ip);
    return std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) + "." +
           std::to_string(o[3]);
}

bool hasControl(const std::string &text)
{
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

std::string printable(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F) { // not printable ASCII
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string propList(int32_t n, const AssetSpec *props)
{
    if (n <= 0 || props == nullptr)
        return "none";
    std::string out;
    for (int32_t i = 0; i < n; i++) {
        if (i > 0)
            out += ' ';
        out += std::to_string(props[i].id);
    }
    return out;
}

std::string eventCode(uint32_t eventType)
{
    std::string code;
    for (int shift = 24; shift >= 0; shift -= 8)
        code += static_cast<char>((eventType >> shift) & 0xFF);
    return printable(code);
}

} // namespace vh
