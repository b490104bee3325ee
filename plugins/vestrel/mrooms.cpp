/* Member rooms: ownership and the room entry check. */
#include "vestrel.h"

int isRoomOwner(ServerState *serverState, MyState *state, ServerUserRec *user, ServerRoomRec *room)
{
    (void)serverState;
    (void)state;
    return room != nullptr && room->memberOwner != 0 && user->lastOwnedRoom == room &&
           room->memberOwner == user->counter && UserRank(user) >= 1;
}

int roomEntryPermitted(ServerState *serverState, MyState *state, RoomID dest, ServerUserRec *user)
{
    if (UserRank(user) == 3)
        return 1;
    if (getRoomLimitForRoom(serverState, state, state->limits[L_GODONLY], dest) != nullptr) {
        UserMessage(user, "Sorry, only owners are permitted in that room");
        return 0;
    }
    return 1;
}
