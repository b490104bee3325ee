/* The command interpreter: the command table, word matching and lookup,
 * chat-goto phrases and command dispatch. Help is in help.cpp. */
#include <ctype.h>
#include <string.h>

#include "vestrel.h"

static int do_vestrel(CMD_PARAMS);

/* One row per command, in lookup and help order. */
CmdTable cmdTable[NBR_COMMANDS] = {
    {"chat", 0, "`chat <message>", "Generate chat for a user.",
     CF_NEEDARGS | CF_WHISPERONLY | CF_CLASS(CL_MANAGING), 2, 2, do_chat},
    {"clean", 0, "`clean", "Removes all loose props and paint in the current room.",
     CF_NOARGS | CF_CLASS(CL_MANAGING), 2, 4, do_clean},
    {"dress", 0, "`dress <user>", "Dresses <user> in the props you are currently wearing.",
     CF_NAMETARGET | CF_CLASS(CL_MANAGING), 2, 2, do_dress},
    {"er", 0, "`er", "Goto the room from which the last operator page was sent.",
     CF_NOARGS | CF_HOSTCMD | CF_CLASS(CL_NONE), 2, 4, do_er},
    {"find", 0, "`find <user>", "Display in which room <user> currently is.",
     CF_ANYRANK | CF_NAMETARGET | CF_CLASS(CL_USER), 0, 0, do_find},
    {"gmsg", 0, "`gmsg <message>", "Sends <message> to everyone on the server.",
     CF_NEEDARGS | CF_CLASS(CL_MANAGING), 2, 4, do_gmsg},
    {"goto", 0, "`goto <user>", "Go to the room where <user> currently is.",
     CF_ANYRANK | CF_NAMETARGET | CF_CLASS(CL_USER), 0, 0, do_goto},
    {"gotoroom", 0, "`gotoroom <roomID>", "Goto the room whose ID number is <roomID>.",
     CF_NEEDARGS | CF_CLASS(CL_USER), 0, 2, do_gotoroom},
    {"gpage", 0, "`gpage <message>", "Page the owners with <message>.",
     CF_NEEDARGS | CF_CLASS(CL_USER), 0, 4, do_gpage},
    {"killx", 0, "`killx <comment>", "Kill a user and comment on it.",
     CF_WHISPERONLY | CF_CLASS(CL_MANAGING), 2, 2, do_killx},
    {"listgag", 0, "`listgag <user>", "Prevent user from listing users or available rooms.",
     CF_NAMETARGET | CF_NOTSELF | CF_CLASS(CL_MANAGING), 2, 2, do_listgag},
    {"move", 0, "`move <x> <y>", "Move the user (x,y) pixels.", CF_NEEDARGS | CF_CLASS(CL_MANAGING),
     2, 2, do_move},
    {"myroom", 0, "`myroom", "Go to the room that you own.",
     CF_NOARGS | CF_ROOMOWNER | CF_CLASS(CL_USER), 1, 4, do_myroom},
    {"naked", 0, "`naked <user>", "Remove all props being worn.", CF_NAMETARGET | CF_CLASS(CL_USER),
     0, 2, do_naked},
    {"namegag", 0, "`namegag [<newname>]",
     "Stop a user from changing names and force use of <newname>",
     CF_WHISPERONLY | CF_CLASS(CL_MANAGING), 2, 2, do_namegag},
    {"name", 0, "`name [<newname>]", "Changes username to <newname>",
     CF_WHISPERONLY | CF_CLASS(CL_MANAGING), 2, 2, do_name},
    {"newroom", 2, "`newroom [<name>]", "Create a new room (one allowed per user).",
     CF_HOSTCMD | CF_CLASS(CL_NONE), 1, 4, do_newroom},
    {"nolooseprops", 0, "`nolooseprops [on|off]",
     "Control if loose props can be dropped in the current room",
     CF_ONOFF | CF_CLASS(CL_PERMISSIONS), 2, 4, do_nolooseprops},
    {"pagegag", 0, "`pagegag <user>", "Prevent user from sending pages.",
     CF_NAMETARGET | CF_NOTSELF | CF_CLASS(CL_MANAGING), 2, 2, do_pagegag},
    {"pdel", 0, "`pdel", "Clear loose props in a room", CF_NOARGS | CF_CLASS(CL_MANAGING), 2, 4,
     do_pdel},
    {"pinx", 0, "`pinx <user>", "Pin <user> in an alternate location.",
     CF_NAMETARGET | CF_NOTSELF | CF_CLASS(CL_MANAGING), 2, 2, do_pinx},
    {"vestrel", 0, "`vestrel reload", "Reload the vestrel control file from disk.",
     CF_NEEDARGS | CF_CLASS(CL_ADMINISTRATION), 2, 4, do_vestrel},
    {"propfreeze", 0, "`propfreeze", "Freeze or unfreeze loose props in the current room.",
     CF_ONOFF | CF_CLASS(CL_PERMISSIONS), 2, 4, do_propfreeze},
    {"rannounce", 0, "`rannounce <message>",
     "Send <message> to everyone in the current (member created) room.",
     CF_NEEDARGS | CF_MROOM | CF_CLASS(CL_MANAGING), 2, 4, do_rannounce},
    {"rbanlist", 0, "`rbanlist",
     "List the users who have been disciplined  in the current (member created) room.",
     CF_NOARGS | CF_MROOM | CF_CLASS(CL_RMANAGING), 2, 4, do_rbanlist},
    {"reset", 0, "`reset", "Reset the user's client state to match the server.",
     CF_NOARGS | CF_CLASS(CL_USER), 0, 4, do_reset},
    {"rdelete", 0, "`rdelete", "Delete this (member created) room.", CF_HOSTCMD | CF_CLASS(CL_NONE),
     1, 4, do_rdelete},
    {"respond", 2, "`respond <message>",
     "Reply to the last sender of a private message with <message>.",
     CF_NEEDARGS | CF_HOSTCMD | CF_CLASS(CL_NONE), 0, 4, do_respond},
    {"rgag", 0, "`rgag <user>", "Gag <user> in the current (member created) room.",
     CF_MROOM | CF_NAMETARGET | CF_NOTSELF | CF_CLASS(CL_RMANAGING), 2, 2, do_rgag},
    {"rkick", 2, "`rkick <user>", "Kick <user> out of the (member created) room.",
     CF_MROOM | CF_NAMETARGET | CF_HOSTCMD | CF_NOTSELF | CF_CLASS(CL_NONE), 2, 2, do_rkick},
    {"rlimit", 0, "`rlimit [on|off]", "Use alternate activity limits in the (member created) room.",
     CF_MROOM | CF_ONOFF | CF_CLASS(CL_RPERMISSIONS), 2, 4, do_rlimit},
    {"rlockdown", 0, "`rlockdown",
     "Set rscripts off, rpaint off, rnolooseprops on, and rlimit on in the current (member "
     "created) room.",
     CF_NOARGS | CF_MROOM | CF_CLASS(CL_RPERMISSIONS), 2, 4, do_rlockdown},
    {"rmsg", 0, "`rmsg <message>", "Send <message> to everyone in the room",
     CF_NEEDARGS | CF_CLASS(CL_MANAGING), 2, 4, do_rmsg},
    {"rnodupavatars", 0, "`rnodupavatars [on|off]",
     "Limit duplicate avatars in the current (member created) room.",
     CF_MROOM | CF_ONOFF | CF_CLASS(CL_RPERMISSIONS), 2, 4, do_rnodupavatars},
    {"rnolooseprops", 0, "`rnolooseprops [on|off]",
     "Control whether loose props are permitted in the current (member created) room",
     CF_MROOM | CF_ONOFF | CF_CLASS(CL_RPERMISSIONS), 2, 4, do_rnolooseprops},
    {"roompage", 0, "`roompage <message>",
     "Summon help from the operators in the current room with <message>.",
     CF_NEEDARGS | CF_CLASS(CL_USER), 0, 4, do_roompage},
    {"roomprefs", 0, "`roomprefs", "Show information about the current room.",
     CF_NOARGS | CF_CLASS(CL_PERMISSIONS), 2, 4, do_roomprefs},
    {"roperatorsonly", 0, "`roperatorsonly [on|off]",
     "Control whether members are permitted in the current (member created) room",
     CF_MROOM | CF_ONOFF | CF_CLASS(CL_RPERMISSIONS), 2, 4, do_roperatorsonly},
    {"rowner", 0, "`rowner <user>",
     "Transfer ownership of the current (member created) room to <user>.",
     CF_MROOM | CF_ANYRANK | CF_NAMETARGET | CF_HOSTCMD | CF_CLASS(CL_NONE), 1, 1, do_rowner},
    {"rpage", 0, "`rpage <message>",
     "Send <message> to the owner of the current (member created) room.",
     CF_NEEDARGS | CF_CLASS(CL_USER), 0, 4, do_rpage},
    {"rpin", 0, "`rpin <user>", "Pin <user> when in the current (member created) room.",
     CF_MROOM | CF_NAMETARGET | CF_NOTSELF | CF_CLASS(CL_RMANAGING), 2, 4, do_rpin},
    {"rpropfreeze", 0, "`rpropfreeze [on|off]",
     "Control whether loose props are frozed in the current (member created) room.",
     CF_MROOM | CF_ONOFF | CF_CLASS(CL_RPERMISSIONS), 2, 4, do_rpropfreeze},
    {"rpropgag", 0, "`rpropgag <user>", "Propgag <user> when in the current (member created) room.",
     CF_MROOM | CF_NAMETARGET | CF_NOTSELF | CF_CLASS(CL_RMANAGING), 2, 4, do_rpropgag},
    {"rtake", 0, "`rtake",
     "Take ownership of the current (member created) room after the owner has been disconnected.",
     CF_NOARGS | CF_CLASS(CL_USER), 1, 4, do_rtake},
    {"rungag", 0, "`rungag <user>", "Ungag <user> when in the current (member created) room.",
     CF_MROOM | CF_NAMETARGET | CF_CLASS(CL_RMANAGING), 2, 2, do_rungag},
    {"runkick", 4, "`runkick <user>", "Rescind kicking <user> out of the (member created) room.",
     CF_MROOM | CF_NAMETARGET | CF_HOSTCMD | CF_CLASS(CL_NONE), 2, 2, do_runkick},
    {"runpin", 0, "`runpin <user>", "Unpin <user> when in the current (member created) room.",
     CF_MROOM | CF_NAMETARGET | CF_CLASS(CL_RMANAGING), 2, 2, do_runpin},
    {"runpropgag", 0, "`runpropgag <user>",
     "Unpropgag <user> when in the current (member created) room.",
     CF_MROOM | CF_NAMETARGET | CF_CLASS(CL_RMANAGING), 2, 2, do_runpropgag},
    {"rwho", 0, "`rwho", "Enquire about the room's owner.", CF_NOARGS | CF_CLASS(CL_USER), 0, 4,
     do_rwho},
    {"setcolor", 0, "`setcolor <colornbr>",
     "Changes your face color to <colornbr>.  (0-15 are valid colors.)",
     CF_NEEDARGS | CF_CLASS(CL_USER), 0, 2, do_setcolor},
    {"setface", 0, "`setface <facenbr>", "Changes your face to <facenbr>. (0-15 are valid faces.)",
     CF_NEEDARGS | CF_CLASS(CL_USER), 0, 2, do_setface},
    {"setpos", 0, "`setpos <x> <y>", "Move to the (x,y) position in the room.",
     CF_NEEDARGS | CF_CLASS(CL_MANAGING), 2, 2, do_setpos},
    {"signoff", 0, "`signoff", "Leave this Corvex server.", CF_NAMETARGET | CF_CLASS(CL_MANAGING),
     0, 2, do_signoff},
    {"take", 0, "`take <user>", "Take a user's avatar in a room where taking is permitted.",
     CF_ANYRANK | CF_NAMETARGET | CF_CLASS(CL_USER), 0, 0, do_take},
    {"unlistgag", 0, "`unlistgag <user>", "Allow user to list users or available rooms.",
     CF_NAMETARGET | CF_CLASS(CL_MANAGING), 2, 2, do_unlistgag},
    {"unnamegag", 0, "`unnamegag <user>", "Allow a user to change names.",
     CF_NAMETARGET | CF_CLASS(CL_MANAGING), 2, 2, do_unnamegag},
    {"unpagegag", 0, "`unpagegag <user>", "Permit user to send pages.",
     CF_NAMETARGET | CF_CLASS(CL_MANAGING), 2, 2, do_unpagegag},
    {"userprefs", 0, "`userprefs", "Reports user's current stats.",
     CF_NAMETARGET | CF_CLASS(CL_MANAGING), 2, 2, do_userprefs},
};

