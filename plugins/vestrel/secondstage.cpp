/* Second-stage screening: everything but operators' messages. Pages to
 * the operators, loose props, the logon record, user and room lists, spot
 * and door changes, face, colour, avatar and name changes, and requests for
 * operator privileges. */
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "vestrel.h"

/* ---- Second stage ------------------------------------------------------------ */

static ClientMsg *pageToOperators(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    UserDat *ud = getUserDat(state, user);
    if (userFlags(ud) & UD_PAGEGAG) {
        UserMessage(user, "Sorry, you've been pagegagged.");
        return nullptr;
    }
    if (user == nullptr)
        return nullptr;
    const char *text = (const char *)message->msg;
    if (memchr(text, '\0', message->length) == nullptr)
        return nullptr;
    if (pageBreaksLines(text, serverState, state))
        return nullptr;
    if (ud == nullptr)
        return message;
    if (ud->lastChat == nullptr) {
        rememberText(&ud->lastChat, "");
        if (ud->lastChat == nullptr)
            return message;
    }
    if (strcmp(text, ud->lastChat) == 0)
        return countAgainst(serverState, state, ud, L_REPPAGE, &ud->chat, 1, "Repeated pages")
                   ? nullptr
                   : message;
    if (countAgainst(serverState, state, ud, L_PAGE, &ud->chat, 1, "Page messages"))
        return nullptr;
    rememberText(&ud->lastChat, text);
    return message;
}

/* The owner's freeze binds everybody but him; an operator's binds all. */
static int propsFrozen(MyState *state, ServerUserRec *user, ServerRoomRec *room)
{
    RoomDat *rd = getRoomDat(state, room);
    int flags = rd != nullptr ? rd->flags : 0;
    if ((flags & RD_RPROPFREEZE) && !isOwnerByCounter(user, room)) {
        UserMessage(user, "The owner has frozen loose props here");
        return 1;
    }
    if (flags & RD_PROPFREEZE) {
        UserMessage(user, "Sorry, loose props have been frozen here");
        return 1;
    }
    return 0;
}

static ClientMsg *newLooseProp(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    if (message->length < sizeof(AssetSpec) + sizeof(Point))
        return nullptr;
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr)
        return nullptr;
    RoomDat *rd = getRoomDat(state, room);
    if (rd != nullptr && (rd->flags & RD_RNOLOOSEPROPS) && !isOwnerByCounter(user, room)) {
        UserMessage(user, "The owner has limited loose props here");
        return nullptr;
    }
    UserDat *ud = getUserDat(state, user);
    if (ud != nullptr) {
        if (ud->flags & UD_RPIN)
            return nullptr;
        if (countAgainst(serverState, state, ud, L_PROPDROP, &ud->propDrop, 1, "Prop drops"))
            return nullptr;
    }
    AssetSpec asset;
    Point pos;
    memcpy(&asset, message->msg, sizeof asset);
    memcpy(&pos, message->msg + sizeof asset, sizeof pos);
    if (anotherPropAlreadyAt(serverState, state, nullptr, asset, pos))
        return nullptr;
    return message;
}

static ClientMsg *moveLooseProp(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    if (message->length < 4 + sizeof(Point))
        return nullptr;
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr || propsFrozen(state, user, room))
        return nullptr;
    LPropRec *prop = findPropInRoom(user, (sint32)read32(message->msg));
    if (prop == nullptr)
        return message;
    Point pos;
    memcpy(&pos, message->msg + 4, sizeof pos);
    if (anotherPropAlreadyAt(serverState, state, prop, prop->propSpec, pos))
        return nullptr;
    return message;
}

static ClientMsg *deleteLooseProp(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    if (message->length < 4)
        return nullptr;
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr || propsFrozen(state, user, room))
        return nullptr;
    if ((sint32)read32(message->msg) != -1)
        return message;

    LimitValue *entry = limitHere(serverState, state, L_CLEARLOOSEPROPS);
    if (entry == nullptr || room->room.nbrPeople <= entry->maximum ||
        isRoomOwner(serverState, state, user, room))
        return message;
    if (entry->roomsChecked & RC_WARN)
        warnOnce(user, getUserDat(state, user), L_CLEARLOOSEPROPS,
                 "Clearlooseprops is limited here");
    return nullptr;
}

/* Names compare as the server's name lookup compares them: in any case,
 * and without the blanks a line leaves at the end. */
static int sameName(const char *a, size_t na, const char *b, size_t nb)
{
    while (na > 0 && a[na - 1] == ' ')
        na--;
    while (nb > 0 && b[nb - 1] == ' ')
        nb--;
    if (na != nb)
        return 0;
    for (size_t i = 0; i < na; i++) {
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i]))
            return 0;
    }
    return 1;
}

