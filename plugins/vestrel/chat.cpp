/* Chat screening: the hand-off of a chat line to the interpreter, then
 * mimicry, the member-room gag, spoofing and face sequences, the chat and
 * page limits, page length, and user names. */
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "vestrel.h"

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

/* The characters a spoof or a face sequence is made of: : ; | [ ( ) \ / ! @ % ^ */
static inline int isSpoofChar(char c)
{
    switch (c) {
    case ':':
    case ';':
    case '|':
    case '[':
    case '(':
    case ')':
    case '\\':
    case '/':
    case '!':
    case '@':
    case '%':
    case '^':
        return 1;
    default:
        return 0;
    }
}

/* What may follow : or ; in a face sequence. */
static int isFaceSecondChar(char c)
{
    return c == '0' || isSpoofChar(c);
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
        if (!isSpoofChar(c))
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
            if (!isFaceSecondChar(line[i + 1]))
                return 0;
            if (faceComingTooFast(serverState, state))
                return 1;
            i += 2;
            continue;
        }
        i++;
    }
}

/* 1 when the line repeats what another user said last in the room.
 * `length` is strlen(line). */
static int mimicked(ServerState *serverState, MyState *state, const char *line, size_t length,
                    UserDat *ud)
{
    ServerUserRec *user = serverState->currentUser;
    ServerRoomRec *room = roomOf(state, user);
    if (room == nullptr)
        return 0;
    LimitValue *entry = limitHere(serverState, state, L_MIMICK);
    RoomDat *rd = getRoomDat(state, room);
    if (entry == nullptr || rd == nullptr)
        return 0;

    if ((uint32)length < entry->maximum) {
        /* Too short to count: the room remembers nothing. The block is
         * kept; an empty line never equals one long enough to compare. */
        if (rd->lastChat != nullptr)
            rd->lastChat[0] = '\0';
        rd->lastUserID = 0;
        return 0;
    }
    if (rd->lastChat != nullptr && rankOf(state, user) <= 1 &&
        rd->lastUserID != user->user.userID && sameLine(line, length, rd->lastChat)) {
        if (entry->roomsChecked & RC_WARN)
            warnOnce(user, ud, L_MIMICK, "Repeating others chat is limited here");
        return 1;
    }
    rememberLine(&rd->lastChat, line, length);
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

/* Sixteen bytes at a time, since every chat line is asked (the compiler
 * makes these vectors SIMD where the machine has it, plain words where not).
 * The last block overlaps the one before rather than reading past the line;
 * a line shorter than a block goes byte by byte. */
typedef unsigned char Bytes16 __attribute__((vector_size(16)));

static inline int hasLineBreak(const char *line, size_t length)
{
    if (length < sizeof(Bytes16)) {
        int found = 0;
        for (size_t i = 0; i < length; i++)
            found |= line[i] == '\r' || line[i] == '\n';
        return found;
    }
    Bytes16 found = {0}, block;
    for (size_t i = 0; i + sizeof block < length; i += sizeof block) {
        memcpy(&block, line + i, sizeof block);
        found |= (Bytes16)((block == '\r') | (block == '\n'));
    }
    memcpy(&block, line + length - sizeof block, sizeof block);
    found |= (Bytes16)((block == '\r') | (block == '\n'));
    uint64_t half[2];
    memcpy(half, &found, sizeof half);
    return (half[0] | half[1]) != 0;
}

/* A line break in a chat line starts what reads as another line of the
 * room's text: "hi\rsam says: everybody out". Only such a line, or one
 * that begins with a spoof character, can spoof or show a face. */
static int spoofs(ServerState *serverState, MyState *state, const char *line, int lineBreak,
                  UserDat *ud)
{
    LimitValue *spoof = limitHere(serverState, state, L_SPOOF);
    if (spoof == nullptr)
        return 0;
    if (lineBreak) {
        if (spoof->roomsChecked & RC_WARN)
            warnOnce(serverState->currentUser, ud, L_SPOOF, "Spoofing is not permitted here");
        return 1;
    }
    return spoofOrFaces(serverState, state, line, spoof, ud);
}

static inline int maySpoof(const char *line, size_t length, int *lineBreak)
{
    *lineBreak = hasLineBreak(line, length);
    return *lineBreak || isSpoofChar(line[0]);
}

/* The chat rules, after the interpreter let the line go on; `length` is
 * strlen(line). */
static int badchat(const char *line, size_t length, ServerState *serverState, MyState *state)
{
    ServerUserRec *user = serverState->currentUser;
    UserDat *ud = getUserDat(state, user);

    /* A gagged line is heard by nobody, so the room must not remember it
     * for the mimicry rule: the gag is asked first. */
    if (ud != nullptr && (ud->flags & UD_RGAG) && !isOperator(user))
        return 1;
    if (mimicked(serverState, state, line, length, ud))
        return 1;
    if (isOperator(user))
        return 0;
    if (ud == nullptr)
        return 0;
    int lineBreak;
    if (maySpoof(line, length, &lineBreak) && spoofs(serverState, state, line, lineBreak, ud))
        return 1;

    if (ud->lastChat == nullptr) {
        rememberText(&ud->lastChat, "");
        if (ud->lastChat == nullptr)
            return 0;
    }
    int repeated = sameLine(line, length, ud->lastChat);
    int page = isPageCommand(line, serverState, state);
    if (page && pageIsNotAcceptable(serverState, state, line))
        return 1;
    int result = chatRate(serverState, state, ud, page, repeated);
    if (!repeated)
        rememberLine(&ud->lastChat, line, length);
    return result;
}

int chatRefused(const char *line, ServerState *serverState, MyState *state)
{
    return badchat(line, strlen(line), serverState, state);
}

/* Help, then commands and chat screening; null drops the message. A line
 * that cannot be a command, a help request or a chat-goto phrase is not
 * offered to the interpreter. */
ClientMsg *screenChatLine(ServerState *serverState, MyState *state, ClientMsg *message,
                          const char *text, size_t length, UserID target)
{
    if (mayBeInterpreted(state, text)) {
        if (isCommandExecuted(serverState, state, (char *)text, target))
            return nullptr;
        if (isBadCommand((char *)text, serverState, state, target))
            return nullptr;
        /* A command that lets the line go on may have cut it, changed the
         * room's class or reloaded. */
        length = strlen(text);
        forgetSpeakerLimits(state);
    }
    if (badchat(text, length, serverState, state))
        return nullptr;
    return message; /* the second stage has no rule for chat */
}

/* Text of the speaker's that the plug-in shows the room itself (an owner's
 * announcement) meets the spoof rule and his chat limit, as his chat
 * would; a switch's announcement, without text of his, the limit alone. */
int announcementRefused(const char *text, ServerState *serverState, MyState *state)
{
    ServerUserRec *user = serverState->currentUser;
    if (isOperator(user))
        return 0;
    UserDat *ud = getUserDat(state, user);
    if (ud == nullptr)
        return 0;
    int lineBreak;
    if (text != nullptr && maySpoof(text, strlen(text), &lineBreak) &&
        spoofs(serverState, state, text, lineBreak, ud))
        return 1;
    return countAgainst(serverState, state, ud, L_CHAT, &ud->chat, 1, "Chat messages");
}

/* A page the client sends the operators is text of the user's that reaches
 * their page stream as it is: a line break in it forges another page, so
 * it meets the spoof rule's line-break test, as a typed `page does. */
int pageBreaksLines(const char *text, ServerState *serverState, MyState *state)
{
    ServerUserRec *user = serverState->currentUser;
    if (isOperator(user))
        return 0;
    size_t length = strlen(text);
    return hasLineBreak(text, length) &&
           spoofs(serverState, state, text, 1, getUserDat(state, user));
}
