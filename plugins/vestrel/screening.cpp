/* Message screening: every client message passes through handleMessage
 * before the host acts on it. The first stage screens chat, whispers,
 * room changes, drawings and movement; chat lines go on to badchat; the
 * second stage screens the rest for everybody but operators. The avatar,
 * face and prop rules are shared with the command handlers and timers. */
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "vestrel.h"

#define DECIPHER_SIZE 256 /* bytes of a deciphered line, NUL included */
#define SLIDE_DISTANCE 4  /* pixels on each axis: a short move */
#define FULL_ROOM_DRAWINGS 130
#define FULL_ROOM_VARS 23140 /* bytes of a room's variable buffer */

enum { PASS = 0, DROP = 1 };

static const char kSpoofSet[] = ":;|[()\\/!@%^";
static const char kFaceSecondSet[] = ":;|[()\\/!@%^0";

/* ---- Small helpers ------------------------------------------------------- */

static uint16 read16(const unsigned char *p)
{
    uint16 v;
    memcpy(&v, p, sizeof v);
    return v;
}

static uint32 read32(const unsigned char *p)
{
    uint32 v;
    memcpy(&v, p, sizeof v);
    return v;
}

static int userFlags(const UserDat *ud)
{
    return ud != nullptr ? ud->flags : 0;
}

/* Counts one action against slot `slot` of the current user's room; 1 when
 * over the limit. No entry, or no UserDat, counts nothing. */
static int countAgainst(ServerState *serverState, MyState *state, UserDat *ud, int slot,
                        ActivityHistory *hist, int actions, const char *type)
{
    if (ud == nullptr)
        return 0;
    LimitValue *entry = getRoomLimit(serverState, state, state->limits[slot]);
    if (entry == nullptr)
        return 0;
    return checkLimit(serverState, state, hist, entry, ud, slot, actions, type);
}

/* Refuse and reset: the client shows again what the server holds. */
static ClientMsg *refuseAndReset(ServerState *serverState, MyState *state)
{
    resetUser(serverState, state);
    return nullptr;
}

/* A warning told once until another warning or a room change. */
static void warnOnce(ServerUserRec *user, UserDat *ud, int slot, const char *text)
{
    if (ud == nullptr || ud->lastWarning == slot)
        return;
    UserMessage(user, "%s", text);
    ud->lastWarning = slot;
}

static int absDiff(int a, int b)
{
    return a > b ? a - b : b - a;
}

static int withinZone(Point a, Point b, uint32 zone)
{
    return (uint32)absDiff(a.h, b.h) <= zone && (uint32)absDiff(a.v, b.v) <= zone;
}

/* ---- Avatar, face and prop rules ------------------------------------------- */

int faceComingTooFast(ServerState *serverState, MyState *state)
{
    ServerUserRec *user = serverState->currentUser;
    UserDat *ud = getUserDat(state, user);
    if (isOperator(user) || ud == nullptr)
        return 0;
    return countAgainst(serverState, state, ud, L_FACECHANGE, &ud->faceChange, 1, "Face changes");
}

int spotStateComingTooFast(ServerState *serverState, MyState *state)
{
    UserDat *ud = getUserDat(state, serverState->currentUser);
    if (ud == nullptr)
        return 0;
    return countAgainst(serverState, state, ud, L_SPOTSTATECHANGE, &ud->spotStateChange, 1,
                        "Spot state changes");
}

/* An exchange sort by id: small, and never more than nine records. */
void copyAndSortProps(const AssetSpec *input, AssetSpec *output, int count)
{
    if (count < 1)
        return;
    memcpy(output, input, sizeof(AssetSpec) * (size_t)count);
    for (int p = 0; p < count - 1; p++) {
        for (int j = p + 1; j < count; j++) {
            if (output[j].id < output[p].id) {
                AssetSpec swap = output[p];
                output[p] = output[j];
                output[j] = swap;
            }
        }
    }
}

