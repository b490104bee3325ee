// The user and operator commands: what they change, say and log.
#include "fixture.h"

#include <cstdio>

namespace
{

class UserCommands : public HostTest
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(start("take rm5\npinx 300 200 rm7\n"));
        host->createRoom(5, "Five");
        host->createRoom(7, "Seven");
        olga = connect("olga", 2);
        bob = connect("bob");
        carol = connect("carol", 1, 5);
        host->advance(2);
        lines();
    }

    // The operator log line of an action on a user, as the host's key
    // texts make it.
    std::string actionLog(const char *action, ServerUserRec *actor, ServerUserRec *target)
    {
        char ip[IP_TEXT_SIZE], name[USER_NAME_SIZE], line[256];
        getUserIP(ip, target);
        getCUserName(name, target);
        std::snprintf(line, sizeof line, "log [%s] %s: %s K1-%08X K0-%08X \"%s\"", action,
                      host->handleOf(actor).c_str(), ip, target->crc ^ target->counter,
                      target->puidCtr, name);
        return line;
    }

    std::string nameOf(ServerUserRec *u)
    {
        char name[USER_NAME_SIZE];
        getCUserName(name, u);
        return name;
    }

    ServerUserRec *olga = nullptr, *bob = nullptr, *carol = nullptr;
};

