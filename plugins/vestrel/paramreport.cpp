/* The configuration report: every parameter and keyword in force, one
 * line each, to the log and the requesting user after a whole load, with
 * the report's own number formatting. It reads MyState and owns nothing,
 * except that it releases the setrank lines once they are reported. */
#include <math.h>
#include <string.h>

#include "vestrel.h"

/* ---- The report ---------------------------------------------------------- */

/* Appends piece when it fits with its NUL before se. */
static void appendPiece(char *s, char *se, const char *piece)
{
    char *end = s + strlen(s);
    size_t n = strlen(piece);
    if ((size_t)(se - end) > n)
        memcpy(end, piece, n + 1);
}

/* What "%d" prints, without snprintf's machinery: a report of a long file
 * formats many numbers. `out` has room for 12 bytes; returns the length. */
static int formatInt(char *out, int value)
{
    char digits[12];
    int n = 0;
    unsigned int u = value < 0 ? 0u - (unsigned int)value : (unsigned int)value;
    do {
        digits[n++] = (char)('0' + u % 10);
        u /= 10;
    } while (u != 0);
    int len = 0;
    if (value < 0)
        out[len++] = '-';
    while (n > 0)
        out[len++] = digits[--n];
    out[len] = '\0';
    return len;
}

/* "rm%d " or "rm%d-%d ". */
static void formatRange(char *piece, const RoomNumbers *r)
{
    int n = 2;
    piece[0] = 'r';
    piece[1] = 'm';
    n += formatInt(piece + n, (int)r->low);
    if (r->low != r->high) {
        piece[n++] = '-';
        n += formatInt(piece + n, (int)r->high);
    }
    piece[n++] = ' ';
    piece[n] = '\0';
}

void appendWhere(char *s, char *se, const LimitValue *limit)
{
    char piece[32];
    for (const RoomNumbers *r = limit->roomNumbers; r != nullptr; r = r->next) {
        formatRange(piece, r);
        appendPiece(s, se, piece);
    }
    sint32 rc = limit->roomsChecked;
    if (rc != 0) {
        if (rc & RC_PUBLIC)
            appendPiece(s, se, "public ");
        if (rc & RC_PRIVATE)
            appendPiece(s, se, "private ");
        if (rc & RC_MEMBER)
            appendPiece(s, se, "member ");
    } else if (limit->roomNumbers == nullptr) {
        appendPiece(s, se, "off ");
        return;
    }
    if (rc & RC_ALTMEMBER)
        appendPiece(s, se, "altmember ");
    if (rc & RC_LIMBO)
        appendPiece(s, se, "limbo ");
    if (rc & RC_WARN)
        appendPiece(s, se, "warn ");
}

/* "%s %d %g ": a whole decay below a million, which "%g" prints as its
 * digits, is formatted here; any other goes to snprintf. */
static void formatTypeHead(char *line, size_t size, const char *type, const LimitValue *limit)
{
    double d = limit->decay;
    size_t typeLen = strlen(type);
    int whole = d > -1e6 && d < 1e6 && d == (double)(int)d && !(d == 0 && signbit(d));
    if (!whole || typeLen + 26 > size) {
        snprintf(line, size, "%s %d %g ", type, (int)limit->maximum, d);
        return;
    }
    memcpy(line, type, typeLen);
    size_t n = typeLen;
    line[n++] = ' ';
    n += (size_t)formatInt(line + n, (int)limit->maximum);
    line[n++] = ' ';
    n += (size_t)formatInt(line + n, (int)d);
    line[n++] = ' ';
    line[n] = '\0';
}

void showTypeLimits(ServerUserRec *user, const char *type, LimitValue *first, int toServer)
{
    char line[TYPE_REPORT_SIZE];
    for (LimitValue *limit = first; limit != nullptr; limit = limit->next) {
        formatTypeHead(line, sizeof line, type, limit);
        appendWhere(line, line + sizeof line, limit);
        logMessage(user, line, toServer);
    }
}

/* A report line: head and text, the marker standing for the text when the
 * whole line would not fit in the report buffer. */
