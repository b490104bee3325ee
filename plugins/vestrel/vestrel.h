/* vestrel: moderation plug-in for the Corvex chat server.
 *
 * Records, tables and defaults shared by the plug-in's source files. The
 * plug-in is C-style C++: plain records, singly linked lists, memory only
 * from the host allocator, no exceptions. */
#ifndef VESTREL_H
#define VESTREL_H

#include <stddef.h>
#include <stdio.h>
#include <time.h>

#include "s-pluginapi.h"

#define VESTREL_VERSION "4.2.8"

/* ---- Limits ------------------------------------------------------------ */

#define NBR_LIMITS 30

/* Limit slots, numbered as the parameter table lists them. */
enum {
    L_ZONE = 0,
    L_SPOOF = 1,
    L_PAGE = 2,
    L_REPPAGE = 3,
    L_CHAT = 4,
    L_REPCHAT = 5,
    L_PROPDROP = 6,
    L_ROOMMSG = 7,
    L_FACECHANGE = 8,
    L_AVATARCHANGE = 9,
    L_MOVE = 10,
    L_SLIDE = 11,
    L_SPOTSTATECHANGE = 12,
    L_CHATGOTO = 13,
    L_CLEARLOOSEPROPS = 14,
    L_NODUPAVATARS = 15,
    L_NAMECHANGE = 16,
    L_TAKE = 17,
    L_DUPIP = 18,
    L_GODONLY = 19,
    L_AVATARZONE = 20,
    L_MIMICK = 21,
    L_PINX = 22,
    L_NEWROOM = 23,
    L_GPAGE = 24,
    L_RPAGE = 25,
    L_ROOMPAGE = 26,
    L_ROOMGOTO = 27,
    L_DRAW = 28,
    L_IDLE = 29
};

/* Room classes of LimitValue.roomsChecked */
#define RC_PUBLIC 0x0001
#define RC_PRIVATE 0x0002
#define RC_MEMBER 0x0004
#define RC_LIMBO 0x0008
#define RC_ALTMEMBER 0x0010
#define RC_ALL 0x001F
#define RC_BITS 5 /* the class bits, RC_PUBLIC .. RC_ALTMEMBER */
#define RC_WARN 0x8000

/* What a limit line carries after the parameter name */
#define PM_MAXIMUM 0x1
#define PM_DECAY 0x2
#define PM_STRING 0x4
#define PM_ROOMID 0x8

#define LIMIT_UNLIMITED 0xFFFFFFFFu /* a maximum of -1 in the file */

/* One inclusive range of room numbers. */
struct RoomNumbers {
    RoomNumbers *next;
    sint32 low;
    sint32 high;
};

/* One limit entry; a slot owns its chain of entries, an entry its ranges
 * and its text. */
struct LimitValue {
    LimitValue *next;
    RoomNumbers *roomNumbers;
    sint32 roomsChecked;
    uint32 maximum;
    double decay; /* actions forgiven per second, for rate limits */
    char *string;
    sint32 line;              /* the parameter file line it came from; 0 for a built-in default */
    struct LimitIndex *index; /* on a slot's first entry: its lookup index, owned */
};

/* A decaying per-user activity counter. */
struct ActivityHistory {
    time_t lastTime;     /* second of the last check, allowed or refused */
    sint32 numberRecent; /* decayed number of recent actions */
};

struct ParameterTable {
    const char *name;
    const LimitValue *defaultValue;
    sint32 index;
    sint32 paramMask;
};

extern ParameterTable parameterTable[NBR_LIMITS + 1];

/* ---- Timers ------------------------------------------------------------ */

enum {
    TA_WIZNOTICE = 0,
    TA_ROOMENTRY = 1,
    TA_AUTOANNOUNCE = 2,
    TA_PAGERESPONSE = 3,
    TA_LOGON = 4,
    TA_SANCTIONS = 5,
    TA_ROWNER = 6,
    TA_IDLE = 7
};

/* Allocated zeroed by its scheduler; the host keeps it while it is pending,
 * the plug-in owns it again inside handleTimerEvent. */
struct TimerEvent {
    UserID userID;
    int action;
    void *param; /* TA_AUTOANNOUNCE: its AutoAnnounce, null once cancelled */
};

#define ANNOUNCE_MAX 250 /* characters of an announcement text */

