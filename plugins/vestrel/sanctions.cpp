/* Member room sanctions: each room's ban list, which recognises a user
 * again by address, client identity or machine identity, and the owner's
 * discipline commands. The list hangs from the room's RoomDat, newest entry
 * first, and is freed with the room. */
#include <string.h>

#include "vestrel.h"

#define CLIENT_TYPE_ADDRESS_ONLY 5 /* a client recognised by its address alone */

/* ---- The ban list ---------------------------------------------------------- */

/* Identities are compared as the unsigned values the host holds. A guest
 * is never matched by counter: every guest client may share one. A value
 * of 0 is no identity (logon data still pending, or none given): it would
 * match every other user who has none yet, so it never matches. */
static int matchesUser(const RoomBadActor *entry, ServerUserRec *user, const UserDat *ud)
{
    int clientType = ud != nullptr ? ud->clientType : 0;
    uint32 ip = user->netAddress.ipAddress;
    if (ip != 0 && (uint32)entry->ipAddress == ip)
        return 1;
    if (clientType == CLIENT_TYPE_ADDRESS_ONLY)
        return 0;
    if (user->counter != 0 && UserRank(user) != 0 && (uint32)entry->counter == user->counter)
        return 1;
    return user->puidCtr != 0 && (uint32)entry->puid == user->puidCtr;
}

static int banListCap(const MyState *state)
{
    return state->mroomdiscipline >= 1 ? state->mroomdiscipline : BANLIST_CAP_OFF;
}

int getUserSanctions(MyState *state, ServerUserRec *user, ServerRoomRec *room, UserDat *ud)
{
    if (ownsRoomForSanctions(user, room))
        return 0;
    if (UserRank(user) >= 2)
        return 0; /* wizards and gods are never sanctioned */
    RoomDat *rd = getRoomDat(state, room);
    if (rd == nullptr)
        return 0;
    /* Every matching entry counts: a kicked user who borrows the address
     * of one only gagged is still kicked. */
    int flags = 0;
    for (RoomBadActor *entry = rd->badActorList; entry != nullptr; entry = entry->next) {
        if (matchesUser(entry, user, ud))
            flags |= entry->flags;
    }
    return flags;
}

/* An entry that matches the user by his address alone may be another's
 * who shares it: a sanction laid there would not follow him to another
 * address, and would fall on the other. Such an entry is not his own. */
static int isOwnEntry(const RoomBadActor *entry, ServerUserRec *user, const UserDat *ud)
{
    if (ud != nullptr && ud->clientType == CLIENT_TYPE_ADDRESS_ONLY)
        return matchesUser(entry, user, ud);
    RoomBadActor withoutAddress = *entry;
    withoutAddress.ipAddress = 0;
    return matchesUser(&withoutAddress, user, ud);
}

/* A known user gains the sanction in his own entry, which keeps its place;
 * a new one goes to the head of the list, dropping the oldest entry of a
 * full list. */
void rememberPerp(ServerState *serverState, MyState *state, ServerUserRec *user,
                  ServerRoomRec *room, int sanction)
{
    (void)serverState;
    RoomDat *rd = getRoomDat(state, room);
    if (rd == nullptr)
        return;
    UserDat *ud = getUserDat(state, user);

    int count = 0;
    RoomBadActor **last = nullptr;
    for (RoomBadActor **link = &rd->badActorList; *link != nullptr; link = &(*link)->next) {
        if (isOwnEntry(*link, user, ud)) {
            (*link)->flags |= sanction;
            return;
        }
        count++;
        last = link;
    }
    if (last != nullptr && count >= banListCap(state)) {
        RoomBadActor *oldest = *last;
        *last = nullptr;
        DisposePtr((Ptr)oldest);
    }

    RoomBadActor *entry = (RoomBadActor *)NewPtrClear(sizeof(RoomBadActor));
    if (entry == nullptr)
        return;
    entry->flags = sanction;
    entry->counter = (int)user->counter;
    entry->puid = (int)user->puidCtr;
    entry->ipAddress = (int)user->netAddress.ipAddress;
    getCUserName(entry->username, user);
    entry->next = rd->badActorList;
    rd->badActorList = entry; /* owned by the room's RoomDat */
}

/* Clears the sanction in every entry of the user, and frees an entry left
 * with none. Every entry that matches him holds against him, so the walk
 * goes on to the end: a lift that stopped at the first freed entry would
 * leave the sanction of the next one in force. */
void forgivePerp(ServerState *serverState, MyState *state, ServerUserRec *user, ServerRoomRec *room,
                 int sanction)
{
    (void)serverState;
    RoomDat *rd = getRoomDat(state, room);
    if (rd == nullptr)
        return;
    UserDat *ud = getUserDat(state, user);
    RoomBadActor **link = &rd->badActorList;
    while (*link != nullptr) {
        RoomBadActor *entry = *link;
        if (!matchesUser(entry, user, ud)) {
            link = &entry->next;
            continue;
        }
        entry->flags &= ~sanction;
        if (entry->flags == 0) {
            *link = entry->next; /* unlinked: the room's list owned it */
            DisposePtr((Ptr)entry);
            continue;
        }
        link = &entry->next;
    }
}

