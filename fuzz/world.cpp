#include "world.h"

#include "static_procs.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fuzz
{

namespace
{

CmdTable g_ranks[NBR_COMMANDS];
bool g_ranksSaved = false;

struct RoomSpec {
    RoomID id;
    const char *name;
    uint32_t flags;
    const char *password;
};

// Public, private, closed, passworded, member and owners-only rooms.
const RoomSpec kRooms[] = {
    {0, "Entrance", 0, ""},
    {5, "Private", RF_Private, ""},
    {6, "Closed", RF_Closed, ""},
    {8, "Locked", 0, "secret"},
    {World::kMemberRoom, "Mel's", 0, ""},
    {9, "Vault", 0, ""},
    {World::kSecondMemberRoom, "Ben's", 0, ""},
};

} // namespace

namespace
{

// Made on first use; removed when the program ends.
struct TempDirectory {
    std::string path;
    TempDirectory()
    {
        // In memory where the machine has it: the params target writes a
        // file for every input.
        std::error_code ec;
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        path = (base / "vestrel-fuzz-XXXXXX").string();
        if (mkdtemp(path.data()) == nullptr)
            std::abort();
    }
    ~TempDirectory()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

} // namespace

std::string tempDir()
{
    static TempDirectory dir;
    return dir.path;
}

void requireClean(vh::Host &host, bool afterShutdown)
{
    if (host.badFrees() != 0) {
        std::fprintf(stderr, "fuzz: the plug-in freed a block the host never handed out\n");
        std::abort();
    }
    if (afterShutdown && host.liveBlocks() != 0) {
        std::fprintf(stderr, "fuzz: %zu blocks left after shutdown\n", host.liveBlocks());
        std::abort();
    }
}

void saveRanks()
{
    std::memcpy(g_ranks, cmdTable, sizeof g_ranks);
    g_ranksSaved = true;
}

void restoreRanks()
{
    if (!g_ranksSaved)
        saveRanks();
    for (int i = 0; i < NBR_COMMANDS; i++) {
        cmdTable[i].rank = g_ranks[i].rank;
        cmdTable[i].targetRank = g_ranks[i].targetRank;
    }
}

World::World(const std::string &params, std::vector<UserSpec> users, bool quiet,
             unsigned inputsPerWorld)
    : dir_(tempDir()), params_(params), specs_(std::move(users)), quiet_(quiet),
      inputsPerWorld_(inputsPerWorld)
{
    saveRanks();
    for (const RoomSpec &r : kRooms)
        rooms_.push_back(r.id);
    build();
}

World::~World()
{
    if (host_ != nullptr) {
        host_->shutdown();
        requireClean(*host_, true);
    }
}

void World::build()
{
    if (host_ != nullptr) {
        host_->shutdown();
        requireClean(*host_, true);
        host_.reset();
    }
    restoreRanks();
    host_ = std::make_unique<vh::Host>();
    host_->setQuiet(quiet_);
    std::string file = dir_ + "/world.conf";
    writeParams(params_);
    for (const RoomSpec &r : kRooms)
        host_->createRoom(r.id, r.name);
    if (!host_->attachPlugin(staticProcs(), file)) {
        std::fprintf(stderr, "fuzz: the world's parameter file does not load\n");
        std::abort();
    }
    restoreRooms();
    for (size_t i = 0; i < specs_.size(); i++)
        restoreUser(i);
    host_->advance(2); // the logon actions
    host_->clearTranscript();
}

ServerUserRec *World::user(size_t i)
{
    return host_->user(specs_[i % specs_.size()].handle);
}

void World::writeParams(const std::string &params)
{
    std::ofstream(dir_ + "/world.conf", std::ios::binary | std::ios::trunc) << params;
}

void World::reload(const std::string &first, const std::string &last)
{
    writeParams(first + params_ + last);
    loadParameterFile(static_cast<MyState *>(host_->pluginData()), nullptr);
    reloaded_ = true;
}

ServerUserRec *World::connectUser(size_t i, const Identity &who)
{
    const UserSpec &s = specs_[i];
    vh::UserOptions o;
    o.handle = s.handle;
    o.rank = s.rank;
    o.room = s.room;
    o.ip = who.ip.value_or(s.ip);
    o.counter = who.counter.value_or(s.counter != 0 ? s.counter : 0x100 + static_cast<uint32_t>(i));
    o.puid = who.puid.value_or(s.puid != 0 ? s.puid : 0x200 + static_cast<uint32_t>(i));
    o.logonDelay = who.logonDelay;
    o.hidden = s.hidden;
    return host_->connect(o);
}

ServerUserRec *World::reconnect(size_t i, const Identity &who)
{
    i %= specs_.size();
    if (ServerUserRec *u = host_->user(specs_[i].handle))
        host_->disconnect(u);
    return connectUser(i, who);
}

// The user as restoreUser leaves him: his own identities, logged on.
bool World::asBuilt(size_t i, const ServerUserRec *u) const
{
    const UserSpec &s = specs_[i];
    uint32_t counter = s.counter != 0 ? s.counter : 0x100 + static_cast<uint32_t>(i);
    uint32_t puid = s.puid != 0 ? s.puid : 0x200 + static_cast<uint32_t>(i);
    uint32_t ip = 0;
    unsigned char octets[4] = {
        static_cast<unsigned char>(s.ip >> 24), static_cast<unsigned char>(s.ip >> 16),
        static_cast<unsigned char>(s.ip >> 8), static_cast<unsigned char>(s.ip)};
    std::memcpy(&ip, octets, 4);
    return u->counter == counter && u->puidCtr == puid && u->netAddress.ipAddress == ip &&
           (u->flags & UF_LogonComplete);
}

void World::restoreRooms()
{
    // Rooms made during an input go; the world's own come back as built.
    std::vector<RoomID> extra;
    for (ServerRoomRec *r = host_->state()->roomList; r != nullptr; r = r->nextRoom) {
        if (std::find(rooms_.begin(), rooms_.end(), r->room.roomID) == rooms_.end())
            extra.push_back(r->room.roomID);
    }
    for (RoomID id : extra)
        host_->deleteRoom(id);
    // Ban lists and logoff times go too: an input must not find what an
    // earlier one left.
    for (ServerRoomRec *r = host_->state()->roomList; r != nullptr; r = r->nextRoom) {
        auto *rd = static_cast<RoomDat *>(getPluginRoomInfo(1, r));
        if (rd == nullptr)
            continue;
        while (rd->badActorList != nullptr) {
            RoomBadActor *e = rd->badActorList;
            rd->badActorList = e->next;
            DisposePtr(reinterpret_cast<Ptr>(e));
        }
        rd->ownerLogoffTime = 0;
    }
    for (const RoomSpec &r : kRooms) {
        if (host_->room(r.id) == nullptr)
            host_->createRoom(r.id, r.name);
        vh::RoomOptions o;
        o.name = r.name;
        o.password = r.password;
        o.drawings = 0;
        host_->changeRoom(r.id, o);
        host_->clearLooseProps(r.id);
        ServerRoomRec *rec = host_->room(r.id);
        rec->room.roomFlags = r.flags;
        rec->memberOwner = 0;
        if (RoomDat *rd = static_cast<RoomDat *>(getPluginRoomInfo(1, rec)))
            rd->flags = 0;
    }
}

void World::restoreUser(size_t i)
{
    const UserSpec &s = specs_[i];
    ServerUserRec *u = host_->user(s.handle);
    if (u != nullptr && !asBuilt(i, u)) {
        host_->disconnect(u);
        u = nullptr;
    }
    if (u == nullptr) {
        u = connectUser(i, Identity{});
        if (u == nullptr)
            return; // the host refused him
    }
    host_->setRank(u, s.rank);
    u->flags &= static_cast<uint16>(UF_Wizard | UF_God | UF_LogonComplete);
    if (s.hidden)
        u->flags |= UF_Hidden;
    u->actionList = nullptr;
    u->lastESPsender = 0;
    unsigned char pname[32] = {static_cast<unsigned char>(std::strlen(s.handle))};
    std::memcpy(pname + 1, s.handle, pname[0]);
    host_->setUserName(u, pname);
    host_->setProps(u, 0, nullptr);
    u->user.faceNbr = 0;
    u->user.colorNbr = 0;
    u->user.roomPos = Point{100, 100};
    if (u->user.roomID != s.room)
        host_->changeUserRoom(u, s.room, true);
    if (UserDat *ud = static_cast<UserDat *>(getPluginUserInfo(1, u)))
        ud->flags = 0;
    u->lastOwnedRoom = nullptr;
    if (s.owns >= 0)
        host_->setRoomOwner(s.owns, u);
}

void World::reset()
{
    requireClean(*host_, false);
    if (++inputs_ % inputsPerWorld_ == 0) {
        build();
        return;
    }
    host_->advance(61); // limits decay; pending actions run
    if (reloaded_) {
        writeParams(params_);
        loadParameterFile(static_cast<MyState *>(host_->pluginData()), nullptr);
        reloaded_ = false;
    }
    restoreRanks();
    restoreRooms();
    host_->liftBans();
    for (size_t i = 0; i < specs_.size(); i++)
        restoreUser(i);
    host_->flush();
    host_->clearTranscript();
}

} // namespace fuzz

// Eight frames of allocation stack are enough to place a finding, and
// recording thirty for every one of the host's small allocations costs a
// third of the parameter-file target's speed. ASAN_OPTIONS still overrides.
extern "C" const char *__asan_default_options()
{
    return "malloc_context_size=8";
}