/* A daily announcement; owned by MyState.autoannounce. */
struct AutoAnnounce {
    AutoAnnounce *next;
    TimerEvent *event;
    char time[9];   /* "hh:mm:ss" as written */
    char message[]; /* allocated to fit */
};

/* A line of text; used for the setrank lines of one load. */
struct StringList {
    StringList *next;
    char string[]; /* allocated to fit */
};

/* ---- Per-user, per-room and global state -------------------------------- */

/* UserDat.flags */
#define UD_PAGEGAG 0x01
#define UD_NAMEGAG 0x02
#define UD_RPIN 0x04
#define UD_RPROPGAG 0x08
#define UD_RGAG 0x10
#define UD_LISTGAG 0x20
#define UD_ROOMSANCTIONS (UD_RPIN | UD_RPROPGAG | UD_RGAG)

/* Kept in the host's per-user slot. What every chat line reads comes
 * first, so that a line costs the fewest cache lines of it. */
struct UserDat {
    char *lastChat; /* owned */
    ActivityHistory chat;
    time_t idle; /* last message while an idle limit applies; -1: none applies */
    int flags;
    int lastWarning; /* slot of the last one-time warning; -1 = none */
    Point lastClientPos;
    ActivityHistory move;
    ActivityHistory slide;
    ActivityHistory repchat;
    ActivityHistory roommsg;
    ActivityHistory propDrop;
    ActivityHistory faceChange;
    ActivityHistory spotStateChange;
    ActivityHistory avatarChange;
    ActivityHistory nameChange;
    ActivityHistory newRoom;
    ActivityHistory gpage;
    ActivityHistory rpage;
    ActivityHistory roompage;
    ActivityHistory roomGoto;
    ActivityHistory draw;
    RoomID LastRoomID;
    RoomID LastDrawFull;
    int clientType;
    RoomID sanctionRoom; /* the room whose sanctions the UD_R* bits carry out */
    int loggedOn;        /* his logon record has come */
};

/* RoomDat.flags */
#define RD_RPROPFREEZE 0x01
#define RD_RNODUPAVATARS 0x02
#define RD_RLIMIT 0x04
#define RD_PROPFREEZE 0x08
#define RD_RNOLOOSEPROPS 0x10

/* One entry of a member room's ban list. */
struct RoomBadActor {
    RoomBadActor *next;
    int flags;
    int counter;
    int puid;
    int ipAddress;
    char username[32];
};

/* The entry of every slot that applies in one room, resolved at its first
 * lookup after a load or after a change of the room's class: a lookup is
 * then one read. Valid while all three keys still hold. */
struct RoomLimits {
    uint32 generation; /* MyState.limitGeneration they were resolved at; 0: never */
    sint32 roomClass;  /* the RC_ class bit of the room then */
    RoomID roomID;
    LimitValue *entry[NBR_LIMITS];
};

/* Kept in the host's per-room slot. */
struct RoomDat {
    int flags;
    char *lastChat; /* owned */
    UserID lastUserID;
    time_t ownerLogoffTime;
    RoomBadActor *badActorList; /* owned */
    RoomLimits limits;
};

#define PAGE_NAME_SIZE 32

/* The sender of the message being screened, looked up once when it
 * arrives: his UserDat, rank and room, for the rules that ask again. Set
 * only inside handleMessage; the room counts only while he is still in it,
 * and a user or room that goes away is dropped from it. */
struct Speaker {
    ServerUserRec *user; /* null: nobody */
    UserDat *ud;
    int rank;
    RoomID roomID;
    ServerRoomRec *room; /* null: look it up */
    RoomDat *rd;         /* the room's; null with it */
    /* The room's resolved limit entries, checked against the load and the
     * room's class at the first lookup of the message; null until then,
     * and again once a load or a command may have changed either. */
    LimitValue *const *limits;
    time_t now; /* the clock when the message came */
};