int isThereADuplicateAvatar(ServerState *serverState, MyState *state, ServerRoomRec *room,
                            ServerUserRec *ignoreuser, int nbrProps, const AssetSpec *props)
{
    (void)state;
    if (nbrProps > MaxUserProps)
        return 1;
    AssetSpec mine[MaxUserProps];
    AssetSpec theirs[MaxUserProps];
    copyAndSortProps(props, mine, nbrProps);

    int first = 1;
    for (int i = 0; i < serverState->maxPeoplePerRoom; i++) {
        UserID id = room->occupants[i];
        if (id == 0 || (ignoreuser != nullptr && id == ignoreuser->user.userID))
            continue;
        ServerUserRec *other = GetServerUser(id);
        if (other == nullptr)
            continue;
        if (first && isOperator(serverState->currentUser))
            return 0;
        first = 0;
        if (other->user.nbrProps != nbrProps)
            continue;
        if (nbrProps <= 0)
            return 1; /* two users without props look alike */
        copyAndSortProps(other->user.propSpec, theirs, nbrProps);
        int same = 1;
        for (int j = 0; j < nbrProps && same; j++)
            same = mine[j].id == theirs[j].id;
        if (same)
            return 1;
    }
    return 0;
}

/* Each prop that changes place counts: A B C to A B C D counts 1, to B A
 * counts 2, to nothing counts 1. */
static int avatarActions(const ServerUserRec *user, int nbrProps, const AssetSpec *props)
{
    int k = nbrProps < user->user.nbrProps ? nbrProps : user->user.nbrProps;
    int actions = nbrProps;
    for (int j = 0; j < k; j++) {
        if (props[j].id == user->user.propSpec[j].id)
            actions--;
    }
    return actions < 1 ? 1 : actions;
}

int avatarComingTooFast(ServerState *serverState, MyState *state, int nbrProps,
                        const AssetSpec *props)
{
    ServerUserRec *user = serverState->currentUser;
    UserDat *ud = getUserDat(state, user);
    if (ud == nullptr || isOperator(user))
        return 0;
    if (ud->flags & (UD_RPIN | UD_RPROPGAG))
        return 1;

    if (countAgainst(serverState, state, ud, L_AVATARCHANGE, &ud->avatarChange,
                     avatarActions(user, nbrProps, props), "Avatar changes"))
        return 1;
    if (nbrProps == 0)
        return 0;
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr)
        return 0;

    LimitValue *rule = getRoomLimit(serverState, state, state->limits[L_NODUPAVATARS]);
    if (rule == nullptr) {
        RoomDat *rd = getRoomDat(state, room);
        if (rd == nullptr || !(rd->flags & RD_RNODUPAVATARS) || room->memberOwner == user->counter)
            return 0;
    }
    if (isThereADuplicateAvatar(serverState, state, room, user, nbrProps, props) == 0)
        return 0;
    if (rule != nullptr && !(rule->roomsChecked & RC_WARN))
        return 1;
    warnOnce(user, ud, L_NODUPAVATARS,
             "You aren't permitted to wear the same avatar as someone else here");
    return 1;
}

/* The loose prop at `offset`, or null when the offset leaves the buffer. */
static LPropRec *loosePropAt(ServerRoomRec *room, Offset offset)
{
    return (LPropRec *)getInVarBuf(room, offset, 4, sizeof(LPropRec));
}

/* Walks at most nbrLProps records, so a cycle of offsets ends too. */
int anotherPropAlreadyAt(ServerState *serverState, MyState *state, LPropRec *roomprop,
                         AssetSpec propSpec, Point loc)
{
    ServerUserRec *user = serverState->currentUser;
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr)
        return 1;
    if (isOperator(user))
        return 0;
    LimitValue *entry = getRoomLimit(serverState, state, state->limits[L_ZONE]);
    if (entry == nullptr || room->room.nbrLProps == 0)
        return 0;

    LPropRec *prop = loosePropAt(room, room->room.firstLProp);
    for (int n = 0; prop != nullptr && n < room->room.nbrLProps; n++) {
        if (prop != roomprop && prop->propSpec.id == propSpec.id &&
            withinZone(loc, prop->loc, entry->maximum)) {
            if (entry->roomsChecked & RC_WARN)
                warnOnce(user, getUserDat(state, user), L_ZONE, "Duplicate props are limited here");
            return 1;
        }
        if (prop->link.nextOfst == 0)
            break;
        prop = loosePropAt(room, prop->link.nextOfst);
    }
    return 0;
}

