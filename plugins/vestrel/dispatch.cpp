/* Message dispatch: every client message passes through handleMessage
 * before the host acts on it. The first stage screens chat, whispers,
 * enciphered chat, room changes, drawings and movement; chat lines go on to
 * the interpreter and chat screening; everything else that passes goes on
 * to the second stage. The small helpers all the screening shares are here
 * too. */
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "vestrel.h"

#define DECIPHER_SIZE 256 /* bytes of a deciphered line, NUL included */
#define SLIDE_DISTANCE 4  /* pixels on each axis: a short move */
#define FULL_ROOM_DRAWINGS 130
#define FULL_ROOM_VARS 23140 /* bytes of a room's variable buffer */

/* ---- Small helpers ------------------------------------------------------- */

uint16 read16(const unsigned char *p)
{
    uint16 v;
    memcpy(&v, p, sizeof v);
    return v;
}

uint32 read32(const unsigned char *p)
{
    uint32 v;
    memcpy(&v, p, sizeof v);
    return v;
}

int userFlags(const UserDat *ud)
{
    return ud != nullptr ? ud->flags : 0;
}

/* Refuse and reset: the client shows again what the server holds. */
ClientMsg *refuseAndReset(ServerState *serverState, MyState *state)
{
    resetUser(serverState, state);
    return nullptr;
}

/* A warning told once until another warning or a room change. */
void warnOnce(ServerUserRec *user, UserDat *ud, int slot, const char *text)
{
    if (ud == nullptr || ud->lastWarning == slot)
        return;
    UserMessage(user, "%s", text);
    ud->lastWarning = slot;
}

/* Gathers the records of the occupants of places [from, to) but `self`,
 * in place order, and asks for each record's user fields ahead of use:
 * the rules that scan the room then read them with their misses overlapped
 * instead of one after another. Returns how many; `out` holds `to - from`. */
int gatherOccupants(ServerRoomRec *room, int from, int to, UserID self, ServerUserRec **out)
{
    const UserID *occupants = room->occupants;
    int n = 0;
    for (int i = from; i < to; i++) {
        UserID id = occupants[i];
        if (id == 0 || id == self)
            continue;
        ServerUserRec *other = GetServerUser(id);
        if (other == nullptr)
            continue;
        __builtin_prefetch(&other->user);
        out[n++] = other;
    }
    return n;
}

/* ---- First stage ----------------------------------------------------------- */

static ClientMsg *textPath(ServerState *serverState, MyState *state, ClientMsg *message)
{
    if (serverState->currentUser == nullptr)
        return nullptr;
    const char *text = (const char *)message->msg;
    const char *end = (const char *)memchr(text, '\0', message->length);
    if (end == nullptr)
        return nullptr;
    return screenChatLine(serverState, state, message, text, (size_t)(end - text), 0);
}

static ClientMsg *whisperPath(ServerState *serverState, MyState *state, ClientMsg *message)
{
    if (serverState->currentUser == nullptr || message->length <= 4)
        return nullptr;
    const char *text = (const char *)message->msg + 4;
    const char *end = (const char *)memchr(text, '\0', message->length - 4);
    if (end == nullptr)
        return nullptr;
    return screenChatLine(serverState, state, message, text, (size_t)(end - text),
                          read32(message->msg));
}

/* The plug-in deciphers into a buffer of its own; the message passed on is
 * the one the client sent. `at` is where the length field starts and
 * `extra` the payload bytes before it. */
static ClientMsg *encipheredPath(ServerState *serverState, MyState *state, ClientMsg *message,
                                 uint32 at, UserID target)
{
    uint32 length = read16(message->msg + at);
    if (length - 3 > DECIPHER_SIZE - 1) /* below 3 wraps round too */
        return nullptr;
    if (message->length < length + at)
        return nullptr;
    char buffer[DECIPHER_SIZE];
    memset(buffer, 0, sizeof buffer);
    DecryptCString(message->msg + at + 2, buffer, (int)(length - 3), 0);
    return screenChatLine(serverState, state, message, buffer, strlen(buffer), target);
}

/* Navigation error 1 (unknown room), and the client shows where he is. */
static ClientMsg *refuseRoomChange(ServerState *serverState, MyState *state)
{
    sendMsgNavError(toUser(serverState->currentUser), SE_RoomUnknown);
    return refuseAndReset(serverState, state);
}

/* Only a request for the same room as the previous request is counted. */
static int repeatedDestination(ServerState *serverState, MyState *state, ServerUserRec *user,
                               RoomID dest)
{
    UserDat *ud = getUserDat(state, user);
    if (isOperator(user) || ud == nullptr)
        return 0;
    if (dest != ud->LastRoomID || dest == 0) {
        ud->LastRoomID = dest;
        return 0;
    }
    return countAgainst(serverState, state, ud, L_ROOMGOTO, &ud->roomGoto, 1, "Room Goto's");
}