/* A name another connected user holds: taking it would aim every command
 * typed with that name (rkick, pinx, pagegag) at its taker. */
static int nameHeldByAnother(ServerState *serverState, ServerUserRec *user,
                             const unsigned char *pname)
{
    size_t n = pname[0] < USER_NAME_SIZE ? pname[0] : USER_NAME_SIZE - 1;
    for (ServerUserRec *u = serverState->userList; u != nullptr; u = u->nextUser) {
        size_t m = u->user.name[0] < USER_NAME_SIZE ? u->user.name[0] : USER_NAME_SIZE - 1;
        if (u != user && sameName((const char *)pname + 1, n, (const char *)u->user.name + 1, m))
            return 1;
    }
    return 0;
}

/* A logon under a name another user holds keeps the name with the first
 * number after it that nobody holds ("mel2"), cut to fit 31 characters. */
static void makeNameUnique(ServerState *serverState, ServerUserRec *user, unsigned char *pname)
{
    if (user == nullptr || isOperator(user) || !nameHeldByAnother(serverState, user, pname))
        return;
    unsigned char base[USER_NAME_SIZE];
    memcpy(base, pname, sizeof base);
    for (int k = 2; k < 1000; k++) {
        char digits[8];
        int nd = snprintf(digits, sizeof digits, "%d", k);
        int keep = base[0] + nd > USER_NAME_SIZE - 1 ? USER_NAME_SIZE - 1 - nd : base[0];
        memcpy(pname + 1 + keep, digits, (size_t)nd);
        pname[0] = (unsigned char)(keep + nd);
        if (!nameHeldByAnother(serverState, user, pname))
            return;
    }
}

static ClientMsg *logonRecord(ServerState *serverState, MyState *state, ClientMsg *message)
{
    if (message->length < LOGON_RECORD_SIZE)
        return nullptr;
    UserDat *ud = getUserDat(state, serverState->currentUser);
    /* A second logon record would rename him round the name gag and the
     * name-change limit. */
    if (ud != nullptr && ud->loggedOn)
        return nullptr;
    if (ud != nullptr)
        ud->loggedOn = 1;
    if (ud != nullptr)
        ud->clientType = (int)(read32(message->msg + LOGON_AUXFLAGS_OFFSET) & 0x80000000u);
    checkName(message->msg + LOGON_NAME_OFFSET, serverState, state, "logon");
    makeNameUnique(serverState, serverState->currentUser, message->msg + LOGON_NAME_OFFSET);
    return message;
}

/* The list is sent with every operator mark hidden, then every user's
 * bits are put back before anything else can run. */
static ClientMsg *userList(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    if (userFlags(getUserDat(state, user)) & UD_LISTGAG)
        return refuseAndReset(serverState, state);
    if (state->hideops == 0 || UserRank(user) > 1)
        return message;

    int count = 0;
    for (ServerUserRec *u = serverState->userList; u != nullptr; u = u->nextUser)
        count++;
    uint16 *saved = (uint16 *)NewPtr((sint32)(sizeof(uint16) * (size_t)(count > 0 ? count : 1)));
    if (saved == nullptr)
        return nullptr; /* no list rather than one that shows the operators */
    int i = 0;
    for (ServerUserRec *u = serverState->userList; u != nullptr; u = u->nextUser) {
        saved[i++] = u->flags;
        u->flags &= (uint16) ~(UF_Wizard | UF_God);
    }
    GenerateListOfAllUsers(user);
    i = 0;
    for (ServerUserRec *u = serverState->userList; u != nullptr; u = u->nextUser)
        u->flags = saved[i++];
    DisposePtr((Ptr)saved);
    return nullptr;
}

static ClientMsg *faceOrColor(ServerState *serverState, MyState *state, ClientMsg *message)
{
    if (faceComingTooFast(serverState, state) || message->length < 2)
        return refuseAndReset(serverState, state);
    sint16 value = (sint16)read16(message->msg);
    if (value < 0 || value > 15)
        return refuseAndReset(serverState, state);
    return message;
}

/* Reads the prop count at `at`; -1 when it is negative or the props it
 * announces do not all lie inside the payload. */
static sint32 propCount(const ClientMsg *message, uint32 at)
{
    if (message->length < at + 4)
        return -1;
    sint32 n = (sint32)read32(message->msg + at);
    if (n < 0 || (uint64_t)at + 4 + 8 * (uint64_t)n > message->length)
        return -1;
    return n;
}

/* Copies at most MaxUserProps props: the rules never look further. */
static void copyProps(const ClientMsg *message, uint32 at, sint32 n, AssetSpec *props)
{
    sint32 shown = n < MaxUserProps ? n : MaxUserProps;
    memcpy(props, message->msg + at, sizeof(AssetSpec) * (size_t)shown);
}