/* Loose prop number `number` of the user's room, or null. */
static LPropRec *findPropInRoom(ServerUserRec *user, sint32 number)
{
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr || room->room.nbrLProps == 0 || number < 0 ||
        number >= room->room.nbrLProps)
        return nullptr;
    LPropRec *prop = loosePropAt(room, room->room.firstLProp);
    for (sint32 n = 0; prop != nullptr && n < number; n++)
        prop = loosePropAt(room, prop->link.nextOfst);
    return prop;
}

/* ---- Chat screening ------------------------------------------------------ */

int isPageCommand(const char *line, ServerState *serverState, MyState *state)
{
    (void)serverState;
    (void)state;
    if (line[0] != COMMAND_CHAR_1 && line[0] != COMMAND_CHAR_2)
        return 0;
    return wordMinCmp(line + 1, "page", 3) == 0;
}

int pageIsNotAcceptable(ServerState *serverState, MyState *state, const char *line)
{
    ServerUserRec *user = serverState->currentUser;
    if (userFlags(getUserDat(state, user)) & UD_PAGEGAG) {
        UserMessage(user, "Sorry, you've been pagegagged.");
        return 1;
    }
    const char *text = line + wordLength(line);
    while (*text == ' ' || *text == '\t')
        text++;
    if (*text == '\0') {
        UserMessage(user, "; Usage: `page <msg>");
        return 1;
    }
    if ((uint32)strlen(text) > (uint32)state->pageLengthLimit)
        return 0;
    UserMessage(user, "Your page was not accepted because there wasn't enough information. "
                      "Please page again with more detailed message.");
    return 1;
}

/* The er command goes where the last accepted page came from. */
static void noteAcceptedPage(MyState *state, ServerUserRec *user)
{
    state->lastUserPageRoom = user->user.roomID;
    getCUserName(state->lastUserPageName, user);
    if (state->pageResponse != nullptr)
        scheduleAction(state, user->user.userID, TA_PAGERESPONSE, 1);
}

static int isLeadingJunk(unsigned char c)
{
    return c == 0x22 || c == 0xE1 || c == 0xAA || c == 0xA0 || c == 0x20 || c == 0x27 ||
           c == 0x2D || c == 0x2A || c < 0x20;
}

static int isDroppedAnywhere(unsigned char c)
{
    return c == 0xA0 || c == 0x2A || c < 0x20;
}

int checkName(unsigned char *pname, ServerState *serverState, MyState *state, const char *mtype)
{
    (void)state;
    (void)mtype;
    if (isOperator(serverState->currentUser))
        return 0;
    int n = pname[0];
    if (n > 31) {
        pname[0] = 0;
        return 1;
    }
    int from = 1;
    while (from <= n && isLeadingJunk(pname[from]))
        from++;

    int out = 0;
    for (int i = from; i <= n; i++) {
        unsigned char c = pname[i];
        if (isDroppedAnywhere(c))
            continue;
        if (c == ' ' && out > 0 && pname[out] == ' ')
            continue;
        pname[++out] = c;
    }
    if (out > 0 && pname[out] == ' ')
        out--;
    pname[0] = (unsigned char)out;
    return out != n;
}

static int inSet(const char *set, char c)
{
    return c != '\0' && strchr(set, c) != nullptr;
}

static int isRunChar(char c)
{
    return isalnum((unsigned char)c) || c == '_' || c == '.';
}

/* Scans the leading run of special characters: 1 when the line spoofs or
 * its face sequences come too fast. */
