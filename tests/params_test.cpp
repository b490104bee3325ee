// The parameter file: keywords, limit lines, the report, announcements,
// the idle check, reloads and every allocation failure of a load.
#include "fixture.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

const std::string kLog = "log [vestrel]: ";

class Params : public HostTest
{
  protected:
    void SetUp() override
    {
        for (int i = 0; i < NBR_COMMANDS; i++)
            savedRanks[i] = {cmdTable[i].rank, cmdTable[i].targetRank};
        ASSERT_TRUE(start("# empty\n"));
        lines();
    }

    void TearDown() override
    {
        for (int i = 0; i < NBR_COMMANDS; i++) {
            cmdTable[i].rank = savedRanks[i].first;
            cmdTable[i].targetRank = savedRanks[i].second;
        }
    }

    // Loads this text as the parameter file, as a reload would.
    int load(const std::string &text, ServerUserRec *user = nullptr)
    {
        writeParams(text);
        lines();
        return loadParameterFile(state(), user);
    }

    // The log lines of the plug-in since the last call, without their tag.
    std::vector<std::string> logged()
    {
        std::vector<std::string> out;
        for (const std::string &l : lines()) {
            if (l.rfind(kLog, 0) == 0)
                out.push_back(l.substr(kLog.size()));
        }
        return out;
    }

    // The problems reported, as their messages.
    std::vector<std::string> problems()
    {
        std::vector<std::string> out;
        for (const std::string &l : logged()) {
            if (l.rfind("Problem ", 0) == 0)
                out.push_back(l);
        }
        return out;
    }

    LimitValue *slot(int n) const { return state()->limits[n]; }

    std::pair<int, int> savedRanks[NBR_COMMANDS];
};

const std::vector<std::string> kPlainSettings = {
    "gpagelength 0",  "guestwiz yes",        "hideoperators no", "memberrwho no",
    "mroombg off",    "mroomdiscipline off", "pagelength 0",     "rownerinroom no",
    "rtakedelay off", "wizinmemberrooms no",
};

