// The substitute host's world: users, rooms, the plug-in, the queue of work
// that follows each call, the timers and the allocator.
#include "host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vh
{

namespace
{

bool g_several = false; // a benchmark keeps several worlds, one current at a time
constexpr PluginID kPluginID = 1;
constexpr uint32_t kVarBufSize = 16384;
constexpr int kMaxPeoplePerRoom = 64;

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

// Text of a payload up to its NUL, never past `length`.
std::string payloadText(const ClientMsg *msg, size_t from)
{
    if (msg->length <= from)
        return "";
    const char *p = reinterpret_cast<const char *>(msg->msg) + from;
    size_t n = strnlen(p, msg->length - from);
    return std::string(p, n);
}

template <typename T> bool readAt(const ClientMsg *msg, size_t at, T &out)
{
    if (msg->length < at + sizeof(T))
        return false;
    std::memcpy(&out, msg->msg + at, sizeof(T));
    return true;
}

std::string killReason(int reason)
{
    switch (reason) {
    case K_LoggedOff:
        return "logged off";
    case K_Verbose:
        return "killed";
    default:
        return "kill " + std::to_string(reason);
    }
}

std::string ipText(uint32_t ip)
{
    const auto *o = reinterpret_cast<const unsigned char *>(&ip);
    return std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) + "." +
           std::to_string(o[3]);
}

} // namespace

// ---- Strings -------------------------------------------------------------

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

std::vector<uint8_t> encipher(const std::string &plain)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < plain.size(); i++)
        out.push_back(static_cast<uint8_t>(plain[i]) ^ static_cast<uint8_t>(0xA5 + 0x1F * i));
    return out;
}

Message::Message(uint32_t eventType, const std::vector<uint8_t> &payload, int32_t refNum)
    : words_((CLIENT_MSG_HEADER + payload.size() + 3) / 4 + 1, 0)
{
    ClientMsg *msg = get();
    msg->eventType = eventType;
    msg->length = static_cast<uint32_t>(payload.size());
    msg->refNum = refNum;
    if (!payload.empty())
        std::memcpy(msg->msg, payload.data(), payload.size());
}

// ---- Life ---------------------------------------------------------------

Host::Host()
{
    if (current_ != nullptr && !g_several) {
        std::fprintf(stderr, "host: only one host at a time\n");
        std::abort();
    }
    current_ = this;
    state_.maxPeoplePerRoom = kMaxPeoplePerRoom;
    setClock(localTime(2026, 1, 5, 9, 0, 0));
    createRoom(0, "Entrance");
}

Host::~Host()
{
    current_ = this; // the plug-in's last calls are this host's
    if (running_)
        shutdown();
    freePending();
    if (dl_ != nullptr)
        dlclose(dl_);
    for (auto &[p, size] : blocks_)
        std::free(p);
    current_ = nullptr;
}

void Host::allowSeveral()
{
    g_several = true;
}

void Host::makeCurrent()
{
    current_ = this;
}

void Host::emit(const std::string &line)
{
    if (quiet_)
        return;
    transcript_.push_back(line);
    if (echo)
        echo(line);
}

// ---- Plug-in --------------------------------------------------------------

bool Host::loadPlugin(const std::string &path, const std::string &paramFile)
{
    dl_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dl_ == nullptr) {
        emit(std::string("host: cannot load plug-in: ") + dlerror());
        return false;
    }
    struct Entry {
        const char *name;
        void **slot;
    } entries[] = {
        {"initializeServerPlugin", reinterpret_cast<void **>(&procs_.initialize)},
        {"shutdownServerPlugin", reinterpret_cast<void **>(&procs_.shutdown)},
        {"noteUserCreation", reinterpret_cast<void **>(&procs_.userCreation)},
        {"noteUserDeletion", reinterpret_cast<void **>(&procs_.userDeletion)},
        {"noteRoomCreation", reinterpret_cast<void **>(&procs_.roomCreation)},
        {"noteRoomDeletion", reinterpret_cast<void **>(&procs_.roomDeletion)},
        {"noteUserRoomEntry", reinterpret_cast<void **>(&procs_.userRoomEntry)},
        {"handleMessage", reinterpret_cast<void **>(&procs_.handleMessage)},
        {"handleTimerEvent", reinterpret_cast<void **>(&procs_.handleTimerEvent)},
    };
    for (auto &e : entries) {
        *e.slot = dlsym(dl_, e.name);
        if (*e.slot == nullptr) {
            emit(std::string("host: plug-in lacks entry point ") + e.name);
            procs_ = PluginProcs{};
            return false;
        }
    }
    std::string name = path.substr(path.find_last_of('/') + 1);
    startPlugin(name, paramFile);
    return running_;
}

bool Host::attachPlugin(const PluginProcs &procs, const std::string &paramFile)
{
    procs_ = procs;
    startPlugin("vestrel.so", paramFile);
    return running_;
}

void Host::startPlugin(const std::string &name, const std::string &paramFile)
{
    args_ = {name, paramFile};
    argv_.clear();
    for (auto &a : args_)
        argv_.push_back(a.data());
    argv_.push_back(nullptr);

    pluginDat_ = procs_.initialize(kPluginID, 2, argv_.data());
    if (pluginDat_ == nullptr) {
        // Nothing it scheduled is ever delivered to a plug-in that did not
        // start: its events are freed now, not when they fall due.
        emit("host: plug-in failed to start");
        freePending();
        return;
    }
    running_ = true;
    // Rooms and users that were there before the plug-in hear of it now.
    for (ServerRoomRec *r = state_.roomList; r != nullptr; r = r->nextRoom)
        procs_.roomCreation(&state_, pluginDat_, r);
    for (ServerUserRec *u = state_.userList; u != nullptr; u = u->nextUser)
        procs_.userCreation(&state_, pluginDat_, u);
    drain();
}

