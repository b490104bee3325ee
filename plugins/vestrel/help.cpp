/* Help: the answers to `help, with or without a class or a command name,
 * from the command table's rows and ranks. */
#include <string.h>

#include "vestrel.h"

#define ALL_CLASSES (-1)

static int rowClass(const CmdTable *row)
{
    return (row->flags & CF_CLASSMASK) >> CF_CLASSSHIFT;
}

/* A room owner sees and may use the member-room and room-owner rows. */
static int ownerMask(const ServerUserRec *user)
{
    return user->lastOwnedRoom != nullptr ? (CF_MROOM | CF_ROOMOWNER) : 0;
}

static int mayUse(const CmdTable *row, int rank, int mask)
{
    return row->rank < RANK_DISABLE && (rank >= row->rank || (row->flags & mask) != 0);
}

/* Appends `text` to the `used` bytes of a HELP_LINE_SIZE line, cut at its
 * end (the table's texts fit: a test holds them to it). */
static size_t appendHelp(char *line, size_t used, const char *text)
{
    size_t n = strlen(text);
    if (n > HELP_LINE_SIZE - 1 - used)
        n = HELP_LINE_SIZE - 1 - used;
    memcpy(line + used, text, n);
    return used + n;
}

/* A row's help line, `lead` then its two texts: joined here and handed to
 * the host whole, since formatting the pieces costs the host more than
 * the rest of the answer. */
static void sayHelpLine(ServerUserRec *user, const char *lead, const CmdTable *row)
{
    char line[HELP_LINE_SIZE];
    size_t used = appendHelp(line, 0, lead);
    used = appendHelp(line, used, row->shortHelp);
    used = appendHelp(line, used, " -- ");
    used = appendHelp(line, used, row->longHelp);
    line[used] = '\0';
    UserPrivateMessage(user, "%s", line);
}

static void listClass(ServerUserRec *user, int helpClass)
{
    int rank = UserRank(user);
    int mask = ownerMask(user);
    for (int i = 0; i < NBR_COMMANDS; i++) {
        const CmdTable *row = &cmdTable[i];
        if (!mayUse(row, rank, mask) || (row->flags & CF_HOSTCMD))
            continue;
        if (helpClass != ALL_CLASSES && rowClass(row) != helpClass)
            continue;
        sayHelpLine(user, "; ", row);
    }
}

static void privateLines(ServerUserRec *user, const char *const *lines, int count)
{
    for (int i = 0; i < count; i++)
        UserPrivateMessage(user, "%s", lines[i]);
}

static const char *const kFirstGroup[] = {
    "; List of classes of commands",
    ";    user -- Commands available to unprivileged users",
};
static const char *const kSecondGroup[] = {
    ";    mrooms -- Commands for managing a member created room",
    ";    rmanaging -- Commands for managing user in a member created room",
    ";    rpermissions -- Commands controlling what users can do in a member created room",
};
static const char *const kThirdGroup[] = {
    "; Type `help followed by a class name for a list of commands in that class.",
    "; Type `help followed by a command name for full documentation of that command.",
    "; Command name abbreviations are allowed if unambiguous.",
};

/* Help without an argument: a user's own commands, or the classes. */
static int helpOverview(ServerUserRec *user)
{
    int rank = UserRank(user);
    int mask = ownerMask(user);
    if (rank <= 1 && mask == 0) {
        listClass(user, ALL_CLASSES);
        return 0;
    }
    privateLines(user, kFirstGroup, 2);
    privateLines(user, kSecondGroup, 3);
    if (rank >= 2) {
        privateLines(user, kThirdGroup, 3);
        return 0;
    }
    return 1;
}

static const struct {
    const char *word;
    int minimum;
    int helpClass;
    const char *header;
    int result; /* 1: the plug-in's answer is the whole answer */
} classWords[] = {
    {"user", 4, CL_USER, "; Commands available to unprivileged users", 0},
    {"rmanaging", 6, CL_RMANAGING, "; Commands for managing users in a (member created) room", 1},
    {"rpermissions", 5, CL_RPERMISSIONS,
     "; Commands controlling what users can do in a (member created) room", 1},
    {"managing", 5, CL_MANAGING, "; Commands for operators to manage the online population:", 0},
    {"permissions", 4, CL_PERMISSIONS,
     "; Commands controlling what users can do inside this Corvex:", 0},
    {"administration", 5, CL_ADMINISTRATION,
     "; Commands for server operations and administration:", 0},
    {"all", 3, ALL_CLASSES, "; All commands:", 0},
};

int isCommandExecuted(ServerState *serverState, MyState *state, char *line, UserID target)
{
    (void)target;
    ServerUserRec *user = serverState->currentUser;
    if (user == nullptr || !isCommandLine(line) || wordCmp(line + 1, "help") != 0)
        return 0;
    char *arg = nextWord(line);
    if (arg == nullptr)
        return helpOverview(user);

    int first = firstLetter(arg);
    for (const auto &c : classWords) {
        if (c.word[0] == first && wordMinCmp(arg, c.word, c.minimum) == 0) {
            UserPrivateMessage(user, "%s", c.header);
            listClass(user, c.helpClass);
            return c.result;
        }
    }

    /* "mrooms" and the host's own commands are the host's to explain. */
    if (isCommandLine(arg))
        arg++;
    CmdTable *row = findCommand(state, arg);
    if (row == nullptr || (row->flags & CF_HOSTCMD))
        return 0;
    if (!mayUse(row, UserRank(user), ownerMask(user)))
        return 0;
    sayHelpLine(user, "; Usage: ", row);
    return 1;
}