static int isClosedMemberRoom(const ServerRoomRec *room)
{
    return room != nullptr && room->memberOwner != 0 &&
           ((room->room.roomFlags & RF_Closed) || room->roomPassword[0] != '\0');
}

static ClientMsg *roomChange(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    if (user == nullptr || message->length < 2)
        return nullptr;
    RoomID dest = (RoomID)read16(message->msg);
    /* The server refuses the move of a user an operator pinned: it clears
     * nothing and sets off no room-entry checks. */
    if (isOperatorPinned(user))
        return secondStage(serverState, state, message);

    if (repeatedDestination(serverState, state, user, dest))
        return refuseRoomChange(serverState, state);
    if (roomEntryPermitted(serverState, state, dest, user) == 0)
        return refuseRoomChange(serverState, state);
    if (dest == user->user.roomID)
        return secondStage(serverState, state, message);

    /* The owner enters his own room whatever its lock or password. A room
     * without a member owner is nobody's, whatever a stale pointer says.
     * What the room he leaves held him with stays behind, as on any move. */
    ServerRoomRec *room = GetRoom(dest);
    if (user->lastOwnedRoom != nullptr && isOwnerByCounter(user, room) &&
        !(user->flags & UF_Pinned)) { /* forcing the lock is not forcing an operator's pin */
        /* Forced or not, a room has no more places than it has: a move
         * that cannot be made leaves him held where he is. */
        if (room->room.nbrPeople >= serverState->maxPeoplePerRoom)
            return refuseRoomChange(serverState, state);
        UserDat *ud = getUserDat(state, user);
        if (ud != nullptr)
            dropRoomSanctions(user, ud);
        ChangeUserRoom(user, dest, 1);
        return nullptr;
    }
    clearDataForRoomChange(serverState, state, user);
    if (state->wizInMemberRooms && UserRank(user) > 1 && isClosedMemberRoom(room)) {
        ChangeUserRoom(user, dest, 1);
        return nullptr;
    }
    return secondStage(serverState, state, message);
}

static void cleanYourRoom(ServerUserRec *user, UserDat *ud)
{
    if (ud->LastDrawFull != user->user.roomID)
        UserMessage(user, "Clean your room!");
    ud->LastDrawFull = user->user.roomID;
}

static ClientMsg *drawing(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    if (user == nullptr || message->length < sizeof(DrawRecord))
        return nullptr;
    /* Without a UserDat nothing is counted, and the drawing is dropped. */
    UserDat *ud = getUserDat(state, user);
    if (ud == nullptr)
        return nullptr;
    if (!isOperator(user) &&
        countAgainst(serverState, state, ud, L_DRAW, &ud->draw, 1, "Paintings"))
        return nullptr;

    int command = message->msg[4];
    if (command == DC_Detonate || command == DC_Delete) {
        ud->LastDrawFull = 0;
        return secondStage(serverState, state, message);
    }
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr)
        return nullptr;
    if (room->room.nbrDrawCmds > FULL_ROOM_DRAWINGS) {
        cleanYourRoom(user, ud);
        return nullptr;
    }
    if ((long)room->room.lenVars + (long)message->length > FULL_ROOM_VARS) {
        FormattedLogMessage(user, "Paint Delay", "-- Flooded Room");
        cleanYourRoom(user, ud);
        return nullptr;
    }
    return secondStage(serverState, state, message);
}

/* 1 when another occupant stands within the room's personal space. */
static int tooClose(ServerState *serverState, ServerRoomRec *room, ServerUserRec *user, Point pos,
                    uint32 zone)
{
    ServerUserRec *others[GATHER_PLACES];
    int places = serverState->maxPeoplePerRoom;
    for (int from = 0; from < places; from += GATHER_PLACES) {
        int to = places - from > GATHER_PLACES ? from + GATHER_PLACES : places;
        int n = gatherOccupants(room, from, to, user->user.userID, others);
        for (int k = 0; k < n; k++) {
            if (withinZone(others[k]->user.roomPos, pos, zone))
                return 1;
        }
    }
    return 0;
}

