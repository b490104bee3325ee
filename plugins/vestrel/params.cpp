/* The parameter file: read at start and on "`vestrel reload". Keyword lines
 * set switches, numbers, texts, announcements and command ranks; every
 * other line is a limit line that adds an entry to one limit slot
 * (limitlines.cpp). A whole load ends with the configuration report
 * (paramreport.cpp). What a load reads goes into MyState, which owns it. */
#include <ctype.h>
#include <errno.h>
#include <limits.h>
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
