// The checker's rooms: a room of each class in the checker's own host, so
// that the plug-in's lookup is asked what applies there. The host owns the
// rooms and the owner it connects for a member room.
#include "checker.h"
#include "host.h"

namespace check
{

ServerRoomRec *makeRoom(vh::Host &host, MyState *state, RoomID id, const std::string &roomClass)
{
    host.createRoom(id, "room " + std::to_string(id));
    if (roomClass == "private") {
        vh::RoomOptions o;
        o.isPrivate = true;
        host.changeRoom(id, o);
    } else if (roomClass == "member" || roomClass == "altmember") {
        vh::UserOptions o;
        o.handle = "owner " + std::to_string(id);
        o.counter = 1000 + (uint32)(id & 0x7fff);
        host.setRoomOwner(id, host.connect(o));
        if (roomClass == "altmember")
            getRoomDat(state, host.room(id))->flags |= RD_RLIMIT;
    }
    return host.room(id);
}

} // namespace check