/* ---- Words --------------------------------------------------------------- */

static int isBlank(char c)
{
    return c == ' ' || c == '\t';
}

static int isWordEnd(char c)
{
    return c == '\0' || isBlank(c);
}

static int lower(char c)
{
    return tolower((unsigned char)c);
}

/* Case-blind: tolower is asked only of bytes that differ. */
static int sameLetter(char a, char b)
{
    return a == b || lower(a) == lower(b);
}

/* Length of the run of letters and digits at the start of s. */
static int alnumLength(const char *s)
{
    int n = 0;
    while (s[n] != '\0' && isalnum((unsigned char)s[n]))
        n++;
    return n;
}

int wordLength(const char *start)
{
    int n = 0;
    while (!isWordEnd(start[n]))
        n++;
    return n;
}

char *nextWord(const char *s)
{
    while (!isWordEnd(*s))
        s++;
    if (*s == '\0')
        return nullptr;
    while (isBlank(*s))
        s++;
    if (*s == '\0')
        return nullptr;
    return (char *)s;
}

int wordCmp(const char *word1, const char *word2)
{
    int n1 = wordLength(word1);
    int n2 = wordLength(word2);
    if (n1 != n2)
        return n1 > n2 ? 1 : -1;
    for (int i = 0; i < n1; i++) {
        if (!sameLetter(word1[i], word2[i]))
            return 1;
    }
    return 0;
}

