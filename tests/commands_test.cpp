// The command interpreter: help, chat-goto phrases, dispatch and reload.
#include "fixture.h"

namespace
{

class Commands : public HostTest
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(start("chatgoto 5 take me to five\nchatgoto 9 to the vault\ngodonly rm9\n"));
        host->createRoom(5, "Five");
        host->createRoom(9, "Vault");
        host->createRoom(7, "Mel's");
        guest = connect("guest", 0);
        mel = connect("mel");
        host->setRoomOwner(7, mel);
        bob = connect("bob");
        wiz = connect("wiz", 2);
        god = connect("god", 3);
        host->advance(2);
        lines();
    }

    // Whether the line reached the host (shown or run as the host's own).
    bool reachedHost(const std::vector<std::string> &out, ServerUserRec *u)
    {
        std::string dropped = "dropped talk from " + host->handleOf(u);
        std::string droppedWhisper = "dropped whis from " + host->handleOf(u);
        return std::find(out.begin(), out.end(), dropped) == out.end() &&
               std::find(out.begin(), out.end(), droppedWhisper) == out.end();
    }

    ServerUserRec *guest = nullptr, *mel = nullptr, *bob = nullptr, *wiz = nullptr, *god = nullptr;
};

std::vector<std::string> privately(const std::vector<std::string> &out, const std::string &who)
{
    std::vector<std::string> lines;
    const std::string prefix = who + " (private): ";
    for (const std::string &l : out) {
        if (l.rfind(prefix, 0) == 0)
            lines.push_back(l.substr(prefix.size()));
    }
    return lines;
}

// The plug-in's help lines, which begin with "; ".
std::vector<std::string> help(const std::vector<std::string> &out, const std::string &who)
{
    std::vector<std::string> lines;
    for (const std::string &l : privately(out, who)) {
        if (l.rfind(";", 0) == 0)
            lines.push_back(l);
    }
    return lines;
}

TEST_F(Commands, HelpWordsAndTheirResults)
{
    struct Case {
        const char *line;
        bool helpAnswered; // the plug-in printed help lines
        bool consumed;     // the line stops at the plug-in
    };
    const Case cases[] = {
        {"`HELP rgag", true, true},      {"'help rgag", true, true},
        {"`hel rgag", false, false},     {"`helpme rgag", false, false},
        {"`help rmanag", true, true},    {"`help perm", true, false},
        {"`help per", false, false},     {"`help mrooms", false, false},
        {"`help newroom", false, false}, {"`help `rgag", true, true},
        {"`help all", true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        auto out = type(wiz, c.line);
        EXPECT_EQ(!help(out, "wiz").empty(), c.helpAnswered);
        EXPECT_EQ(!reachedHost(out, wiz), c.consumed);
    }
}

TEST_F(Commands, HelpForOneCommandFollowsRankAndOwnership)
{
    const std::string usage =
        "; Usage: `rgag <user> -- Gag <user> in the current (member created) room.";
    EXPECT_EQ(privately(type(wiz, "`help rgag"), "wiz"), std::vector<std::string>{usage});
    EXPECT_EQ(privately(type(mel, "`help `rgag"), "mel"), std::vector<std::string>{usage})
        << "a member who owns a room";
    auto out = type(guest, "`help rgag");
    EXPECT_TRUE(help(out, "guest").empty());
    EXPECT_TRUE(reachedHost(out, guest)) << "the host answers";
}

TEST_F(Commands, HelpClassListsAndHeaders)
{
    auto out = privately(type(wiz, "`help rmanag"), "wiz");
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[0], "; Commands for managing users in a (member created) room");
    EXPECT_EQ(out[1], "; `rbanlist -- List the users who have been disciplined  in the current "
                      "(member created) room.");
    EXPECT_EQ(out.size(), 8u) << "header and the seven rmanaging rows";

    out = help(type(bob, "`help perm"), "bob");
    EXPECT_EQ(
        out,
        std::vector<std::string>{"; Commands controlling what users can do inside this Corvex:"})
        << "nothing of that class a member may use";
}