void Host::shutdown()
{
    if (!running_)
        return;
    state_.currentUser = nullptr;
    for (ServerUserRec *u = state_.userList; u != nullptr; u = u->nextUser)
        procs_.userDeletion(&state_, pluginDat_, u);
    for (ServerRoomRec *r = state_.roomList; r != nullptr; r = r->nextRoom)
        procs_.roomDeletion(&state_, pluginDat_, r);
    procs_.shutdown(&state_, pluginDat_);
    running_ = false;
    pluginDat_ = nullptr;
    freePending();
}

// Events and messages the plug-in handed over that will never be acted on.
void Host::freePending()
{
    for (auto &[key, event] : timers_)
        disposePtr(event);
    timers_.clear();
    for (auto &item : queue_) {
        if (item.kind == QueueItem::Timer)
            disposePtr(item.event);
        if (item.kind == QueueItem::Deliver && item.msg != nullptr)
            disposePtr(item.msg);
    }
    queue_.clear();
}

// ---- Slots ----------------------------------------------------------------

void Host::setSlotSize(bool user, int32_t size)
{
    size = std::max<int32_t>(size, 0);
    if (user) {
        userSlotSize_ = size;
        for (auto &[id, u] : users_)
            u->slot.assign(size, 0);
    } else {
        roomSlotSize_ = size;
        for (auto &[id, r] : rooms_)
            r->slot.assign(size, 0);
    }
}

// ---- Rooms ----------------------------------------------------------------

Host::HostRoom *Host::hostRoom(const ServerRoomRec *room) const
{
    auto it = roomIndex_.find(room);
    return it == roomIndex_.end() ? nullptr : it->second;
}

// Rewrites the room's variable buffer from its name, loose props and
// drawings, so that every offset and count the plug-in reads is true.
void Host::layoutRoom(HostRoom *r)
{
    std::fill(r->varBuf.begin(), r->varBuf.end(), 0);
    uint32_t at = 4; // offset 0 means none
    size_t nameLen = std::min<size_t>(r->name.size(), 255);
    r->rec.room.roomNameOfst = static_cast<Offset>(at);
    r->varBuf[at] = static_cast<unsigned char>(nameLen);
    std::memcpy(&r->varBuf[at + 1], r->name.data(), nameLen);
    at += static_cast<uint32_t>(nameLen) + 1;
    at = (at + 3) & ~3u;

    r->rec.room.firstLProp = r->props.empty() ? 0 : static_cast<Offset>(at);
    for (size_t i = 0; i < r->props.size(); i++) {
        LPropRec rec = r->props[i];
        bool last = i + 1 == r->props.size();
        rec.link.nextOfst = last ? 0 : static_cast<Offset>(at + sizeof(LPropRec));
        std::memcpy(&r->varBuf[at], &rec, sizeof rec);
        at += sizeof(LPropRec);
    }
    r->rec.room.nbrLProps = static_cast<uint16>(r->props.size());

    uint32_t drawBytes = 0;
    for (int bytes : r->drawings)
        drawBytes += sizeof(DrawRecord) + static_cast<uint32_t>(bytes);
    r->rec.room.nbrDrawCmds = static_cast<uint16>(r->drawings.size());
    long lenVars = static_cast<long>(at + drawBytes) + r->extraVars;
    r->rec.room.lenVars = static_cast<Offset>(std::clamp<long>(lenVars, 0, 32767));
}

ServerRoomRec *Host::createRoom(RoomID id, const std::string &name)
{
    if (rooms_.count(id) != 0)
        return room(id);
    auto r = std::make_unique<HostRoom>();
    r->name = name;
    r->varBuf.assign(kVarBufSize, 0);
    r->occupants.assign(kMaxPeoplePerRoom, 0);
    r->slot.assign(roomSlotSize_, 0);
    r->rec.room.roomID = id;
    r->rec.varBuf = r->varBuf.data();
    r->rec.varBufAlloc = kVarBufSize;
    r->rec.occupants = r->occupants.data();
    r->rec.maxOccupancy = kMaxPeoplePerRoom;
    layoutRoom(r.get());

    ServerRoomRec *rec = &r->rec;
    rec->hostPrivate = r.get();
    roomIndex_[rec] = r.get();
    roomById_[static_cast<uint16_t>(id)] = r.get();
    rooms_[id] = std::move(r);
    *roomTail_ = rec;
    roomTail_ = &rec->nextRoom;
    emit("room " + std::to_string(id) + " created");
    if (running_) {
        procs_.roomCreation(&state_, pluginDat_, rec);
        drain();
    }
    return rec;
}

void Host::changeRoom(RoomID id, const RoomOptions &o)
{
    HostRoom *r = hostRoom(room(id));
    if (r == nullptr)
        return;
    auto setFlag = [&](const std::optional<bool> &v, uint32_t bit) {
        if (v)
            r->rec.room.roomFlags =
                *v ? (r->rec.room.roomFlags | bit) : (r->rec.room.roomFlags & ~bit);
    };
    setFlag(o.isPrivate, RF_Private);
    setFlag(o.closed, RF_Closed);
    setFlag(o.operatorsOnly, RF_WizardsOnly);
    setFlag(o.noLooseProps, RF_NoLooseProps);
    if (o.password)
        std::snprintf(r->rec.roomPassword, sizeof r->rec.roomPassword, "%s", o.password->c_str());
    if (o.name)
        r->name = *o.name;
    if (o.maxOccupancy)
        r->rec.maxOccupancy = std::clamp(*o.maxOccupancy, 0, kMaxPeoplePerRoom);
    if (o.drawings)
        r->drawings.assign(static_cast<size_t>(std::clamp(*o.drawings, 0, 65535)), 10);
    layoutRoom(r);
    if (o.lenVars) {
        r->extraVars = 0;
        layoutRoom(r);
        r->extraVars = *o.lenVars - r->rec.room.lenVars;
        layoutRoom(r);
    }
}