static void reportText(ServerUserRec *user, const char *head, const char *text, const char *marker)
{
    char line[REPORT_SIZE];
    size_t headLen = strlen(head);
    if (headLen + strlen(text) > REPORT_SIZE - 1)
        text = marker;
    snprintf(line, sizeof line, "%s", head);
    appendPiece(line, line + sizeof line, text);
    logMessage(user, line, 1);
}

/* One line per entry: the parameter, its maximum when it has one, then
 * where the entry applies. */
static void reportWhere(ServerUserRec *user, const char *name, int withMaximum, LimitValue *first)
{
    char line[REPORT_SIZE];
    for (LimitValue *limit = first; limit != nullptr; limit = limit->next) {
        if (withMaximum)
            snprintf(line, sizeof line, "%s %d ", name, (int)limit->maximum);
        else
            snprintf(line, sizeof line, "%s ", name);
        appendWhere(line, line + sizeof line, limit);
        logMessage(user, line, 1);
    }
}

static void reportLine(ServerUserRec *user, const char *format, int value)
{
    char line[REPORT_SIZE];
    snprintf(line, sizeof line, format, value);
    logMessage(user, line, 1);
}

static void reportYesNo(ServerUserRec *user, const char *keyword, int value)
{
    char line[REPORT_SIZE];
    snprintf(line, sizeof line, "%s %s", keyword, value ? "yes" : "no");
    logMessage(user, line, 1);
}

static void reportOffOrNumber(ServerUserRec *user, const char *keyword, int value)
{
    char line[REPORT_SIZE];
    if (value == -1)
        snprintf(line, sizeof line, "%s off", keyword);
    else
        snprintf(line, sizeof line, "%s %d", keyword, value);
    logMessage(user, line, 1);
}

static void reportAnnouncements(MyState *state, ServerUserRec *user)
{
    char head[32];
    for (AutoAnnounce *aa = state->autoannounce; aa != nullptr; aa = aa->next) {
        snprintf(head, sizeof head, "autoannounce %s ", aa->time);
        reportText(user, head, aa->message, "***ERROR*** autoannounce string too long");
    }
}

static void reportChatGoto(MyState *state, ServerUserRec *user)
{
    char head[32];
    for (LimitValue *limit = state->limits[L_CHATGOTO]; limit != nullptr; limit = limit->next) {
        if (limit->string == nullptr)
            continue;
        if (limit->maximum == 0)
            snprintf(head, sizeof head, "chatgoto currentroom ");
        else
            snprintf(head, sizeof head, "chatgoto %d ", (int)limit->maximum);
        reportText(user, head, limit->string, "***ERROR*** chatgoto string too long");
    }
}

static void reportDupIP(MyState *state, ServerUserRec *user)
{
    char head[32];
    for (LimitValue *limit = state->limits[L_DUPIP]; limit != nullptr; limit = limit->next) {
        snprintf(head, sizeof head, "dupip %d ", (int)limit->maximum);
        reportText(user, head, limit->string != nullptr ? limit->string : "",
                   "***ERROR*** IP address string too long");
    }
}

static const char *rankWord(int rank)
{
    static const char *const words[] = {"guest", "member", "wizard", "god", "disable"};
    return rank >= 0 && rank <= RANK_DISABLE ? words[rank] : "?";
}

/* The setrank lines are reported once and then released. A reload never
 * gives a row its built-in ranks back, so every row whose ranks an earlier
 * load changed is reported too, in the same form, though the file no
 * longer has its line: the operator sees why members still use it. */
static void reportSetRanks(MyState *state, ServerUserRec *user)
{
    int reported[NBR_COMMANDS] = {0};
    while (state->setranks != nullptr) {
        StringList *node = state->setranks;
        state->setranks = node->next;
        const char *line = node->string;
        while (*line == ' ' || *line == '\t')
            line++;
        const char *word = nextWord(line); /* the command, after "setrank" */
        CmdTable *row = word != nullptr ? findCommand(state, word) : nullptr;
        if (row != nullptr)
            reported[row - cmdTable] = 1;
        logMessage(user, node->string, 1);
        DisposePtr((Ptr)node);
    }
    for (int i = 0; i < NBR_COMMANDS; i++) {
        const CmdTable *row = &cmdTable[i];
        int targetChanged = row->targetRank != builtinTargetRank(row);
        if (reported[i] || (row->rank == builtinRank(row) && !targetChanged))
            continue;
        char line[REPORT_SIZE];
        snprintf(line, sizeof line, "setrank %s %s%s%s", row->command, rankWord(row->rank),
                 targetChanged ? " " : "", targetChanged ? rankWord(row->targetRank) : "");
        logMessage(user, line, 1);
    }
}

