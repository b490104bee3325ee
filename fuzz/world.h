// A small world for the fuzz targets: a substitute host with the real
// plug-in code linked in, users of every rank in rooms of every kind, kept
// alive across inputs and put back cheaply between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
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
    uint32_t counter = 0; // 0: one of his own
    uint32_t puid = 0;    // 0: one of his own
    RoomID owns = -1;     // the member room he owns, or -1
    bool hidden = false;  // the server hides him from non-operators
};

// Who a user is to the server, where it differs from what the world made him: a value
// given replaces his own (0 included); logonDelay holds back his counter.
struct Identity {
    std::optional<uint32_t> ip, counter, puid;
    int logonDelay = 0;
};

class World
{
  public:
    // params: the parameter file the world runs with; a quiet world keeps
    // no transcript.
    // inputsPerWorld: how many inputs one built world serves; between them
    // reset puts back only what an input is expected to change, so that a
    // finding may depend on earlier inputs unless this is 1.
    World(const std::string &params, std::vector<UserSpec> users, bool quiet,
          unsigned inputsPerWorld);
    ~World();

    vh::Host &host() { return *host_; }
    ServerUserRec *user(size_t i);
    size_t users() const { return specs_.size(); }
    const std::vector<RoomID> &rooms() const { return rooms_; }
    // The member rooms of the world.
    static constexpr RoomID kMemberRoom = 7;
    static constexpr RoomID kSecondMemberRoom = 4;

    // User i logs off and on again, into his own room, as `who` says.
    ServerUserRec *reconnect(size_t i, const Identity &who);
    // The plug-in reloads with `first` before the world's own lines and
    // `last` after them; the next reset puts the world's file back.
    void reload(const std::string &first, const std::string &last);

    // Puts users, rooms and ranks back as built; every so many inputs the
    // whole world is shut down (checked for leaks) and built again.
    void reset();

  private:
    void build();
    void writeParams(const std::string &params);
    ServerUserRec *connectUser(size_t i, const Identity &who);
    bool asBuilt(size_t i, const ServerUserRec *u) const;
    void restoreUser(size_t i);
    void restoreRooms();

    std::string dir_, params_;
    std::vector<UserSpec> specs_;
    std::vector<RoomID> rooms_;
    bool quiet_;
    bool reloaded_ = false;
    std::unique_ptr<vh::Host> host_;
    unsigned inputs_ = 0;
    unsigned inputsPerWorld_;
};

// A private temporary directory, removed with the process.
std::string tempDir();

} // namespace fuzz