void Host::setRoomOwner(RoomID id, ServerUserRec *owner)
{
    ServerRoomRec *r = room(id);
    if (r == nullptr)
        return;
    r->memberOwner = owner != nullptr ? owner->counter : 0;
    if (owner != nullptr)
        owner->lastOwnedRoom = r;
}

void Host::deleteRoom(RoomID id)
{
    ServerRoomRec *rec = room(id);
    if (rec == nullptr || id == 0)
        return;
    for (UserID uid : hostRoom(rec)->occupants) {
        if (ServerUserRec *u = userById(uid))
            changeUserRoom(u, 0, true);
    }
    if (running_) {
        procs_.roomDeletion(&state_, pluginDat_, rec);
    }
    for (ServerRoomRec **p = &state_.roomList; *p != nullptr; p = &(*p)->nextRoom) {
        if (*p == rec) {
            *p = rec->nextRoom;
            if (roomTail_ == &rec->nextRoom)
                roomTail_ = p;
            break;
        }
    }
    for (auto &[uid, u] : users_) {
        if (u->rec.lastOwnedRoom == rec)
            u->rec.lastOwnedRoom = nullptr;
    }
    roomIndex_.erase(rec);
    roomById_[static_cast<uint16_t>(id)] = nullptr;
    rooms_.erase(id);
    emit("room " + std::to_string(id) + " deleted");
    drain();
}

void Host::clearLooseProps(RoomID id)
{
    HostRoom *r = hostRoom(room(id));
    if (r == nullptr)
        return;
    r->props.clear();
    layoutRoom(r);
}

// Bytes of the variable buffer that the room's name and loose props take
// once laid out, with `extraProps` more props.
size_t Host::laidOutBytes(const HostRoom *r, size_t extraProps)
{
    size_t nameLen = std::min<size_t>(r->name.size(), 255);
    size_t at = (4 + nameLen + 1 + 3) & ~size_t{3};
    return at + (r->props.size() + extraProps) * sizeof(LPropRec);
}

bool Host::addLooseProp(RoomID id, AssetSpec asset, Point loc)
{
    HostRoom *r = hostRoom(room(id));
    if (r == nullptr)
        return false;
    if (laidOutBytes(r, 1) > kVarBufSize) {
        emit("host: room " + std::to_string(id) + " has no space for another loose prop");
        return false;
    }
    LPropRec p{};
    p.propSpec = asset;
    p.loc = loc;
    r->props.push_back(p);
    layoutRoom(r);
    return true;
}

// ---- Users ----------------------------------------------------------------

Host::HostUser *Host::hostUser(const ServerUserRec *user) const
{
    auto it = userIndex_.find(user);
    return it == userIndex_.end() ? nullptr : it->second;
}

ServerUserRec *Host::user(const std::string &handle) const
{
    auto it = byHandle_.find(handle);
    return it == byHandle_.end() ? nullptr : &it->second->rec;
}

std::string Host::handleOf(const ServerUserRec *user) const
{
    HostUser *u = hostUser(user);
    return u == nullptr ? "?" : u->handle;
}

void Host::setRank(ServerUserRec *user, int rank)
{
    HostUser *u = hostUser(user);
    if (u == nullptr)
        return;
    u->rank = rank;
    user->flags &= static_cast<uint16>(~(UF_Wizard | UF_God));
    if (rank == 2)
        user->flags |= UF_Wizard;
    if (rank >= 3)
        user->flags |= UF_God;
    if (rank == 0)
        user->crc = GUEST_CRC;
}

// Names match in any case; blanks a typed line leaves at its end are not
// part of the name.
ServerUserRec *Host::userByName(const char *name) const
{
    std::string key = lower(name);
    key.erase(key.find_last_not_of(" \t") + 1);
    auto range = byName_.equal_range(key);
    HostUser *best = nullptr;
    for (auto it = range.first; it != range.second; ++it) {
        if (best == nullptr || it->second->rec.user.userID < best->rec.user.userID)
            best = it->second;
    }
    return best == nullptr ? nullptr : &best->rec;
}

ServerUserRec *Host::userByCounter(ClientID counter) const
{
    auto it = byCounter_.find(counter);
    return it == byCounter_.end() ? nullptr : &it->second->rec;
}

void Host::setUserName(ServerUserRec *user, const unsigned char *pname)
{
    HostUser *u = hostUser(user);
    if (u == nullptr)
        return;
    std::string name = pascalToString(pname, 31);
    for (auto [it, end] = byName_.equal_range(u->nameKey); it != end; ++it) {
        if (it->second == u) {
            byName_.erase(it);
            break;
        }
    }
    std::memset(user->user.name, 0, sizeof user->user.name);
    user->user.name[0] = static_cast<unsigned char>(name.size());
    std::memcpy(user->user.name + 1, name.data(), name.size());
    u->nameKey = lower(name);
    byName_.emplace(u->nameKey, u);
}