static int spoofOrFaces(ServerState *serverState, MyState *state, const char *line,
                        const LimitValue *entry, UserDat *ud)
{
    size_t i = 0;
    for (;;) {
        char c = line[i];
        if (!inSet(kSpoofSet, c))
            return 0;
        if (c == '@' || (c == ':' && line[i + 1] == '@')) {
            if (entry->roomsChecked & RC_WARN)
                warnOnce(serverState->currentUser, ud, L_SPOOF, "Spoofing is not permitted here");
            return 1;
        }
        if (c == ')') {
            i++;
            if (line[i] == ' ') {
                i++;
                continue;
            }
            while (isRunChar(line[i]))
                i++;
            if (line[i] == ' ')
                i++;
            continue;
        }
        if (c == '|') {
            if (faceComingTooFast(serverState, state))
                return 1;
            i++;
            continue;
        }
        if (c == ':' || c == ';') {
            if (!inSet(kFaceSecondSet, line[i + 1]))
                return 0;
            if (faceComingTooFast(serverState, state))
                return 1;
            i += 2;
            continue;
        }
        i++;
    }
}

/* 1 when the line repeats what another user said last in the room. */
static int mimicked(ServerState *serverState, MyState *state, const char *line, UserDat *ud)
{
    ServerUserRec *user = serverState->currentUser;
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr)
        return 0;
    LimitValue *entry = getRoomLimit(serverState, state, state->limits[L_MIMICK]);
    RoomDat *rd = getRoomDat(state, room);
    if (entry == nullptr || rd == nullptr)
        return 0;

    if ((uint32)strlen(line) < entry->maximum) {
        /* Too short to count: the room remembers nothing. The block is
         * kept; an empty line never equals one long enough to compare. */
        if (rd->lastChat != nullptr)
            rd->lastChat[0] = '\0';
        rd->lastUserID = 0;
        return 0;
    }
    if (rd->lastChat != nullptr && UserRank(user) <= 1 && rd->lastUserID != user->user.userID &&
        strcmp(rd->lastChat, line) == 0) {
        if (entry->roomsChecked & RC_WARN)
            warnOnce(user, ud, L_MIMICK, "Repeating others chat is limited here");
        return 1;
    }
    rememberText(&rd->lastChat, line);
    rd->lastUserID = user->user.userID;
    return 0;
}

/* The page and chat rates share the one chat history. */
static int chatRate(ServerState *serverState, MyState *state, UserDat *ud, int page, int repeated)
{
    if (page) {
        int over = countAgainst(serverState, state, ud, repeated ? L_REPPAGE : L_PAGE, &ud->chat, 1,
                                repeated ? "Repeated pages" : "Page messages");
        if (!over)
            noteAcceptedPage(state, serverState->currentUser);
        return over;
    }
    return countAgainst(serverState, state, ud, repeated ? L_REPCHAT : L_CHAT, &ud->chat, 1,
                        repeated ? "Repeated chat messages" : "Chat messages");
}

int badchat(const char *line, ServerState *serverState, MyState *state, UserID target,
            const char *where)
{
    (void)where;
    ServerUserRec *user = serverState->currentUser;
    UserDat *ud = getUserDat(state, user);

    if (isBadCommand((char *)line, serverState, state, target))
        return 1;
    if (mimicked(serverState, state, line, ud))
        return 1;
    if (isOperator(user))
        return 0;
    if (ud == nullptr)
        return 0;
    if (ud->flags & UD_RGAG)
        return 1;

    LimitValue *spoof = getRoomLimit(serverState, state, state->limits[L_SPOOF]);
    if (spoof != nullptr && spoofOrFaces(serverState, state, line, spoof, ud))
        return 1;

    if (ud->lastChat == nullptr) {
        rememberText(&ud->lastChat, "");
        if (ud->lastChat == nullptr)
            return 0;
    }
    int repeated = strcmp(line, ud->lastChat) == 0;
    int page = isPageCommand(line, serverState, state);
    if (page && pageIsNotAcceptable(serverState, state, line))
        return 1;
    int result = chatRate(serverState, state, ud, page, repeated);
    if (!repeated)
        rememberText(&ud->lastChat, line);
    return result;
}