TEST_F(UserCommands, MoveAndSetposReadTheirNumbersWithoutWrapping)
{
    struct Case {
        const char *line;
        const char *message; // what the speaker is told, or null
        int h, v;            // bob's position afterwards
    };
    const Case cases[] = {
        {"`move -10 5", nullptr, 90, 105},
        {"`move -200 0", nullptr, 0, 100},
        {"`move 40000 1", "olga: Motion must be <number> <number>", 100, 100},
        {"`move 70000 1", "olga: Motion must be <number> <number>", 100, 100},
        {"`move 1 west", "olga: Motion must be <number> <number>", 100, 100},
        {"`move 10", "olga: Usage: `move <x> <y> (can be whispered to another user)", 100, 100},
        {"`move 32767 32767", nullptr, 32767, 32767},
        {"`setpos 0 0", nullptr, 0, 0},
        {"`setpos 250 120", nullptr, 250, 120},
        {"`setpos 40000 5", "olga: Position must be greater than 0", 100, 100},
        {"`setpos 70000 5", "olga: Position must be greater than 0", 100, 100},
        {"`setpos 5 x", "olga: Position must be greater than 0", 100, 100},
        {"`setpos 10", "olga: Usage: `setpos <x> <y> (can be whispered to another user)", 100, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        bob->user.roomPos.h = 100;
        bob->user.roomPos.v = 100;
        auto out = type(olga, c.line, bob);
        if (c.message != nullptr) {
            EXPECT_TRUE(contains(out, c.message));
        }
        EXPECT_EQ(bob->user.roomPos.h, c.h);
        EXPECT_EQ(bob->user.roomPos.v, c.v);
        if (c.message == nullptr) {
            std::string move =
                "room 0 <- move bob " + std::to_string(c.h) + " " + std::to_string(c.v);
            EXPECT_TRUE(contains(out, move));
        }
    }
    auto out = type(olga, "`move 3 4", bob);
    EXPECT_TRUE(contains(out, "log [move] olga: {olga} moved {bob}"));
    out = type(olga, "`setpos 3 4");
    EXPECT_FALSE(contains(out, "log [setpos] olga: {olga} setpos on {olga}"))
        << "moving oneself is not logged";
}

TEST_F(UserCommands, GagsStopPagesListsAndNamesUntilLifted)
{
    struct Case {
        const char *gag, *ungag;
        const char *verb;
        std::function<void()> act;
        const char *refused; // a line that shows the act was refused
    };
    const Case cases[] = {
        {"pagegag", "unpagegag", "pagegagged", [&] { host->say(bob, "`gpage I need help now"); },
         "bob: Sorry, you've been pagegagged."},
        {"listgag", "unlistgag", "listgagged", [&] { host->send(bob, MSG_LISTOFALLUSERS, {}); },
         "dropped uLst from bob"},
        {"namegag", "unnamegag", "namegagged", [&] { host->rename(bob, "Robert"); },
         "dropped usrN from bob"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.gag);
        // namegag is whispered; the others name their target.
        bool whispered = std::string(c.gag) == "namegag";
        auto out = type(olga, std::string("`") + c.gag + (whispered ? "" : " bob"),
                        whispered ? bob : nullptr);
        EXPECT_TRUE(contains(out, actionLog(c.gag, olga, bob)));
        std::string notice = std::string("wizards: Page from System: bob ") + c.verb + " by olga";
        EXPECT_TRUE(contains(out, whispered ? notice + " as bob" : notice));
        lines();
        c.act();
        EXPECT_TRUE(saw(c.refused));

        out = type(olga, std::string("`") + c.ungag + " bob");
        EXPECT_TRUE(contains(out, actionLog(c.ungag, olga, bob)));
        EXPECT_TRUE(
            contains(out, std::string("wizards: Page from System: bob un") + c.verb + " by olga"));
        host->advance(60);
        lines();
        c.act();
        EXPECT_FALSE(saw(c.refused));
    }
}

TEST_F(UserCommands, NameAndNamegagRenameThroughTheHost)
{
    const std::string longName(32, 'x');
    struct Case {
        const char *command;
        std::string arg;
        const char *notice;    // the operators' notice
        const char *nameAfter; // bob's name afterwards
        bool gagged;           // UD_NAMEGAG afterwards
        const char *complaint; // to the speaker, or null
    };
    const Case cases[] = {
        {"name", "Robert", "wizards: Page from System: bob name changed by olga to Robert",
         "Robert", false, nullptr},
        {"name", "", "wizards: Page from System: bob name changed by olga to bob", "bob", false,
         nullptr},
        {"name", longName, "wizards: Page from System: bob name changed by olga to bob", "bob",
         false, "olga: replacement name longer than 31 characters, ignored"},
        {"namegag", "Bobby", "wizards: Page from System: bob namegagged by olga as Bobby", "Bobby",
         true, nullptr},
        {"namegag", "", "wizards: Page from System: bob namegagged by olga as bob", "bob", true,
         nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.arg);
        ud(bob)->flags &= ~UD_NAMEGAG;
        host->rename(bob, "bob");
        host->advance(60);
        std::string line = std::string("`") + c.command + (c.arg.empty() ? "" : " " + c.arg);
        std::string log = actionLog(c.command, olga, bob); // names him as he was
        auto out = type(olga, line, bob);
        EXPECT_TRUE(contains(out, log));
        EXPECT_TRUE(contains(out, c.notice));
        EXPECT_EQ(nameOf(bob), c.nameAfter);
        EXPECT_EQ((ud(bob)->flags & UD_NAMEGAG) != 0, c.gagged);
        if (c.complaint != nullptr) {
            EXPECT_TRUE(contains(out, c.complaint));
        }
    }
    EXPECT_TRUE(contains(type(olga, "`name Robert"),
                         "olga: `name [<newname>] (must be whispered to another user)"));
}

TEST_F(UserCommands, RenameWithoutMemoryTellsTheSpeaker)
{
    for (int n = 1; n < 10; n++) {
        host->rename(bob, "bob");
        lines();
        host->failAllocation(n, true);
        host->whisper(olga, bob, "`name Robert");
        host->failAllocation(0, true);
        if (saw("olga: Can't get storage to change name of this user")) {
            EXPECT_EQ(nameOf(bob), "bob");
            return;
        }
    }
    FAIL() << "no allocation of the rename failed";
}

TEST_F(UserCommands, NakedDressTakeAndPinx)
{
    host->props(olga, {{11, 0}, {12, 0}});
    host->props(carol, {{21, 0}});
    host->advance(10);

    // An operator undresses a user in another room in front of that room.
    auto out = type(olga, "`naked carol");
    EXPECT_TRUE(contains(out, "room 5 <- props carol none"));
    EXPECT_EQ(carol->user.nbrProps, 0);
    EXPECT_TRUE(contains(out, "log [naked] olga: {olga} made {carol} naked"));

    // A pinned user may not undress.
    host->props(bob, {{31, 0}});
    bob->flags |= UF_Pinned;
    host->advance(10);
    EXPECT_TRUE(type(bob, "`naked").size() == 1u) << "only the dropped line";
    EXPECT_EQ(bob->user.nbrProps, 1);
    bob->flags &= ~UF_Pinned;
    ud(bob)->flags |= UD_RPIN;
    type(bob, "`naked");
    EXPECT_EQ(bob->user.nbrProps, 1);
    ud(bob)->flags &= ~UD_RPIN;

    out = type(olga, "`dress bob");
    EXPECT_EQ(bob->user.nbrProps, 2);
    EXPECT_EQ(bob->user.propSpec[1].id, 12);
    EXPECT_TRUE(contains(out, "log [dress] olga: {olga} dressed {bob}"));

    // take: only with a "take" entry for the room, and only in that room.
    host->props(carol, {{41, 0}});
    host->advance(10);
    const char *refused = "bob: The `take command is not permitted here";
    EXPECT_TRUE(contains(type(bob, "`take carol"), refused)) << "room 0 has no take entry";
    host->gotoRoom(bob, 5);
    host->advance(10);
    out = type(bob, "`take carol");
    EXPECT_FALSE(contains(out, refused));
    EXPECT_EQ(bob->user.nbrProps, 1);
    EXPECT_EQ(bob->user.propSpec[0].id, 41);
    host->gotoRoom(carol, 0);
    EXPECT_TRUE(contains(type(bob, "`take carol"), refused)) << "carol is in another room";

    // pinx: the default place, or the "pinx" entry of the speaker's room.
    out = type(olga, "`pinx bob");
    EXPECT_TRUE(contains(out, "room 5 <- props bob 1280"));
    EXPECT_EQ(bob->user.roomPos.h, 490);
    EXPECT_EQ(bob->user.roomPos.v, 362);
    EXPECT_TRUE(bob->flags & UF_Pinned);
    EXPECT_TRUE(contains(out, actionLog("pinx", olga, bob)));
    EXPECT_TRUE(contains(out, "wizards: Page from System: bob pinxed by olga"));
    host->gotoRoom(olga, 7);
    type(olga, "`pinx carol");
    EXPECT_EQ(carol->user.roomPos.h, 300);
    EXPECT_EQ(carol->user.roomPos.v, 200);
}

TEST_F(UserCommands, SetfaceAndSetcolorTakeOnlyZeroToFifteen)
{
    struct Case {
        const char *line;
        bool changes;
    };
    const Case cases[] = {{"`setface 15", true},
                          {"`setface 16", false},
                          {"`setface smile", false},
                          {"`setcolor 0", true},
                          {"`setcolor -1", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        bob->user.faceNbr = 7;
        bob->user.colorNbr = 7;
        host->advance(60);
        auto out = type(bob, c.line);
        bool changed = bob->user.faceNbr != 7 || bob->user.colorNbr != 7;
        EXPECT_EQ(changed, c.changes);
        EXPECT_EQ(out.size(), c.changes ? 3u : 1u) << "change, description, dropped line";
    }
    auto out = type(olga, "`setface 3", bob);
    EXPECT_EQ(bob->user.faceNbr, 3);
    EXPECT_TRUE(contains(out, "bob <- desc bob face 3 color 7 props none"));
    EXPECT_TRUE(contains(out, "log [setface] olga: {olga} set face on {bob}"));
}

TEST_F(UserCommands, FindGotoAndHiddenUsers)
{
    EXPECT_TRUE(contains(type(bob, "`find carol"), "bob: carol is in Five"));
    carol->flags |= UF_Hidden;
    EXPECT_TRUE(contains(type(bob, "`find carol"), "bob: User carol not found"));
    EXPECT_TRUE(contains(type(olga, "`find carol"), "olga: carol is in Five"));
    auto out = type(bob, "`goto carol");
    EXPECT_TRUE(contains(out, "bob: User carol not found"));
    EXPECT_EQ(bob->user.roomID, 0);
    carol->flags &= ~UF_Hidden;
    type(bob, "`goto carol");
    EXPECT_EQ(bob->user.roomID, 5);
    EXPECT_TRUE(contains(type(bob, "`find nobody"), "bob: User nobody not found"));
}

TEST_F(UserCommands, UserIsHiddenByFlagOrByActionList)
{
    UserActionRec hideFromBob{nullptr, bob->user.userID, UA_Hide};
    UserActionRec otherAction{&hideFromBob, bob->user.userID, 0x2};
    struct Case {
        const char *name;
        uint16 flags;
        UserActionRec *actions;
        ServerUserRec *asker;
        int hidden;
    };
    const Case cases[] = {
        {"plain", 0, nullptr, bob, 0},
        {"hidden bit", UF_Hidden, nullptr, bob, 1},
        {"hidden bit, operator asks", UF_Hidden, nullptr, olga, 0},
        {"action list hides from bob", 0, &otherAction, bob, 1},
        {"action list hides from bob, olga asks", 0, &otherAction, olga, 0},
        {"action without the hide bit", 0, &hideFromBob, carol, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        carol->flags = c.flags;
        carol->actionList = c.actions;
        lines();
        EXPECT_EQ(userIsHidden(host->state(), state(), carol, c.asker), c.hidden);
        EXPECT_EQ(saw(host->handleOf(c.asker) + ": User carol not found"), c.hidden == 1);
    }
    carol->flags = 0;
    carol->actionList = nullptr;
}

TEST_F(UserCommands, KillxInjectsKillBanAndComment)
{
    ServerUserRec *mallory = connect("mallory");
    lines();
    char ip[IP_TEXT_SIZE];
    getUserIP(ip, mallory);
    auto out = type(olga, "`killx flooding the entrance", mallory);
    EXPECT_TRUE(contains(out, "mallory disconnected (killed: killed by an operator)"));
    EXPECT_TRUE(contains(out, std::string("log [banip] olga: ") + ip));
    EXPECT_TRUE(contains(out, std::string("log [comment] olga: ") + ip + " flooding the entrance"));

    ServerUserRec *eve = connect("eve");
    getUserIP(ip, eve);
    out = type(olga, "`killx", eve);
    EXPECT_EQ(host->user("eve"), nullptr);
    EXPECT_TRUE(contains(out, std::string("log [banip] olga: ") + ip));
    for (const std::string &l : out)
        EXPECT_NE(l.rfind("log [comment]", 0), 0u) << "no comment without one";

    ServerUserRec *trent = connect("trent");
    getUserIP(ip, trent);
    std::string fits(198 - (std::string("`comment ") + ip + " ").size(), 'c');
    out = type(olga, "`killx " + fits, trent);
    EXPECT_TRUE(contains(out, std::string("log [comment] olga: ") + ip + " " + fits));
    ServerUserRec *zed = connect("zed");
    out = type(olga, "`killx " + fits + "c", zed);
    EXPECT_TRUE(contains(out, "olga: `killx comment string is too long, it was not saved"));
    EXPECT_EQ(host->user("zed"), nullptr) << "the kill and the ban were sent already";
}

TEST_F(UserCommands, RoomSwitchesReportSetAndLogEveryArgument)
{
    struct Case {
        const char *line;
        const char *reply; // null: none
        bool set;          // the switch afterwards
        bool logged;
    };
    const Case propfreeze[] = {
        {"`propfreeze", "olga: Props are not frozen in this room", false, false},
        {"`propfreeze on", "olga: Frozen props have been turned on", true, true},
        {"`propfreeze", "olga: Props are frozen in this room", true, false},
        {"`propfreeze maybe", nullptr, true, true},
        {"`propfreeze off", "olga: Frozen props have been turned off", false, true},
    };
    for (const Case &c : propfreeze) {
        SCOPED_TRACE(c.line);
        auto out = type(olga, c.line);
        if (c.reply != nullptr) {
            EXPECT_TRUE(contains(out, c.reply));
        }
        EXPECT_EQ((rd(0)->flags & RD_PROPFREEZE) != 0, c.set);
        EXPECT_EQ(contains(out, "log [propfreeze] olga: {0} {Entrance} {olga}"), c.logged);
    }
    const Case nolooseprops[] = {
        {"`nolooseprops on", "olga: No loose props is on", true, true},
        {"`nolooseprops", "olga: Loose Props are not allowed in this room", true, false},
        {"`nolooseprops off", "olga: No loose props is off", false, true},
        {"`nolooseprops", "olga: Loose Props are allowed in this room", false, false},
    };
    for (const Case &c : nolooseprops) {
        SCOPED_TRACE(c.line);
        auto out = type(olga, c.line);
        EXPECT_TRUE(contains(out, c.reply));
        EXPECT_EQ((host->room(0)->room.roomFlags & RF_NoLooseProps) != 0, c.set);
        EXPECT_EQ(contains(out, "log [nolooseprops] olga: {0} {Entrance} {olga}"), c.logged);
    }
}

TEST_F(UserCommands, SimpleCommandsAndReports)
{
    struct Case {
        const char *line;
        ServerUserRec *to;
        std::vector<std::string> shows;
    };
    const Case cases[] = {
        {"`gmsg server restarts at noon", nullptr, {"all: server restarts at noon"}},
        {"`rmsg quiet please", nullptr, {"room 0: quiet please"}},
        {"`chat I agree",
         bob,
         {"bob says: I agree", "log [chat] olga: {olga} made {bob} say {I agree}"}},
        {"`gotoroom 5",
         bob,
         {"bob enters room 5", "log [gotoroom] olga: {olga} sent {bob} to room 5"}},
        {"`gotoroom 40000", bob, {"olga: Sorry, there's no such room"}},
        {"`gotoroom five", bob, {"olga: Sorry, there's no such room"}},
        {"`clean",
         nullptr,
         {"olga clears the drawings in room 0", "olga <- draw 3",
          "room 0: olga clears the loose props"}},
        {"`pdel", nullptr, {"room 0: olga clears the loose props"}},
        {"`reset",
         nullptr,
         {"olga <- desc olga face 0 color 0 props none", "olga <- move olga 0 0",
          "olga <- name olga olga"}},
        {"`signoff",
         bob,
         {"bob disconnected (logged off)", "log [signoff] olga: {olga} signed off {bob}"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        auto out = type(olga, c.line, c.to);
        for (const std::string &l : c.shows)
            EXPECT_TRUE(contains(out, l)) << l;
    }

    auto out = type(olga, "`roomprefs");
    const std::vector<std::string> roomprefs = {
        "olga: ; Name: Entrance",      "olga: ; ID: 0",
        "olga: ; Last Painter: 1",     "olga: ; Max Occupancy: 64",
        "olga: ; NbrDraw Commands: 0", "olga: ; NbrUsers: 1",
        "olga: ; NbrHotspots: 0",      "olga: ; NbrPictures: 0",
        "olga: ; NbrProps: 0"};
    EXPECT_EQ(std::vector<std::string>(out.begin(), out.begin() + 9), roomprefs);

    out = type(olga, "`userprefs carol");
    ASSERT_GE(out.size(), 13u);
    EXPECT_EQ(out[3], "olga: ; Screen Name: carol");
    EXPECT_EQ(out[11], "olga: ; Position: 0 0");
    EXPECT_EQ(out[12], "olga: ; PUID: " + std::to_string(carol->puidCRC));
    EXPECT_EQ(out[0], "olga: ; Signon Time: " + std::to_string(carol->signonTime));
}

} // namespace
