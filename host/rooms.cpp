// The world's rooms: their records, their variable buffers (laid out again
// after every change, so that every offset and count the plug-in reads is
// true), their loose props, and the plug-in's slots beside the host's
// records of users and rooms. The host owns every room's record and frees
// it when the room is deleted; a slot goes with its record.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_internal.h"

namespace vh
{

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

namespace
{
std::atomic<void *> g_spareRoomTable{nullptr}; // cleared, for the next host
} // namespace

Host::HostRoom **Host::RoomTable::take()
{
    void *table = g_spareRoomTable.exchange(nullptr);
    if (table == nullptr)
        table = std::calloc(65536, sizeof(HostRoom *));
    return static_cast<HostRoom **>(table);
}

// The host has cleared the entries of its rooms (~Host).
void Host::RoomTable::operator()(HostRoom **table) const
{
    void *none = nullptr;
    if (!g_spareRoomTable.compare_exchange_strong(none, table))
        std::free(table);
}

Host::HostRoom *Host::hostRoom(const ServerRoomRec *room) const
{
    auto it = roomIndex_.find(room);
    return it == roomIndex_.end() ? nullptr : it->second;
}

// Rewrites the room's variable buffer from its name, loose props and
// drawings, so that every offset and count the plug-in reads is true.
void Host::layoutRoom(HostRoom *r)
{
    // Only what the last layout wrote needs clearing: a buffer of 16 KB
    // cleared whole on every change is most of what a room change costs.
    std::fill(r->varBuf.begin(), r->varBuf.begin() + static_cast<std::ptrdiff_t>(r->laidOut), 0);
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
    r->laidOut = at;

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
        ServerUserRec *u = userById(uid);
        if (u != nullptr && !enterRoom(u, room(0)))
            disconnect(u, "room " + std::to_string(id) + " deleted, the entrance is full");
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

} // namespace vh