/* ---- Handlers -------------------------------------------------------------------- */

static int disciplineOff(const MyState *state)
{
    return state->mroomdiscipline < 1;
}

static void tellDone(ServerUserRec *user, ServerUserRec *target, const char *format)
{
    char name[USER_NAME_SIZE];
    getCUserName(name, target);
    UserMessage(user, format, name);
}

/* Recorded now, carried out by TA_SANCTIONS once this line is answered.
 * Without an event the entry still takes effect at the next entry. */
static int sanction(ServerState *serverState, MyState *state, ServerUserRec *user,
                    ServerRoomRec *room, ServerUserRec *target, int bit, const char *done)
{
    if (disciplineOff(state))
        return 0;
    rememberPerp(serverState, state, target, room, bit);
    if (!scheduleAction(state, target->user.userID, TA_SANCTIONS, 0))
        return 1;
    tellDone(user, target, done);
    return 1;
}

static int isIn(const ServerUserRec *target, const ServerRoomRec *room)
{
    return room != nullptr && target->user.roomID == room->room.roomID;
}

/* The pin costume comes off only when it is all he wears: a user who has
 * dressed otherwise keeps his props. */
static void undressPin(ServerUserRec *target)
{
    UserRec *u = &target->user;
    if (u->nbrProps == 1 && u->propSpec[0].id == PIN_PROP_ID) {
        u->nbrProps = 0;
        sendMsgUserProp(toUserRoom(target), target, 0, nullptr);
    }
}

/* The room's list forgives him wherever he is; what he is made to bear in
 * the room he stands in is lifted only by that room: an owner elsewhere
 * cannot free a user another room holds, nor undo an operator's pinx. */
static int forgive(ServerState *serverState, MyState *state, ServerUserRec *user,
                   ServerRoomRec *room, ServerUserRec *target, int bit, int userFlag,
                   const char *done)
{
    if (disciplineOff(state))
        return 0;
    forgivePerp(serverState, state, target, room, bit);
    UserDat *ud = getUserDat(state, target);
    if (isIn(target, room) && ud != nullptr) {
        /* The costume is the room's to take off only while the room holds
         * him, and never over an operator's pin. */
        int roomPinned = (ud->flags & UD_RPIN) && !(target->flags & UF_Pinned);
        ud->flags &= ~userFlag;
        if (bit == RS_PIN && roomPinned)
            undressPin(target);
    }
    tellDone(user, target, done);
    return 1;
}

/* The host's own rkick then puts the target out of the room. A user who
 * is not in the room keeps what his own room has laid on him. */
int do_rkick(CMD_PARAMS)
{
    if (isIn(targetUser, userRoom) && isOperatorPinned(targetUser)) {
        tellDone(user, targetUser, "%s is pinned by an operator");
        return 1;
    }
    rememberPerp(serverState, state, targetUser, userRoom, RS_KICK);
    if (isIn(targetUser, userRoom))
        clearDataForRoomChange(serverState, state, targetUser);
    return 0;
}

int do_runkick(CMD_PARAMS)
{
    forgivePerp(serverState, state, targetUser, userRoom, RS_KICK);
    return 0;
}

int do_rgag(CMD_PARAMS)
{
    return sanction(serverState, state, user, userRoom, targetUser, RS_GAG, "%s rgagged");
}

int do_rpin(CMD_PARAMS)
{
    return sanction(serverState, state, user, userRoom, targetUser, RS_PIN, "%s rpinned");
}

int do_rpropgag(CMD_PARAMS)
{
    return sanction(serverState, state, user, userRoom, targetUser, RS_PROPGAG, "%s rpropgagged");
}

int do_rungag(CMD_PARAMS)
{
    return forgive(serverState, state, user, userRoom, targetUser, RS_GAG, UD_RGAG, "%s rungagged");
}

int do_runpropgag(CMD_PARAMS)
{
    return forgive(serverState, state, user, userRoom, targetUser, RS_PROPGAG, UD_RPROPGAG,
                   "%s runpropgagged");
}

int do_runpin(CMD_PARAMS)
{
    return forgive(serverState, state, user, userRoom, targetUser, RS_PIN, UD_RPIN, "%s runpinned");
}

int do_rbanlist(CMD_PARAMS)
{
    RoomDat *rd = getRoomDat(state, userRoom);
    if (rd == nullptr || rd->badActorList == nullptr) {
        UserMessage(user, "No entries in the room's ban list");
        return 1;
    }
    for (const RoomBadActor *e = rd->badActorList; e != nullptr; e = e->next) {
        UserMessage(user, "; %s%s%s%s: %s", (e->flags & RS_KICK) ? " kicked" : "",
                    (e->flags & RS_PIN) ? " pinned" : "", (e->flags & RS_GAG) ? " gagged" : "",
                    (e->flags & RS_PROPGAG) ? " propgagged" : "", e->username);
    }
    return 1;
}