TEST_F(Commands, HelpWithoutArgument)
{
    auto out = type(guest, "`help");
    auto lines = help(out, "guest");
    EXPECT_EQ(lines.front(), "; `find <user> -- Display in which room <user> currently is.")
        << "a guest's own commands, no header";
    EXPECT_TRUE(reachedHost(out, guest));
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string &l) { return l.find("rgag") != std::string::npos; }),
        0);

    out = type(mel, "`help");
    EXPECT_EQ(help(out, "mel"),
              (std::vector<std::string>{
                  "; List of classes of commands",
                  ";    user -- Commands available to unprivileged users",
                  ";    mrooms -- Commands for managing a member created room",
                  ";    rmanaging -- Commands for managing user in a member created room",
                  ";    rpermissions -- Commands controlling what users can do in a member "
                  "created room",
              }));
    EXPECT_FALSE(reachedHost(out, mel));

    out = type(wiz, "`help");
    EXPECT_EQ(help(out, "wiz").size(), 8u) << "the three groups";
    EXPECT_TRUE(reachedHost(out, wiz));
}

TEST_F(Commands, DispatcherRefusals)
{
    host->gotoRoom(mel, 7);
    host->gotoRoom(bob, 7);
    host->gotoRoom(wiz, 7);
    struct Case {
        const char *name;
        ServerUserRec *speaker;
        const char *line;
        const char *message;
    };
    const Case cases[] = {
        {"a god's rgag in a public room", god, "`rgag bob",
         "god: Command must be given in a member room"},
        {"an owner aims rgag at a wizard", mel, "`rgag wiz", "mel: You can't control wiz"},
        {"a member who is not the owner", bob, "`rgag mel",
         "bob: Sorry - you are not the owner of this room"},
        {"a member's operator command", bob, "`gmsg hello",
         "bob: Sorry - you are not privileged to use that command"},
        {"a wizard's rpin on another in someone's room", wiz, "`rpin bob",
         "wiz: Usage: `rpin <user>"},
        {"gmsg with a comma and no blank", wiz, "`gmsg,word", "wiz: Usage: `gmsg <message>"},
        {"reset with an argument", bob, "`reset now", "bob: Usage: `reset"},
        {"pagegag aimed at oneself", wiz, "`pagegag",
         "wiz: Usage: `pagegag <user> (can be whispered to another user)"},
        {"a whisper-only command said aloud", wiz, "`name Fred",
         "wiz: `name [<newname>] (must be whispered to another user)"},
        {"a named target not found", wiz, "`find nobody here", "wiz: User nobody here not found"},
        {"vestrel without argument", wiz, "`vestrel", "wiz: Usage: `vestrel reload"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto out = type(c.speaker, c.line);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.front(), c.message);
        EXPECT_FALSE(reachedHost(out, c.speaker));
    }
}

TEST_F(Commands, OwnerMayAimAndWizardOfTheRoomMayNot)
{
    host->gotoRoom(mel, 7);
    host->gotoRoom(bob, 7);
    auto out = type(mel, "`rpin bob");
    EXPECT_TRUE(reachedHost(out, mel)) << "past the dispatcher; no handler consumes it yet";
    EXPECT_TRUE(std::none_of(out.begin(), out.end(),
                             [](const std::string &l) { return l.rfind("mel: Usage", 0) == 0; }));
}

TEST_F(Commands, CommandWordsWithAbbreviations)
{
    struct Case {
        const char *line;
        const char *first; // the first line printed
    };
    const Case cases[] = {
        {"`r bob", "wiz says: `r bob"},
        {"`res", "wiz: Usage: `respond <message>"},
        {"`rk bob", "wiz: Command must be given in a member room"},
        {"`reset", "wiz <- desc wiz face 0 color 0 props none"},
        {"`frobnicate", "wiz says: `frobnicate"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        auto out = type(wiz, c.line);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.front(), c.first);
    }
}

TEST_F(Commands, SwitchArgumentsShowTheirSyntaxAndGoOn)
{
    host->gotoRoom(mel, 7);
    for (const char *line : {"`rlimit maybe", "`rlimit ON"}) {
        SCOPED_TRACE(line);
        auto out = type(mel, line);
        ASSERT_GE(out.size(), 2u);
        EXPECT_EQ(out[0], "mel: `rlimit [on|off]");
        EXPECT_EQ(out[1], "mel: rlimit not available on this server") << "the handler still runs";
    }
    auto out = type(mel, "`rlimit on");
    EXPECT_NE(out.front(), "mel: `rlimit [on|off]");
}

