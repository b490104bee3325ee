// Keyword lines: switches, numbers, texts, reloads, command ranks and announcements.
#include "params_fixture.h"

#include <climits>
#include <functional>

namespace
{

TEST_F(Params, YesNoKeywords)
{
    struct Case {
        const char *line;
        int MyState::*field;
        int before;
        int after;
        const char *problem;
    };
    const Case cases[] = {
        {"guestwiz N", &MyState::guestWiz, 1, 1, nullptr},
        {"GuestWiz No", &MyState::guestWiz, 1, 0, nullptr},
        {"guestwiz Y", &MyState::guestWiz, 0, 1, nullptr},
        {"guestwiz maybe", &MyState::guestWiz, 1, 1, nullptr},
        {"guestwiz", &MyState::guestWiz, 1, 1, "guestwiz not yes or no - ignored"},
        {"rownerinroom yes", &MyState::rownerInRoom, 0, 1, nullptr},
        {"rownerinroom", &MyState::rownerInRoom, 0, 0, "rownerinroom not yes or no - ignored"},
        {"hideoperators ye", &MyState::hideops, 0, 1, nullptr},
        {"hideoperators", &MyState::hideops, 0, 0, "hideoperators not yes or no - ignored"},
        {"memberrwho YES", &MyState::memberRWho, 0, 1, nullptr},
        {"memberrwho   ", &MyState::memberRWho, 0, 0, "memberrwho not yes or no - ignored"},
        {"wizinmemberrooms", &MyState::wizInMemberRooms, 0, 0,
         "wizinmemberrooms not yes or no - ignored"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(load(std::string(c.line) + "\n"), 1);
        EXPECT_EQ(state()->*c.field, c.after);
        std::vector<std::string> expected;
        if (c.problem != nullptr)
            expected.push_back("Problem " + std::string(c.problem) +
                               " in line 1 of parameter file: " + c.line);
        EXPECT_EQ(problems(), expected);
    }
}

TEST_F(Params, NumberAndTextKeywords)
{
    struct Case {
        const char *line;
        const char *problem;
        std::function<void(MyState *)> check;
    };
    const std::string longText(251, 'p');
    const Case cases[] = {
        {"rtakedelay 600", nullptr, [](MyState *s) { EXPECT_EQ(s->rTakeDelay, 600); }},
        {"rtakedelay o", nullptr, [](MyState *s) { EXPECT_EQ(s->rTakeDelay, -1); }},
        {"rtakedelay soon", nullptr, [](MyState *s) { EXPECT_EQ(s->rTakeDelay, 0); }},
        {"rtakedelay", "rtakedelay not off or a number - rtake disabled",
         [](MyState *s) { EXPECT_EQ(s->rTakeDelay, -1); }},
        {"rtakedelay 99999999999", nullptr, [](MyState *s) { EXPECT_EQ(s->rTakeDelay, INT_MAX); }},
        {"mroomdiscipline 5", nullptr, [](MyState *s) { EXPECT_EQ(s->mroomdiscipline, 5); }},
        {"mroomdiscipline OFF", nullptr, [](MyState *s) { EXPECT_EQ(s->mroomdiscipline, -1); }},
        {"mroomdiscipline",
         "mroomdiscipline not off or a number - member discipline commands disabled",
         [](MyState *s) { EXPECT_EQ(s->mroomdiscipline, -1); }},
        {"pagelength 12", nullptr, [](MyState *s) { EXPECT_EQ(s->pageLengthLimit, 12); }},
        {"pagelength", nullptr, [](MyState *s) { EXPECT_EQ(s->pageLengthLimit, 0); }},
        {"gpagelength -99999999999", nullptr,
         [](MyState *s) { EXPECT_EQ(s->gpageLengthLimit, INT_MIN); }},
        {"mroombg  my picture.gif ", nullptr,
         [](MyState *s) { EXPECT_STREQ(s->mRoomBG, "my picture.gif "); }},
        {"mroombg off", nullptr, [](MyState *s) { EXPECT_EQ(s->mRoomBG, nullptr); }},
        {"mroombg abcdefghijklmnopqrstuvwxyz012345",
         "Picture file name longer than 31, mroombg set off",
         [](MyState *s) { EXPECT_EQ(s->mRoomBG, nullptr); }},
        {"pageresponse Thanks, 100% of us read it.", nullptr,
         [](MyState *s) { EXPECT_STREQ(s->pageResponse, "Thanks, 100% of us read it."); }},
        {"gpageresponse x", nullptr, [](MyState *s) { EXPECT_STREQ(s->gpageResponse, "x"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(load(std::string(c.line) + "\n"), 1);
        c.check(state());
        std::vector<std::string> expected;
        if (c.problem != nullptr)
            expected.push_back("Problem " + std::string(c.problem) +
                               " in line 1 of parameter file: " + c.line);
        EXPECT_EQ(problems(), expected);
    }

    ASSERT_EQ(load("pageresponse " + longText + "\n"), 1);
    EXPECT_EQ(problems().size(), 1u);
    EXPECT_EQ(state()->pageResponse, nullptr);
    ASSERT_EQ(load("gpageresponse " + longText + "\n"), 1);
    EXPECT_EQ(problems(), std::vector<std::string>{
                              "Problem gpageresponse message longer than 250, ignored in line 1 "
                              "of parameter file: gpageresponse " +
                              longText.substr(0, 100 - 14)});
}

TEST_F(Params, ReloadKeepsTextsAndOperatorSwitchAndResetsTheRest)
{
    ASSERT_EQ(load("mroombg pic.gif\npageresponse Hello\ngpageresponse Owners\n"
                   "wizinmemberrooms yes\nguestwiz no\nrtakedelay 5\nmroomdiscipline 3\n"
                   "pagelength 4\ngpagelength 6\nhideoperators yes\nmemberrwho yes\n"
                   "rownerinroom yes\nchat 10 1 altmember\n"),
              1);
    ASSERT_EQ(load("wizinmemberrooms yes\n"), 1);
    EXPECT_FALSE(saw("all: " + std::string(theWizardsMayMsg))) << "no second broadcast";
    ASSERT_EQ(load("# nothing\n"), 1);
    MyState *s = state();
    EXPECT_STREQ(s->mRoomBG, "pic.gif");
    EXPECT_STREQ(s->pageResponse, "Hello");
    EXPECT_STREQ(s->gpageResponse, "Owners");
    EXPECT_EQ(s->wizInMemberRooms, 1);
    EXPECT_EQ(s->guestWiz, 1);
    EXPECT_EQ(s->rTakeDelay, -1);
    EXPECT_EQ(s->mroomdiscipline, -1);
    EXPECT_EQ(s->pageLengthLimit, 0);
    EXPECT_EQ(s->gpageLengthLimit, 0);
    EXPECT_EQ(s->hideops, 0);
    EXPECT_EQ(s->memberRWho, 0);
    EXPECT_EQ(s->rownerInRoom, 0);
    EXPECT_EQ(s->altMemberActive, 0);
    EXPECT_EQ(slot(L_CHAT), nullptr);

    ASSERT_EQ(load("pageresponse\nwizinmemberrooms no\n"), 1);
    EXPECT_EQ(s->pageResponse, nullptr) << "the keyword alone removes it";
    EXPECT_EQ(s->wizInMemberRooms, 0);
}

TEST_F(Params, FirstYesBroadcastsTheOperatorsNotice)
{
    connect("alice");
    ASSERT_EQ(load("wizinmemberrooms yes\n"), 1);
    EXPECT_TRUE(saw("all: NOTE: Operators may enter closed and passworded member rooms on this "
                    "server."));
}

TEST_F(Params, SetRank)
{
    CmdTable *gmsg = findCommand(nullptr, "gmsg");
    CmdTable *pinx = findCommand(nullptr, "pinx");
    struct Case {
        const char *line;
        const char *problem;
    };
    const Case refused[] = {
        {"setrank", "setrank: command name missing - setrank ignored"},
        {"setrank frobnicate 1", "setrank: command not a vestrel command - setrank ignored"},
        {"setrank gmsg", "setrank: user rank missing - setrank ignored"},
        {"setrank pinx 5", "setrank: user rank not valid - setrank ignored"},
        {"setrank pinx boss", "setrank: user rank not valid - setrank ignored"},
        {"setrank gmsg member guest", "setrank: command can not be targeted - setrank ignored"},
        {"setrank pinx 2 9", "setrank: target rank not valid - setrank ignored"},
    };
    for (const Case &c : refused) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(load(std::string(c.line) + "\n"), 1);
        EXPECT_EQ(problems(), std::vector<std::string>{"Problem " + std::string(c.problem) +
                                                       " in line 1 of parameter file: " + c.line});
        EXPECT_EQ(gmsg->rank, 2);
        EXPECT_EQ(pinx->rank, 2);
    }

    ASSERT_EQ(load("  setrank gmsg member\nsetrank pinx 2 1\nsetrank pin wizard\n"), 1);
    EXPECT_EQ(gmsg->rank, 1);
    EXPECT_EQ(gmsg->targetRank, 4);
    EXPECT_EQ(pinx->rank, 2);
    EXPECT_EQ(pinx->targetRank, 1);
    std::vector<std::string> out = logged();
    auto rtake = std::find(out.begin(), out.end(), "rtakedelay off");
    ASSERT_NE(rtake, out.end());
    EXPECT_EQ(*(rtake + 1), "setrank pinx 2 1") << "latest line first";
    EXPECT_EQ(*(rtake + 2), "  setrank gmsg member") << "the line as read";
    EXPECT_EQ(*(rtake + 3), "wizinmemberrooms no") << "pin names no command";

    ASSERT_EQ(load("# setrank dropped\n"), 1);
    EXPECT_EQ(gmsg->rank, 1) << "the table keeps what the last load gave it";
    ASSERT_EQ(load("setrank gmsg OWNER\n"), 1);
    EXPECT_EQ(gmsg->rank, 3);
}

TEST_F(Params, GetUintAndGetRank)
{
    struct Case {
        const char *text;
        int uintValue;
        int rank;
    };
    const Case cases[] = {
        {"3", 3, 3},
        {"0", 0, 0},
        {"4", 4, 4},
        {"5", 5, -1},
        {"3 more", 3, 3},
        {"3\tx", -1, -1},
        {"3x", -1, -1},
        {"guest", -1, 0},
        {"Member", -1, 1},
        {"wizard", -1, 2},
        {"operator", -1, 2},
        {"god", -1, 3},
        {"owner", -1, 3},
        {"disable", -1, 4},
        {"99999999999", -1, -1},
        {"2147483648", -1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(getUint(c.text), c.uintValue);
        EXPECT_EQ(getRank(c.text), c.rank);
    }
}

class Announce : public Params
{
  protected:
    void at(int hour, int minute, int second)
    {
        vh::setClock(vh::localTime(2026, 1, 5, hour, minute, second));
    }

    int announcements()
    {
        int n = 0;
        for (const std::string &l : host->transcript())
            n += l.rfind("all: ", 0) == 0;
        host->clearTranscript();
        return n;
    }
};

TEST_F(Announce, DelayToTheNextTimeOfDay)
{
    struct Case {
        const char *name;
        int h, m, s;
        const char *line;
        long delay;
    };
    const Case cases[] = {
        {"one second before", 23, 59, 58, "autoannounce 23:59:59 Good night", 1},
        {"just after midnight", 0, 0, 0, "autoannounce 23:59:59 Good night", 86399},
        {"now", 12, 0, 0, "autoannounce 12:00:00 Noon", 0},
        {"past today: tomorrow", 12, 0, 1, "autoannounce 12:00:00 Noon", 86399},
        {"normalised hour", 12, 0, 0, "autoannounce 25:00:00 One", 13 * 3600},
        {"normalised hour after midnight", 0, 30, 0, "autoannounce 25:00:00 One", 86400 + 1800},
        {"unpadded fields", 9, 0, 0, "autoannounce 9:5:0007 x", 307},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        at(c.h, c.m, c.s);
        ASSERT_EQ(load(std::string(c.line) + "\n"), 1);
        EXPECT_TRUE(problems().empty());
        ASSERT_NE(state()->autoannounce, nullptr);
        TimerEvent *event = state()->autoannounce->event;
        time_t due = 0;
        auto pending = host->pendingEvents();
        ASSERT_NE(std::find(pending.begin(), pending.end(), event), pending.end());
        // Fire it: it is due exactly `delay` seconds from now.
        if (c.delay > 0) {
            host->advance(c.delay - 1);
            EXPECT_EQ(announcements(), 0);
            host->advance(1);
        } else {
            host->flush();
        }
        (void)due;
        EXPECT_EQ(announcements(), 1);
    }
}

TEST_F(Announce, RejectedTimesAndTexts)
{
    struct Case {
        const char *line;
        const char *problem;
    };
    const std::string longText(251, 'a');
    const std::string longLine = "autoannounce 12:00:00 " + longText;
    const Case cases[] = {
        {"autoannounce", "autoannounce time missing or not hh:mm:ss - autoannounce ignored"},
        {"autoannounce 9:00:00 x",
         "autoannounce time missing or not hh:mm:ss - autoannounce ignored"},
        {"autoannounce 23:59:59", "autoannounce time not hh:mm:ss - autoannounce ignored"},
        {"autoannounce 23:59:59\tx", "autoannounce time not hh:mm:ss - autoannounce ignored"},
        {"autoannounce 12:00:0x hi", "autoannounce time not hh:mm:ss - autoannounce ignored"},
        {"autoannounce 23:59:59   ", "autoannounce message missing - autoannounce ignored"},
        {"autoannounce 99999999 far", "autoannounce time not hh:mm:ss - autoannounce ignored"},
        {longLine.c_str(), "autoannounce message longer than 250, ignored"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(load(std::string(c.line) + "\n"), 1);
        std::string line = c.line;
        EXPECT_EQ(problems(), std::vector<std::string>{"Problem " + std::string(c.problem) +
                                                       " in line 1 of parameter file: " +
                                                       vh::printable(line.substr(0, 100))});
        EXPECT_EQ(state()->autoannounce, nullptr);
    }
}

TEST_F(Announce, RepeatsDailyUntilAReloadCancelsItAndThenFreesItsEvent)
{
    at(11, 0, 0);
    ASSERT_EQ(load("autoannounce 12:00:00 Lunch\n"), 1);
    host->advance(3600);
    EXPECT_TRUE(saw("all: Lunch"));
    EXPECT_EQ(announcements(), 1);
    host->advance(86400);
    EXPECT_EQ(announcements(), 1);
    host->advance(86400 * 2);
    EXPECT_EQ(announcements(), 2);

    size_t before = host->liveBlocks();
    ASSERT_EQ(load("# no announcements\n"), 1);
    EXPECT_EQ(host->liveBlocks(), before - 1) << "the record is freed, its event still pending";
    host->advance(86400);
    EXPECT_EQ(announcements(), 0);
    EXPECT_EQ(host->liveBlocks(), before - 2) << "the cancelled event freed itself";
}

TEST_F(Announce, TwoAnnouncementsReportLatestFirst)
{
    at(8, 0, 0);
    ASSERT_EQ(load("autoannounce 09:00:00 First\nautoannounce 10:00:00 Second\n"), 1);
    std::vector<std::string> out = logged();
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0], "autoannounce 10:00:00 Second");
    EXPECT_EQ(out[1], "autoannounce 09:00:00 First");
}

} // namespace