struct MyState {
    PluginID myPluginID;
    int argc;
    char **argv;
    char *mRoomBG;
    LimitValue *limits[NBR_LIMITS];
    int wizInMemberRooms;
    int rownerInRoom;
    int memberRWho;
    int guestWiz;
    int rTakeDelay;
    int mroomdiscipline;
    int altMemberActive;
    RoomID lastUserPageRoom;
    char lastUserPageName[PAGE_NAME_SIZE];
    AutoAnnounce *autoannounce;
    StringList *setranks;
    int pageLengthLimit;
    int gpageLengthLimit;
    char *pageResponse;
    char *gpageResponse;
    int hideops;
    int idleScheduled; /* the perpetual idle check has been started */
    Speaker speaker;
    uint32 limitGeneration;        /* moves on whenever the chains change; never 0 */
    unsigned char phraseStart[32]; /* bit b: a chat-goto phrase may begin with byte b */
};

/* ---- Commands ------------------------------------------------------------ */

#define CF_NOARGS 0x001
#define CF_NEEDARGS 0x002
#define CF_MROOM 0x004
#define CF_ANYRANK 0x008
#define CF_NAMETARGET 0x010
#define CF_ONOFF 0x020
#define CF_WHISPERONLY 0x040
#define CF_HOSTCMD 0x080
#define CF_ROOMOWNER 0x100
#define CF_NOTSELF 0x200
#define CF_CLASSMASK 0x0F000000
#define CF_CLASSSHIFT 24
#define CF_CLASS(n) ((n) << CF_CLASSSHIFT)

/* Help classes */
enum {
    CL_NONE = 0,
    CL_USER = 1,
    CL_RMANAGING = 2,
    CL_RPERMISSIONS = 3,
    CL_MANAGING = 4,
    CL_PERMISSIONS = 5,
    CL_ADMINISTRATION = 6
};

#define RANK_DISABLE 4 /* a rank no user has */
#define NBR_COMMANDS 58
#define COMMAND_CHAR_1 '`'
#define COMMAND_CHAR_2 '\''
#define HELP_LINE_SIZE 256 /* "; Usage: ", a row's help texts, " -- " and NUL */

typedef int (*CmdHandler)(ServerState *serverState, MyState *state, ServerUserRec *user,
                          ServerRoomRec *userRoom, ServerUserRec *targetUser, char *cmd, char *cp);

/* The parameters every command handler takes: the speaker, his room, the
 * target, the text after the command character and the argument (null when
 * there is none). Most handlers read only some of them. */
#define CMD_PARAMS                                                                                 \
    [[maybe_unused]] ServerState *serverState, [[maybe_unused]] MyState *state,                    \
        [[maybe_unused]] ServerUserRec *user, [[maybe_unused]] ServerRoomRec *userRoom,            \
        [[maybe_unused]] ServerUserRec *targetUser, [[maybe_unused]] char *cmd,                    \
        [[maybe_unused]] char *cp

struct CmdTable {
    const char *command;
    int minimum; /* shortest abbreviation; 0: the whole word */
    const char *shortHelp;
    const char *longHelp;
    int flags; /* CF_* bits and the help class */
    int rank;
    int targetRank;
    CmdHandler implementation;
};

/* rank and targetRank change at run time (setrank lines). */
extern CmdTable cmdTable[NBR_COMMANDS];

/* The ranks the table is built with, kept before any setrank line. */
void rememberBuiltinRanks(void);
int builtinRank(const CmdTable *row);
int builtinTargetRank(const CmdTable *row);

int wordLength(const char *start);
char *nextWord(const char *s);
int wordCmp(const char *word1, const char *word2);
int wordMinCmp(const char *word, const char *command, int minimum);
int strcmpci(const char *s1, const char *s2);
int firstLetter(const char *word);
CmdTable *findCommand(MyState *state, const char *cp);
int commandUsage(ServerUserRec *user, const CmdTable *row);

/* Handlers, by file. Each returns nonzero when the line is consumed; 0
 * lets it go on, to the host's own command of the same word where there is
 * one. */

