/* Member rooms: ownership, the room entry check, taking over and handing
 * over rooms, and the owner's switches. The host creates, deletes and
 * transfers member rooms itself; these handlers check and prepare, and
 * return 0 where the host's own command is to run. */
#include <string.h>

#include "vestrel.h"

/* ---- Ownership ------------------------------------------------------------ */

static const char kGuestOwnsNothing[] = "A guest can't own a member room";
static const char kNoIdentityYet[] = "A member room can't be given before the logon is complete";

/* A room is owned by its owner's counter; a counter of 0 (logon data still
 * to come) would make the room nobody's, for ever. */
static int refusedOwner(ServerUserRec *user, ServerUserRec *owner)
{
    if (UserRank(owner) < 1) {
        UserMessage(user, "%s", kGuestOwnsNothing);
        return 1;
    }
    if (owner->counter == 0) {
        UserMessage(user, "%s", kNoIdentityYet);
        return 1;
    }
    return 0;
}

/* A lastOwnedRoom may point at a room that has passed to somebody else, so
 * every test compares the room's memberOwner with the user's counter too. */
int isRoomOwner(ServerState *serverState, MyState *state, ServerUserRec *user, ServerRoomRec *room)
{
    (void)serverState;
    (void)state;
    return room != nullptr && room->memberOwner != 0 && user->lastOwnedRoom == room &&
           room->memberOwner == user->counter && UserRank(user) >= 1;
}

/* The room's memberOwner is this user's counter. A room with memberOwner 0
 * is nobody's, whatever a counter of 0 says; and a guest owns nothing,
 * since guest clients may share one counter: every guest would own the
 * room, pass its locks and escape its sanctions. */
int isOwnerByCounter(const ServerUserRec *user, const ServerRoomRec *room)
{
    return room != nullptr && room->memberOwner != 0 && room->memberOwner == user->counter &&
           UserRank((ServerUserRec *)user) >= 1;
}

int ownsMemberRoom(const ServerUserRec *user)
{
    return isOwnerByCounter(user, user->lastOwnedRoom);
}

/* Whether a room other than `room` is his by counter: his last owned room,
 * or one whose owner he is again before the logon action finds it. */
static int ownsAnotherRoom(ServerState *serverState, const ServerUserRec *user,
                           const ServerRoomRec *room)
{
    for (ServerRoomRec *r = serverState->roomList; r != nullptr; r = r->nextRoom) {
        if (r != room && isOwnerByCounter(user, r))
            return 1;
    }
    return 0;
}

/* Until the logon action has found his room again, a returning owner has
 * no lastOwnedRoom: the room that is his by counter is his all the same,
 * or he would bear its sanctions in it the moment he logs on. */
int ownsRoomForSanctions(const ServerUserRec *user, const ServerRoomRec *room)
{
    return room != nullptr && (user->lastOwnedRoom == room || user->lastOwnedRoom == nullptr) &&
           isOwnerByCounter(user, room);
}

/* The owner of a member room, when he is on the server. */
ServerUserRec *findRoomOwner(ServerState *serverState, const ServerRoomRec *room)
{
    for (ServerUserRec *u = serverState->userList; u != nullptr; u = u->nextUser) {
        if (isOwnerByCounter(u, room))
            return u;
    }
    return nullptr;
}

/* The owner has been away longer than rtakedelay; with rtakedelay off any
 * absence is long enough. */
int ownerAwayTooLong(MyState *state, ServerRoomRec *room)
{
    RoomDat *rd = getRoomDat(state, room);
    time_t logoff = rd != nullptr ? rd->ownerLogoffTime : 0;
    return difftime(time(nullptr), logoff) > (double)state->rTakeDelay;
}

/* ---- Room entry ---------------------------------------------------------------- */

int roomEntryPermitted(ServerState *serverState, MyState *state, RoomID dest, ServerUserRec *user)
{
    if (UserRank(user) == 3)
        return 1;
    if (getRoomLimitForRoom(serverState, state, state->limits[L_GODONLY], dest) != nullptr) {
        UserMessage(user, "Sorry, only owners are permitted in that room");
        return 0;
    }
    ServerRoomRec *room = GetRoom(dest);
    if (room == nullptr)
        return 1;
    if (getUserSanctions(state, user, room, getUserDat(state, user)) & RS_KICK) {
        UserMessage(user, "Sorry - you've been kicked from that room");
        return 0;
    }
    return 1;
}