ServerUserRec *Host::connect(const UserOptions &o)
{
    if (byHandle_.count(o.handle) != 0) {
        emit("host: " + o.handle + " is already connected");
        return nullptr;
    }
    UserID id = nextUserId_++;
    uint32_t ident = nextIdentity_++;
    uint32_t ip = o.ip.value_or((10u << 24) | (id & 0xFF));
    uint32_t netIp = 0;
    unsigned char octets[4] = {static_cast<unsigned char>(ip >> 24),
                               static_cast<unsigned char>(ip >> 16),
                               static_cast<unsigned char>(ip >> 8), static_cast<unsigned char>(ip)};
    std::memcpy(&netIp, octets, 4);
    if (std::find(bannedIps_.begin(), bannedIps_.end(), netIp) != bannedIps_.end()) {
        emit("host: logon from " + ipText(netIp) + " refused (banned)");
        return nullptr;
    }

    auto u = std::make_unique<HostUser>();
    u->handle = o.handle;
    u->slot.assign(userSlotSize_, 0);
    ServerUserRec &rec = u->rec;
    rec.user.userID = id;
    rec.user.roomID = -1; // in no room until the logon completes
    rec.netAddress.ipAddress = netIp;
    rec.counter = o.counter.value_or(0x1000 + ident);
    rec.crc = o.crc.value_or(0x2000 + ident);
    rec.puidCtr = o.puid.value_or(0x3000 + ident);
    rec.puidCRC = rec.puidCtr ^ 0x5A5A;
    rec.signonTime = rec.lastActive = clockNow();
    rec.user.roomPos.h = static_cast<sint16>(o.x);
    rec.user.roomPos.v = static_cast<sint16>(o.y);
    if (o.hidden)
        rec.flags |= UF_Hidden;

    HostUser *hu = u.get();
    rec.hostPrivate = hu;
    userIndex_[&rec] = hu;
    byHandle_[o.handle] = hu;
    byCounter_[rec.counter] = hu;
    if (userById_.size() <= id)
        userById_.resize(std::max<size_t>(id + 1, userById_.size() * 2), nullptr);
    userById_[id] = hu;
    users_[id] = std::move(u);
    *userTail_ = &rec;
    userTail_ = &rec.nextUser;

    setRank(&rec, o.rank);
    if (o.rank == 0 && !o.crc)
        rec.crc = GUEST_CRC;
    std::string logon = o.logonName.value_or(o.handle);
    std::string initialName = logon.substr(0, 31);
    unsigned char pname[32] = {static_cast<unsigned char>(initialName.size())};
    std::memcpy(pname + 1, initialName.data(), initialName.size());
    setUserName(&rec, pname);

    emit(o.handle + " connects");
    if (running_) {
        state_.currentUser = &rec;
        procs_.userCreation(&state_, pluginDat_, &rec);
        state_.currentUser = nullptr;
        drain();
    }

    std::vector<uint8_t> regi(LOGON_RECORD_SIZE, 0);
    size_t len = std::min<size_t>(logon.size(), 31);
    regi[LOGON_NAME_OFFSET] = static_cast<uint8_t>(len);
    std::memcpy(&regi[LOGON_NAME_OFFSET + 1], logon.data(), len);
    std::memcpy(&regi[LOGON_AUXFLAGS_OFFSET], &o.clientType, 4);
    Message m(MSG_LOGON, regi);
    process(&rec, m.get(), true);
    drain();

    if (userById(id) == nullptr)
        return nullptr;
    if (o.logonDelay > 0) {
        // The client's identity comes later: until then the user has no
        // counter, no crc and no completed logon.
        hu->lateCounter = rec.counter;
        hu->lateCrc = rec.crc;
        byCounter_.erase(rec.counter);
        rec.counter = 0;
        rec.crc = 0;
        lateLogons_.emplace(clockNow() + o.logonDelay, id);
    } else {
        rec.flags |= UF_LogonComplete;
    }
    ServerRoomRec *start = room(o.room);
    if (start == nullptr)
        start = room(0);
    enterRoom(&rec, start);
    drain();
    return userById(id);
}

void Host::completeLogon(UserID id)
{
    HostUser *u = hostUser(userById(id));
    if (u == nullptr)
        return;
    u->rec.counter = u->lateCounter;
    u->rec.crc = u->lateCrc;
    u->rec.flags |= UF_LogonComplete;
    byCounter_[u->rec.counter] = u;
    emit(u->handle + "'s logon data arrive");
}

void Host::disconnect(ServerUserRec *user, const std::string &reason)
{
    HostUser *u = hostUser(user);
    if (u == nullptr)
        return;
    std::string handle = u->handle;
    if (running_) {
        ServerUserRec *saved = state_.currentUser;
        state_.currentUser = user;
        procs_.userDeletion(&state_, pluginDat_, user);
        state_.currentUser = saved == user ? nullptr : saved;
    }
    leaveRoom(user);
    for (ServerUserRec **p = &state_.userList; *p != nullptr; p = &(*p)->nextUser) {
        if (*p == user) {
            *p = user->nextUser;
            if (userTail_ == &user->nextUser)
                userTail_ = p;
            break;
        }
    }
    if (state_.currentUser == user)
        state_.currentUser = nullptr;
    for (auto [it, end] = byName_.equal_range(u->nameKey); it != end; ++it) {
        if (it->second == u) {
            byName_.erase(it);
            break;
        }
    }
    auto counterIt = byCounter_.find(user->counter);
    if (counterIt != byCounter_.end() && counterIt->second == u)
        byCounter_.erase(counterIt);
    byHandle_.erase(handle);
    userIndex_.erase(user);
    userById_[user->user.userID] = nullptr;
    users_.erase(user->user.userID);
    emit(handle + " disconnected" + (reason.empty() ? "" : " (" + reason + ")"));
}

void Host::leaveRoom(ServerUserRec *user)
{
    HostRoom *r = hostRoom(room(user->user.roomID));
    if (r == nullptr)
        return;
    for (UserID &occ : r->occupants) {
        if (occ == user->user.userID)
            occ = 0;
    }
    if (r->rec.room.nbrPeople > 0)
        r->rec.room.nbrPeople--;
    user->user.roomID = -1;
}

void Host::enterRoom(ServerUserRec *user, ServerRoomRec *room)
{
    leaveRoom(user);
    HostRoom *r = hostRoom(room);
    for (UserID &occ : r->occupants) {
        if (occ == 0) {
            occ = user->user.userID;
            break;
        }
    }
    r->rec.room.nbrPeople++;
    user->user.roomID = room->room.roomID;
    emit(handleOf(user) + " enters room " + std::to_string(room->room.roomID));
    if (running_)
        procs_.userRoomEntry(&state_, pluginDat_, user, room);
}

