/* User and operator commands: gags, renames, pins, moves, dressing,
 * kills, room and user reports. The dispatcher has made the rank, target
 * and argument tests of each row before a handler runs; every handler here
 * consumes its line. */
#include <math.h>
#include <string.h>

#include "vestrel.h"

#define COORD_MAX 32767        /* the largest position a Point can hold, pixels */
#define KILLX_LINE_MAX 198     /* characters of an injected comment line */
#define NAME_MSG_SPARE 17      /* header, length byte and slack of a rename */
#define INJECTED_LINE_SIZE 300 /* an injected command line, NUL included */

/* ---- Helpers ----------------------------------------------------------------- */

/* Speaker and target names, for the log lines and notices: each fit for a
 * braced log field. */
struct Names {
    char speaker[USER_NAME_SIZE];
    char target[USER_NAME_SIZE];
};

static void getNames(Names *names, const ServerUserRec *speaker, const ServerUserRec *target)
{
    getCUserName(names->speaker, speaker);
    getCUserName(names->target, target);
    logField(names->speaker);
    logField(names->target);
}

/* "{speaker} <verb> {target}": the log line of a command aimed at
 * somebody else. */
static void logOnOther(ServerUserRec *user, ServerUserRec *target, const char *tag,
                       const char *format)
{
    if (target == user)
        return;
    Names names;
    getNames(&names, user, target);
    FormattedLogMessage(user, tag, format, names.speaker, names.target);
}

static int sign(char **p)
{
    if (**p != '-')
        return 1;
    (*p)++;
    return -1;
}

/* A coordinate typed by a user: 0..32767, or -1 for anything else. */
static int coordinate(const char *text)
{
    int n = getUint(text);
    return n > COORD_MAX ? -1 : n;
}

static sint16 clampCoordinate(long value)
{
    if (value < 0)
        return 0;
    return (sint16)(value > COORD_MAX ? COORD_MAX : value);
}

static void sendDesc(ServerUserRec *target)
{
    sendMsgUserDesc(toUser(target), target, target->user.faceNbr, target->user.colorNbr,
                    target->user.nbrProps, target->user.propSpec);
}

static void placeUser(ServerUserRec *target, sint16 h, sint16 v)
{
    target->user.roomPos.h = h;
    target->user.roomPos.v = v;
    sendMsgUserMove(toUserRoom(target), target, target->user.roomPos);
}

static int isPinned(MyState *state, ServerUserRec *user)
{
    UserDat *ud = getUserDat(state, user);
    return (ud != nullptr && (ud->flags & UD_RPIN)) || (user->flags & UF_Pinned);
}

/* ---- Operator hiding ------------------------------------------------------------ */

/* Operators see everybody; the others do not see a user the host hides
 * from all, or from them. */
int isHiddenFrom(ServerUserRec *targetUser, ServerUserRec *user)
{
    if (UserRank(user) >= 2)
        return 0;
    int hidden = (targetUser->flags & UF_Hidden) != 0;
    for (UserActionRec *a = targetUser->actionList; a != nullptr && !hidden; a = a->nextRec)
        hidden = (a->actionFlags & UA_Hide) && a->target == user->user.userID;
    return hidden;
}

int userIsHidden(ServerState *serverState, MyState *state, ServerUserRec *targetUser,
                 ServerUserRec *user)
{
    (void)serverState;
    (void)state;
    if (!isHiddenFrom(targetUser, user))
        return 0;
    char name[USER_NAME_SIZE];
    getCUserName(name, targetUser);
    UserMessage(user, "User %s not found", name);
    return 1;
}

/* ---- Simple handlers -------------------------------------------------------------- */

int do_gmsg(CMD_PARAMS)
{
    GlobalMessage("%s", cp);
    return 1;
}

int do_rmsg(CMD_PARAMS)
{
    RoomMessage(userRoom, "%s", cp);
    return 1;
}

int do_pdel(CMD_PARAMS)
{
    DeleteLooseProp(user, -1);
    return 1;
}

/* Clears the paint, then the loose props. */
int do_clean(CMD_PARAMS)
{
    DrawRecord detonate;
    memset(&detonate, 0, sizeof detonate);
    detonate.drawCmd = DC_Detonate;
    AddDrawCommand(serverState->currentUser, &detonate);
    sendMsgDraw(toUser(serverState->currentUser), &detonate);
    DeleteLooseProp(user, -1);
    return 1;
}