/* ---- First stage ----------------------------------------------------------- */

static ClientMsg *secondStage(ServerState *serverState, MyState *state, ClientMsg *message);

/* Help, then commands and chat screening; null drops the message. */
static ClientMsg *chatHandOff(ServerState *serverState, MyState *state, ClientMsg *message,
                              const char *text, UserID target, const char *kind)
{
    if (isCommandExecuted(serverState, state, (char *)text, target))
        return nullptr;
    if (badchat(text, serverState, state, target, kind))
        return nullptr;
    return secondStage(serverState, state, message);
}

static ClientMsg *textPath(ServerState *serverState, MyState *state, ClientMsg *message,
                           const char *kind)
{
    if (serverState->currentUser == nullptr)
        return nullptr;
    const char *text = (const char *)message->msg;
    if (memchr(text, '\0', message->length) == nullptr)
        return nullptr;
    return chatHandOff(serverState, state, message, text, 0, kind);
}

static ClientMsg *whisperPath(ServerState *serverState, MyState *state, ClientMsg *message)
{
    if (serverState->currentUser == nullptr || message->length <= 4)
        return nullptr;
    const char *text = (const char *)message->msg + 4;
    if (memchr(text, '\0', message->length - 4) == nullptr)
        return nullptr;
    return chatHandOff(serverState, state, message, text, read32(message->msg), "whisper");
}

/* The plug-in deciphers into a buffer of its own; the message passed on is
 * the one the client sent. `at` is where the length field starts and
 * `extra` the payload bytes before it. */
static ClientMsg *encipheredPath(ServerState *serverState, MyState *state, ClientMsg *message,
                                 uint32 at, UserID target, const char *kind)
{
    uint32 length = read16(message->msg + at);
    if (length - 3 > DECIPHER_SIZE - 1) /* below 3 wraps round too */
        return nullptr;
    if (message->length < length + at)
        return nullptr;
    char buffer[DECIPHER_SIZE];
    memset(buffer, 0, sizeof buffer);
    DecryptCString(message->msg + at + 2, buffer, (int)(length - 3), 0);
    return chatHandOff(serverState, state, message, buffer, target, kind);
}