// Entry rules of the server itself: closed, passworded and operators-only
// rooms keep ordinary users out unless the move is forced; a closed or
// passworded member room keeps operators out too.
void Host::changeUserRoom(ServerUserRec *user, RoomID id, bool force)
{
    ServerRoomRec *dest = room(id);
    bool ordinary = rankOf(user) < 2;
    bool refused = dest == nullptr;
    if (!refused && !force) {
        uint32_t flags = dest->room.roomFlags;
        bool locked = (flags & RF_Closed) != 0 || dest->roomPassword[0] != 0;
        if (ordinary)
            refused = locked || (flags & RF_WizardsOnly) != 0;
        else
            refused = locked && dest->memberOwner != 0;
    }
    if (!refused && !force) {
        int cap = std::min(dest->maxOccupancy, state_.maxPeoplePerRoom);
        refused = dest->room.nbrPeople >= cap && user->user.roomID != id;
    }
    if (refused) {
        sendMsgNavError(toUser(user), SE_RoomUnknown);
        return;
    }
    enterRoom(user, dest);
}

void Host::setProps(ServerUserRec *user, int32_t n, const AssetSpec *props)
{
    n = std::clamp<int32_t>(n, 0, MaxUserProps);
    for (int32_t i = 0; i < n; i++)
        user->user.propSpec[i] = props[i];
    user->user.nbrProps = static_cast<uint16>(n);
}

void Host::setPosition(ServerUserRec *user, Point p)
{
    user->user.roomPos = p;
    emit(handleOf(user) + " moves to " + std::to_string(p.h) + " " + std::to_string(p.v));
}

void Host::addDrawing(ServerUserRec *user, int cmd, int bytes)
{
    HostRoom *r = hostRoom(room(user->user.roomID));
    if (r == nullptr)
        return;
    std::string where = " in room " + std::to_string(r->rec.room.roomID);
    if (cmd == DC_Detonate) {
        r->drawings.clear();
        emit(handleOf(user) + " clears the drawings" + where);
    } else if (cmd == DC_Delete) {
        if (!r->drawings.empty())
            r->drawings.pop_back();
        emit(handleOf(user) + " deletes a drawing" + where);
    } else {
        r->drawings.push_back(std::max(bytes, 0));
        emit(handleOf(user) + " draws" + where);
    }
    r->rec.lastPainter = user->user.userID;
    layoutRoom(r);
}

void Host::deleteLooseProps(ServerUserRec *user, int32_t n)
{
    HostRoom *r = hostRoom(room(user->user.roomID));
    if (r == nullptr)
        return;
    std::string where = "room " + std::to_string(r->rec.room.roomID) + ": ";
    if (n == -1) {
        r->props.clear();
        emit(where + handleOf(user) + " clears the loose props");
    } else if (n >= 0 && static_cast<size_t>(n) < r->props.size()) {
        r->props.erase(r->props.begin() + n);
        emit(where + handleOf(user) + " deletes loose prop " + std::to_string(n));
    }
    layoutRoom(r);
}

void Host::listUsers(ServerUserRec *user)
{
    bool op = (user->flags & (UF_Wizard | UF_God)) != 0;
    std::string line = handleOf(user) + " <- users";
    for (ServerUserRec *u = state_.userList; u != nullptr; u = u->nextUser) {
        if (!op && (u->flags & UF_Hidden) && u != user)
            continue;
        line += " " + handleOf(u);
        if (u->flags & (UF_Wizard | UF_God))
            line += "(op)";
    }
    emit(line);
}

std::string Host::operatorsIn(int minRank, const ServerRoomRec *room,
                              const ServerUserRec *except) const
{
    std::string out;
    for (ServerUserRec *u = state_.userList; u != nullptr; u = u->nextUser) {
        if (u == except || rankOf(u) < minRank)
            continue;
        if (room != nullptr && u->user.roomID != room->room.roomID)
            continue;
        out += (out.empty() ? "" : " ") + handleOf(u);
    }
    return "[" + out + "]";
}

std::string Host::destName(MsgDestination dest) const
{
    if (dest.user == nullptr)
        return "nobody";
    if (dest.kind == DEST_USERROOM)
        return "room " + std::to_string(dest.user->user.roomID);
    return handleOf(dest.user);
}

// ---- Messages -------------------------------------------------------------

void Host::send(ServerUserRec *user, uint32_t eventType, const std::vector<uint8_t> &payload)
{
    if (hostUser(user) == nullptr)
        return;
    user->lastActive = clockNow();
    Message m(eventType, payload, static_cast<int32_t>(user->user.userID));
    process(user, m.get(), true);
    drain();
}

void Host::sendWithoutUser(uint32_t eventType, const std::vector<uint8_t> &payload)
{
    Message m(eventType, payload);
    process(nullptr, m.get(), true);
    drain();
}

void Host::process(ServerUserRec *user, ClientMsg *msg, bool screen)
{
    busy_++;
    ClientMsg *out = msg;
    state_.currentUser = user;
    if (screen && running_)
        out = procs_.handleMessage(&state_, pluginDat_, msg);
    if (out == nullptr) {
        emit("dropped " + eventCode(msg->eventType) + " from " +
             (user != nullptr ? handleOf(user) : std::string("nobody")));
    } else if (user != nullptr && hostUser(user) != nullptr) {
        apply(user, out);
    }
    state_.currentUser = nullptr;
    busy_--;
}

void Host::applyChat(ServerUserRec *user, const std::string &text)
{
    if (!text.empty() && (text[0] == '`' || text[0] == '\'')) {
        hostCommand(user, text, nullptr);
        return;
    }
    emit(handleOf(user) + " says: " + printable(text));
}