static ClientMsg *movement(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    if (user == nullptr || message->length < sizeof(Point))
        return nullptr;
    UserDat *ud = getUserDat(state, user);
    if (userFlags(ud) & UD_RPIN)
        return refuseAndReset(serverState, state);
    if (rankOf(state, user) > 1)
        return secondStage(serverState, state, message);

    Point pos;
    memcpy(&pos, message->msg, sizeof pos);
    Point cur = user->user.roomPos;
    if (ud != nullptr) {
        Point last = ud->lastClientPos;
        ud->lastClientPos = pos;
        int slide = withinZone(pos, cur, SLIDE_DISTANCE) || withinZone(pos, last, SLIDE_DISTANCE);
        int over = slide ? countAgainst(serverState, state, ud, L_SLIDE, &ud->slide, 1, "Slides")
                         : countAgainst(serverState, state, ud, L_MOVE, &ud->move, 1, "Moves");
        if (over)
            return refuseAndReset(serverState, state);
    }

    LimitValue *space = limitHere(serverState, state, L_AVATARZONE);
    if (space == nullptr)
        return secondStage(serverState, state, message);
    ServerRoomRec *room = roomOf(state, user);
    if (room == nullptr)
        return refuseAndReset(serverState, state);
    if (tooClose(serverState, room, user, pos, space->maximum)) {
        if (space->roomsChecked & RC_WARN)
            warnOnce(user, ud, L_AVATARZONE, "Avatars have some private space here");
        return refuseAndReset(serverState, state);
    }
    return secondStage(serverState, state, message);
}

/* ---- Entry ------------------------------------------------------------------ */

/* Records when the user last did something, for the idle check; only while
 * an idle limit applies in his room. */
static void updateIdleTime(ServerState *serverState, MyState *state, ClientMsg *message)
{
    uint32 type = message->eventType;
    if (type == MSG_PONG || type == MSG_PING || type == MSG_LOGON)
        return;
    ServerUserRec *user = serverState->currentUser;
    if (user == nullptr || isOperator(user))
        return;
    UserDat *ud = getUserDat(state, user);
    if (ud == nullptr)
        return;
    ud->idle = -1;
    if (limitHere(serverState, state, L_IDLE) != nullptr)
        ud->idle = nowFor(state, user);
}

static ClientMsg *screen(ServerState *serverState, MyState *state, ClientMsg *message)
{
    updateIdleTime(serverState, state, message);
    ServerUserRec *user = serverState->currentUser;

    switch (message->eventType) {
    case MSG_LOGON:
        return secondStage(serverState, state, message);
    case MSG_SERVERDOWN:
    case MSG_ROOMSETDESC:
        return user == nullptr ? nullptr : secondStage(serverState, state, message);
    case MSG_TALK:
        return textPath(serverState, state, message);
    case MSG_GMSG:
        return textPath(serverState, state, message);
    case MSG_RMSG: {
        UserDat *ud = getUserDat(state, user);
        if (!isOperator(user) && ud != nullptr &&
            countAgainst(serverState, state, ud, L_ROOMMSG, &ud->roommsg, 1, "Room messages"))
            return nullptr;
        return textPath(serverState, state, message);
    }
    case MSG_WHISPER:
        return whisperPath(serverState, state, message);
    case MSG_XTALK:
        if (user == nullptr)
            return nullptr;
        if (message->length < 2)
            return message;
        return encipheredPath(serverState, state, message, 0, 0);
    case MSG_XWHISPER:
        /* The target and the length field must both be there. */
        if (user == nullptr || message->length < 6)
            return nullptr;
        return encipheredPath(serverState, state, message, 4, read32(message->msg));
    case MSG_ROOMGOTO:
        return roomChange(serverState, state, message);
    case MSG_DRAW:
        return drawing(serverState, state, message);
    case MSG_USERMOVE:
        return movement(serverState, state, message);
    default:
        return secondStage(serverState, state, message);
    }
}

/* The sender's record for the rules of this message: his UserDat, rank,
 * room, the room's RoomDat and its limit entries, asked of the host once. */
static void beginSpeaker(MyState *state, ServerUserRec *user)
{
    Speaker *s = &state->speaker;
    if (user == nullptr) {
        endSpeaker(state);
        return;
    }
    s->now = time(nullptr);
    s->ud = (UserDat *)getPluginUserInfo(state->myPluginID, user);
    s->rank = UserRank(user);
    s->roomID = user->user.roomID;
    s->room = GetRoom(s->roomID);
    s->rd = s->room != nullptr ? (RoomDat *)getPluginRoomInfo(state->myPluginID, s->room) : nullptr;
    s->limits = s->rd != nullptr ? roomEntries(state, s->room, s->rd) : nullptr;
    s->user = user;
}

ClientMsg *handleMessage(ServerState *serverState, AnyType pluginDat, ClientMsg *message)
{
    if (serverState->currentUser == nullptr) {
        /* The type's bytes are the client's: no line breaks in the log. */
        char type[5] = {0};
        memcpy(type, message, 4);
        blankControls(type);
        FormattedLogMessage(nullptr, "vestrel", "No user for message type %.4s", type);
    }
    MyState *state = (MyState *)pluginDat;
    if (state == nullptr)
        return message;

    beginSpeaker(state, serverState->currentUser);
    ClientMsg *result = screen(serverState, state, message);
    endSpeaker(state);
    return result;
}
