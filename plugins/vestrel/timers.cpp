/* Timer events: actions the plug-in schedules through the host. Each
 * action finds its user again by id; a user who has gone is skipped. */
#include <stdlib.h>
#include <string.h>

#include "vestrel.h"

#define ANNOUNCE_INTERVAL 86400 /* seconds: every day at the same time */
#define IDLE_INTERVAL 60        /* seconds between idle scans */
#define RETRY_INTERVAL 1        /* seconds before a waiting action looks again */
#define NO_MATCH 5              /* more wildcards than a pattern can hold */

static const char kTakeNotice[] =
    "This is a Take Avatar Room.  To take someone else's avatar, whisper `take.  Only wear "
    "avatars you are willing to share in this room.";

static void retry(MyState *state, TimerEvent *event)
{
    scheduleTimerEvent(state->myPluginID, event, RETRY_INTERVAL);
}

static LimitValue *entryForRoom(ServerState *serverState, MyState *state, int slot,
                                const ServerRoomRec *room)
{
    return getRoomLimitForRoom(serverState, state, state->limits[slot], room->room.roomID);
}

/* The room an idle entry sends users to; 0 when its decay names no room
 * that a RoomID can hold (not a number, or far out of range). */
static int idleRoom(double decay, RoomID *room)
{
    if (!(decay > -32769.0 && decay < 32768.0))
        return 0;
    *room = (RoomID)decay;
    return 1;
}

int CheckUserIdle(ServerState *serverState, MyState *state)
{
    if (serverState == nullptr || state == nullptr)
        return 0;
    time_t now = time(nullptr);
    /* Neighbours in the list are often in one room: its entry is kept
     * until another room comes, or somebody has been sent away. */
    int known = 0;
    RoomID knownRoom = 0;
    LimitValue *e = nullptr;
    for (ServerUserRec *user = serverState->userList; user != nullptr; user = user->nextUser) {
        UserDat *ud = getUserDat(state, user);
        if (isOperator(user) || ud == nullptr || ud->idle <= 0)
            continue;
        if (!known || user->user.roomID != knownRoom) {
            e = getRoomLimitForRoom(serverState, state, state->limits[L_IDLE], user->user.roomID);
            knownRoom = user->user.roomID;
            known = 1;
        }
        if (e == nullptr || e->maximum == 0)
            continue;
        if (difftime(now, ud->idle) / 60 < (double)e->maximum)
            continue;
        if ((double)user->user.roomID == e->decay)
            continue;
        RoomID room = 0;
        if (idleRoom(e->decay, &room) == 0)
            continue;
        generateGotoRoom(serverState, state, user, room);
        known = 0;
        UserMessage(user, "You have been sent to the Idle Room for being idle");
        FormattedLogMessage(user, "vestrel", "Displaying Idlers info..");
    }
    return 1;
}

/* ---- Room entry and sanctions ---------------------------------------------- */

/* The UserDat bits that carry out a room's sanctions. */
static int userBitsFor(int sanctions)
{
    return ((sanctions & RS_PIN) ? UD_RPIN : 0) | ((sanctions & RS_GAG) ? UD_RGAG : 0) |
           ((sanctions & RS_PROPGAG) ? UD_RPROPGAG : 0);
}

/* The member-room sanctions of the user's current room: prop-gag, pin,
 * gag. The UserDat bits go again at the next room change. A sanction he
 * already bears is not laid on him twice (entry, logon and the sanction
 * itself may each find him). */
static void applySanctions(MyState *state, ServerUserRec *user, ServerRoomRec *room)
{
    UserDat *ud = getUserDat(state, user);
    if (ud == nullptr)
        return;
    int s = getUserSanctions(state, user, room, ud);
    int stripped = 0; /* the pin costume, if he wore it, went with the rest */
    /* What an operator's pin dresses him in, and where it holds him, no
     * room changes: the room's bits still hold him as they would. */
    int operatorPinned = isOperatorPinned(user);
    if ((s & RS_PROPGAG) && !(ud->flags & UD_RPROPGAG)) {
        if (!operatorPinned) {
            user->user.nbrProps = 0;
            sendMsgUserProp(toUserRoom(user), user, 0, nullptr);
            stripped = 1;
        }
        ud->flags |= UD_RPROPGAG;
    }
    if ((s & RS_PIN) && (!(ud->flags & UD_RPIN) || stripped)) {
        if (!operatorPinned) {
            dressInPin(user);
            Point pin;
            pin.v = PIN_POS_V;
            pin.h = PIN_POS_H;
            user->user.roomPos = pin;
            UpdateUserPosition(user, pin, 1);
        }
        ud->flags |= UD_RPIN;
    }
    if (s & RS_GAG)
        ud->flags |= UD_RGAG;
    if (s & (RS_PROPGAG | RS_PIN | RS_GAG))
        ud->sanctionRoom = room->room.roomID;
}

static const char kKicked[] = "Sorry - you've been kicked from that room";

/* A user found in a room that has kicked him (he logged on straight into
 * it, or was let in before the kick was recorded) goes where a kick sends
 * users: the entrance. In the entrance itself there is nowhere to send
 * him; when the entrance has no place for him he is logged off, as a move
 * that cannot be made would only be tried again at every entry. */