/* ---- Creating, deleting and handing over ----------------------------------------------- */

#define INJECTED_LINE_SIZE 64 /* "`rpicture " and a picture name */

int do_newroom(CMD_PARAMS)
{
    if (refusedOwner(user, user))
        return 1;
    if (ownsMemberRoom(user))
        return 0; /* the host answers a second room itself */
    /* A room his counter owns that is not his last owned room (a client
     * sharing his counter took it, or he is back before the logon action
     * has found it): the host, which asks only the last owned room, would
     * give the counter a second. */
    if (ownsAnotherRoom(serverState, user, nullptr)) {
        UserMessage(user, "You already own a member room");
        return 1;
    }
    if (user->flags & UF_Pinned) {
        UserMessage(user, "You can't make a room while pinned");
        return 1;
    }
    UserDat *ud = getUserDat(state, user);
    LimitValue *entry = getRoomLimit(serverState, state, state->limits[L_NEWROOM]);
    if (ud != nullptr && entry != nullptr &&
        checkLimit(serverState, state, &ud->newRoom, entry, ud, L_NEWROOM, 1,
                   "Repeated room creation"))
        return 1;
    if (state->mRoomBG != nullptr) {
        char line[INJECTED_LINE_SIZE];
        snprintf(line, sizeof line, "`rpicture %s", state->mRoomBG);
        generateChat(serverState, state, user, line, 0);
    }
    return 0;
}

/* Whether a user an operator pinned is in the room. */
static int holdsOperatorPinned(ServerState *serverState, const ServerRoomRec *room)
{
    for (int i = 0; room != nullptr && i < serverState->maxPeoplePerRoom; i++) {
        UserID id = room->occupants[i];
        if (id != 0 && isOperatorPinned(GetServerUser(id)))
            return 1;
    }
    return 0;
}

/* Everyone in the room leaves it with the room's sanctions cleared; the
 * host then deletes the room. */
int do_rdelete(CMD_PARAMS)
{
    /* The server empties a deleted room into the gate: a user an operator
     * pinned would walk out of the pin with his own room, or with the room
     * he stands in, whoever deletes it and from wherever. */
    if (user->flags & UF_Pinned) {
        UserMessage(user, "You can't delete a room while pinned");
        return 1;
    }
    if (ownsMemberRoom(user) && holdsOperatorPinned(serverState, user->lastOwnedRoom)) {
        UserMessage(user, "You can't delete a room while an operator holds a user in it");
        return 1;
    }
    if (cp != nullptr || !isRoomOwner(serverState, state, user, userRoom))
        return 0;
    for (int i = 0; i < serverState->maxPeoplePerRoom; i++) {
        UserID id = userRoom->occupants[i];
        ServerUserRec *occupant = id != 0 ? GetServerUser(id) : nullptr;
        if (occupant != nullptr)
            clearDataForRoomChange(serverState, state, occupant);
    }
    return 0;
}