int wordMinCmp(const char *word, const char *command, int minimum)
{
    /* A word that begins with a letter or digit and not with the command's
     * first letter can never abbreviate it: most names are told apart at
     * their first letter, without measuring either. */
    if (isalnum((unsigned char)word[0]) && !sameLetter(word[0], command[0]))
        return 1;
    int n = alnumLength(word);
    int m = alnumLength(command);
    if (n > m || n < minimum)
        return 1;
    for (int i = 0; i < n; i++) {
        if (!sameLetter(word[i], command[i]))
            return 1;
    }
    return 0;
}

int strcmpci(const char *s1, const char *s2)
{
    for (;; s1++, s2++) {
        if (*s1 == *s2) {
            if (*s1 == '\0')
                return 0;
            continue;
        }
        int c1 = lower(*s1);
        int c2 = lower(*s2);
        if (c1 != c2 || c1 == 0)
            return c1 - c2;
    }
}

/* Nothing restores the built-in ranks on a reload, so the report needs
 * them to show what earlier loads left. Kept once, before the first load. */
static int builtinRanks[NBR_COMMANDS][2];
static int builtinRanksKept = 0;

void rememberBuiltinRanks(void)
{
    if (builtinRanksKept)
        return;
    for (int i = 0; i < NBR_COMMANDS; i++) {
        builtinRanks[i][0] = cmdTable[i].rank;
        builtinRanks[i][1] = cmdTable[i].targetRank;
    }
    builtinRanksKept = 1;
}