void Host::applyLogon(ServerUserRec *user, ClientMsg *msg)
{
    if (msg->length < LOGON_NAME_OFFSET + 32)
        return;
    setUserName(user, msg->msg + LOGON_NAME_OFFSET);
    emit(handleOf(user) + " logs on as " + printable(pascalToString(user->user.name, 31)));
}

void Host::applyLooseProp(ServerUserRec *user, ClientMsg *msg)
{
    HostRoom *r = hostRoom(room(user->user.roomID));
    if (r == nullptr)
        return;
    std::string where = "room " + std::to_string(r->rec.room.roomID) + ": ";
    if (msg->eventType == MSG_PROPNEW) {
        AssetSpec asset;
        Point loc;
        if (!readAt(msg, 0, asset) || !readAt(msg, 8, loc))
            return;
        if (r->rec.room.roomFlags & RF_NoLooseProps)
            return;
        LPropRec p{};
        p.propSpec = asset;
        p.loc = loc;
        if (static_cast<size_t>(r->rec.room.lenVars) + sizeof p * 2 > kVarBufSize ||
            laidOutBytes(r, 1) > kVarBufSize)
            return;
        r->props.insert(r->props.begin(), p);
        emit(where + handleOf(user) + " drops prop " + std::to_string(asset.id) + " at " +
             std::to_string(loc.h) + " " + std::to_string(loc.v));
    } else if (msg->eventType == MSG_PROPMOVE) {
        int32_t n;
        Point loc;
        if (!readAt(msg, 0, n) || !readAt(msg, 4, loc))
            return;
        if (n < 0 || static_cast<size_t>(n) >= r->props.size())
            return;
        r->props[n].loc = loc;
        emit(where + handleOf(user) + " moves loose prop " + std::to_string(n) + " to " +
             std::to_string(loc.h) + " " + std::to_string(loc.v));
    } else {
        int32_t n;
        if (!readAt(msg, 0, n))
            return;
        deleteLooseProps(user, n);
        return;
    }
    layoutRoom(r);
}

// What the server does with a message that the plug-in let through.
void Host::apply(ServerUserRec *user, ClientMsg *msg)
{
    const std::string who = handleOf(user);
    switch (msg->eventType) {
    case MSG_TALK:
        applyChat(user, payloadText(msg, 0));
        return;
    case MSG_XTALK: {
        uint16_t len;
        if (!readAt(msg, 0, len) || len < 3 || msg->length < len)
            return;
        std::string plain(len - 3u, '\0');
        DecryptCString(msg->msg + 2, plain.data(), len - 3, 0);
        applyChat(user, plain.substr(0, strnlen(plain.c_str(), plain.size())));
        return;
    }
    case MSG_WHISPER:
    case MSG_XWHISPER: {
        UserID target;
        if (!readAt(msg, 0, target))
            return;
        std::string text;
        if (msg->eventType == MSG_WHISPER) {
            text = payloadText(msg, 4);
        } else {
            uint16_t len;
            if (!readAt(msg, 4, len) || len < 3 || msg->length < len + 4u)
                return;
            std::string plain(len - 3u, '\0');
            DecryptCString(msg->msg + 6, plain.data(), len - 3, 0);
            text = plain.substr(0, strnlen(plain.c_str(), plain.size()));
        }
        ServerUserRec *to = userById(target);
        if (to == nullptr) {
            emit("host: whisper from " + who + " to nobody");
            return;
        }
        if (!text.empty() && (text[0] == '`' || text[0] == '\'')) {
            hostCommand(user, text, to);
            return;
        }
        to->lastESPsender = user->user.userID;
        emit(who + " whispers to " + handleOf(to) + ": " + printable(text));
        return;
    }
    case MSG_GMSG:
        emit(who + " to all: " + printable(payloadText(msg, 0)));
        return;
    case MSG_RMSG:
        emit(who + " to room " + std::to_string(user->user.roomID) + ": " +
             printable(payloadText(msg, 0)));
        return;
    case MSG_SMSG:
        lastPageRoom_ = user->user.roomID;
        emit("wizards: Page from " + printable(pascalToString(user->user.name, 31)) + ": " +
             printable(payloadText(msg, 0)));
        return;
    case MSG_ROOMGOTO: {
        RoomID id;
        if (readAt(msg, 0, id))
            changeUserRoom(user, id, false);
        return;
    }
    case MSG_USERMOVE: {
        Point p;
        if (readAt(msg, 0, p))
            setPosition(user, p);
        return;
    }
    case MSG_USERFACE: {
        sint16 face;
        if (readAt(msg, 0, face))
            ChangeUserFace(user, face);
        return;
    }
    case MSG_USERCOLOR: {
        sint16 color;
        if (readAt(msg, 0, color))
            ChangeUserColor(user, color);
        return;
    }
    case MSG_USERDESC:
    case MSG_USERPROP: {
        size_t at = msg->eventType == MSG_USERDESC ? 4 : 0;
        int32_t n;
        if (!readAt(msg, at, n) || n < 0 || n > MaxUserProps ||
            msg->length < at + 4 + 8u * static_cast<uint32_t>(n))
            return;
        std::vector<AssetSpec> props(static_cast<size_t>(n));
        if (n > 0)
            std::memcpy(props.data(), msg->msg + at + 4, 8u * static_cast<uint32_t>(n));
        if (msg->eventType == MSG_USERDESC) {
            sint16 face = 0, color = 0;
            readAt(msg, 0, face);
            readAt(msg, 2, color);
            ChangeUserDesc(user, color, face, n, props.data());
        } else {
            setProps(user, n, props.data());
            emit(who + " wears " + propList(n, props.data()));
        }
        return;
    }
    case MSG_USERNAME: {
        if (msg->length < 1)
            return;
        unsigned char pname[32] = {0};
        size_t n = std::min<size_t>({msg->msg[0], msg->length - 1, 31});
        pname[0] = static_cast<unsigned char>(n);
        std::memcpy(pname + 1, msg->msg + 1, n);
        setUserName(user, pname);
        emit(who + " changes name to " + printable(pascalToString(pname, 31)));
        return;
    }
    case MSG_PROPNEW:
    case MSG_PROPMOVE:
    case MSG_PROPDEL:
        applyLooseProp(user, msg);
        return;
    case MSG_DRAW: {
        if (msg->length < sizeof(DrawRecord))
            return;
        addDrawing(user, msg->msg[4], static_cast<int>(msg->length - sizeof(DrawRecord)));
        return;
    }
    case MSG_LOGON:
        applyLogon(user, msg);
        return;
    case MSG_LISTOFALLUSERS:
        listUsers(user);
        return;
    case MSG_LISTOFALLROOMS: {
        std::string line = who + " <- rooms";
        for (ServerRoomRec *r = state_.roomList; r != nullptr; r = r->nextRoom)
            line += " " + std::to_string(r->room.roomID);
        emit(line);
        return;
    }
    case MSG_SUPERUSER:
        emit(who + " asks for operator privileges");
        return;
    default:
        emit(who + " sends " + eventCode(msg->eventType));
        return;
    }
}