/* usercmds.cpp */
int do_chat(CMD_PARAMS);
int do_clean(CMD_PARAMS);
int do_dress(CMD_PARAMS);
int do_find(CMD_PARAMS);
int do_gmsg(CMD_PARAMS);
int do_goto(CMD_PARAMS);
int do_gotoroom(CMD_PARAMS);
int do_killx(CMD_PARAMS);
int do_listgag(CMD_PARAMS);
int do_move(CMD_PARAMS);
int do_naked(CMD_PARAMS);
int do_namegag(CMD_PARAMS);
int do_name(CMD_PARAMS);
int do_nolooseprops(CMD_PARAMS);
int do_pagegag(CMD_PARAMS);
int do_pdel(CMD_PARAMS);
int do_pinx(CMD_PARAMS);
int do_propfreeze(CMD_PARAMS);
int do_reset(CMD_PARAMS);
int do_rmsg(CMD_PARAMS);
int do_roomprefs(CMD_PARAMS);
int do_setcolor(CMD_PARAMS);
int do_setface(CMD_PARAMS);
int do_setpos(CMD_PARAMS);
int do_signoff(CMD_PARAMS);
int do_take(CMD_PARAMS);
int do_unlistgag(CMD_PARAMS);
int do_unnamegag(CMD_PARAMS);
int do_unpagegag(CMD_PARAMS);
int do_userprefs(CMD_PARAMS);
int isHiddenFrom(ServerUserRec *targetUser, ServerUserRec *user);
int userIsHidden(ServerState *serverState, MyState *state, ServerUserRec *targetUser,
                 ServerUserRec *user);

/* pagecmds.cpp */
int do_gpage(CMD_PARAMS);
int do_roompage(CMD_PARAMS);
int do_rpage(CMD_PARAMS);
int do_respond(CMD_PARAMS);
int do_er(CMD_PARAMS);

/* mrooms.cpp */
int do_newroom(CMD_PARAMS);
int do_rdelete(CMD_PARAMS);
int do_rtake(CMD_PARAMS);
int do_rowner(CMD_PARAMS);
int do_rwho(CMD_PARAMS);
int do_myroom(CMD_PARAMS);
int do_rannounce(CMD_PARAMS);
int do_rlockdown(CMD_PARAMS);
int do_rlimit(CMD_PARAMS);
int do_rnodupavatars(CMD_PARAMS);
int do_rnolooseprops(CMD_PARAMS);
int do_roperatorsonly(CMD_PARAMS);
int do_rpropfreeze(CMD_PARAMS);

/* sanctions.cpp */
int do_rkick(CMD_PARAMS);
int do_runkick(CMD_PARAMS);
int do_rgag(CMD_PARAMS);
int do_rungag(CMD_PARAMS);
int do_rpin(CMD_PARAMS);
int do_runpin(CMD_PARAMS);
int do_rpropgag(CMD_PARAMS);
int do_runpropgag(CMD_PARAMS);
int do_rbanlist(CMD_PARAMS);

/* ---- Frame: shared routines (frame.cpp) ---------------------------------- */

#define IP_TEXT_SIZE 16   /* "255.255.255.255" and NUL */
#define USER_NAME_SIZE 32 /* 31 characters and NUL */
#define ROOM_NAME_SIZE 32 /* 31 characters and NUL */
#define ACTION_LOG_SIZE 240

/* Texts owned by records: copies in host memory, or null. */
char *copyText(const char *text);
void freeText(char **text);
#define REMEMBER_MIN 256 /* bytes of a remembered line's block, at the least */
void rememberText(char **field, const char *text); /* reuses the field's block */
void rememberLongLine(char **field, const char *text, size_t length);

/* isOperator, getUserDat, getRoomDat, getUserRoom, roomOf, rankOf and
 * endSpeaker are inline (inline.h). */
void resetUser(ServerState *serverState, MyState *state);
void dressInPin(ServerUserRec *user);
void blankControls(char *text);
void logField(char *text);
void dropRoomSanctions(ServerUserRec *user, UserDat *ud);
void dropRoomSanctionsInSight(ServerUserRec *user, UserDat *ud);
void clearDataForRoomChange(ServerState *serverState, MyState *state, ServerUserRec *user);
void logMessage(ServerUserRec *user, const char *message, int toServer);
void getCUserName(char *cstring, const ServerUserRec *user);
void getUserIP(char *ipstr, const ServerUserRec *user);
void getRoomName(char *cstring, ServerRoomRec *room);
void makeServerActionLog(ServerState *serverState, MyState *state, ServerUserRec *actor,
                         const char *action, ServerUserRec *target);
void generateChat(ServerState *serverState, MyState *state, ServerUserRec *user, const char *text,
                  UserID target);
void generateGotoRoom(ServerState *serverState, MyState *state, ServerUserRec *user, RoomID roomID);
int scheduleAction(MyState *state, UserID userID, int action, sint32 delay);
void freeLimits(MyState *state);

