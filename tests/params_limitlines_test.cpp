// Limit lines: their forms, their problems, the order of their entries and their numbers.
#include "params_fixture.h"

#include <cmath>

namespace
{

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

} // namespace