// ---- The queue of work after a call ---------------------------------------------

void Host::deliver(ClientMsg *msg, ServerUserRec *user, bool screen)
{
    QueueItem item;
    item.kind = QueueItem::Deliver;
    item.user = user != nullptr ? user->user.userID : 0;
    item.msg = msg;
    item.screen = screen;
    queue_.push_back(std::move(item));
}

void Host::scheduleTimer(void *event, int32_t seconds)
{
    if (seconds <= 0) {
        QueueItem item;
        item.kind = QueueItem::Timer;
        item.event = event;
        queue_.push_back(std::move(item));
        return;
    }
    timers_[{clockNow() + seconds, timerSeq_++}] = event;
}

void Host::scheduleKill(ServerUserRec *user, int reason, const char *text)
{
    if (user == nullptr)
        return;
    QueueItem item;
    item.kind = QueueItem::Kill;
    item.user = user->user.userID;
    item.reason = reason;
    item.text = text != nullptr ? text : "";
    queue_.push_back(std::move(item));
}

void Host::fireTimer(void *event)
{
    if (!running_) {
        disposePtr(event);
        return;
    }
    state_.currentUser = nullptr;
    procs_.handleTimerEvent(&state_, pluginDat_, event);
}

// Work queued during a call waits until the call is over: a room created
// or deleted inside a command does not run the queue in the middle of it.
void Host::drain()
{
    if (busy_ > 0)
        return;
    busy_++;
    while (!queue_.empty()) {
        QueueItem item = std::move(queue_.front());
        queue_.pop_front();
        switch (item.kind) {
        case QueueItem::Deliver: {
            ServerUserRec *u = userById(item.user);
            if (u != nullptr)
                process(u, item.msg, item.screen);
            disposePtr(item.msg);
            break;
        }
        case QueueItem::Kill:
            if (ServerUserRec *u = userById(item.user)) {
                std::string reason = killReason(item.reason);
                if (!item.text.empty())
                    reason += ": " + item.text;
                disconnect(u, reason);
            }
            break;
        case QueueItem::Timer:
            fireTimer(item.event);
            break;
        }
    }
    busy_--;
}

void *Host::takeTimer()
{
    if (timers_.empty())
        return nullptr;
    void *event = timers_.begin()->second;
    timers_.erase(timers_.begin());
    return event;
}

std::vector<void *> Host::pendingEvents() const
{
    std::vector<void *> out;
    for (const auto &item : queue_) {
        if (item.kind == QueueItem::Timer)
            out.push_back(item.event);
    }
    for (const auto &[key, event] : timers_)
        out.push_back(event);
    return out;
}

// Timers and late logon data fall due in time order; logon data first when
// both are due in the same second.
void Host::advance(long seconds)
{
    time_t target = clockNow() + std::max(seconds, 0L);
    for (;;) {
        time_t timerDue = timers_.empty() ? target + 1 : std::get<0>(timers_.begin()->first);
        time_t logonDue = lateLogons_.empty() ? target + 1 : lateLogons_.begin()->first;
        time_t due = std::min(timerDue, logonDue);
        if (due > target)
            break;
        setClock(std::max(due, clockNow()));
        if (logonDue <= timerDue) {
            UserID id = lateLogons_.begin()->second;
            lateLogons_.erase(lateLogons_.begin());
            completeLogon(id);
        } else {
            void *event = timers_.begin()->second;
            timers_.erase(timers_.begin());
            fireTimer(event);
        }
        drain();
    }
    setClock(target);
}

// ---- Allocator ------------------------------------------------------------

void Host::failAllocation(uint64_t n, bool onlyThat)
{
    failAt_ = n == 0 ? 0 : allocCalls_ + n;
    failOnlyThat_ = onlyThat;
}

void *Host::newPtr(int32_t size, bool clear)
{
    allocCalls_++;
    if (failAt_ != 0 && (allocCalls_ == failAt_ || (!failOnlyThat_ && allocCalls_ > failAt_)))
        return nullptr;
    if (size < 0)
        return nullptr;
    void *p = clear ? std::calloc(1, static_cast<size_t>(size) + 1)
                    : std::malloc(static_cast<size_t>(size) + 1);
    if (p != nullptr && lean_)
        leanBlocks_++;
    else if (p != nullptr)
        blocks_[p] = static_cast<size_t>(size);
    return p;
}

void Host::disposePtr(void *p)
{
    if (p == nullptr)
        return;
    if (lean_) {
        leanBlocks_--;
        std::free(p);
        return;
    }
    auto it = blocks_.find(p);
    if (it == blocks_.end()) {
        badFrees_++;
        std::fprintf(stderr, "host: DisposePtr(%p) of a block the host never handed out\n", p);
        emit("host: DisposePtr of a block the host never handed out");
        return;
    }
    blocks_.erase(it);
    std::free(p);
}