int do_reset(CMD_PARAMS)
{
    resetUser(serverState, state);
    return 1;
}

int do_signoff(CMD_PARAMS)
{
    ScheduleUserKill(targetUser, K_LoggedOff, nullptr, 0);
    logOnOther(user, targetUser, "signoff", "{%s} signed off {%s}");
    return 1;
}

int do_chat(CMD_PARAMS)
{
    generateChat(serverState, state, targetUser, cp, 0);
    if (targetUser != user) {
        Names names;
        getNames(&names, user, targetUser);
        logField(cp); /* said already: only the log line reads it now */
        FormattedLogMessage(user, "chat", "{%s} made {%s} say {%s}", names.speaker, names.target,
                            cp);
    }
    return 1;
}

int do_find(CMD_PARAMS)
{
    if (userIsHidden(serverState, state, targetUser, user))
        return 1;
    char name[USER_NAME_SIZE];
    char where[ROOM_NAME_SIZE];
    getCUserName(name, targetUser);
    ServerRoomRec *room = getUserRoom(targetUser);
    if (room != nullptr)
        getRoomName(where, room);
    else
        snprintf(where, sizeof where, "%s", "limbo");
    UserMessage(user, "%s is in %s", name, where);
    return 1;
}

int do_goto(CMD_PARAMS)
{
    ServerRoomRec *room = getUserRoom(targetUser);
    if (room == nullptr || userIsHidden(serverState, state, targetUser, user))
        return 1;
    generateGotoRoom(serverState, state, user, room->room.roomID);
    return 1;
}

/* A number beyond the host's room numbers names no room; it never wraps
 * round to another one. */
int do_gotoroom(CMD_PARAMS)
{
    int dest = getUint(cp);
    if (dest < 0 || dest > COORD_MAX) {
        UserMessage(user, "Sorry, there's no such room");
        return 1;
    }
    generateGotoRoom(serverState, state, targetUser, (RoomID)dest);
    if (targetUser != user) {
        Names names;
        getNames(&names, user, targetUser);
        FormattedLogMessage(user, "gotoroom", "{%s} sent {%s} to room %d", names.speaker,
                            names.target, dest);
    }
    return 1;
}

/* ---- Gags ----------------------------------------------------------------------- */

/* Sets or clears one gag, logs it and tells every operator. */
static int gag(ServerState *serverState, MyState *state, ServerUserRec *user, ServerUserRec *target,
               int bit, int set, const char *action, const char *notice)
{
    UserDat *ud = getUserDat(state, target);
    if (ud != nullptr)
        ud->flags = set ? (ud->flags | bit) : (ud->flags & ~bit);
    makeServerActionLog(serverState, state, user, action, target);
    Names names;
    getNames(&names, user, target);
    WizGlobalMessage(notice, names.target, names.speaker);
    return 1;
}

int do_pagegag(CMD_PARAMS)
{
    return gag(serverState, state, user, targetUser, UD_PAGEGAG, 1, "pagegag",
               "Page from System: %s pagegagged by %s");
}

int do_unpagegag(CMD_PARAMS)
{
    return gag(serverState, state, user, targetUser, UD_PAGEGAG, 0, "unpagegag",
               "Page from System: %s unpagegagged by %s");
}

int do_listgag(CMD_PARAMS)
{
    return gag(serverState, state, user, targetUser, UD_LISTGAG, 1, "listgag",
               "Page from System: %s listgagged by %s");
}

int do_unlistgag(CMD_PARAMS)
{
    return gag(serverState, state, user, targetUser, UD_LISTGAG, 0, "unlistgag",
               "Page from System: %s unlistgagged by %s");
}

int do_unnamegag(CMD_PARAMS)
{
    return gag(serverState, state, user, targetUser, UD_NAMEGAG, 0, "unnamegag",
               "Page from System: %s unnamegagged by %s");
}

/* ---- Renames ----------------------------------------------------------------------- */

/* The host renames the target as if he had asked, without the plug-in's
 * screening, so a name gag does not stop it. The host keeps the message. */