int builtinRank(const CmdTable *row)
{
    return builtinRanksKept ? builtinRanks[row - cmdTable][0] : row->rank;
}

int builtinTargetRank(const CmdTable *row)
{
    return builtinRanksKept ? builtinRanks[row - cmdTable][1] : row->targetRank;
}

/* The first row, in table order, that the typed word abbreviates far
 * enough: re finds respond (minimum 2) before reset is reached. */
/* The word's first letter, lower-cased, or 0 when it does not begin with
 * a letter or a digit. The names of commands and help classes are lower
 * case and have a minimum of one letter at the least: a word abbreviates
 * only names of its first letter, and a word of no letters none. */
int firstLetter(const char *word)
{
    return isalnum((unsigned char)word[0]) ? lower(word[0]) : 0;
}

CmdTable *findCommand(MyState *state, const char *cp)
{
    (void)state;
    int first = firstLetter(cp);
    if (first == 0)
        return nullptr;
    for (int i = 0; i < NBR_COMMANDS; i++) {
        CmdTable *row = &cmdTable[i];
        if (row->command[0] != first)
            continue;
        int minimum = row->minimum != 0 ? row->minimum : (int)strlen(row->command);
        if (wordMinCmp(cp, row->command, minimum) == 0)
            return row;
    }
    return nullptr;
}

