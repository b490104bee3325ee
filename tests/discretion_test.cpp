// What a member cannot learn or forge: hidden operators are answered as
// absent users, a reply or an announcement meets the rules his chat meets,
// users' text cannot break or forge the lines of notices and logs, the
// report shows every rank an earlier load left, and an operator takes no
// room from an owner above him.
#include "fixture.h"

#include <regex>

namespace
{

class Discretion : public HostTest
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(start("hideoperators yes\nmroomdiscipline 5\nspoof all warn\n"
                          "chat 3 0.01 all warn\ntake all\n"));
        host->createRoom(12, "Mem's");
        mem = connect("mem", 1, 12);
        host->setRoomOwner(12, mem);
        bob = connect("bob", 1, 12);
        vh::UserOptions o;
        o.handle = "olga";
        o.rank = 2;
        o.room = 12;
        o.hidden = true;
        olga = host->connect(o);
        host->advance(2);
        lines();
    }

    void TearDown() override
    {
        // The command table outlives the plug-in in this process.
        for (CmdTable &row : cmdTable) {
            row.rank = builtinRank(&row);
            row.targetRank = builtinTargetRank(&row);
        }
        HostTest::TearDown();
    }

    // What the plug-in tells a speaker, with every spelling of `name` as
    // `as`, so that two answers can be compared.
    std::vector<std::string> answers(ServerUserRec *u, const std::string &line,
                                     const std::string &name, const std::string &as)
    {
        std::vector<std::string> out;
        std::regex word("\\b" + name + "\\b", std::regex::icase);
        for (const std::string &l : type(u, line))
            out.push_back(std::regex_replace(l, word, as));
        host->advance(30);
        return out;
    }

    ServerUserRec *mem = nullptr, *bob = nullptr, *olga = nullptr;
};

TEST_F(Discretion, AHiddenOperatorIsAnsweredAsNobody)
{
    for (const char *cmd : {"find", "goto", "take", "rgag", "rkick", "rpin", "runpin", "naked",
                            "rowner", "dress", "pinx"}) {
        SCOPED_TRACE(cmd);
        std::string c = std::string("`") + cmd + " ";
        auto hidden = answers(mem, c + "OLGA", "olga", "X");
        auto absent = answers(mem, c + "NOBODY", "nobody", "X");
        EXPECT_EQ(hidden, absent);
        EXPECT_EQ(olga->user.roomID, 12);
    }
    EXPECT_TRUE(contains(type(mem, "`find OLGA"), "mem: User OLGA not found"));
    EXPECT_TRUE(contains(type(mem, "`rgag", olga), "mem: Whisper target not found"));
    EXPECT_FALSE(ud(olga)->flags & UD_RGAG);
    EXPECT_EQ(getUserSanctions(state(), olga, host->room(12), ud(olga)), 0);
    EXPECT_TRUE(rd(12)->badActorList == nullptr) << "nothing recorded of her";

    // An operator sees her.
    ServerUserRec *wiz = connect("wiz", 2, 0);
    EXPECT_TRUE(contains(type(wiz, "`find OLGA"), "wiz: olga is in Mem's"));
}

