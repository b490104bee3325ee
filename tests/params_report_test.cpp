// The configuration report: its order, its forms, its reader and the pieces that fit.
#include "params_fixture.h"

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

} // namespace
