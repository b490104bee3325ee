// A small host with three users, for the screening tests, and byte helpers for raw messages.
#pragma once

#include "fixture.h"

#include <cstring>

class Screen : public HostTest
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(start(""));
        host->createRoom(5, "Five");
        alice = connect("alice");
        bob = connect("bob");
        wiz = connect("wiz", 2);
        host->advance(2);
        lines();
    }

    std::vector<std::string> sayLines(ServerUserRec *u, const std::string &text)
    {
        lines();
        host->say(u, text);
        return lines();
    }

    bool passed(ServerUserRec *u, const std::string &text)
    {
        auto out = sayLines(u, text);
        const std::string said = host->handleOf(u) + " says: " + vh::printable(text);
        return std::find(out.begin(), out.end(), said) != out.end();
    }

    std::vector<std::string> sendLines(ServerUserRec *u, uint32_t code, std::vector<uint8_t> p)
    {
        lines();
        host->send(u, code, p);
        return lines();
    }

    bool dropped(ServerUserRec *u, uint32_t code, std::vector<uint8_t> p)
    {
        auto out = sendLines(u, code, p);
        return std::find(out.begin(), out.end(),
                         "dropped " + vh::eventCode(code) + " from " + host->handleOf(u)) !=
               out.end();
    }

    ServerUserRec *alice = nullptr, *bob = nullptr, *wiz = nullptr;
};

inline std::vector<uint8_t> bytes(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

inline std::vector<uint8_t> le16(int v)
{
    std::vector<uint8_t> p(2);
    int16_t x = static_cast<int16_t>(v);
    std::memcpy(p.data(), &x, 2);
    return p;
}

inline std::vector<uint8_t> le32(uint32_t v)
{
    std::vector<uint8_t> p(4);
    std::memcpy(p.data(), &v, 4);
    return p;
}

inline std::vector<uint8_t> cat(std::vector<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