/* ---- Limits (limits.cpp) ------------------------------------------------- */

void setParameter(MyState *state, int index, const char *name, const LimitValue *value,
                  sint32 paramMask);
void setDefaultParameters(MyState *state);
void freeLimitList(LimitValue *first);
LimitValue *getRoomLimitForRoom(ServerState *serverState, MyState *state, LimitValue *first,
                                RoomID roomID);
LimitValue *walkRoomLimit(MyState *state, LimitValue *first, RoomID roomID);
/* Built whenever the chains are complete (after a load, whole or not, and
 * at start); freed with them. */
void buildLimitIndexes(MyState *state);
void freeLimitIndexes(MyState *state);
LimitValue *getRoomLimit(ServerState *serverState, MyState *state, LimitValue *first);
/* The entry that applies in the room (null: a user in no room). */
LimitValue *getRoomLimitInRoom(MyState *state, LimitValue *first, ServerRoomRec *room);

void resolveRoomLimits(MyState *state, ServerRoomRec *room, RoomDat *rd, sint32 cls);

/* The entry of slot `slot` that applies in the room, from the room's
 * resolved entries (rd is the room's RoomDat; without one, looked up). */
LimitValue *limitInRoom(MyState *state, int slot, ServerRoomRec *room, RoomDat *rd);
LimitValue *limitHereSlow(ServerState *serverState, MyState *state, int slot);

/* checkLimit and countAgainst, the decaying counter, are inline (inline.h);
 * this is the refusal. */
int overLimit(ServerUserRec *user, ActivityHistory *hist, const LimitValue *limit, UserDat *ud,
              int limitNumber, int numActions, const char *type, time_t now);

/* ---- Parameter file: params.cpp, limitlines.cpp, paramreport.cpp -------- */

#define LINE_SIZE 300        /* parameter file line buffer */
#define REPORT_SIZE 300      /* a report line */
#define TYPE_REPORT_SIZE 200 /* a report line of one limit entry */
#define RESPONSE_MAX 250     /* characters of a page response */
#define PICTURE_NAME_MAX 31  /* characters of a member room picture name */

extern const char theWizardsMayMsg[];

/* Reading the file and its keywords (params.cpp). */
int loadParameterFile(MyState *state, ServerUserRec *user);
void fileContentError(MyState *state, ServerUserRec *user, const char *line, int lineno,
                      const char *msg);
int getRank(const char *word);
int getUint(const char *str);
char *skipBlanks(char *p);               /* past spaces and tabs */
int strtoInt(const char *p, char **end); /* strtol saturated to the int range */

/* Limit entries from limit lines (limitlines.cpp). */
void sortTypeLimits(ServerUserRec *user, MyState *state);
int findParameter(const char *word); /* the row a limit line's first word names, or -1 */
int buildLimitValue(MyState *state, ServerUserRec *user, char *lp, int lineno, char *line);
int isWhereCheckedOK(MyState *state, ServerUserRec *user, char *line, int lineno, char *typeList,
                     LimitValue *limit);

/* The configuration report (paramreport.cpp). */
void showParameters(MyState *state, ServerUserRec *user, int toServer);
void showTypeLimits(ServerUserRec *user, const char *type, LimitValue *first, int toServer);
void appendWhere(char *s, char *se, const LimitValue *limit);

/* ---- Screening: dispatch.cpp, chat.cpp, avatar.cpp, secondstage.cpp ----------- */

/* Shared by the screening files (dispatch.cpp). */
uint16 read16(const unsigned char *p);
uint32 read32(const unsigned char *p);
int userFlags(const UserDat *ud);

ClientMsg *refuseAndReset(ServerState *serverState, MyState *state);
void warnOnce(ServerUserRec *user, UserDat *ud, int slot, const char *text);
/* withinZone is inline (inline.h). */
#define GATHER_PLACES 64 /* places of a room gathered at a time */
int gatherOccupants(ServerRoomRec *room, int from, int to, UserID self, ServerUserRec **out);

/* The record of `size` bytes at `offset` in the room's variable buffer, or
 * null. The host's accessor checks where a record starts; a reader copies
 * or walks the whole record, so its end must lie inside the buffer too. */