static int sendKickedOut(ServerState *serverState, MyState *state, ServerUserRec *user,
                         ServerRoomRec *room)
{
    if (room->room.roomID == ENTRANCE_ROOM || isOperatorPinned(user))
        return 0;
    if (!(getUserSanctions(state, user, room, getUserDat(state, user)) & RS_KICK))
        return 0;
    UserMessage(user, "%s", kKicked);
    ServerRoomRec *entrance = GetRoom(ENTRANCE_ROOM);
    if (entrance == nullptr || entrance->room.nbrPeople >= serverState->maxPeoplePerRoom) {
        ScheduleUserKill(user, K_Verbose, kKicked, 0);
        return 1;
    }
    clearDataForRoomChange(serverState, state, user);
    ChangeUserRoom(user, ENTRANCE_ROOM, 1);
    return 1;
}

/* An entry without RC_WARN leaves the avatar alone on entry; the strip
 * happens once per visit, since lastWarning goes back to -1 at every room
 * change. Operators are never stripped, as in avatar screening. */
static void stripDuplicateAvatar(ServerState *serverState, MyState *state, ServerUserRec *user,
                                 ServerRoomRec *room)
{
    if (user->user.nbrProps == 0 || isOperator(user))
        return;
    LimitValue *d = entryForRoom(serverState, state, L_NODUPAVATARS, room);
    RoomDat *rd = getRoomDat(state, room);
    int applies = d != nullptr || (rd != nullptr && (rd->flags & RD_RNODUPAVATARS) &&
                                   !isOwnerByCounter(user, room) && UserRank(user) <= 1);
    if (!applies || (d != nullptr && !(d->roomsChecked & RC_WARN)))
        return;
    UserDat *ud = getUserDat(state, user);
    if (ud == nullptr || ud->lastWarning == L_NODUPAVATARS)
        return;
    if (!isThereADuplicateAvatar(serverState, state, room, user, user->user.nbrProps,
                                 user->user.propSpec))
        return;
    UserMessage(user, "You aren't permitted to wear the same avatar as someone else here");
    user->user.nbrProps = 0;
    sendMsgUserProp(toUserRoom(user), user, 0, nullptr);
    ud->lastWarning = L_NODUPAVATARS;
}

static void roomEntry(ServerState *serverState, MyState *state, TimerEvent *event, int checks)
{
    ServerUserRec *user = GetServerUser(event->userID);
    ServerRoomRec *room = getUserRoom(user);
    if (user == nullptr) {
        DisposePtr((Ptr)event);
        return;
    }
    if (room == nullptr) {
        retry(state, event);
        return;
    }
    if (checks) {
        if (entryForRoom(serverState, state, L_TAKE, room) != nullptr)
            UserMessage(user, "%s", kTakeNotice);
        if (entryForRoom(serverState, state, L_GODONLY, room) != nullptr && UserRank(user) <= 2)
            ScheduleUserKill(user, K_LoggedOff, nullptr, 0);
        stripDuplicateAvatar(serverState, state, user, room);
    }
    if (!sendKickedOut(serverState, state, user, room))
        applySanctions(state, user, room);
    DisposePtr((Ptr)event);
}

static void wizNotice(MyState *state, TimerEvent *event)
{
    ServerUserRec *user = GetServerUser(event->userID);
    if (user == nullptr) {
        DisposePtr((Ptr)event);
        return;
    }
    if (getUserRoom(user) == nullptr) {
        retry(state, event);
        return;
    }
    UserMessage(user, "%s", theWizardsMayMsg);
    DisposePtr((Ptr)event);
}

/* ---- Logon ------------------------------------------------------------------ */

/* Wildcards of an address pattern that matches, or NO_MATCH. The pattern
 * is four dot-separated octets, each a decimal number or '*'; the text is
 * never read past its end, and a number that does not fit an octet matches
 * nothing (strtol saturates, it never overflows). */
static int patternWildcards(const char *pattern, const unsigned char octets[4])
{
    const char *p = pattern;
    int wild = 0;
    for (int i = 0; i < 4; i++) {
        if (*p == '*') {
            wild++;
            p++;
        } else {
            char *end = nullptr;
            long n = strtol(p, &end, 10);
            if (n != (long)octets[i])
                return NO_MATCH;
            p = end;
        }
        if (*p != '\0')
            p++; /* the dot */
    }
    return wild;
}

/* The most specific pattern wins, an earlier entry wins a tie, and an
 * entry without text is the fallback only before any pattern matched. */
static LimitValue *dupIPEntry(MyState *state, const ServerUserRec *user)
{
    const unsigned char *octets = (const unsigned char *)&user->netAddress.ipAddress;
    LimitValue *best = nullptr;
    int bestWild = NO_MATCH;
    for (LimitValue *e = state->limits[L_DUPIP]; e != nullptr; e = e->next) {
        if (e->string == nullptr || e->string[0] == '\0') {
            if (bestWild == NO_MATCH) {
                best = e;
                bestWild = NO_MATCH - 1;
            }
            continue;
        }
        int w = patternWildcards(e->string, octets);
        if (w < bestWild) {
            best = e;
            bestWild = w;
        }
    }
    return best;
}