TEST_F(Commands, NoRoomConsumesCommandsSilently)
{
    bob->user.roomID = 99;
    EXPECT_EQ(type(bob, "`gmsg hello"), std::vector<std::string>{"dropped talk from bob"});
    bob->user.roomID = 0;
}

TEST_F(Commands, ChatGotoPhrases)
{
    auto out = type(bob, "Take Me To FIVE");
    EXPECT_EQ(bob->user.roomID, 5) << "the whole line, in any case";
    EXPECT_FALSE(reachedHost(out, bob));

    type(bob, "take me to five", mel);
    EXPECT_EQ(bob->user.roomID, 5) << "a member's whisper moves himself";
    EXPECT_EQ(mel->user.roomID, 0);

    out = type(wiz, "take me to five", mel);
    EXPECT_EQ(mel->user.roomID, 5) << "an operator's whisper moves its target";
    EXPECT_NE(std::find(out.begin(), out.end(),
                        "log [chatgoto] wiz: {wiz} sent {mel} to room 5 by chatgoto"),
              out.end());

    out = type(wiz, "take me to five", god);
    EXPECT_EQ(out.front(), "wiz: You can't move god");

    out = type(bob, "to the vault");
    EXPECT_EQ(out.front(), "bob: Sorry, only owners are permitted in that room");
    EXPECT_NE(std::find(out.begin(), out.end(), "bob says: to the vault"), out.end())
        << "a refused phrase goes on as chat";
    EXPECT_EQ(bob->user.roomID, 5);

    out = type(bob, "take me to five, please");
    EXPECT_NE(std::find(out.begin(), out.end(), "bob says: take me to five, please"), out.end());
}

TEST_F(Commands, ChatGotoToTheCurrentRoom)
{
    writeParams("chatgoto currentroom refresh\n");
    ASSERT_EQ(loadParameterFile(state(), nullptr), 1);
    host->gotoRoom(bob, 5);
    auto out = type(bob, "refresh");
    EXPECT_EQ(bob->user.roomID, 5);
    EXPECT_FALSE(reachedHost(out, bob));
}

// Lines are matched against the phrases of the load in force, whatever
// the case of their first letter, and a line that begins otherwise than
// every phrase is chat.
TEST_F(Commands, ChatGotoPhrasesOfEachLoad)
{
    writeParams("chatgoto 5 Onward\nchatgoto 5 #five\n");
    ASSERT_EQ(loadParameterFile(state(), nullptr), 1);
    struct Case {
        const char *line;
        bool moves;
    };
    const Case cases[] = {
        {"onward", true}, {"ONWARD", true}, {"Onward", true},           {"#five", true},
        {"#FIVE", true},  {"nward", false}, {"take me to five", false}, {"onward!", false},
        {"", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        host->gotoRoom(bob, 0);
        ASSERT_EQ(bob->user.roomID, 0);
        auto out = type(bob, c.line);
        EXPECT_EQ(bob->user.roomID, c.moves ? 5 : 0);
        EXPECT_EQ(reachedHost(out, bob), !c.moves);
    }
}

TEST_F(Commands, VestrelReloadReportsToTheOperator)
{
    writeParams("chat 10 1 public\n");
    auto out = type(wiz, "`vestrel reload");
    auto report = privately(out, "wiz");
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.front(), "; chat 10 1 public ");
    EXPECT_NE(std::find(out.begin(), out.end(), "log [vestrel] wiz: chat 10 1 public "), out.end());
    EXPECT_NE(state()->limits[L_CHAT], nullptr);
    EXPECT_FALSE(reachedHost(out, wiz));

    out = type(wiz, "`vestrel restart");
    EXPECT_EQ(privately(out, "wiz"),
              (std::vector<std::string>{"; vestrel usage:",
                                        "; `vestrel reload - reload parameter file"}));

    writeParams(std::string(400, 'x') + "\n");
    out = type(wiz, "`vestrel reload");
    EXPECT_EQ(privately(out, "wiz"),
              std::vector<std::string>{"Line 1 in file " + paramPath + " too long"});
}

} // namespace