void showParameters(MyState *state, ServerUserRec *user, int toServer)
{
    (void)toServer;
    LimitValue **l = state->limits;
    reportAnnouncements(state, user);
    showTypeLimits(user, "avatarchange", l[L_AVATARCHANGE], 1);
    reportWhere(user, "avatarzone", 1, l[L_AVATARZONE]);
    showTypeLimits(user, "chat", l[L_CHAT], 1);
    reportChatGoto(state, user);
    reportWhere(user, "clearlooseprops", 1, l[L_CLEARLOOSEPROPS]);
    reportDupIP(state, user);
    showTypeLimits(user, "facechange", l[L_FACECHANGE], 1);
    reportLine(user, "gpagelength %d", state->gpageLengthLimit);
    if (state->gpageResponse != nullptr)
        reportText(user, "gpageresponse ", state->gpageResponse,
                   "***ERROR*** gpageresponse string too long");
    reportYesNo(user, "guestwiz", state->guestWiz);
    reportWhere(user, "godonly", 0, l[L_GODONLY]);
    showTypeLimits(user, "gpage", l[L_GPAGE], 1);
    reportYesNo(user, "hideoperators", state->hideops);
    showTypeLimits(user, "idle", l[L_IDLE], 1);
    reportYesNo(user, "memberrwho", state->memberRWho);
    reportWhere(user, "mimick", 1, l[L_MIMICK]);
    showTypeLimits(user, "move", l[L_MOVE], 1);
    reportText(user, "mroombg ", state->mRoomBG != nullptr ? state->mRoomBG : "off",
               "***ERROR*** mroombg string too long");
    reportOffOrNumber(user, "mroomdiscipline", state->mroomdiscipline);
    showTypeLimits(user, "namechange", l[L_NAMECHANGE], 1);
    showTypeLimits(user, "newroom", l[L_NEWROOM], 1);
    showTypeLimits(user, "nodupavatars", l[L_NODUPAVATARS], 1);
    showTypeLimits(user, "page", l[L_PAGE], 1);
    reportLine(user, "pagelength %d", state->pageLengthLimit);
    if (state->pageResponse != nullptr)
        reportText(user, "pageresponse ", state->pageResponse,
                   "***ERROR*** pageresponse string too long");
    showTypeLimits(user, "pinx", l[L_PINX], 1);
    showTypeLimits(user, "propdrop", l[L_PROPDROP], 1);
    showTypeLimits(user, "repchat", l[L_REPCHAT], 1);
    showTypeLimits(user, "reppage", l[L_REPPAGE], 1);
    showTypeLimits(user, "roomgoto", l[L_ROOMGOTO], 1);
    showTypeLimits(user, "draw", l[L_DRAW], 1);
    showTypeLimits(user, "roommsg", l[L_ROOMMSG], 1);
    showTypeLimits(user, "roompage", l[L_ROOMPAGE], 1);
    reportYesNo(user, "rownerinroom", state->rownerInRoom);
    showTypeLimits(user, "rpage", l[L_RPAGE], 1);
    reportOffOrNumber(user, "rtakedelay", state->rTakeDelay);
    reportSetRanks(state, user);
    showTypeLimits(user, "slide", l[L_SLIDE], 1);
    reportWhere(user, "spoof", 0, l[L_SPOOF]);
    showTypeLimits(user, "spotstatechange", l[L_SPOTSTATECHANGE], 1);
    reportWhere(user, "take", 0, l[L_TAKE]);
    reportYesNo(user, "wizinmemberrooms", state->wizInMemberRooms);
    reportWhere(user, "zone", 1, l[L_ZONE]);
}