/* Connections per address: an operator on the address exempts everybody
 * on it, and the one disconnected is the last of them in the host's list. */
static void limitDuplicateAddress(ServerState *serverState, MyState *state, ServerUserRec *user)
{
    int count = 0;
    int highestRank = 0;
    ServerUserRec *last = nullptr;
    for (ServerUserRec *u = serverState->userList; u != nullptr; u = u->nextUser) {
        if (u->netAddress.ipAddress != user->netAddress.ipAddress)
            continue;
        count++;
        int rank = UserRank(u);
        highestRank = rank > highestRank ? rank : highestRank;
        last = u;
    }
    uint32 others = (uint32)(count - 1);
    if (count < 2 || highestRank >= 2)
        return;
    LimitValue *best = dupIPEntry(state, user);
    if (best != nullptr && others > best->maximum)
        ScheduleUserKill(last, K_Verbose, "Duplicate IP limit exceeded", 0);
}

static void logon(ServerState *serverState, MyState *state, TimerEvent *event)
{
    ServerUserRec *user = GetServerUser(event->userID);
    if (user == nullptr) {
        DisposePtr((Ptr)event);
        return;
    }
    if (user->counter == 0 && user->crc == 0 && !(user->flags & UF_LogonComplete)) {
        retry(state, event); /* the host has not got his logon data yet */
        return;
    }
    limitDuplicateAddress(serverState, state, user);

    /* A returning owner finds his room again. A counter of 0 is the
     * memberOwner of every room that has no owner, and a guest owns
     * nothing, so neither is given a room. */
    for (ServerRoomRec *room = serverState->roomList; room != nullptr; room = room->nextRoom) {
        if (isOwnerByCounter(user, room)) {
            user->lastOwnedRoom = room;
            break;
        }
    }

    /* The room-entry action may have run before his identities were all
     * known: what the room holds against one who came late is laid on him
     * now, and what it no longer holds (he is its owner, known only now)
     * is taken off. */
    ServerRoomRec *room = getUserRoom(user);
    UserDat *ud = getUserDat(state, user);
    if (room != nullptr && ud != nullptr) {
        int held = getUserSanctions(state, user, room, ud);
        if (ud->flags & UD_ROOMSANCTIONS & ~userBitsFor(held))
            dropRoomSanctionsInSight(user, ud);
        if (!sendKickedOut(serverState, state, user, room))
            applySanctions(state, user, room);
    }
    DisposePtr((Ptr)event);
}

/* After the host has carried out rowner, the old owner's pointer to the
 * room he gave away is dropped. */
static void roomOwnerChanged(TimerEvent *event)
{
    ServerUserRec *user = GetServerUser(event->userID);
    if (user != nullptr && user->lastOwnedRoom != nullptr &&
        user->lastOwnedRoom->memberOwner != user->counter)
        user->lastOwnedRoom = nullptr;
    DisposePtr((Ptr)event);
}

/* A cancelled announcement (reload or shutdown) frees its own event. */
static void announce(MyState *state, TimerEvent *event)
{
    AutoAnnounce *aa = (AutoAnnounce *)event->param;
    if (aa == nullptr) {
        DisposePtr((Ptr)event);
        return;
    }
    GlobalMessage("%s", aa->message);
    scheduleTimerEvent(state->myPluginID, event, ANNOUNCE_INTERVAL);
}

/* The response is sent as text: a % in it is no format directive. */
static void pageResponse(MyState *state, TimerEvent *event)
{
    ServerUserRec *user = GetServerUser(event->userID);
    if (user != nullptr && state->pageResponse != nullptr)
        UserMessage(user, "%s", state->pageResponse);
    DisposePtr((Ptr)event);
}

void handleTimerEvent(ServerState *serverState, AnyType pluginDat, AnyType timerDat)
{
    MyState *state = (MyState *)pluginDat;
    TimerEvent *event = (TimerEvent *)timerDat;
    if (event == nullptr)
        return;
    if (state == nullptr) {
        DisposePtr((Ptr)event);
        return;
    }

    switch (event->action) {
    case TA_WIZNOTICE:
        wizNotice(state, event);
        return;
    case TA_ROOMENTRY:
        roomEntry(serverState, state, event, 1);
        return;
    case TA_SANCTIONS:
        roomEntry(serverState, state, event, 0);
        return;
    case TA_LOGON:
        logon(serverState, state, event);
        return;
    case TA_ROWNER:
        roomOwnerChanged(event);
        return;
    case TA_AUTOANNOUNCE:
        announce(state, event);
        return;
    case TA_PAGERESPONSE:
        pageResponse(state, event);
        return;
    case TA_IDLE:
        CheckUserIdle(serverState, state);
        scheduleTimerEvent(state->myPluginID, event, IDLE_INTERVAL);
        return;
    default:
        DisposePtr((Ptr)event);
        return;
    }
}