int do_rtake(CMD_PARAMS)
{
    int operatorRank = UserRank(user) >= 2; /* operators take any room at any time */
    if (state->rTakeDelay < 0 && !operatorRank)
        return 0;
    if (userRoom == nullptr) {
        UserMessage(user, "Room is not available");
        return 1;
    }
    if (userRoom->memberOwner == 0) {
        UserMessage(user, "Sorry - this is a public room");
        return 1;
    }
    /* An operator takes any room, but not from an owner above him who is
     * on the server. */
    ServerUserRec *owner = GetServerUserByCounter(userRoom->memberOwner);
    if (owner != nullptr && (!operatorRank || UserRank(owner) > UserRank(user))) {
        UserMessage(user, "You may send a message to the room owner with `rpage");
        return 1;
    }
    if (!operatorRank && !ownerAwayTooLong(state, userRoom)) {
        UserMessage(user, "Waiting for owner to return");
        return 1;
    }

    if (refusedOwner(user, user))
        return 1;
    /* A room that holds him is not his to take: its owner bears none of
     * its sanctions. */
    if (getUserSanctions(state, user, userRoom, getUserDat(state, user)) != 0) {
        UserMessage(user, "You can't take a room that holds you");
        return 1;
    }
    /* One room each: a second would leave his first one owned by his
     * counter and by nobody's last owned room, which neither he nor anyone
     * could manage or take again. */
    if (ownsAnotherRoom(serverState, user, userRoom)) {
        UserMessage(user, "You already own a member room");
        return 1;
    }

    user->lastOwnedRoom = userRoom;
    userRoom->memberOwner = user->counter;

    char name[USER_NAME_SIZE];
    char roomName[ROOM_NAME_SIZE];
    getCUserName(name, user);
    getRoomName(roomName, userRoom);
    blankControls(name);
    UserMessage(user, "You now own the room");
    RoomMessage(userRoom, "Ownership transferred to %s", name);
    logField(name);
    logField(roomName);
    FormattedLogMessage(user, "rtake", "{%d} {%s} {%s}", (int)userRoom->room.roomID, roomName,
                        name);
    return 1;
}

/* The host transfers the room; a second later TA_ROWNER drops the old
 * owner's pointer to it. */
int do_rowner(CMD_PARAMS)
{
    if (refusedOwner(user, targetUser))
        return 1;
    ServerRoomRec *given = ownsMemberRoom(user) ? user->lastOwnedRoom : userRoom;
    if (ownsMemberRoom(targetUser) || ownsAnotherRoom(serverState, targetUser, given)) {
        UserMessage(user, "That user already owns a member room");
        return 1;
    }
    if (state->rownerInRoom == 1 && ownsMemberRoom(user) &&
        targetUser->user.roomID != user->lastOwnedRoom->room.roomID) {
        UserMessage(user, "The new owner must be in the member room");
        return 1;
    }
    scheduleAction(state, user->user.userID, TA_ROWNER, 1);
    return 0;
}

/* ---- Information and movement ----------------------------------------------------------- */

int do_rwho(CMD_PARAMS)
{
    if (userRoom == nullptr) {
        UserMessage(user, "Room information is not available");
        return 1;
    }
    if (userRoom->memberOwner == 0) {
        UserMessage(user, "Sorry - this is a public room");
        return 1;
    }
    ServerUserRec *owner = findRoomOwner(serverState, userRoom);
    if (owner != nullptr) {
        if (UserRank(user) < 2 && state->memberRWho == 0) {
            UserMessage(user, "This room has an owner, user `rpage to send a message to the owner");
        } else {
            char name[USER_NAME_SIZE];
            getCUserName(name, owner);
            UserMessage(user, "This room is owned by %s", name);
        }
    } else if (ownerAwayTooLong(state, userRoom)) {
        UserMessage(user, "Room is unowned, use `rtake to become the owner");
    } else {
        UserMessage(user, "Room owner is not available");
    }
    return 1;
}

/* The usual entry rules apply when the host processes the move. */
int do_myroom(CMD_PARAMS)
{
    if (userRoom == nullptr)
        return 1;
    if (user->lastOwnedRoom == nullptr) {
        UserMessage(user, "You don't own a member room");
        return 1;
    }
    generateGotoRoom(serverState, state, user, user->lastOwnedRoom->room.roomID);
    return 1;
}

int do_rannounce(CMD_PARAMS)
{
    if (announcementRefused(cp, serverState, state))
        return 1;
    blankControls(cp);
    RoomMessage(userRoom, "%s", cp);
    return 1;
}

/* Each line is processed as if the owner typed it: the first two reach the
 * host's own commands, the last two the switches below. */
int do_rlockdown(CMD_PARAMS)
{
    static const char *const lines[] = {"`rscripts off", "`rpaint off", "`rlimit on",
                                        "`rnolooseprops on"};
    for (const char *line : lines)
        generateChat(serverState, state, user, line, 0);
    return 1;
}

/* ---- The owner's switches ---------------------------------------------------------------- */

