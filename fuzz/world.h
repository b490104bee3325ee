// A small world for the fuzz targets: a substitute host with the real
// plug-in code linked in, users of every rank in rooms of every kind, kept
// alive across inputs and put back cheaply between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "vestrel.h"

namespace fuzz
{

// Bytes of a fuzz input, taken from the front; past the end every read
// gives 0 and an empty run.
class Reader
{
  public:
    Reader(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ >= end_; }
    uint8_t byte() { return empty() ? 0 : *p_++; }
    uint16_t u16()
    {
        uint16_t lo = byte();
        return static_cast<uint16_t>(lo | (byte() << 8));
    }
    uint32_t u32()
    {
        uint32_t lo = u16();
        return lo | (static_cast<uint32_t>(u16()) << 16);
    }
    std::vector<uint8_t> bytes(size_t n)
    {
        size_t take = std::min(n, static_cast<size_t>(end_ - p_));
        std::vector<uint8_t> out(p_, p_ + take);
        p_ += take;
        return out;
    }

  private:
    const uint8_t *p_;
    const uint8_t *end_;
};

// Aborts, so that the fuzzer reports the input, when the host has seen a
// foreign free or, after a shutdown, a live block.
void requireClean(vh::Host &host, bool afterShutdown);

// The command table's ranks as built in; setrank lines change them.
void saveRanks();
void restoreRanks();

struct UserSpec {
    const char *handle;
    int rank;
    RoomID room;
    uint32_t ip;
};

class World
{
  public:
    // params: the parameter file the world runs with; a quiet world keeps
    // no transcript.
    World(const std::string &params, std::vector<UserSpec> users, bool quiet);
    ~World();

    vh::Host &host() { return *host_; }
    ServerUserRec *user(size_t i);
    size_t users() const { return specs_.size(); }
    const std::vector<RoomID> &rooms() const { return rooms_; }
    // The member room of the world and its owner's index.
    static constexpr RoomID kMemberRoom = 7;

    // Puts users, rooms and ranks back as built; every so many inputs the
    // whole world is shut down (checked for leaks) and built again.
    void reset();

  private:
    void build();
    void restoreUser(size_t i);
    void restoreRooms();

    std::string dir_, params_;
    std::vector<UserSpec> specs_;
    std::vector<RoomID> rooms_;
    bool quiet_;
    std::unique_ptr<vh::Host> host_;
    unsigned inputs_ = 0;
};

// A private temporary directory, removed with the process.
std::string tempDir();

} // namespace fuzz