/* Navigation error 1 (unknown room), and the client shows where he is. */
static ClientMsg *refuseRoomChange(ServerState *serverState, MyState *state)
{
    sendMsgNavError(toUser(serverState->currentUser), 1);
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

    if (repeatedDestination(serverState, state, user, dest))
        return refuseRoomChange(serverState, state);
    if (roomEntryPermitted(serverState, state, dest, user) == 0)
        return refuseRoomChange(serverState, state);
    if (dest == user->user.roomID)
        return secondStage(serverState, state, message);

    /* The owner enters his own room whatever its lock or password. A room
     * without a member owner is nobody's, whatever a stale pointer says. */
    ServerRoomRec *room = GetRoom(dest);
    if (room != nullptr && user->lastOwnedRoom != nullptr && room->memberOwner != 0 &&
        room->memberOwner == user->counter) {
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
    for (int i = 0; i < serverState->maxPeoplePerRoom; i++) {
        UserID id = room->occupants[i];
        if (id == 0 || id == user->user.userID)
            continue;
        ServerUserRec *other = GetServerUser(id);
        if (other != nullptr && withinZone(other->user.roomPos, pos, zone))
            return 1;
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
    if (UserRank(user) > 1)
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

    LimitValue *space = getRoomLimit(serverState, state, state->limits[L_AVATARZONE]);
    if (space == nullptr)
        return secondStage(serverState, state, message);
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr)
        return refuseAndReset(serverState, state);
    if (tooClose(serverState, room, user, pos, space->maximum)) {
        if (space->roomsChecked & RC_WARN)
            warnOnce(user, ud, L_AVATARZONE, "Avatars have some private space here");
        return refuseAndReset(serverState, state);
    }
    return secondStage(serverState, state, message);
}

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
    if ((flags & RD_RPROPFREEZE) && room->memberOwner != user->counter) {
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
    if (rd != nullptr && (rd->flags & RD_RNOLOOSEPROPS) && room->memberOwner != user->counter) {
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

    LimitValue *entry = getRoomLimit(serverState, state, state->limits[L_CLEARLOOSEPROPS]);
    if (entry == nullptr || room->room.nbrPeople <= entry->maximum || room == user->lastOwnedRoom)
        return message;
    if (entry->roomsChecked & RC_WARN)
        warnOnce(user, getUserDat(state, user), L_CLEARLOOSEPROPS,
                 "Clearlooseprops is limited here");
    return nullptr;
}

static ClientMsg *logonRecord(ServerState *serverState, MyState *state, ClientMsg *message)
{
    if (message->length < LOGON_RECORD_SIZE)
        return nullptr;
    UserDat *ud = getUserDat(state, serverState->currentUser);
    if (ud != nullptr)
        ud->clientType = (int)(read32(message->msg + LOGON_AUXFLAGS_OFFSET) & 0x80000000u);
    checkName(message->msg + LOGON_NAME_OFFSET, serverState, state, "logon");
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
    if (checkName(message->msg, serverState, state, "username")) {
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

static ClientMsg *secondStage(ServerState *serverState, MyState *state, ClientMsg *message)
{
    ServerUserRec *user = serverState->currentUser;
    if (isOperator(user))
        return message;
    uint32 type = message->eventType;

    if (type == MSG_USERCOLOR || type == MSG_USERFACE)
        return faceOrColor(serverState, state, message);
    if (type == MSG_SUPERUSER)
        return superUser(serverState, state, message);
    if (type == MSG_SMSG)
        return pageToOperators(serverState, state, message);
    if (user == nullptr) {
        int screened = type == MSG_PROPNEW || type == MSG_PROPMOVE || type == MSG_PROPDEL ||
                       type == MSG_LOGON || type == MSG_LISTOFALLROOMS ||
                       type == MSG_LISTOFALLUSERS || type == MSG_SPOTSTATE ||
                       type == MSG_DOORLOCK || type == MSG_DOORUNLOCK || type == MSG_USERDESC ||
                       type == MSG_USERPROP || type == MSG_USERNAME;
        return screened ? nullptr : message;
    }

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
    if (getRoomLimit(serverState, state, state->limits[L_IDLE]) != nullptr)
        ud->idle = time(nullptr);
}

ClientMsg *handleMessage(ServerState *serverState, AnyType pluginDat, ClientMsg *message)
{
    if (serverState->currentUser == nullptr)
        FormattedLogMessage(nullptr, "vestrel", "No user for message type %.4s",
                            (const char *)message);
    MyState *state = (MyState *)pluginDat;
    if (state == nullptr)
        return message;

    updateIdleTime(serverState, state, message);
    ServerUserRec *user = serverState->currentUser;
    UserDat *ud = getUserDat(state, user);

    switch (message->eventType) {
    case MSG_LOGON:
        return secondStage(serverState, state, message);
    case MSG_SERVERDOWN:
    case MSG_ROOMSETDESC:
        return user == nullptr ? nullptr : secondStage(serverState, state, message);
    case MSG_TALK:
        return textPath(serverState, state, message, "talk");
    case MSG_GMSG:
        return textPath(serverState, state, message, "gblmsg");
    case MSG_RMSG:
        if (!isOperator(user) && ud != nullptr &&
            countAgainst(serverState, state, ud, L_ROOMMSG, &ud->roommsg, 1, "Room messages"))
            return nullptr;
        return textPath(serverState, state, message, "roommsg");
    case MSG_WHISPER:
        return whisperPath(serverState, state, message);
    case MSG_XTALK:
        if (user == nullptr)
            return nullptr;
        if (message->length < 2)
            return message;
        return encipheredPath(serverState, state, message, 0, 0, "xtalk");
    case MSG_XWHISPER:
        /* The target and the length field must both be there. */
        if (user == nullptr || message->length < 6)
            return nullptr;
        return encipheredPath(serverState, state, message, 4, read32(message->msg), "xwhisper");
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