struct OwnerSwitch {
    const char *announceOn;  /* to the room, %s the speaker */
    const char *announceOff; /* to the room, %s the speaker */
    const char *stateSet;
    const char *stateClear;
    int otherWordsMeanOff;
};

static const OwnerSwitch kRPropFreeze = {"%s has frozen loose props", "%s has unfroze loose props",
                                         "Props are frozen in this room",
                                         "Props are not frozen in this room", 0};
static const OwnerSwitch kRNoDupAvatars = {"%s is not allowing duplicate avatars",
                                           "%s is allowing duplicate avatars",
                                           "Duplicate Avatars are not allowed in this room",
                                           "Duplicate Avatars are allowed in this room", 1};
static const OwnerSwitch kRNoLooseProps = {
    "%s is not allowing loose props", "%s is allowing loose props",
    "Loose Props are not allowed in this room", "Loose Props are allowed in this room", 0};
static const OwnerSwitch kROperatorsOnly = {"%s is not allowing members", "%s is allowing members",
                                            "Members are not allowed in this room",
                                            "Members are allowed in this room", 0};

/* The change is announced to the room in the owner's name, so it counts as
 * his chat: a refused announcement changes nothing. */
static void ownerSwitch(ServerState *serverState, MyState *state, const OwnerSwitch *sw,
                        ServerUserRec *user, ServerRoomRec *room, const char *cp, int *flags,
                        int bit)
{
    if (cp == nullptr) {
        UserMessage(user, "%s", (*flags & bit) ? sw->stateSet : sw->stateClear);
        return;
    }
    int on = wordCmp(cp, "on") == 0;
    int off = wordCmp(cp, "off") == 0 || (sw->otherWordsMeanOff && !on);
    if (!on && !off)
        return; /* the dispatcher has shown the syntax */
    if (announcementRefused(nullptr, serverState, state))
        return;
    *flags = on ? (*flags | bit) : (*flags & ~bit);
    char name[USER_NAME_SIZE];
    getCUserName(name, user);
    blankControls(name);
    RoomMessage(room, on ? sw->announceOn : sw->announceOff, name);
}

static int roomDatSwitch(ServerState *serverState, MyState *state, const OwnerSwitch *sw,
                         ServerUserRec *user, ServerRoomRec *room, const char *cp, int bit)
{
    RoomDat *rd = getRoomDat(state, room);
    if (rd != nullptr)
        ownerSwitch(serverState, state, sw, user, room, cp, &rd->flags, bit);
    return 1;
}

int do_rpropfreeze(CMD_PARAMS)
{
    return roomDatSwitch(serverState, state, &kRPropFreeze, user, userRoom, cp, RD_RPROPFREEZE);
}

int do_rnodupavatars(CMD_PARAMS)
{
    return roomDatSwitch(serverState, state, &kRNoDupAvatars, user, userRoom, cp, RD_RNODUPAVATARS);
}

int do_rnolooseprops(CMD_PARAMS)
{
    return roomDatSwitch(serverState, state, &kRNoLooseProps, user, userRoom, cp, RD_RNOLOOSEPROPS);
}

int do_roperatorsonly(CMD_PARAMS)
{
    int flags = (int)userRoom->room.roomFlags;
    ownerSwitch(serverState, state, &kROperatorsOnly, user, userRoom, cp, &flags, RF_WizardsOnly);
    userRoom->room.roomFlags = (uint32)flags;
    return 1;
}

/* Alternate limits exist only where some limit line uses "altmember". */
int do_rlimit(CMD_PARAMS)
{
    RoomDat *rd = getRoomDat(state, userRoom);
    if (state->altMemberActive == 0) {
        UserMessage(user, "rlimit not available on this server");
        return 1;
    }
    if (rd == nullptr)
        return 1;
    if (cp != nullptr && wordCmp(cp, "on") == 0)
        rd->flags |= RD_RLIMIT;
    else if (cp != nullptr && wordCmp(cp, "off") == 0)
        rd->flags &= ~RD_RLIMIT;
    UserMessage(user, "`rlimit %s", (rd->flags & RD_RLIMIT) ? "on" : "off");
    return 1;
}