namespace
{

TEST_F(Params, FileOfCommentsLeavesEverySlotEmptyAndReportsLoadValues)
{
    ASSERT_EQ(load("# a comment\n\n   # indented comment\n\t\n"), 1);
    EXPECT_EQ(logged(), kPlainSettings);
    for (int s = 0; s < NBR_LIMITS; s++)
        EXPECT_EQ(slot(s), nullptr) << parameterTable[s].name;
}

TEST_F(Params, ReportComesInItsOrderWithEveryForm)
{
    const char *file = "zone 12 public\n"
                       "wizinmemberrooms yes\n"
                       "take all\n"
                       "spotstatechange 30 0.5 public\n"
                       "spoof public warn\n"
                       "slide 30 0.2 public\n"
                       "setrank gmsg member\n"
                       "rtakedelay 600\n"
                       "rpage 1 0.5 all\n"
                       "rownerinroom yes\n"
                       "roompage 1 0.5 member\n"
                       "roommsg 0 0.2 public\n"
                       "draw 50 0.1 public private\n"
                       "roomgoto 10 0.1 public\n"
                       "reppage 1 0.1 public\n"
                       "repchat 10 1 public\n"
                       "propdrop 10 1 public\n"
                       "pinx 490 362 all\n"
                       "pageresponse An operator will be with you shortly.\n"
                       "pagelength 5\n"
                       "page 1 0.5 all\n"
                       "nodupavatars member\n"
                       "newroom 1 0.01 all\n"
                       "namechange 40 2 public\n"
                       "mroomdiscipline 20\n"
                       "mroombg garden.gif\n"
                       "move 30 0.2 public\n"
                       "mimick 10 public\n"
                       "memberrwho yes\n"
                       "idle 10 86 all\n"
                       "hideoperators yes\n"
                       "gpage 1 0.5 all\n"
                       "godonly rm100-199\n"
                       "guestwiz no\n"
                       "gpageresponse The owners have been paged.\n"
                       "gpagelength 10\n"
                       "facechange 10 0.5 public\n"
                       "dupip 2 10.1.*.*\n"
                       "clearlooseprops 5 public\n"
                       "chatgoto 86 take me to the lounge\n"
                       "chat 10 1 public warn\n"
                       "avatarzone 12 public\n"
                       "avatarchange 40 2 public\n"
                       "autoannounce 12:00:00 Lunch time\n";
    ASSERT_EQ(load(file), 1);
    EXPECT_EQ(logged(), (std::vector<std::string>{
                            "autoannounce 12:00:00 Lunch time",
                            "avatarchange 40 2 public ",
                            "avatarzone 12 public ",
                            "chat 10 1 public warn ",
                            "chatgoto 86 take me to the lounge",
                            "clearlooseprops 5 public ",
                            "dupip 2 10.1.*.*",
                            "facechange 10 0.5 public ",
                            "gpagelength 10",
                            "gpageresponse The owners have been paged.",
                            "guestwiz no",
                            "godonly rm100-199 ",
                            "gpage 1 0.5 public private member altmember limbo ",
                            "hideoperators yes",
                            "idle 10 86 public private member altmember limbo ",
                            "memberrwho yes",
                            "mimick 10 public ",
                            "move 30 0.2 public ",
                            "mroombg garden.gif",
                            "mroomdiscipline 20",
                            "namechange 40 2 public ",
                            "newroom 1 0.01 public private member altmember limbo ",
                            "nodupavatars 0 0 member ",
                            "page 1 0.5 public private member altmember limbo ",
                            "pagelength 5",
                            "pageresponse An operator will be with you shortly.",
                            "pinx 490 362 public private member altmember limbo ",
                            "propdrop 10 1 public ",
                            "repchat 10 1 public ",
                            "reppage 1 0.1 public ",
                            "roomgoto 10 0.1 public ",
                            "draw 50 0.1 public private ",
                            "roommsg 0 0.2 public ",
                            "roompage 1 0.5 member ",
                            "rownerinroom yes",
                            "rpage 1 0.5 public private member altmember limbo ",
                            "rtakedelay 600",
                            "setrank gmsg member",
                            "slide 30 0.2 public ",
                            "spoof public warn ",
                            "spotstatechange 30 0.5 public ",
                            "take public private member altmember limbo ",
                            "wizinmemberrooms yes",
                            "zone 12 public ",
                        }));
    EXPECT_EQ(state()->setranks, nullptr) << "setrank lines are freed once reported";
}

TEST_F(Params, ReportReachesTheRequestingOperatorPrivately)
{
    ServerUserRec *wiz = connect("wiz", 2);
    lines();
    ASSERT_EQ(load("chat 10 1 public\n", wiz), 1);
    std::vector<std::string> out = lines();
    EXPECT_EQ(out[0], "log [vestrel] wiz: chat 10 1 public ");
    EXPECT_EQ(out[1], "wiz (private): ; chat 10 1 public ");
}

TEST_F(Params, LimitLineFormsReadBackInTheReport)
{
    struct Case {
        const char *line;
        const char *report;
    };
    const Case cases[] = {
        {"chat 10 1", "chat 10 1 off "},
        {"chat 10 1 all warn", "chat 10 1 public private member altmember limbo warn "},
        {"chat 10 1 warn off public", "chat 10 1 public "},
        {"chat 10 1 off warn", "chat 10 1 warn "},
        {"chat 10 1 nowhere", "chat 10 1 off "},
        {"chat 5 1 rm10 rm20-29 member", "chat 5 1 rm20-29 rm10 member "},
        {"Chat 10 1 Public", "chat 10 1 public "},
        {"chat -1 0 public", "chat -1 0 public "},
        {"chat 10 0.25 altmember", "chat 10 0.25 altmember "},
        {"chat 10 1 rm9-3 limbo", "chat 10 1 rm9-3 limbo "},
        {"chat 10 1 rm rmx", "chat 10 1 rm0 rm0 "},
        {"zone 12.5 public", "zone 12 public "},
        {"spoof", "spoof public "},
        {"chat", "chat 10 1 public "},
        {"chatgoto 0 go home", "chatgoto currentroom go home"},
        {"chatgoto currentroom go home", "chatgoto currentroom go home"},
        {"chatgoto 86  the lounge  ", "chatgoto 86 the lounge  "},
        {"dupip 2 10.1.*.*", "dupip 2 10.1.*.*"},
        {"dupip 1", "dupip 1 "},
        {"mimick 10 rm5", "mimick 10 rm5 "},
        // numbers as "%d" and "%g" print them, at their edges
        {"chat 4294967294 -0 rm-5--3 public", "chat -2 -0 rm-5--3 public "},
        {"chat -2147483648 999999 rm2147483647", "chat -2147483648 999999 rm2147483647 "},
        {"chat 2147483647 1000000 rm-2147483648-0", "chat 2147483647 1e+06 rm-2147483648-0 "},
        {"chat 3 -999999 public", "chat 3 -999999 public "},
        {"chat 3 1e-300 public", "chat 3 1e-300 public "},
        {"chat 3 123456.5 public", "chat 3 123456 public "},
        {"chat 3 inf public", "chat 3 inf public "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(load(std::string(c.line) + "\n"), 1);
        std::vector<std::string> report;
        for (const std::string &l : logged()) {
            if (l.rfind("Problem", 0) != 0 &&
                std::find(kPlainSettings.begin(), kPlainSettings.end(), l) == kPlainSettings.end())
                report.push_back(l);
        }
        EXPECT_EQ(report, std::vector<std::string>{c.report});
    }
}

TEST_F(Params, AppendWhereLeavesOutPiecesThatDoNotFitAndTriesTheNext)
{
    LimitValue limit{};
    RoomNumbers wide{nullptr, 10000, 20000};
    limit.roomNumbers = &wide;
    limit.roomsChecked = RC_PUBLIC | RC_WARN;
    char buf[16] = "x ";
    appendWhere(buf, buf + sizeof buf, &limit);
    EXPECT_STREQ(buf, "x public warn ") << "the range needs 15 bytes, 13 are free";

    char exact[10] = "x ";
    limit.roomNumbers = nullptr;
    limit.roomsChecked = RC_PUBLIC;
    appendWhere(exact, exact + sizeof exact, &limit);
    EXPECT_STREQ(exact, "x public ") << "7 characters fit in 8 free bytes";
    char tight[9] = "x ";
    appendWhere(tight, tight + sizeof tight, &limit);
    EXPECT_STREQ(tight, "x ") << "7 characters need more than 7 free bytes";
}

TEST_F(Params, LimitLineProblems)
{
    struct Case {
        const char *line;
        const char *problem;
    };
    const Case cases[] = {
        {"x # note", "unrecognizable parameter name, ignored"},
        {"chatter 10 1 public", "unrecognizable parameter name, ignored"},
        {"take", "No take data specified, entry ignored"},
        {"chat   ", "No chat data specified, default used"},
        {"chat 10 1 RM5", "Unrecognized room type \"RM5\", ignored"},
        {"zone 12.5 public", "Unrecognized room type \".5\", ignored"},
        {"chat 10 1 abcdefghijklmnopqrstuvwxyz0123456789ABCD",
         "Unrecognized room type \"abcdefghijklmnopqrstuvwxyz012\", ignored"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(load(std::string(c.line) + "\n"), 1);
        std::string line = c.line;
        EXPECT_EQ(problems(), std::vector<std::string>{"Problem " + std::string(c.problem) +
                                                       " in line 1 of parameter file: " + line});
    }
}

TEST_F(Params, ProblemQuotesAtMostAHundredCharactersOfTheLine)
{
    std::string line = "bogus " + std::string(150, 'z');
    ASSERT_EQ(load(line + "\n"), 1);
    EXPECT_EQ(problems(), std::vector<std::string>{"Problem unrecognizable parameter name, ignored "
                                                   "in line 1 of parameter file: " +
                                                   line.substr(0, 100)});
}

TEST_F(Params, EntriesForTheSameRoomsFollowTheFilesOrder)
{
    host->createRoom(5, "Five");
    host->createRoom(7, "Seven");
    host->changeRoom(7, vh::RoomOptions{.isPrivate = true});
    ASSERT_EQ(load("zone 20 public\n"
                   "zone 30 public\n"
                   "page 2 0.5 all\n"
                   "page 5 0.5 public\n"
                   "page 1 0.5 rm5\n"
                   "page 3 0.5 rm5\n"
                   "page 9 0.5 rm7\n"
                   "chat -1 0 rm5\n"
                   "chat 10 1 public\n"),
              1);
    auto at = [&](int s, RoomID room) {
        LimitValue *v = getRoomLimitForRoom(host->state(), state(), slot(s), room);
        return v == nullptr ? -2 : static_cast<int>(v->maximum);
    };
    EXPECT_EQ(at(L_ZONE, 0), 20) << "among class lines the first wins";
    EXPECT_EQ(at(L_PAGE, 0), 2);
    EXPECT_EQ(at(L_PAGE, 5), 3) << "among ranged lines the last wins";
    EXPECT_EQ(at(L_PAGE, 7), 9) << "a range wins over every class";
    EXPECT_EQ(at(L_CHAT, 5), -1) << "an unlimited entry hides the later ones";
    EXPECT_EQ(at(L_CHAT, 0), 10);
}

TEST_F(Params, AltMemberActiveOnlyFromTheWordAltmember)
{
    ASSERT_EQ(load("chat 10 1 all\n"), 1);
    EXPECT_EQ(state()->altMemberActive, 0);
    ASSERT_EQ(load("chat 10 1 public\nmove 10 1 altmember\n"), 1);
    EXPECT_EQ(state()->altMemberActive, 1);
    ASSERT_EQ(load("chat 10 1 public\n"), 1);
    EXPECT_EQ(state()->altMemberActive, 0) << "every load starts it at 0";
}

TEST_F(Params, LineLengthLimits)
{
    struct Case {
        const char *name;
        std::string file;
        int result;
        int badLine;
    };
    const std::string comment = "#";
    const Case cases[] = {
        {"298 characters and a newline", comment + std::string(297, 'x') + "\n", 1, 0},
        {"299 characters and a newline", comment + std::string(298, 'x') + "\n", 0, 1},
        {"last line of 297 without newline", "# ok\n" + comment + std::string(296, 'x'), 1, 0},
        {"last line of 298 without newline", "# ok\n" + comment + std::string(297, 'x'), 0, 2},
        {"400 characters on line 3", "# a\n# b\n" + comment + std::string(399, 'x') + "\n", 0, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(load(c.file), c.result);
        std::vector<std::string> out = logged();
        if (c.result == 1) {
            EXPECT_EQ(out, kPlainSettings);
            continue;
        }
        EXPECT_EQ(out, std::vector<std::string>{"Line " + std::to_string(c.badLine) + " in file " +
                                                paramPath + " too long"});
    }
}

TEST_F(Params, TooLongLineKeepsTheLinesBeforeItUnsortedAndUnreported)
{
    ServerUserRec *wiz = connect("wiz", 2);
    lines();
    std::string file = "chat 10 1 public\nchat 20 1 rm5\nguestwiz no\n" + std::string(400, 'x') +
                       "\npagelength 9\n";
    EXPECT_EQ(load(file, wiz), 0);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "log [vestrel]: Line 4 in file " + paramPath + " too long",
                           "wiz (private): Line 4 in file " + paramPath + " too long",
                       }));
    ASSERT_NE(slot(L_CHAT), nullptr);
    EXPECT_EQ(slot(L_CHAT)->maximum, 20u) << "still in reverse order: not sorted";
    EXPECT_EQ(state()->guestWiz, 0);
    EXPECT_EQ(state()->pageLengthLimit, 0);
}

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

TEST_F(Params, NumbersOutOfRangeSaturateInsteadOfWrapping)
{
    ASSERT_EQ(load("chat 99999999999 nan public\n"
                   "move -99999999999 1e999 public\n"
                   "slide 4294967295 -1e999 public\n"),
              1);
    EXPECT_EQ(slot(L_CHAT)->maximum, LIMIT_UNLIMITED) << "a huge maximum is no limit";
    EXPECT_EQ(slot(L_CHAT)->decay, 0.0) << "not a number: no decay";
    EXPECT_EQ(slot(L_MOVE)->maximum, 0x80000000u);
    EXPECT_TRUE(std::isinf(slot(L_MOVE)->decay));
    EXPECT_EQ(slot(L_SLIDE)->maximum, 0xFFFFFFFFu);
}

// ---- Announcements --------------------------------------------------------

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

// ---- The idle check -------------------------------------------------------

TEST_F(Params, IdleUsersAreSentToTheIdleRoomOnce)
{
    host->createRoom(5, "Five");
    host->createRoom(86, "Idle");
    ASSERT_EQ(load("idle 10 86 all\n"), 1);
    ServerUserRec *alice = connect("alice", 1, 5);
    ServerUserRec *wiz = connect("wiz", 2, 5);
    ServerUserRec *napper = connect("napper", 1, 86);
    host->say(alice, "hello");
    host->say(wiz, "hello");
    host->say(napper, "zzz");
    lines();

    host->advance(9 * 60);
    EXPECT_EQ(alice->user.roomID, 5) << "not yet ten minutes";
    host->advance(2 * 60);
    EXPECT_EQ(alice->user.roomID, 86);
    EXPECT_EQ(wiz->user.roomID, 5) << "never an operator";
    EXPECT_EQ(napper->user.roomID, 86);
    std::vector<std::string> out = lines();
    EXPECT_EQ(std::count(out.begin(), out.end(),
                         "alice: You have been sent to the Idle Room for being idle"),
              1);
    EXPECT_EQ(std::count(out.begin(), out.end(),
                         "napper: You have been sent to the Idle Room for being idle"),
              0)
        << "already in the idle room";
    EXPECT_EQ(std::count(out.begin(), out.end(), "log [vestrel] alice: Displaying Idlers info.."),
              1);

    host->advance(30 * 60);
    out = lines();
    EXPECT_EQ(std::count(out.begin(), out.end(),
                         "alice: You have been sent to the Idle Room for being idle"),
              0)
        << "moved once";
}

// The scan keeps a room's entry for the users after it in the list while
// they are in the same room: each user must still get his own room's.
TEST_F(Params, IdleEntriesFollowEachUsersRoom)
{
    for (RoomID r : {5, 7, 86, 87})
        host->createRoom(r, "Room");
    ASSERT_EQ(load("idle 10 86 public\nidle 5 87 rm7\n"), 1);
    ServerUserRec *ann = connect("ann", 1, 5);
    ServerUserRec *ben = connect("ben", 1, 7);
    ServerUserRec *cid = connect("cid", 1, 7);
    ServerUserRec *dot = connect("dot", 1, 5);
    for (ServerUserRec *u : {ann, ben, cid, dot})
        host->say(u, "hello");

    host->advance(6 * 60);
    EXPECT_EQ(ann->user.roomID, 5);
    EXPECT_EQ(ben->user.roomID, 87) << "room 7's five minutes";
    EXPECT_EQ(cid->user.roomID, 87) << "after a user who was sent away";
    EXPECT_EQ(dot->user.roomID, 5) << "back in room 5: its ten minutes again";
    host->advance(5 * 60);
    EXPECT_EQ(ann->user.roomID, 86);
    EXPECT_EQ(dot->user.roomID, 86);
    lines();
}

TEST_F(Params, IdleCheckIsScheduledOnceForThePluginsLife)
{
    auto idleEvents = [&] {
        int n = 0;
        for (void *e : host->pendingEvents())
            n += static_cast<TimerEvent *>(e)->action == TA_IDLE;
        return n;
    };
    EXPECT_EQ(idleEvents(), 1);
    ASSERT_EQ(load("# again\n"), 1);
    ASSERT_EQ(load("# and again\n"), 1);
    host->advance(600);
    EXPECT_EQ(idleEvents(), 1);
}

TEST_F(Params, IdleRoomThatNoRoomNumberCanHoldMovesNobody)
{
    ASSERT_EQ(load("idle 1 1e10 all\n"), 1);
    ServerUserRec *alice = connect("alice");
    host->say(alice, "hi");
    host->advance(600);
    EXPECT_EQ(alice->user.roomID, 0);
}

// ---- Allocation failures --------------------------------------------------

TEST_F(Params, EveryAllocationFailureOfALoadEndsCleanly)
{
    const std::string file = "autoannounce 12:00:00 Lunch\n"
                             "setrank gmsg member\n"
                             "chat 10 1 rm5 rm7-9 public\n"
                             "chatgoto 5 go five\n"
                             "pageresponse Thanks\n"
                             "mroombg x.gif\n"
                             "zone 12 public\n";
    writeParams(file);
    for (uint64_t n = 1;; n++) {
        SCOPED_TRACE(n);
        lines();
        host->failAllocation(n, true);
        int result = loadParameterFile(state(), nullptr);
        host->failAllocation(0, false);
        std::vector<std::string> out = logged();
        bool failedLine = false;
        for (const std::string &l : out)
            failedLine = failedLine || l.find("load failed") != std::string::npos;
        if (result == 1 && !failedLine && n > 20)
            break;
        ASSERT_LT(n, 200u);
    }
    host->shutdown();
    EXPECT_EQ(host->liveBlocks(), 0u);
    EXPECT_EQ(host->badFrees(), 0);
}

TEST_F(Params, OutOfMemoryMessagesEndTheLoad)
{
    struct Case {
        const char *file;
        int failAt;
        const char *message;
    };
    // Allocation order: autoannounce record then event; setrank node;
    // entry then ranges.
    const Case cases[] = {
        {"autoannounce 12:00:00 x\n", 1, "Unable to get memory for autoannounce, load failed"},
        {"autoannounce 12:00:00 x\n", 2, "Unable to get memory for autoannounce, load failed"},
        {"setrank gmsg member\n", 1, "Unable to get memory for setrank, load failed"},
        {"chat 10 1 public\n", 1, "Unable to get memory for LimitValue, load failed"},
        {"chat 10 1 rm5\n", 2, "Unable to get memory for RoomNumber, load failed"},
    };
    ServerUserRec *wiz = connect("wiz", 2);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        writeParams(c.file);
        lines();
        size_t before = host->liveBlocks();
        host->failAllocation(c.failAt, true);
        EXPECT_EQ(loadParameterFile(state(), wiz), 0);
        host->failAllocation(0, false);
        EXPECT_EQ(lines(), (std::vector<std::string>{"log [vestrel]: " + std::string(c.message),
                                                     "wiz (private): " + std::string(c.message)}));
        EXPECT_EQ(host->liveBlocks(), before) << "nothing of the failed line is left";
    }
}