static void deliverRename(MyState *state, ServerUserRec *user, ServerUserRec *target,
                          const char *name, size_t len)
{
    ClientMsg *msg = (ClientMsg *)NewPtrClear((sint32)(len + NAME_MSG_SPARE));
    if (msg == nullptr) {
        UserMessage(user, "Can't get storage to change name of this user");
        return;
    }
    msg->eventType = MSG_USERNAME;
    msg->length = (uint32)(len + 1);
    msg->refNum = (sint32)target->user.userID;
    msg->msg[0] = (unsigned char)len;
    memcpy(msg->msg + 1, name, len);
    deliverMessageDirect(state->myPluginID, msg, target);
}

static int renameUser(ServerState *serverState, MyState *state, ServerUserRec *user,
                      ServerUserRec *target, const char *newName, const char *action,
                      const char *notice)
{
    Names names;
    getNames(&names, user, target);
    size_t len = newName != nullptr ? strlen(newName) : 0;
    if (len > USER_NAME_SIZE - 1) {
        UserMessage(user, "replacement name longer than 31 characters, ignored");
        newName = nullptr;
    }

    char shownName[USER_NAME_SIZE];
    snprintf(shownName, sizeof shownName, "%s", newName != nullptr ? newName : names.target);
    blankControls(shownName);
    makeServerActionLog(serverState, state, user, action, target);
    WizGlobalMessage(notice, names.target, names.speaker, shownName);
    if (newName != nullptr)
        deliverRename(state, user, target, newName, len);
    return 1;
}

int do_name(CMD_PARAMS)
{
    return renameUser(serverState, state, user, targetUser, cp, "name",
                      "Page from System: %s name changed by %s to %s");
}

int do_namegag(CMD_PARAMS)
{
    UserDat *ud = getUserDat(state, targetUser);
    if (ud != nullptr)
        ud->flags |= UD_NAMEGAG;
    return renameUser(serverState, state, user, targetUser, cp, "namegag",
                      "Page from System: %s namegagged by %s as %s");
}

/* ---- Kill ------------------------------------------------------------------------------ */

/* The host's own kill, banip and comment commands do the work, in the
 * speaker's name. */
int do_killx(CMD_PARAMS)
{
    char ip[IP_TEXT_SIZE];
    char line[INJECTED_LINE_SIZE];
    getUserIP(ip, targetUser);

    generateChat(serverState, state, user, "`kill", targetUser->user.userID);
    snprintf(line, sizeof line, "`banip %s", ip);
    generateChat(serverState, state, user, line, 0);
    if (cp == nullptr)
        return 1;

    int head = snprintf(line, sizeof line, "`comment %s ", ip);
    if (head < 0 || (size_t)head + strlen(cp) > KILLX_LINE_MAX) {
        UserMessage(user, "`killx comment string is too long, it was not saved");
        return 1;
    }
    snprintf(line + head, sizeof line - (size_t)head, "%s", cp);
    generateChat(serverState, state, user, line, 0);
    return 1;
}

/* ---- Positions --------------------------------------------------------------------------- */

/* Moves the target by x, y pixels; positions stay within 0..32767. */
int do_move(CMD_PARAMS)
{
    char *p = cp;
    int sx = sign(&p);
    int x = coordinate(p);
    char *second = nextWord(p);
    if (second == nullptr)
        return commandUsage(user, findCommand(state, "move"));
    int sy = sign(&second);
    int y = coordinate(second);
    if (x < 0 || y < 0) {
        UserMessage(user, "Motion must be <number> <number>");
        return 1;
    }

    Point at = targetUser->user.roomPos;
    placeUser(targetUser, clampCoordinate((long)at.h + (long)sx * x),
              clampCoordinate((long)at.v + (long)sy * y));
    logOnOther(user, targetUser, "move", "{%s} moved {%s}");
    return 1;
}

int do_setpos(CMD_PARAMS)
{
    int x = coordinate(cp);
    char *second = nextWord(cp);
    if (second == nullptr)
        return commandUsage(user, findCommand(state, "setpos"));
    int y = coordinate(second);
    if (x < 0 || y < 0) {
        UserMessage(user, "Position must be greater than 0");
        return 1;
    }
    placeUser(targetUser, (sint16)x, (sint16)y);
    logOnOther(user, targetUser, "setpos", "{%s} setpos on {%s}");
    return 1;
}