TEST_F(Discretion, AReplyMeetsTheRulesItsWhisperWould)
{
    struct Case {
        const char *name;
        const char *config;
        const char *reply;
        bool gagged;
        bool delivered;
    };
    const Case cases[] = {
        {"a plain reply", "chat 3 0.01 all\n", "thanks", false, true},
        {"gagged in the room", "chat 3 0.01 all\n", "thanks", true, false},
        {"a spoof", "chat 3 0.01 all\n", "@100,100 bob says: bye", false, false},
        {"a line break", "chat 3 0.01 all\n", "ok\rbob says: everybody out", false, false},
        {"over the chat limit", "chat 1 0.001 all\n", "thanks", false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        config(std::string("mroomdiscipline 5\nspoof all warn\n") + c.config);
        ud(bob)->flags &= ~UD_RGAG;
        if (c.gagged)
            ud(bob)->flags |= UD_RGAG;
        host->whisper(mem, bob, "psst");
        host->say(bob, "one line"); // within every limit but the last
        auto out = type(bob, std::string("`respond ") + c.reply);
        bool got = false;
        for (const std::string &l : out)
            got = got || l.rfind("mem (private): Message from bob: ", 0) == 0;
        EXPECT_EQ(got, c.delivered);
        host->advance(400);
    }
}

TEST_F(Discretion, AnAnnouncementMeetsTheSpoofRuleAndTheChatLimit)
{
    EXPECT_TRUE(contains(type(mem, "`rannounce welcome"), "room 12: welcome"));
    auto out = type(mem, "`rannounce @100,100 bob says: I am leaving");
    EXPECT_FALSE(contains(out, "room 12: @100,100 bob says: I am leaving"));
    out = type(mem, "`rannounce hi\r\nbob says: out");
    EXPECT_TRUE(out.empty() || !contains(out, "room 12: hi  bob says: out"));

    // chat 3: the switches' announcements count, and a refused one changes
    // nothing.
    host->advance(1000);
    EXPECT_TRUE(contains(type(mem, "`rpropfreeze on"), "room 12: mem has frozen loose props"));
    EXPECT_TRUE(contains(type(mem, "`rpropfreeze off"), "room 12: mem has unfroze loose props"));
    EXPECT_TRUE(contains(type(mem, "`rannounce last one"), "room 12: last one"));
    out = type(mem, "`rpropfreeze on");
    EXPECT_TRUE(contains(out, "mem: Chat messages are limited here"));
    EXPECT_FALSE(rd(12)->flags & RD_RPROPFREEZE);
    EXPECT_FALSE(contains(type(mem, "`rannounce more"), "room 12: more"));
}

TEST_F(Discretion, UsersTextCannotBreakOrForgeNoticesAndLogs)
{
    ServerUserRec *god = connect("god", 3, 0);
    (void)god;
    host->changeRoom(12, vh::RoomOptions{.name = std::string("Mem's\r{1} {x}")});
    host->disconnect(mem);
    ServerUserRec *wiz = connect("wiz", 2, 12);
    host->advance(2);
    struct Case {
        ServerUserRec *who;
        std::string line;
        const char *seen;
    };
    const Case cases[] = {
        {bob, "`gpage help\nme now please",
         "Owner Page from bob in Mem's {1} {x} (12): help me now please"},
        {bob, "`roompage help\rme now", "Room Page from bob: help me now"},
        {wiz, "`rtake", "{12} {Mem's (1) (x)} {wiz}"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        bool found = false;
        size_t broken = host->controlTexts();
        for (const std::string &l : type(c.who, c.line))
            found = found || l.find(c.seen) != std::string::npos;
        EXPECT_TRUE(found) << c.seen;
        EXPECT_EQ(host->controlTexts(), broken) << "a notice or log line with a control byte";
        host->advance(400);
    }
    // A chat line that breaks into another line is a spoof.
    EXPECT_TRUE(
        contains(type(bob, "hi\rsam says: everybody out"), "bob: Spoofing is not permitted here"));
}

TEST_F(Discretion, TheReportShowsRanksAnEarlierLoadLeft)
{
    auto report = [&](const std::string &params) {
        writeParams(params);
        lines();
        EXPECT_EQ(loadParameterFile(state(), nullptr), 1);
        std::vector<std::string> setranks;
        for (const std::string &l : lines()) {
            if (l.find("setrank ") != std::string::npos)
                setranks.push_back(l);
        }
        return setranks;
    };
    EXPECT_EQ(report("setrank gmsg member\nsetrank pinx 2 1\n"),
              (std::vector<std::string>{"log [vestrel]: setrank pinx 2 1",
                                        "log [vestrel]: setrank gmsg member"}));
    EXPECT_EQ(report("chat 5 1 all\n"),
              (std::vector<std::string>{"log [vestrel]: setrank gmsg member",
                                        "log [vestrel]: setrank pinx wizard member"}))
        << "kept from the load before, and shown";
    EXPECT_EQ(report("setrank gmsg wizard\nsetrank pinx wizard member\n"),
              (std::vector<std::string>{"log [vestrel]: setrank pinx wizard member",
                                        "log [vestrel]: setrank gmsg wizard"}));
    EXPECT_EQ(report("chat 5 1 all\n"),
              (std::vector<std::string>{"log [vestrel]: setrank pinx wizard member"}))
        << "gmsg is as built again";
}

TEST_F(Discretion, AnOperatorTakesNoRoomFromAnOwnerAboveHim)
{
    ServerUserRec *wiz = connect("wiz", 2, 12);
    ServerUserRec *god = connect("god", 3, 0);
    struct Case {
        const char *name;
        ServerUserRec *owner;
        bool ownerOnLine;
        bool takes;
    };
    const Case cases[] = {
        {"a member on line", mem, true, true},
        {"a god on line", god, true, false},
        {"a god away", god, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        host->room(12)->memberOwner = c.owner->counter;
        if (!c.ownerOnLine)
            host->room(12)->memberOwner = 0x7777; // nobody on the server has it
        auto out = type(wiz, "`rtake");
        EXPECT_EQ(contains(out, "wiz: You now own the room"), c.takes);
        if (!c.takes) {
            EXPECT_TRUE(contains(out, "wiz: You may send a message to the room owner with `rpage"));
        }
    }
}

} // namespace