/* ---- Chat-goto phrases --------------------------------------------------- */

/* 1 when a phrase moved somebody, or was refused with a message; 0 lets
 * the line go on, without command dispatch when *matched is set. */
static int chatGoto(char *line, ServerState *serverState, MyState *state, UserID target,
                    int *matched)
{
    LimitValue *entry = state->limits[L_CHATGOTO];
    while (entry != nullptr && (entry->string == nullptr || strcmpci(entry->string, line) != 0))
        entry = entry->next;
    *matched = entry != nullptr;
    if (entry == nullptr)
        return 0;

    ServerUserRec *speaker = serverState->currentUser;
    RoomID dest = entry->maximum != 0 ? (RoomID)entry->maximum : speaker->user.roomID;
    ServerUserRec *mover = speaker;
    if (target != 0 && UserRank(speaker) > 1) {
        mover = GetServerUser(target);
        if (mover == nullptr) {
            UserMessage(speaker, "Whisper target not found");
            return 1;
        }
    }
    char moverName[USER_NAME_SIZE];
    getCUserName(moverName, mover);
    if (UserRank(speaker) < UserRank(mover)) {
        UserMessage(speaker, "You can't move %s", moverName);
        return 1;
    }
    if (roomEntryPermitted(serverState, state, dest, mover) == 0)
        return 0;
    if (mover != speaker) {
        char speakerName[USER_NAME_SIZE];
        getCUserName(speakerName, speaker);
        logField(speakerName);
        logField(moverName);
        FormattedLogMessage(speaker, "chatgoto", "{%s} sent {%s} to room %d by chatgoto",
                            speakerName, moverName, (int)dest);
    }
    generateGotoRoom(serverState, state, mover, dest);
    return 1;
}

/* ---- Command dispatch ----------------------------------------------------- */

static const char kCanWhisper[] = " (can be whispered to another user)";
static const char kMustWhisper[] = " (must be whispered to another user)";

static const char *whisperHint(ServerUserRec *user, const CmdTable *row)
{
    return UserRank(user) >= row->targetRank ? kCanWhisper : "";
}

int commandUsage(ServerUserRec *user, const CmdTable *row)
{
    UserMessage(user, "Usage: %s%s", row->shortHelp, whisperHint(user, row));
    return 1;
}

/* 1 when the speaker may not use the row here (he has been told). */
static int rankRefused(ServerState *serverState, MyState *state, ServerUserRec *user,
                       ServerRoomRec *room, const CmdTable *row)
{
    /* A disabled row serves nobody: not a room's owner either. */
    if (row->rank >= RANK_DISABLE) {
        UserMessage(user, "Sorry - you are not privileged to use that command");
        return 1;
    }
    if (UserRank(user) >= row->rank)
        return 0;
    if (row->flags & CF_MROOM) {
        if (isRoomOwner(serverState, state, user, room))
            return 0;
        UserMessage(user, "Sorry - you are not the owner of this room");
        return 1;
    }
    if ((row->flags & CF_ROOMOWNER) && user->lastOwnedRoom != nullptr)
        return 0;
    UserMessage(user, "Sorry - you are not privileged to use that command");
    return 1;
}

/* Chooses the user the command is aimed at; 0 when the line was refused
 * with a message. *targetUser may be null for rows that aim at nobody. */