static ClientMsg *description(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    sint32 n = propCount(message, 4);
    if (n < 0)
        return nullptr;
    AssetSpec props[MaxUserProps];
    copyProps(message, 8, n, props);
    if (avatarComingTooFast(serverState, state, n, props))
        return refuseAndReset(serverState, state);
    sint16 face = (sint16)read16(message->msg);
    sint16 color = (sint16)read16(message->msg + 2);
    if (face == user->user.faceNbr && color == user->user.colorNbr)
        return message;
    if (faceComingTooFast(serverState, state))
        return refuseAndReset(serverState, state);
    return message;
}

static ClientMsg *props(ServerState *serverState, MyState *state, ClientMsg *message)
{
    sint32 n = propCount(message, 0);
    if (n < 0)
        return nullptr;
    AssetSpec list[MaxUserProps];
    copyProps(message, 4, n, list);
    if (avatarComingTooFast(serverState, state, n, list))
        return refuseAndReset(serverState, state);
    return message;
}

static ClientMsg *nameChange(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    UserDat *ud = getUserDat(state, user);
    if (userFlags(ud) & UD_NAMEGAG) {
        UserMessage(user, "Sorry, you've been namegagged.");
        return refuseAndReset(serverState, state);
    }
    if (message->length < 1 || message->length < (uint32)message->msg[0] + 1)
        return nullptr;
    if (checkName(message->msg, serverState, state, "username") ||
        nameHeldByAnother(serverState, user, message->msg)) {
        UserMessage(user, "Sorry that name is illegal");
        return refuseAndReset(serverState, state);
    }
    if (ud != nullptr &&
        countAgainst(serverState, state, ud, L_NAMECHANGE, &ud->nameChange, 1, "Name changes"))
        return refuseAndReset(serverState, state);
    return message;
}

static ClientMsg *superUser(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    if (user == nullptr)
        return message;
    if ((user->crc == GUEST_CRC || UserRank(user) == 0) && state->guestWiz == 0)
        return nullptr;
    return message;
}

/* The message types the second stage has a rule for; every other type,
 * chat included, goes on as it came. */
static int isScreenedHere(uint32 type)
{
    switch (type) {
    case MSG_USERCOLOR:
    case MSG_USERFACE:
    case MSG_SUPERUSER:
    case MSG_SMSG:
    case MSG_PROPNEW:
    case MSG_PROPMOVE:
    case MSG_PROPDEL:
    case MSG_LOGON:
    case MSG_LISTOFALLROOMS:
    case MSG_LISTOFALLUSERS:
    case MSG_SPOTSTATE:
    case MSG_DOORLOCK:
    case MSG_DOORUNLOCK:
    case MSG_USERDESC:
    case MSG_USERPROP:
    case MSG_USERNAME:
        return 1;
    default:
        return 0;
    }
}

ClientMsg *secondStage(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    uint32 type = message->eventType;
    if (!isScreenedHere(type) || isOperator(user))
        return message;

    if (type == MSG_USERCOLOR || type == MSG_USERFACE)
        return faceOrColor(serverState, state, message);
    if (type == MSG_SUPERUSER)
        return superUser(serverState, state, message);
    if (type == MSG_SMSG)
        return pageToOperators(serverState, state, message);
    if (user == nullptr)
        return nullptr; /* every other rule needs the sender */

    switch (type) {
    case MSG_PROPNEW:
        return newLooseProp(serverState, state, message);
    case MSG_PROPMOVE:
        return moveLooseProp(serverState, state, message);
    case MSG_PROPDEL:
        return deleteLooseProp(serverState, state, message);
    case MSG_LOGON:
        return logonRecord(serverState, state, message);
    case MSG_LISTOFALLROOMS:
        if (userFlags(getUserDat(state, user)) & UD_LISTGAG) {
            UserMessage(user, "Sorry, you've been listgagged.");
            return refuseAndReset(serverState, state);
        }
        return message;
    case MSG_LISTOFALLUSERS:
        return userList(serverState, state, message);
    case MSG_SPOTSTATE:
    case MSG_DOORLOCK:
    case MSG_DOORUNLOCK:
        if (message->length < (type == MSG_SPOTSTATE ? 6u : 4u))
            return nullptr;
        if (spotStateComingTooFast(serverState, state))
            return refuseAndReset(serverState, state);
        return message;
    case MSG_USERDESC:
        return description(serverState, state, message);
    case MSG_USERPROP:
        return props(serverState, state, message);
    case MSG_USERNAME:
        return nameChange(serverState, state, message);
    default:
        return message;
    }
}