static inline void *varBufRecord(ServerRoomRec *room, Offset offset, int align, uint32 size)
{
    unsigned char *start = (unsigned char *)getInVarBuf(room, offset, align);
    if (start == nullptr || size > room->varBufAlloc - (uint32)(start - room->varBuf))
        return nullptr;
    return start;
}

LPropRec *loosePropAt(ServerRoomRec *room, Offset offset);    /* avatar.cpp */
LPropRec *findPropInRoom(ServerUserRec *user, sint32 number); /* avatar.cpp */
ClientMsg *secondStage(ServerState *serverState, MyState *state, ClientMsg *message);

/* The chat rules after the command interpreter: 1 when they refuse the line. */
int chatRefused(const char *line, ServerState *serverState, MyState *state);
int announcementRefused(const char *text, ServerState *serverState, MyState *state);
int pageBreaksLines(const char *text, ServerState *serverState, MyState *state);
/* A chat line of `length` bytes (strlen) from the sender's message, said
 * (target 0) or whispered. */
ClientMsg *screenChatLine(ServerState *serverState, MyState *state, ClientMsg *message,
                          const char *text, size_t length, UserID target);
int isPageCommand(const char *line, ServerState *serverState, MyState *state);
int pageIsNotAcceptable(ServerState *serverState, MyState *state, const char *line);
int checkName(unsigned char *pname, ServerState *serverState, MyState *state, const char *mtype);
int faceComingTooFast(ServerState *serverState, MyState *state);
int spotStateComingTooFast(ServerState *serverState, MyState *state);
int avatarComingTooFast(ServerState *serverState, MyState *state, int nbrProps,
                        const AssetSpec *props);
int isThereADuplicateAvatar(ServerState *serverState, MyState *state, ServerRoomRec *room,
                            ServerUserRec *ignoreuser, int nbrProps, const AssetSpec *props);
void copyAndSortProps(const AssetSpec *input, AssetSpec *output, int count);
int anotherPropAlreadyAt(ServerState *serverState, MyState *state, LPropRec *roomprop,
                         AssetSpec propSpec, Point loc);

/* ---- Command interpreter (commands.cpp) and help (help.cpp) ------------------- */

int isCommandExecuted(ServerState *serverState, MyState *state, char *line, UserID target);
int isBadCommand(char *line, ServerState *serverState, MyState *state, UserID target);

/* ---- Member rooms (mrooms.cpp) ----------------------------------------------- */

int roomEntryPermitted(ServerState *serverState, MyState *state, RoomID dest, ServerUserRec *user);
int isRoomOwner(ServerState *serverState, MyState *state, ServerUserRec *user, ServerRoomRec *room);
int ownsMemberRoom(const ServerUserRec *user);
int ownsRoomForSanctions(const ServerUserRec *user, const ServerRoomRec *room);
int isOwnerByCounter(const ServerUserRec *user, const ServerRoomRec *room);
ServerUserRec *findRoomOwner(ServerState *serverState, const ServerRoomRec *room);
int ownerAwayTooLong(MyState *state, ServerRoomRec *room);

/* ---- Member room sanctions (sanctions.cpp) ----------------------------------- */

/* Sanction bits of RoomBadActor.flags */
#define RS_PIN 0x1
#define RS_KICK 0x2
#define RS_GAG 0x4
#define RS_PROPGAG 0x8

#define BANLIST_CAP_OFF 20 /* ban list length while mroomdiscipline is off */

void rememberPerp(ServerState *serverState, MyState *state, ServerUserRec *user,
                  ServerRoomRec *room, int sanction);
void forgivePerp(ServerState *serverState, MyState *state, ServerUserRec *user, ServerRoomRec *room,
                 int sanction);
int getUserSanctions(MyState *state, ServerUserRec *user, ServerRoomRec *room, UserDat *ud);

/* The pin costume and the place a pinned user is held at. */
#define PIN_PROP_ID 1280
#define PIN_POS_V 362
#define PIN_POS_H 490

/* The room a kick sends a user to. */
#define ENTRANCE_ROOM 0

/* ---- Timers (timers.cpp) --------------------------------------------------- */

int CheckUserIdle(ServerState *serverState, MyState *state);

/* The small functions every message calls, inline. */
#include "inline.h"

#endif
