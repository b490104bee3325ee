// The command table's data, the word functions and command lookup.
#include "fixture.h"

#include <cstring>
#include <set>

namespace
{

struct Row {
    const char *command;
    int minimum;
    int helpClass;
    int flags;
    int rank;
    int targetRank;
    const char *shortHelp;
    const char *longHelp;
};

const Row expectedRows[] = {
    {"chat", 0, CL_MANAGING, CF_NEEDARGS | CF_WHISPERONLY, 2, 2, "`chat <message>",
     "Generate chat for a user."},
    {"clean", 0, CL_MANAGING, CF_NOARGS, 2, 4, "`clean",
     "Removes all loose props and paint in the current room."},
    {"dress", 0, CL_MANAGING, CF_NAMETARGET, 2, 2, "`dress <user>",
     "Dresses <user> in the props you are currently wearing."},
    {"er", 0, CL_NONE, CF_NOARGS | CF_HOSTCMD, 2, 4, "`er",
     "Goto the room from which the last operator page was sent."},
    {"find", 0, CL_USER, CF_ANYRANK | CF_NAMETARGET, 0, 0, "`find <user>",
     "Display in which room <user> currently is."},
    {"gmsg", 0, CL_MANAGING, CF_NEEDARGS, 2, 4, "`gmsg <message>",
     "Sends <message> to everyone on the server."},
    {"goto", 0, CL_USER, CF_ANYRANK | CF_NAMETARGET, 0, 0, "`goto <user>",
     "Go to the room where <user> currently is."},
    {"gotoroom", 0, CL_USER, CF_NEEDARGS, 0, 2, "`gotoroom <roomID>",
     "Goto the room whose ID number is <roomID>."},
    {"gpage", 0, CL_USER, CF_NEEDARGS, 0, 4, "`gpage <message>", "Page the owners with <message>."},
    {"killx", 0, CL_MANAGING, CF_WHISPERONLY, 2, 2, "`killx <comment>",
     "Kill a user and comment on it."},
    {"listgag", 0, CL_MANAGING, CF_NAMETARGET | CF_NOTSELF, 2, 2, "`listgag <user>",
     "Prevent user from listing users or available rooms."},
    {"move", 0, CL_MANAGING, CF_NEEDARGS, 2, 2, "`move <x> <y>", "Move the user (x,y) pixels."},
    {"myroom", 0, CL_USER, CF_NOARGS | CF_ROOMOWNER, 1, 4, "`myroom",
     "Go to the room that you own."},
    {"naked", 0, CL_USER, CF_NAMETARGET, 0, 2, "`naked <user>", "Remove all props being worn."},
    {"namegag", 0, CL_MANAGING, CF_WHISPERONLY, 2, 2, "`namegag [<newname>]",
     "Stop a user from changing names and force use of <newname>"},
    {"name", 0, CL_MANAGING, CF_WHISPERONLY, 2, 2, "`name [<newname>]",
     "Changes username to <newname>"},
    {"newroom", 2, CL_NONE, CF_HOSTCMD, 1, 4, "`newroom [<name>]",
     "Create a new room (one allowed per user)."},
    {"nolooseprops", 0, CL_PERMISSIONS, CF_ONOFF, 2, 4, "`nolooseprops [on|off]",
     "Control if loose props can be dropped in the current room"},
    {"pagegag", 0, CL_MANAGING, CF_NAMETARGET | CF_NOTSELF, 2, 2, "`pagegag <user>",
     "Prevent user from sending pages."},
    {"pdel", 0, CL_MANAGING, CF_NOARGS, 2, 4, "`pdel", "Clear loose props in a room"},
    {"pinx", 0, CL_MANAGING, CF_NAMETARGET | CF_NOTSELF, 2, 2, "`pinx <user>",
     "Pin <user> in an alternate location."},
    {"vestrel", 0, CL_ADMINISTRATION, CF_NEEDARGS, 2, 4, "`vestrel reload",
     "Reload the vestrel control file from disk."},
    {"propfreeze", 0, CL_PERMISSIONS, CF_ONOFF, 2, 4, "`propfreeze",
     "Freeze or unfreeze loose props in the current room."},
    {"rannounce", 0, CL_MANAGING, CF_NEEDARGS | CF_MROOM, 2, 4, "`rannounce <message>",
     "Send <message> to everyone in the current (member created) room."},
    {"rbanlist", 0, CL_RMANAGING, CF_NOARGS | CF_MROOM, 2, 4, "`rbanlist",
     "List the users who have been disciplined  in the current (member created) room."},
    {"reset", 0, CL_USER, CF_NOARGS, 0, 4, "`reset",
     "Reset the user's client state to match the server."},
    {"rdelete", 0, CL_NONE, CF_HOSTCMD, 1, 4, "`rdelete", "Delete this (member created) room."},
    {"respond", 2, CL_NONE, CF_NEEDARGS | CF_HOSTCMD, 0, 4, "`respond <message>",
     "Reply to the last sender of a private message with <message>."},
    {"rgag", 0, CL_RMANAGING, CF_MROOM | CF_NAMETARGET | CF_NOTSELF, 2, 2, "`rgag <user>",
     "Gag <user> in the current (member created) room."},
    {"rkick", 2, CL_NONE, CF_MROOM | CF_NAMETARGET | CF_HOSTCMD | CF_NOTSELF, 2, 2, "`rkick <user>",
     "Kick <user> out of the (member created) room."},
    {"rlimit", 0, CL_RPERMISSIONS, CF_MROOM | CF_ONOFF, 2, 4, "`rlimit [on|off]",
     "Use alternate activity limits in the (member created) room."},
    {"rlockdown", 0, CL_RPERMISSIONS, CF_NOARGS | CF_MROOM, 2, 4, "`rlockdown",
     "Set rscripts off, rpaint off, rnolooseprops on, and rlimit on in the current (member "
     "created) room."},
    {"rmsg", 0, CL_MANAGING, CF_NEEDARGS, 2, 4, "`rmsg <message>",
     "Send <message> to everyone in the room"},
    {"rnodupavatars", 0, CL_RPERMISSIONS, CF_MROOM | CF_ONOFF, 2, 4, "`rnodupavatars [on|off]",
     "Limit duplicate avatars in the current (member created) room."},
    {"rnolooseprops", 0, CL_RPERMISSIONS, CF_MROOM | CF_ONOFF, 2, 4, "`rnolooseprops [on|off]",
     "Control whether loose props are permitted in the current (member created) room"},
    {"roompage", 0, CL_USER, CF_NEEDARGS, 0, 4, "`roompage <message>",
     "Summon help from the operators in the current room with <message>."},
    {"roomprefs", 0, CL_PERMISSIONS, CF_NOARGS, 2, 4, "`roomprefs",
     "Show information about the current room."},
    {"roperatorsonly", 0, CL_RPERMISSIONS, CF_MROOM | CF_ONOFF, 2, 4, "`roperatorsonly [on|off]",
     "Control whether members are permitted in the current (member created) room"},
    {"rowner", 0, CL_NONE, CF_MROOM | CF_ANYRANK | CF_NAMETARGET | CF_HOSTCMD, 1, 1,
     "`rowner <user>", "Transfer ownership of the current (member created) room to <user>."},
    {"rpage", 0, CL_USER, CF_NEEDARGS, 0, 4, "`rpage <message>",
     "Send <message> to the owner of the current (member created) room."},
    {"rpin", 0, CL_RMANAGING, CF_MROOM | CF_NAMETARGET | CF_NOTSELF, 2, 4, "`rpin <user>",
     "Pin <user> when in the current (member created) room."},
    {"rpropfreeze", 0, CL_RPERMISSIONS, CF_MROOM | CF_ONOFF, 2, 4, "`rpropfreeze [on|off]",
     "Control whether loose props are frozed in the current (member created) room."},
    {"rpropgag", 0, CL_RMANAGING, CF_MROOM | CF_NAMETARGET | CF_NOTSELF, 2, 4, "`rpropgag <user>",
     "Propgag <user> when in the current (member created) room."},
    {"rtake", 0, CL_USER, CF_NOARGS, 1, 4, "`rtake",
     "Take ownership of the current (member created) room after the owner has been disconnected."},
    {"rungag", 0, CL_RMANAGING, CF_MROOM | CF_NAMETARGET, 2, 2, "`rungag <user>",
     "Ungag <user> when in the current (member created) room."},
    {"runkick", 4, CL_NONE, CF_MROOM | CF_NAMETARGET | CF_HOSTCMD, 2, 2, "`runkick <user>",
     "Rescind kicking <user> out of the (member created) room."},
    {"runpin", 0, CL_RMANAGING, CF_MROOM | CF_NAMETARGET, 2, 2, "`runpin <user>",
     "Unpin <user> when in the current (member created) room."},
    {"runpropgag", 0, CL_RMANAGING, CF_MROOM | CF_NAMETARGET, 2, 2, "`runpropgag <user>",
     "Unpropgag <user> when in the current (member created) room."},
    {"rwho", 0, CL_USER, CF_NOARGS, 0, 4, "`rwho", "Enquire about the room's owner."},
    {"setcolor", 0, CL_USER, CF_NEEDARGS, 0, 2, "`setcolor <colornbr>",
     "Changes your face color to <colornbr>.  (0-15 are valid colors.)"},
    {"setface", 0, CL_USER, CF_NEEDARGS, 0, 2, "`setface <facenbr>",
     "Changes your face to <facenbr>. (0-15 are valid faces.)"},
    {"setpos", 0, CL_MANAGING, CF_NEEDARGS, 2, 2, "`setpos <x> <y>",
     "Move to the (x,y) position in the room."},
    {"signoff", 0, CL_MANAGING, CF_NAMETARGET, 0, 2, "`signoff", "Leave this Corvex server."},
    {"take", 0, CL_USER, CF_ANYRANK | CF_NAMETARGET, 0, 0, "`take <user>",
     "Take a user's avatar in a room where taking is permitted."},
    {"unlistgag", 0, CL_MANAGING, CF_NAMETARGET, 2, 2, "`unlistgag <user>",
     "Allow user to list users or available rooms."},
    {"unnamegag", 0, CL_MANAGING, CF_NAMETARGET, 2, 2, "`unnamegag <user>",
     "Allow a user to change names."},
    {"unpagegag", 0, CL_MANAGING, CF_NAMETARGET, 2, 2, "`unpagegag <user>",
     "Permit user to send pages."},
    {"userprefs", 0, CL_MANAGING, CF_NAMETARGET, 2, 2, "`userprefs",
     "Reports user's current stats."},
};

TEST(CommandTable, HoldsEveryRowAsSpecifiedInOrder)
{
    ASSERT_EQ(std::size(expectedRows), static_cast<size_t>(NBR_COMMANDS));
    std::set<std::string> words;
    for (int i = 0; i < NBR_COMMANDS; i++) {
        const Row &e = expectedRows[i];
        const CmdTable &row = cmdTable[i];
        SCOPED_TRACE(e.command);
        EXPECT_STREQ(row.command, e.command);
        EXPECT_EQ(row.minimum, e.minimum);
        EXPECT_EQ((row.flags & CF_CLASSMASK) >> CF_CLASSSHIFT, e.helpClass);
        EXPECT_EQ(row.flags & ~CF_CLASSMASK, e.flags);
        EXPECT_EQ(row.rank, e.rank);
        EXPECT_EQ(row.targetRank, e.targetRank);
        EXPECT_STREQ(row.shortHelp, e.shortHelp);
        EXPECT_STREQ(row.longHelp, e.longHelp);
        EXPECT_TRUE(words.insert(row.command).second) << "duplicate word";
        EXPECT_LT(std::strlen("; Usage: ") + std::strlen(row.shortHelp) + std::strlen(" -- ") +
                      std::strlen(row.longHelp),
                  static_cast<size_t>(HELP_LINE_SIZE))
            << "the help line is cut";
    }
    EXPECT_STREQ(cmdTable[24].longHelp,
                 "List the users who have been disciplined  in the current (member created) room.");
    EXPECT_STREQ(cmdTable[49].longHelp,
                 "Changes your face color to <colornbr>.  (0-15 are valid colors.)");
}

TEST(Words, LengthAndNextWord)
{
    struct Case {
        const char *text;
        int length;
        const char *next;
    };
    const Case cases[] = {
        {"gmsg hello world", 4, "hello world"},
        {"gmsg\t \thello", 4, "hello"},
        {"gmsg,word", 9, nullptr},
        {"gmsg   ", 4, nullptr},
        {"", 0, nullptr},
        {"  lead", 0, "lead"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(wordLength(c.text), c.length);
        const char *next = nextWord(c.text);
        EXPECT_STREQ(next == nullptr ? "(null)" : next, c.next == nullptr ? "(null)" : c.next);
    }
}

TEST(Words, Comparisons)
{
    struct Case {
        const char *a;
        const char *b;
        int minimum;
        bool wordEqual;
        bool abbreviates;
    };
    const Case cases[] = {
        {"HELP", "help", 4, true, true},     {"help me", "help", 4, true, true},
        {"hel", "help", 4, false, false},    {"hel", "help", 3, false, true},
        {"helpme", "help", 4, false, false}, {"y", "yes", 1, false, true},
        {"Ye", "yes", 1, false, true},       {"N", "no", 2, false, false},
        {"yes,", "yes", 1, false, true},     {"", "yes", 0, false, true},
        {"Yes", "yes", 3, true, true},       {"jes", "yes", 1, false, false},
        {",yes", "yes", 0, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(wordCmp(c.a, c.b) == 0, c.wordEqual);
        EXPECT_EQ(wordMinCmp(c.a, c.b, c.minimum) == 0, c.abbreviates);
    }
    EXPECT_EQ(strcmpci("Go Home", "go home"), 0);
    EXPECT_NE(strcmpci("go home ", "go home"), 0);
}

TEST(Words, FindCommandWithAbbreviations)
{
    struct Case {
        const char *typed;
        const char *found;
    };
    const Case cases[] = {
        {"re", "respond"},
        {"res", "respond"},
        {"reset", "reset"},
        {"rk", "rkick"},
        {"rki bob", "rkick"},
        {"runk", "runkick"},
        {"ne", "newroom"},
        {"r", nullptr},
        {"gmsg,hello", "gmsg"},
        {"GMSG", "gmsg"},
        {"gms", nullptr},
        {"help", nullptr},
        {"vestrel", "vestrel"},
        {"rkicks", nullptr},
        {"run", nullptr},
        {"resp", "respond"},
        {"respondx", nullptr},
        {"setcolor", "setcolor"},
        // Rows are told apart by the first letter, in any case.
        {"Find", "find"},
        {"RE", "respond"},
        {"", nullptr},
        {"-find", nullptr},
        {"1", nullptr},
        {"u", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        CmdTable *row = findCommand(nullptr, c.typed);
        EXPECT_STREQ(row == nullptr ? "(none)" : row->command,
                     c.found == nullptr ? "(none)" : c.found);
    }
}

} // namespace
