// The world's users: connecting, the logon and its late data, names and
// ranks, the lookups by handle, name, number and counter, entering and
// leaving rooms, and the changes the services make to a user and his room
// (props, position, drawings, loose props). The host owns every user's
// record and frees it when he disconnects.
#include <algorithm>
#include <cstring>

#include "host_internal.h"

namespace vh
{

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

// One user's place in the counter index; another with the same counter
// keeps his.
void Host::eraseCounter(ClientID counter, HostUser *u)
{
    for (auto [it, end] = byCounter_.equal_range(counter); it != end; ++it) {
        if (it->second == u) {
            byCounter_.erase(it);
            return;
        }
    }
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

void Host::liftBans()
{
    bannedIps_.clear();
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
    byCounter_.emplace(rec.counter, hu);
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
        eraseCounter(rec.counter, hu);
        rec.counter = 0;
        rec.crc = 0;
        lateLogons_.emplace(clockNow() + o.logonDelay, id);
    } else {
        rec.flags |= UF_LogonComplete;
    }
    ServerRoomRec *start = room(o.room);
    if (start == nullptr)
        start = room(0);
    if (!enterRoom(&rec, start)) {
        disconnect(&rec, "room " + std::to_string(start->room.roomID) + " is full");
        drain();
        return nullptr;
    }
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
    byCounter_.emplace(u->rec.counter, u);
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
    eraseCounter(user->counter, u);
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

// A room has maxPeoplePerRoom places and no more, forced or not: a user
// without a place would be in the room's count and not in its occupants.
bool Host::enterRoom(ServerUserRec *user, ServerRoomRec *room)
{
    HostRoom *r = hostRoom(room);
    bool placed = user->user.roomID == room->room.roomID ||
                  std::find(r->occupants.begin(), r->occupants.end(), 0) != r->occupants.end();
    if (!placed)
        return false;
    leaveRoom(user);
    *std::find(r->occupants.begin(), r->occupants.end(), 0) = user->user.userID;
    r->rec.room.nbrPeople++;
    user->user.roomID = room->room.roomID;
    emit(handleOf(user) + " enters room " + std::to_string(room->room.roomID));
    if (running_)
        procs_.userRoomEntry(&state_, pluginDat_, user, room);
    return true;
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
    if (refused || !enterRoom(user, dest))
        sendMsgNavError(toUser(user), SE_RoomUnknown);
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

} // namespace vh
