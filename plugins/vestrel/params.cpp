/* The parameter file: read at start and on "`vestrel reload". Keyword lines
 * set switches, numbers, texts, announcements and command ranks; every
 * other line is a limit line that adds an entry to one limit slot. */
#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <sys/stat.h>

#include "vestrel.h"

const char theWizardsMayMsg[] =
    "NOTE: Operators may enter closed and passworded member rooms on this server.";

/* What one load carries from line to line. */
struct Load {
    MyState *state;
    ServerUserRec *user;
    FILE *file;
    const char *path;
    int lineno;
    char *line; /* the whole line as read, newline removed */
};

/* A keyword handler returns 0 when the load must end. */
typedef int (*KeywordHandler)(Load *load, char *value);

/* ---- Small helpers ------------------------------------------------------- */

static int isBlank(char c)
{
    return c == ' ' || c == '\t';
}

char *skipBlanks(char *p)
{
    while (isBlank(*p))
        p++;
    return p;
}

/* strtol saturated to the int range, so that no file can overflow a field. */
int strtoInt(const char *p, char **end)
{
    long value = strtol(p, end, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return (int)value;
}

/* A message that ends the load goes to the log and the requesting user. */
static void loadFailed(Load *load, const char *msg)
{
    FormattedLogMessage(nullptr, "vestrel", "%s", msg);
    if (load->user != nullptr)
        UserPrivateMessage(load->user, "%s", msg);
}

static void problem(Load *load, const char *msg)
{
    fileContentError(load->state, load->user, load->line, load->lineno, msg);
}

void fileContentError(MyState *state, ServerUserRec *user, const char *line, int lineno,
                      const char *msg)
{
    (void)state;
    FormattedLogMessage(user, "vestrel", "Problem %s in line %d of parameter file: %.100s", msg,
                        lineno, line);
    if (user != nullptr)
        UserPrivateMessage(user, "Problem %s in line %d of parameter file: %.100s", msg, lineno,
                           line);
}

int getUint(const char *str)
{
    char *end = nullptr;
    errno = 0;
    unsigned long value = strtoul(str, &end, 10);
    if (errno != 0)
        return -1;
    if (*end != '\0' && *end != ' ')
        return -1;
    if (value > (unsigned long)INT_MAX)
        return -1;
    return (int)value;
}

int getRank(const char *word)
{
    static const struct {
        const char *word;
        int rank;
    } rankWords[] = {
        {"guest", 0},
        {"member", 1},
        {"wizard", 2},
        {"operator", 2},
        {"god", 3},
        {"owner", 3},
        {"disable", RANK_DISABLE},
    };
    for (const auto &r : rankWords) {
        if (wordCmp(word, r.word) == 0)
            return r.rank;
    }
    int n = getUint(word);
    if (n >= 0 && n <= RANK_DISABLE)
        return n;
    return -1;
}

/* ---- Keywords ------------------------------------------------------------ */

static int setYesNo(Load *load, char *value, const char *keyword, int *field)
{
    if (*value == '\0') {
        char msg[80];
        snprintf(msg, sizeof msg, "%s not yes or no - ignored", keyword);
        problem(load, msg);
        return 1;
    }
    if (wordMinCmp(value, "yes", 1) == 0) {
        if (field == &load->state->wizInMemberRooms && *field == 0)
            GlobalMessage("%s", theWizardsMayMsg);
        *field = 1;
    } else if (wordMinCmp(value, "no", 2) == 0) {
        *field = 0;
    }
    return 1;
}

static int kwWizInMemberRooms(Load *load, char *value)
{
    return setYesNo(load, value, "wizinmemberrooms", &load->state->wizInMemberRooms);
}

static int kwRownerInRoom(Load *load, char *value)
{
    return setYesNo(load, value, "rownerinroom", &load->state->rownerInRoom);
}

static int kwHideOperators(Load *load, char *value)
{
    return setYesNo(load, value, "hideoperators", &load->state->hideops);
}

static int kwMemberRWho(Load *load, char *value)
{
    return setYesNo(load, value, "memberrwho", &load->state->memberRWho);
}

static int kwGuestWiz(Load *load, char *value)
{
    return setYesNo(load, value, "guestwiz", &load->state->guestWiz);
}

static int kwMRoomBG(Load *load, char *value)
{
    freeText(&load->state->mRoomBG);
    if (*value == '\0')
        return 1;
    if (strlen(value) > PICTURE_NAME_MAX) {
        problem(load, "Picture file name longer than 31, mroombg set off");
        return 1;
    }
    if (wordCmp(value, "off") == 0)
        return 1;
    load->state->mRoomBG = copyText(value);
    return 1;
}

static int setOffOrNumber(Load *load, char *value, int *field, const char *missing)
{
    if (*value == '\0') {
        *field = -1;
        problem(load, missing);
    } else if (wordMinCmp(value, "off", 1) == 0) {
        *field = -1;
    } else {
        *field = strtoInt(value, nullptr);
    }
    return 1;
}

static int kwRTakeDelay(Load *load, char *value)
{
    return setOffOrNumber(load, value, &load->state->rTakeDelay,
                          "rtakedelay not off or a number - rtake disabled");
}

static int kwMRoomDiscipline(Load *load, char *value)
{
    return setOffOrNumber(
        load, value, &load->state->mroomdiscipline,
        "mroomdiscipline not off or a number - member discipline commands disabled");
}

static int kwGPageLength(Load *load, char *value)
{
    load->state->gpageLengthLimit = *value == '\0' ? 0 : strtoInt(value, nullptr);
    return 1;
}

static int kwPageLength(Load *load, char *value)
{
    load->state->pageLengthLimit = *value == '\0' ? 0 : strtoInt(value, nullptr);
    return 1;
}

static int setResponse(Load *load, char *value, char **field, const char *tooLong)
{
    freeText(field);
    if (*value == '\0')
        return 1;
    if (strlen(value) > RESPONSE_MAX) {
        problem(load, tooLong);
        return 1;
    }
    *field = copyText(value);
    return 1;
}

static int kwGPageResponse(Load *load, char *value)
{
    return setResponse(load, value, &load->state->gpageResponse,
                       "gpageresponse message longer than 250, ignored");
}

static int kwPageResponse(Load *load, char *value)
{
    return setResponse(load, value, &load->state->pageResponse,
                       "pageresponse message longer than 250, ignored");
}

/* Seconds from now until the next hh:mm:ss, or -1 when the calendar cannot
 * represent that time or the delay does not fit a timer. */
static long announceDelay(struct tm *when, time_t now)
{
    time_t at = mktime(when);
    if (at == (time_t)-1)
        return -1;
    double seconds = difftime(at, now);
    if (!(seconds > -86400.0 * 2 && seconds < (double)INT32_MAX))
        return -1;
    long delay = (long)seconds;
    if (delay < 0)
        delay += 86400;
    return delay < 0 ? -1 : delay;
}

static int kwAutoAnnounce(Load *load, char *value)
{
    const char *badTime = "autoannounce time not hh:mm:ss - autoannounce ignored";
    if (*value == '\0' || wordLength(value) != 8) {
        problem(load, "autoannounce time missing or not hh:mm:ss - autoannounce ignored");
        return 1;
    }

    time_t now = time(nullptr);
    struct tm when = *localtime(&now);
    char *p = value;
    when.tm_hour = strtoInt(p, &p);
    if (*p == ':')
        p++;
    when.tm_min = strtoInt(p, &p);
    if (*p == ':')
        p++;
    when.tm_sec = strtoInt(p, &p);
    if (*p != ' ') {
        problem(load, badTime);
        return 1;
    }

    char *message = skipBlanks(p);
    if (*message == '\0') {
        problem(load, "autoannounce message missing - autoannounce ignored");
        return 1;
    }
    size_t length = strlen(message);
    if (length > ANNOUNCE_MAX) {
        problem(load, "autoannounce message longer than 250, ignored");
        return 1;
    }
    long delay = announceDelay(&when, now);
    if (delay < 0) {
        problem(load, badTime);
        return 1;
    }

    AutoAnnounce *aa = (AutoAnnounce *)NewPtrClear((sint32)(sizeof(AutoAnnounce) + length + 1));
    TimerEvent *event = (TimerEvent *)NewPtrClear(sizeof(TimerEvent));
    if (aa == nullptr || event == nullptr) {
        if (aa != nullptr)
            DisposePtr((Ptr)aa);
        if (event != nullptr)
            DisposePtr((Ptr)event);
        loadFailed(load, "Unable to get memory for autoannounce, load failed");
        return 0;
    }

    memcpy(aa->time, value, 8);
    aa->time[8] = '\0';
    memcpy(aa->message, message, length + 1);
    aa->event = event;
    event->action = TA_AUTOANNOUNCE;
    event->userID = 0;
    event->param = aa;
    aa->next = load->state->autoannounce;
    load->state->autoannounce = aa;
    scheduleTimerEvent(load->state->myPluginID, event, (sint32)delay);
    return 1;
}

static int kwSetRank(Load *load, char *value)
{
    if (*value == '\0') {
        problem(load, "setrank: command name missing - setrank ignored");
        return 1;
    }
    CmdTable *row = findCommand(load->state, value);
    if (row == nullptr) {
        problem(load, "setrank: command not a vestrel command - setrank ignored");
        return 1;
    }
    char *word = nextWord(value);
    if (word == nullptr) {
        problem(load, "setrank: user rank missing - setrank ignored");
        return 1;
    }
    int rank = getRank(word);
    if (rank < 0 || rank > RANK_DISABLE) {
        problem(load, "setrank: user rank not valid - setrank ignored");
        return 1;
    }
    int targetRank = row->targetRank;
    word = nextWord(word);
    if (word != nullptr) {
        if (row->targetRank == RANK_DISABLE) {
            problem(load, "setrank: command can not be targeted - setrank ignored");
            return 1;
        }
        targetRank = getRank(word);
        if (targetRank < 0 || targetRank > RANK_DISABLE) {
            problem(load, "setrank: target rank not valid - setrank ignored");
            return 1;
        }
    }

    size_t n = strlen(load->line);
    StringList *node = (StringList *)NewPtrClear((sint32)(sizeof(StringList) + n + 1));
    if (node == nullptr) {
        loadFailed(load, "Unable to get memory for setrank, load failed");
        return 0;
    }
    memcpy(node->string, load->line, n + 1);
    node->next = load->state->setranks;
    load->state->setranks = node;
    row->rank = rank;
    row->targetRank = targetRank;
    return 1;
}

static const struct {
    const char *keyword;
    KeywordHandler handler;
} keywords[] = {
    {"mroombg", kwMRoomBG},
    {"wizinmemberrooms", kwWizInMemberRooms},
    {"rownerinroom", kwRownerInRoom},
    {"hideoperators", kwHideOperators},
    {"memberrwho", kwMemberRWho},
    {"rtakedelay", kwRTakeDelay},
    {"mroomdiscipline", kwMRoomDiscipline},
    {"gpagelength", kwGPageLength},
    {"pagelength", kwPageLength},
    {"gpageresponse", kwGPageResponse},
    {"pageresponse", kwPageResponse},
    {"autoannounce", kwAutoAnnounce},
    {"setrank", kwSetRank},
    {"guestwiz", kwGuestWiz},
};

/* Returns 0 when the load must end. */
static int dispatchLine(Load *load)
{
    char *lp = skipBlanks(load->line);
    if (*lp == '\0' || *lp == '#')
        return 1;
    size_t n = (size_t)wordLength(lp);
    int first = tolower((unsigned char)lp[0]);
    for (const auto &k : keywords) {
        if (k.keyword[0] == first && strlen(k.keyword) == n && wordCmp(lp, k.keyword) == 0) {
            char *value = lp + wordLength(lp);
            value = skipBlanks(value);
            return k.handler(load, value);
        }
    }
    return buildLimitValue(load->state, load->user, lp, load->lineno, load->line);
}

/* ---- Reading ------------------------------------------------------------- */

/* One line into `line` (maxlen bytes), newline removed; null at the end of
 * the file. *tooLong is set for a line that does not fit: at most 298
 * characters before a newline, 297 for a last line without one. */
static char *readline(char *line, int maxlen, FILE *f, int *tooLong)
{
    *tooLong = 0;
    if (fgets(line, maxlen, f) == nullptr)
        return nullptr;
    size_t n = strlen(line);
    if (n == 0 || line[n - 1] != '\n') {
        int c = getc(f);
        if (c == EOF && n > 0 && n <= (size_t)maxlen - 3) {
            line[n++] = '\n';
            line[n] = '\0';
        }
    }
    if (n == 0 || line[n - 1] != '\n') {
        *tooLong = 1;
        return line;
    }
    line[n - 1] = '\0';
    return line;
}

/* ---- The load ------------------------------------------------------------ */

static void resetLoadValues(MyState *state)
{
    state->rownerInRoom = 0;
    state->hideops = 0;
    state->memberRWho = 0;
    state->guestWiz = 1;
    state->rTakeDelay = -1;
    state->mroomdiscipline = -1;
    state->altMemberActive = 0;
    state->pageLengthLimit = 0;
    state->gpageLengthLimit = 0;
}

/* "Open failed ..." or "Read failed ...": to the log and the requesting
 * user. */
static void refuseFile(ServerUserRec *user, const char *what, int e, const char *path)
{
    FormattedLogMessage(user, "vestrel", "%s failed %s, errno=%d, on file %s", what, strerror(e), e,
                        path);
    if (user != nullptr)
        UserPrivateMessage(user, "%s failed %s, errno=%d, on file %s", what, strerror(e), e, path);
}

/* Reads every line; returns 0 when the load must end early. */
static int readLines(Load *load)
{
    char buffer[LINE_SIZE];
    int tooLong = 0;
    while (readline(buffer, LINE_SIZE, load->file, &tooLong) != nullptr) {
        load->lineno++;
        if (tooLong) {
            FormattedLogMessage(nullptr, "vestrel", "Line %d in file %s too long", load->lineno,
                                load->path);
            if (load->user != nullptr)
                UserPrivateMessage(load->user, "Line %d in file %s too long", load->lineno,
                                   load->path);
            return 0;
        }
        load->line = buffer;
        if (dispatchLine(load) == 0)
            return 0;
    }
    /* fgets ends at an error as at the end of the file: an error that the
     * first reading did not meet still ends the load as a failure. */
    if (ferror(load->file)) {
        refuseFile(load->user, "Read", errno, load->path);
        return 0;
    }
    return 1;
}

/* 0 when the whole file reads without error, else the error number; the
 * file is rewound. Checked before the configuration in force is let go. */
static int readError(FILE *f)
{
    char chunk[4096];
    errno = 0;
    while (fread(chunk, 1, sizeof chunk, f) == sizeof chunk)
        ;
    int e = ferror(f) ? (errno != 0 ? errno : EIO) : 0;
    rewind(f);
    return e;
}

int loadParameterFile(MyState *state, ServerUserRec *user)
{
    if (state->argc < 2) {
        FormattedLogMessage(user, "vestrel", "Usage: ../bin/vestrel.so parameter-file");
        return 0;
    }

    Load load = {state, user, nullptr, state->argv[1], 0, nullptr};
    load.file = fopen(load.path, "r");
    /* A directory opens, but reads as nothing: it is refused like a file
     * that cannot be opened, before the configuration in force is let go. */
    struct stat info;
    if (load.file != nullptr && fstat(fileno(load.file), &info) == 0 && S_ISDIR(info.st_mode)) {
        fclose(load.file);
        load.file = nullptr;
        errno = EISDIR;
    }
    if (load.file == nullptr) {
        refuseFile(user, "Open", errno, load.path);
        return 0;
    }
    /* A file that cannot be read through is refused the same way. */
    int e = readError(load.file);
    if (e != 0) {
        fclose(load.file);
        refuseFile(user, "Read", e, load.path);
        return 0;
    }

    freeLimits(state);
    resetLoadValues(state);
    if (readLines(&load) == 0) {
        fclose(load.file);
        buildLimitIndexes(state); /* the lines before the failure are in force */
        return 0;
    }

    /* The idle check, once started, repeats itself for the plug-in's life. */
    if (!state->idleScheduled) {
        if (scheduleAction(state, 0, TA_IDLE, 1) == 0) {
            fclose(load.file);
            buildLimitIndexes(state);
            return 0;
        }
        state->idleScheduled = 1;
    }
    fclose(load.file);

    sortTypeLimits(user, state);
    buildLimitIndexes(state);
    showParameters(state, user, 1);
    return 1;
}

/* Ranged entries first, the last such line of the file first; then the
 * others in file order. The list as built holds the lines in reverse. */
void sortTypeLimits(ServerUserRec *user, MyState *state)
{
    (void)user;
    for (int slot = 0; slot < NBR_LIMITS; slot++) {
        LimitValue *ranged = nullptr;
        LimitValue **rangedTail = &ranged;
        LimitValue *others = nullptr;
        LimitValue *entry = state->limits[slot];
        while (entry != nullptr) {
            LimitValue *next = entry->next;
            if (entry->roomNumbers != nullptr) {
                entry->next = nullptr;
                *rangedTail = entry;
                rangedTail = &entry->next;
            } else {
                entry->next = others;
                others = entry;
            }
            entry = next;
        }
        *rangedTail = others;
        state->limits[slot] = ranged;
    }
}

/* ---- Limit lines ------------------------------------------------------------ */

/* Only names that begin with the word's letter and have its length are
 * compared (the names are in lower case). */
int findParameter(const char *word)
{
    size_t n = (size_t)wordLength(word);
    int first = tolower((unsigned char)word[0]);
    for (int i = 0; i < NBR_LIMITS && parameterTable[i].name != nullptr; i++) {
        const char *name = parameterTable[i].name;
        if (name[0] == first && strlen(name) == n && wordCmp(word, name) == 0)
            return i;
    }
    return -1;
}

/* strtol clamped to what 32 bits can hold before the unsigned store, so
 * -1 still means unlimited and a huge number is unlimited, never wrapped. */
static uint32 readMaximum(char *p, char **end)
{
    long value = strtol(p, end, 10);
    if (value > (long)UINT32_MAX)
        return LIMIT_UNLIMITED;
    if (value < (long)INT32_MIN)
        value = INT32_MIN;
    return (uint32)value;
}

/* A decay that is not a number counts as none. */
static double readDecay(char *p, char **end)
{
    double value = strtod(p, end);
    return isnan(value) ? 0.0 : value;
}

static int isRangeWord(const char *word)
{
    return word[0] == 'r' && word[1] == 'm';
}

static int addRange(LimitValue *limit, const char *word)
{
    RoomNumbers *range = (RoomNumbers *)NewPtrClear(sizeof(RoomNumbers));
    if (range == nullptr)
        return 0;
    char *p = nullptr;
    range->low = range->high = strtoInt(word + 2, &p);
    if (*p == '-')
        range->high = strtoInt(p + 1, nullptr);
    range->next = limit->roomNumbers;
    limit->roomNumbers = range;
    return 1;
}

int isWhereCheckedOK(MyState *state, ServerUserRec *user, char *line, int lineno, char *typeList,
                     LimitValue *limit)
{
    /* Only words of the same length are compared. */
    static const struct {
        const char *word;
        int length;
        sint32 bits;
    } classWords[] = {
        {"all", 3, RC_ALL},
        {"public", 6, RC_PUBLIC},
        {"private", 7, RC_PRIVATE},
        {"member", 6, RC_MEMBER},
        {"limbo", 5, RC_LIMBO},
        {"warn", 4, RC_WARN},
        {"altmember", 9, RC_ALTMEMBER},
    };
    sint32 set = 0;
    for (char *word = skipBlanks(typeList); word != nullptr && *word != '\0';
         word = nextWord(word)) {
        int n = wordLength(word);
        int known = 0;
        for (const auto &c : classWords) {
            if (c.length == n && wordCmp(word, c.word) == 0) {
                set |= c.bits;
                if (c.bits == RC_ALTMEMBER)
                    state->altMemberActive = 1;
                known = 1;
            }
        }
        if ((n == 7 && wordCmp(word, "nowhere") == 0) || (n == 3 && wordCmp(word, "off") == 0)) {
            set = 0;
            known = 1;
        }
        if (!known && isRangeWord(word)) {
            if (addRange(limit, word) == 0)
                return 0;
            known = 1;
        }
        if (!known) {
            char msg[64];
            snprintf(msg, sizeof msg, "Unrecognized room type \"%.*s\", ignored",
                     wordLength(word) < 29 ? wordLength(word) : 29, word);
            fileContentError(state, user, line, lineno, msg);
        }
    }
    limit->roomsChecked = set;
    return 1;
}

static void freeEntry(LimitValue *limit)
{
    limit->next = nullptr;
    freeLimitList(limit);
}

int buildLimitValue(MyState *state, ServerUserRec *user, char *lp, int lineno, char *line)
{
    LimitValue *limit = (LimitValue *)NewPtrClear(sizeof(LimitValue));
    if (limit == nullptr) {
        FormattedLogMessage(nullptr, "vestrel", "Unable to get memory for LimitValue, load failed");
        if (user != nullptr)
            UserPrivateMessage(user, "Unable to get memory for LimitValue, load failed");
        return 0;
    }

    int index = findParameter(lp);
    if (index < 0) {
        freeEntry(limit);
        fileContentError(state, user, line, lineno, "unrecognizable parameter name, ignored");
        return 1;
    }
    const ParameterTable *row = &parameterTable[index];
    sint32 mask = row->paramMask;
    char *p = skipBlanks(lp + wordLength(lp));
    char msg[80];

    if (*p == '\0') {
        if (row->defaultValue == nullptr) {
            snprintf(msg, sizeof msg, "No %s data specified, entry ignored", row->name);
            fileContentError(state, user, line, lineno, msg);
            freeEntry(limit);
            return 1;
        }
        snprintf(msg, sizeof msg, "No %s data specified, default used", row->name);
        fileContentError(state, user, line, lineno, msg);
        limit->maximum = row->defaultValue->maximum;
        limit->decay = row->defaultValue->decay;
        limit->roomsChecked = row->defaultValue->roomsChecked;
        limit->string = nullptr; /* no built-in default carries a text */
    } else {
        if (mask & PM_MAXIMUM)
            limit->maximum = readMaximum(p, &p);
        if (mask & PM_ROOMID) {
            p = skipBlanks(p);
            if (wordCmp(p, "currentroom") == 0) {
                limit->maximum = 0;
                p += wordLength(p);
            } else {
                limit->maximum = readMaximum(p, &p);
            }
        }
        if (mask & PM_DECAY)
            limit->decay = readDecay(p, &p);
        if (mask & PM_STRING) {
            p = skipBlanks(p);
            if (*p != '\0')
                limit->string = copyText(p);
        } else if (isWhereCheckedOK(state, user, line, lineno, p, limit) == 0) {
            FormattedLogMessage(nullptr, "vestrel",
                                "Unable to get memory for RoomNumber, load failed");
            if (user != nullptr)
                UserPrivateMessage(user, "Unable to get memory for RoomNumber, load failed");
            freeEntry(limit);
            return 0;
        }
    }

    limit->line = lineno;
    limit->next = state->limits[index];
    state->limits[index] = limit;
    return 1;
}

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

/* The setrank lines are reported once and then released. */
static void reportSetRanks(MyState *state, ServerUserRec *user)
{
    while (state->setranks != nullptr) {
        StringList *node = state->setranks;
        state->setranks = node->next;
        logMessage(user, node->string, 1);
        DisposePtr((Ptr)node);
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