/* The position a "pinx" entry gives: h its maximum, v its decay. */
static void pinPosition(ServerState *serverState, MyState *state, sint16 *h, sint16 *v)
{
    *h = PIN_POS_H;
    *v = PIN_POS_V;
    LimitValue *entry = getRoomLimit(serverState, state, state->limits[L_PINX]);
    if (entry == nullptr)
        return;
    *h = (sint16)(entry->maximum & 0xFFFF);
    double d = entry->decay;
    *v = (d > -32769.0 && d < 32768.0) ? (sint16)d : 0; /* out of range or NaN: 0 */
}

int do_pinx(CMD_PARAMS)
{
    dressInPin(targetUser);

    sint16 h, v;
    pinPosition(serverState, state, &h, &v);
    placeUser(targetUser, h, v);
    targetUser->flags |= UF_Pinned;

    makeServerActionLog(serverState, state, user, "pinx", targetUser);
    Names names;
    getNames(&names, user, targetUser);
    WizGlobalMessage("Page from System: %s pinxed by %s", names.target, names.speaker);
    return 1;
}

/* ---- Appearance ---------------------------------------------------------------------------- */

/* 0..15 are the valid faces and colours; anything else is ignored. */
static int setFaceOrColor(ServerState *serverState, MyState *state, ServerUserRec *user,
                          ServerUserRec *target, const char *cp, int face)
{
    int n = getUint(cp);
    if (n < 0 || n > 15)
        return 1;
    if (faceComingTooFast(serverState, state)) {
        resetUser(serverState, state);
        return 1;
    }
    if (face)
        ChangeUserFace(target, (sint16)n);
    else
        ChangeUserColor(target, (sint16)n);
    sendDesc(target);
    if (face)
        logOnOther(user, target, "setface", "{%s} set face on {%s}");
    else
        logOnOther(user, target, "setcolor", "{%s} setcolor on {%s}");
    return 1;
}

int do_setface(CMD_PARAMS)
{
    return setFaceOrColor(serverState, state, user, targetUser, cp, 1);
}

int do_setcolor(CMD_PARAMS)
{
    return setFaceOrColor(serverState, state, user, targetUser, cp, 0);
}

int do_naked(CMD_PARAMS)
{
    if (isPinned(state, user))
        return 1;
    if (faceComingTooFast(serverState, state)) {
        resetUser(serverState, state);
        return 1;
    }
    targetUser->user.nbrProps = 0;
    sendMsgUserProp(toUserRoom(targetUser), targetUser, 0, nullptr);
    resetUser(serverState, state);
    logOnOther(user, targetUser, "naked", "{%s} made {%s} naked");
    return 1;
}

int do_dress(CMD_PARAMS)
{
    ChangeUserDesc(targetUser, user->user.colorNbr, user->user.faceNbr, user->user.nbrProps,
                   user->user.propSpec);
    sendDesc(targetUser);
    logOnOther(user, targetUser, "dress", "{%s} dressed {%s}");
    return 1;
}

/* A pinned or prop-gagged user wears what he is made to wear. */
int do_take(CMD_PARAMS)
{
    if (getRoomLimit(serverState, state, state->limits[L_TAKE]) == nullptr ||
        targetUser->user.roomID != user->user.roomID) {
        UserMessage(serverState->currentUser, "The `take command is not permitted here");
        return 1;
    }
    UserDat *ud = getUserDat(state, user);
    if (isPinned(state, user) || (ud != nullptr && (ud->flags & UD_RPROPGAG)))
        return 1;
    ChangeUserDesc(user, targetUser->user.colorNbr, targetUser->user.faceNbr,
                   targetUser->user.nbrProps, targetUser->user.propSpec);
    sendDesc(user);
    resetUser(serverState, state);
    return 1;
}

/* ---- Room switches ------------------------------------------------------------------------ */

struct RoomSwitch {
    const char *tag;
    const char *replyOn;
    const char *replyOff;
    const char *stateSet;
    const char *stateClear;
};

static const RoomSwitch kPropFreeze = {
    "propfreeze", "Frozen props have been turned on", "Frozen props have been turned off",
    "Props are frozen in this room", "Props are not frozen in this room"};