static int chooseTarget(ServerState *serverState, MyState *state, ServerUserRec *user,
                        ServerRoomRec *room, const CmdTable *row, char *cp, UserID target,
                        ServerUserRec **targetUser)
{
    int rank = UserRank(user);
    int owner = (row->flags & CF_MROOM) && isRoomOwner(serverState, state, user, room);
    *targetUser = user;
    if (rank < row->targetRank && !owner)
        return 1;
    if (!(row->flags & (CF_NAMETARGET | CF_WHISPERONLY)) && row->targetRank > 3) {
        *targetUser = nullptr;
        return 1;
    }
    /* A user hidden from the speaker is answered as one who is not there,
     * in the words he typed, before any test of rank could tell him apart. */
    if (target != 0) {
        *targetUser = GetServerUser(target);
        if (*targetUser == nullptr || (*targetUser != user && isHiddenFrom(*targetUser, user))) {
            UserMessage(user, "Whisper target not found");
            return 0;
        }
    } else if (row->flags & CF_WHISPERONLY) {
        UserMessage(user, "%s%s", row->shortHelp, kMustWhisper);
        return 0;
    } else if ((row->flags & CF_NAMETARGET) && cp != nullptr) {
        *targetUser = GetServerUserByName(cp);
        if (*targetUser == nullptr || (*targetUser != user && isHiddenFrom(*targetUser, user))) {
            UserMessage(user, "User %s not found", cp);
            return 0;
        }
    }
    if (!(row->flags & CF_ANYRANK) && rank < UserRank(*targetUser)) {
        char name[USER_NAME_SIZE];
        getCUserName(name, *targetUser);
        UserMessage(user, "You can't control %s", name);
        return 0;
    }
    return 1;
}

/* 1 when the argument refuses the line with its usage line. A switch that
 * is neither on nor off shows its syntax and still reaches the handler. */
static int argumentRefused(ServerUserRec *user, const CmdTable *row, const char *cp,
                           ServerUserRec *targetUser)
{
    if ((row->flags & CF_ONOFF) && cp != nullptr) {
        if (strcmp(cp, "on") != 0 && strcmp(cp, "off") != 0)
            UserMessage(user, "%s%s", row->shortHelp, whisperHint(user, row));
    } else if ((row->flags & CF_NEEDARGS) && cp == nullptr) {
        return commandUsage(user, row);
    }
    if ((row->flags & CF_NOARGS) && cp != nullptr)
        return commandUsage(user, row);
    if ((row->flags & CF_NOTSELF) && targetUser == user)
        return commandUsage(user, row);
    return 0;
}

static int dispatchCommand(char *line, ServerState *serverState, MyState *state, UserID target)
{
    if (!isCommandLine(line))
        return 0;
    CmdTable *row = findCommand(state, line + 1);
    if (row == nullptr)
        return 0;
    ServerUserRec *user = serverState->currentUser;
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr)
        return 1;
    if ((row->flags & CF_MROOM) && room->memberOwner == 0) {
        UserMessage(user, "Command must be given in a member room");
        return 1;
    }
    if (rankRefused(serverState, state, user, room, row))
        return 1;

    char *cp = nextWord(line);
    ServerUserRec *targetUser = nullptr;
    if (!chooseTarget(serverState, state, user, room, row, cp, target, &targetUser))
        return 1;
    if (argumentRefused(user, row, cp, targetUser))
        return 1;
    if (row->implementation == nullptr)
        return 0;
    return row->implementation(serverState, state, user, room, targetUser, line + 1, cp) != 0;
}

int isBadCommand(char *line, ServerState *serverState, MyState *state, UserID target)
{
    if (serverState->currentUser == nullptr)
        return 0;
    int matched = 0;
    int result = chatGoto(line, serverState, state, target, &matched);
    if (matched)
        return result;
    return dispatchCommand(line, serverState, state, target);
}

/* ---- The vestrel command --------------------------------------------------- */

static void giveHelp(ServerUserRec *user)
{
    UserPrivateMessage(user, "; vestrel usage:");
    UserPrivateMessage(user, "; `vestrel reload - reload parameter file");
}

static int do_vestrel(CMD_PARAMS)
{
    if (cp != nullptr && wordCmp(cp, "reload") == 0)
        loadParameterFile(state, user);
    else
        giveHelp(user);
    return 1;
}