TEST_F(Params, FailedIdleEventEndsTheFirstLoad)
{
    host->shutdown();
    writeParams("guestwiz no\n");
    host.reset();
    host = std::make_unique<vh::Host>();
    // The state, then the thirty defaults; the idle event comes after them.
    uint64_t idleAllocation = 1 + 21 + 1;
    host->failAllocation(idleAllocation, true);
    EXPECT_FALSE(start("guestwiz no\n"));
    EXPECT_TRUE(saw("log [vestrel]: *** vestrel initialization failed ***"));
    EXPECT_FALSE(saw("log [vestrel]: guestwiz no")) << "no report";
    EXPECT_EQ(host->liveBlocks(), 0u);
}

} // namespace

namespace
{

class ParamsUnreadable : public HostTest
{
};

// A directory opens but reads as nothing; the process's own memory, read
// at offset 0, fails with EIO. Either is refused before anything is let
// go: a reload keeps the configuration in force, a start fails.
TEST_F(ParamsUnreadable, AFileThatCannotBeReadIsRefusedAtStartAndOnReload)
{
    const struct {
        const char *what;
        void (*make)(const std::string &path);
        const char *logged;
    } cases[] = {
        {"a directory", [](const std::string &path) { std::filesystem::create_directory(path); },
         "Open failed Is a directory, errno=21, on file "},
        {"a read error",
         [](const std::string &path) { std::filesystem::create_symlink("/proc/self/mem", path); },
         "Read failed Input/output error, errno=5, on file "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(start("chat 5 1 public\n"));
        std::filesystem::remove(paramPath);
        c.make(paramPath);
        lines();
        EXPECT_EQ(loadParameterFile(state(), nullptr), 0);
        EXPECT_TRUE(saw("log [vestrel]: " + std::string(c.logged) + paramPath));
        ASSERT_NE(state()->limits[L_CHAT], nullptr) << "the configuration in force stays";
        EXPECT_EQ(state()->limits[L_CHAT]->maximum, 5u);

        host->shutdown();
        host.reset();
        host = std::make_unique<vh::Host>();
        EXPECT_FALSE(host->attachPlugin(staticProcs(), paramPath));
        EXPECT_TRUE(saw("log [vestrel]: *** vestrel initialization failed ***"));
        EXPECT_EQ(host->liveBlocks(), 0u);
        std::filesystem::remove_all(paramPath);
        host.reset();
        host = std::make_unique<vh::Host>();
    }
}

} // namespace