// ---- The host's own commands ------------------------------------------------

// The member room this user owns: his lastOwnedRoom while it is still his.
ServerRoomRec *Host::ownedRoom(ServerUserRec *user) const
{
    ServerRoomRec *r = user->lastOwnedRoom;
    if (r == nullptr || hostRoom(r) == nullptr || r->memberOwner != user->counter)
        return nullptr;
    return r;
}

// The server's member-room commands: a member has one room of his own;
// its owner (or an operator in it) deletes, hands over, kicks out of and
// sets up the room.
void Host::memberRoomCommand(ServerUserRec *user, const std::string &word, const std::string &arg,
                             ServerUserRec *target)
{
    const std::string who = handleOf(user);
    ServerRoomRec *here = room(user->user.roomID);
    ServerRoomRec *r = ownedRoom(user);
    if (r == nullptr && rankOf(user) >= 2 && here != nullptr && here->memberOwner != 0 &&
        word != "newroom" && word != "rdelete")
        r = here; // an operator acts in the member room he is in
    if (word == "newroom") {
        if (r != nullptr) {
            UserMessage(user, "You already own a room");
            return;
        }
        RoomID id = 1000;
        while (room(id) != nullptr)
            id++;
        std::string name = pascalToString(user->user.name, 31);
        ServerRoomRec *created = createRoom(id, arg.empty() ? name + "'s room" : arg);
        setRoomOwner(id, user);
        emit(who + " creates room " + std::to_string(created->room.roomID));
        changeUserRoom(user, id, true);
        return;
    }
    if (r == nullptr) {
        UserMessage(user, "You own no room");
        return;
    }
    const std::string where = "room " + std::to_string(r->room.roomID) + ": ";
    if (word == "rdelete") {
        deleteRoom(r->room.roomID);
        return;
    }
    if (word == "rscripts" || word == "rpaint" || word == "rpicture") {
        static const std::map<std::string, std::string> what = {
            {"rscripts", "scripts"}, {"rpaint", "painting"}, {"rpicture", "picture"}};
        emit(where + what.at(word) + " " + (arg.empty() ? "?" : printable(arg)) + " (by " + who +
             ")");
        return;
    }
    ServerUserRec *other = target != nullptr ? target : userByName(arg.c_str());
    if (other == nullptr) {
        UserMessage(user, "%s: no such user", word.c_str());
        return;
    }
    if (word == "rowner") {
        r->memberOwner = other->counter;
        other->lastOwnedRoom = r;
        emit(handleOf(other) + " owns room " + std::to_string(r->room.roomID));
    } else if (word == "rkick") {
        emit(where + handleOf(other) + " is kicked out by " + who);
        if (other->user.roomID == r->room.roomID)
            changeUserRoom(other, 0, true);
    } else {
        emit(where + handleOf(other) + " may come back (by " + who + ")");
    }
}

// A chat line that begins with a backtick or an apostrophe and that the
// plug-in let through: the server's own command of that word, if it has one.
void Host::hostCommand(ServerUserRec *user, const std::string &line, ServerUserRec *target)
{
    std::string body = line.substr(1);
    size_t blank = body.find_first_of(" \t");
    std::string word = lower(body.substr(0, blank));
    std::string arg;
    if (blank != std::string::npos) {
        size_t start = body.find_first_not_of(" \t", blank);
        if (start != std::string::npos)
            arg = body.substr(start);
    }
    const std::string who = handleOf(user);
    const bool op = rankOf(user) >= 2;
    const std::string name = pascalToString(user->user.name, 31);

    if (word == "page") {
        lastPageRoom_ = user->user.roomID;
        emit("wizards: Page from " + printable(name) + ": " + printable(arg));
    } else if (word == "help") {
        UserPrivateMessage(user, "Server commands: page help kill banip comment newroom rdelete "
                                 "rowner rkick runkick rscripts rpaint rpicture er respond");
    } else if (word == "kill") {
        if (!op || target == nullptr) {
            UserMessage(user, "kill must be whispered by an operator");
            return;
        }
        FormattedLogMessage(user, "kill", "%s", handleOf(target).c_str());
        scheduleKill(target, K_Verbose, arg.empty() ? "killed by an operator" : arg.c_str());
    } else if (word == "banip") {
        unsigned a, b, c, d;
        char extra;
        if (!op || std::sscanf(arg.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 ||
            a > 255 || b > 255 || c > 255 || d > 255) {
            UserMessage(user, "usage: banip <a.b.c.d> (operators only)");
            return;
        }
        unsigned char octets[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                   static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
        uint32_t ip;
        std::memcpy(&ip, octets, 4);
        bannedIps_.push_back(ip);
        FormattedLogMessage(user, "banip", "%s", ipText(ip).c_str());
    } else if (word == "comment") {
        FormattedLogMessage(user, "comment", "%s", arg.c_str());
    } else if (word == "newroom" || word == "rdelete" || word == "rowner" || word == "rkick" ||
               word == "runkick" || word == "rscripts" || word == "rpaint" || word == "rpicture") {
        memberRoomCommand(user, word, arg, target);
    } else if (word == "er") {
        if (!op || lastPageRoom_ < 0 || room(lastPageRoom_) == nullptr) {
            UserMessage(user, "No page to respond to");
            return;
        }
        changeUserRoom(user, lastPageRoom_, false);
    } else if (word == "respond") {
        ServerUserRec *to = userById(user->lastESPsender);
        if (to == nullptr) {
            UserMessage(user, "Nobody to respond to");
            return;
        }
        to->lastESPsender = user->user.userID;
        emit(who + " whispers to " + handleOf(to) + ": " + printable(arg));
    } else {
        emit(who + " says: " + printable(line));
    }
}

} // namespace vh