static const RoomSwitch kNoLooseProps = {
    "nolooseprops", "No loose props is on", "No loose props is off",
    "Loose Props are not allowed in this room", "Loose Props are allowed in this room"};

/* An argument other than on or off changes nothing, but every argument is
 * logged: an operator's attempt is worth a line. */
static void roomSwitch(const RoomSwitch *sw, ServerUserRec *user, ServerRoomRec *room,
                       const char *cp, int *flags, int bit)
{
    if (cp == nullptr) {
        UserMessage(user, "%s", (*flags & bit) ? sw->stateSet : sw->stateClear);
        return;
    }
    if (wordCmp(cp, "on") == 0) {
        *flags |= bit;
        UserMessage(user, "%s", sw->replyOn);
    } else if (wordCmp(cp, "off") == 0) {
        *flags &= ~bit;
        UserMessage(user, "%s", sw->replyOff);
    }
    char roomName[ROOM_NAME_SIZE];
    char name[USER_NAME_SIZE];
    getRoomName(roomName, room);
    getCUserName(name, user);
    logField(roomName);
    logField(name);
    FormattedLogMessage(user, sw->tag, "{%d} {%s} {%s}", (int)room->room.roomID, roomName, name);
}

int do_propfreeze(CMD_PARAMS)
{
    RoomDat *rd = getRoomDat(state, userRoom);
    if (rd != nullptr)
        roomSwitch(&kPropFreeze, user, userRoom, cp, &rd->flags, RD_PROPFREEZE);
    return 1;
}

int do_nolooseprops(CMD_PARAMS)
{
    int flags = (int)userRoom->room.roomFlags;
    roomSwitch(&kNoLooseProps, user, userRoom, cp, &flags, RF_NoLooseProps);
    userRoom->room.roomFlags = (uint32)flags;
    return 1;
}

/* ---- Reports -------------------------------------------------------------------------------- */

int do_roomprefs(CMD_PARAMS)
{
    const RoomRec *r = &userRoom->room;
    char name[ROOM_NAME_SIZE];
    getRoomName(name, userRoom);
    UserMessage(user, "; Name: %s", name);
    UserMessage(user, "; ID: %d", (int)user->user.roomID);
    UserMessage(user, "; Last Painter: %u", (unsigned)userRoom->lastPainter);
    UserMessage(user, "; Max Occupancy: %d", userRoom->maxOccupancy);
    UserMessage(user, "; NbrDraw Commands: %d", (int)r->nbrDrawCmds);
    UserMessage(user, "; NbrUsers: %d", (int)r->nbrPeople);
    UserMessage(user, "; NbrHotspots: %d", (int)r->nbrHotspots);
    UserMessage(user, "; NbrPictures: %d", (int)r->nbrPictures);
    UserMessage(user, "; NbrProps: %d", (int)r->nbrLProps);
    return 1;
}

/* Each value printed with a conversion of its own type: the times are
 * time_t, the identifiers unsigned. */
int do_userprefs(CMD_PARAMS)
{
    const ServerUserRec *t = targetUser;
    char name[USER_NAME_SIZE];
    getCUserName(name, t);
    UserMessage(user, "; Signon Time: %lld", (long long)t->signonTime);
    UserMessage(user, "; Last Active: %lld", (long long)t->lastActive);
    UserMessage(user, "; Desired Room at login: %d", (int)t->desiredRoom);
    UserMessage(user, "; Screen Name: %s", name);
    UserMessage(user, "; UserID: %u", (unsigned)t->user.userID);
    UserMessage(user, "; ColorNbr: %d", (int)t->user.colorNbr);
    UserMessage(user, "; FaceNbr: %d", (int)t->user.faceNbr);
    UserMessage(user, "; NbrAuthAttempts: %d", t->authAttempts);
    UserMessage(user, "; NbrFailedPassAttempts: %d", t->nbrFailedPasswordAttempts);
    UserMessage(user, "; NbrFloodEvents: %d", t->nbrFloodEvents);
    UserMessage(user, "; NbrProps: %d", (int)t->user.nbrProps);
    UserMessage(user, "; Position: %d %d", (int)t->user.roomPos.v, (int)t->user.roomPos.h);
    UserMessage(user, "; PUID: %u", (unsigned)t->puidCRC);
    return 1;
}
