// Timer actions: the operators notice, room entry, sanctions, logon and
// the ownership clean-up.
#include "fixture.h"

#include <cstdio>

namespace
{

class TimerActions : public HostTest
{
  protected:
    ServerUserRec *connectAt(const std::string &handle, const char *ip, int rank = 1,
                             RoomID room = 0)
    {
        vh::UserOptions o;
        o.handle = handle;
        o.rank = rank;
        o.room = room;
        unsigned a, b, c, d;
        std::sscanf(ip, "%u.%u.%u.%u", &a, &b, &c, &d);
        o.ip = (a << 24) | (b << 16) | (c << 8) | d;
        return host->connect(o);
    }

    int count(const std::string &line)
    {
        const auto &t = host->transcript();
        return static_cast<int>(std::count(t.begin(), t.end(), line));
    }
};

const char kWizNotice[] =
    "NOTE: Operators may enter closed and passworded member rooms on this server.";
const char kTakeNotice[] =
    "This is a Take Avatar Room.  To take someone else's avatar, whisper `take.  Only wear "
    "avatars you are willing to share in this room.";

TEST_F(TimerActions, OperatorsNoticeComesOnceAndOnlyWhenOperatorsMayEnter)
{
    for (bool on : {true, false}) {
        SCOPED_TRACE(on);
        host.reset();
        host = std::make_unique<vh::Host>();
        ASSERT_TRUE(start(on ? "wizinmemberrooms yes\n" : "wizinmemberrooms no\n"));
        connect("bob");
        host->advance(1);
        EXPECT_EQ(count(std::string("bob: ") + kWizNotice), on ? 1 : 0);
        host->advance(10);
        EXPECT_EQ(count(std::string("bob: ") + kWizNotice), on ? 1 : 0);
        TearDown();
    }
}

TEST_F(TimerActions, TakeNoticeAtEveryEntryIncludingTheFirstRoom)
{
    ASSERT_TRUE(start("take rm5\n"));
    host->createRoom(5, "Five");
    ServerUserRec *bob = connect("bob", 1, 5);
    host->advance(1);
    EXPECT_EQ(count(std::string("bob: ") + kTakeNotice), 1);
    host->gotoRoom(bob, 0);
    host->gotoRoom(bob, 5);
    EXPECT_EQ(count(std::string("bob: ") + kTakeNotice), 2);
}

TEST_F(TimerActions, OwnersOnlyRoomDisconnectsAllButGods)
{
    ASSERT_TRUE(start("godonly rm9\n"));
    host->createRoom(9, "Vault");
    connect("bob", 1, 9);
    connect("wiz", 2, 9);
    connect("god", 3, 9);
    host->advance(1);
    EXPECT_TRUE(saw("bob disconnected (logged off)"));
    EXPECT_TRUE(saw("wiz disconnected (logged off)"));
    EXPECT_NE(host->user("god"), nullptr);
}

TEST_F(TimerActions, CopiedAvatarIsStrippedOncePerVisit)
{
    ASSERT_TRUE(start(""));
    host->createRoom(7, "Mel's");
    ServerUserRec *mel = connect("mel");
    host->setRoomOwner(7, mel);
    ServerUserRec *bob = connect("bob", 1, 7);
    ServerUserRec *carol = connect("carol");
    ServerUserRec *wiz = connect("wiz", 2);
    host->advance(2);
    rd(7)->flags |= RD_RNODUPAVATARS;
    host->props(bob, {{5, 0}, {6, 0}});
    const std::string strip = "You aren't permitted to wear the same avatar as someone else here";

    struct Case {
        ServerUserRec *who;
        bool stripped;
    };
    const Case cases[] = {{carol, true}, {carol, true}, {mel, false}, {wiz, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(host->handleOf(c.who));
        host->gotoRoom(c.who, 0);
        host->advance(30);
        host->props(c.who, {{6, 0}, {5, 0}});
        lines();
        host->gotoRoom(c.who, 7);
        EXPECT_EQ(saw(host->handleOf(c.who) + ": " + strip), c.stripped);
        EXPECT_EQ(c.who->user.nbrProps, c.stripped ? 0 : 2);
        if (c.stripped) {
            EXPECT_EQ(ud(c.who)->lastWarning, L_NODUPAVATARS);
            EXPECT_TRUE(saw("room 7 <- props " + host->handleOf(c.who) + " none"));
        }
    }
}

TEST_F(TimerActions, DuplicateAvatarEntryWithoutWarnLeavesTheAvatarOnEntry)
{
    ASSERT_TRUE(start("nodupavatars rm5\n"));
    host->createRoom(5, "Five");
    ServerUserRec *bob = connect("bob", 1, 5);
    ServerUserRec *carol = connect("carol");
    host->advance(2);
    host->props(bob, {{5, 0}});
    host->props(carol, {{5, 0}});
    host->gotoRoom(carol, 5);
    EXPECT_EQ(carol->user.nbrProps, 1);
}

TEST_F(TimerActions, DuplicateAddressLimit)
{
    struct Case {
        const char *name;
        const char *params;
        std::vector<std::pair<int, const char *>> users; // rank and address, in order
        const char *disconnected;                        // handle, or null
    };
    const Case cases[] = {
        {"three under dupip 1",
         "dupip 1\n",
         {{1, "10.0.3.4"}, {1, "10.0.3.4"}, {1, "10.0.3.4"}},
         "u2"},
        {"two under dupip 1", "dupip 1\n", {{1, "10.0.3.4"}, {1, "10.0.3.4"}}, nullptr},
        {"others elsewhere",
         "dupip 1\n",
         {{1, "10.0.3.4"}, {1, "10.0.3.5"}, {1, "10.0.3.4"}},
         nullptr},
        {"an operator on the address",
         "dupip 1\n",
         {{1, "10.0.3.4"}, {2, "10.0.3.4"}, {1, "10.0.3.4"}},
         nullptr},
        {"a pattern allows more",
         "dupip 1\ndupip 5 10.0.*.*\n",
         {{1, "10.0.3.4"}, {1, "10.0.3.4"}, {1, "10.0.3.4"}},
         nullptr},
        {"the pattern does not cover",
         "dupip 1\ndupip 5 10.0.*.*\n",
         {{1, "10.9.3.4"}, {1, "10.9.3.4"}, {1, "10.9.3.4"}},
         "u2"},
        {"past the pattern's limit",
         "dupip 1\ndupip 2 10.0.*.*\n",
         {{1, "10.0.3.4"}, {1, "10.0.3.4"}, {1, "10.0.3.4"}, {1, "10.0.3.4"}},
         "u3"},
        {"a fallback after a pattern serves nobody it covers",
         "dupip 5 10.0.*.*\ndupip 1\n",
         {{1, "10.0.3.4"}, {1, "10.0.3.4"}, {1, "10.0.3.4"}},
         nullptr},
        {"the most specific pattern wins",
         "dupip 5 10.*.*.*\ndupip 1 10.0.3.*\n",
         {{1, "10.0.3.4"}, {1, "10.0.3.4"}, {1, "10.0.3.4"}},
         "u2"},
        {"an earlier pattern wins a tie",
         "dupip 1 10.0.*.*\ndupip 5 10.*.3.*\n",
         {{1, "10.0.3.4"}, {1, "10.0.3.4"}, {1, "10.0.3.4"}},
         "u2"},
        {"all is a pattern, not a fallback",
         "dupip 1 all\n",
         {{1, "10.0.3.4"}, {1, "10.0.3.4"}, {1, "10.0.3.4"}},
         nullptr},
        {"a 20-digit octet matches nothing",
         "dupip 1 10.0.3.44444444444444444444\n",
         {{1, "10.0.3.4"}, {1, "10.0.3.4"}, {1, "10.0.3.4"}},
         nullptr},
        {"a number past an octet matches nothing",
         "dupip 1 10.0.3.260\n",
         {{1, "10.0.3.4"}, {1, "10.0.3.4"}, {1, "10.0.3.4"}},
         nullptr},
        {"a short pattern reads its missing octets as 0",
         "dupip 1 10.0\n",
         {{1, "10.0.0.0"}, {1, "10.0.0.0"}, {1, "10.0.0.0"}},
         "u2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        host.reset();
        host = std::make_unique<vh::Host>();
        ASSERT_TRUE(start(c.params));
        for (size_t i = 0; i < c.users.size(); i++)
            connectAt("u" + std::to_string(i), c.users[i].second, c.users[i].first);
        host->advance(1);
        for (size_t i = 0; i < c.users.size(); i++) {
            std::string h = "u" + std::to_string(i);
            bool gone = c.disconnected != nullptr && h == c.disconnected;
            EXPECT_EQ(host->user(h) == nullptr, gone) << h;
            if (gone) {
                EXPECT_TRUE(saw(h + " disconnected (killed: Duplicate IP limit exceeded)"));
            }
        }
        TearDown();
    }
}

TEST_F(TimerActions, LogonWaitsForLateDataThenFindsTheOwnedRoom)
{
    ASSERT_TRUE(start(""));
    host->createRoom(7, "Mel's");
    host->room(7)->memberOwner = 0x4242;
    vh::UserOptions o;
    o.handle = "mel";
    o.counter = 0x4242;
    o.logonDelay = 3;
    ServerUserRec *mel = host->connect(o);
    EXPECT_EQ(mel->counter, 0u);
    host->advance(2);
    EXPECT_EQ(mel->lastOwnedRoom, nullptr) << "no logon data yet";
    EXPECT_EQ(host->pendingTimers(), 2u) << "the logon action waits beside the idle check";
    host->advance(1);
    EXPECT_TRUE(saw("mel's logon data arrive"));
    EXPECT_EQ(mel->counter, 0x4242u);
    EXPECT_EQ(mel->lastOwnedRoom, host->room(7)) << "the retry in the same second finds it";
    EXPECT_EQ(host->pendingTimers(), 1u);
}

TEST_F(TimerActions, UserWithCounterZeroIsGivenNoRoomAtLogon)
{
    ASSERT_TRUE(start(""));
    host->createRoom(8, "Public");
    vh::UserOptions o;
    o.handle = "zero";
    o.counter = 0;
    ServerUserRec *zero = host->connect(o);
    host->advance(2);
    EXPECT_EQ(zero->lastOwnedRoom, nullptr);
}

TEST_F(TimerActions, UserWhoLeavesBeforeHisEventsFireIsSkipped)
{
    ASSERT_TRUE(start("wizinmemberrooms yes\n"));
    ServerUserRec *bob = connect("bob");
    size_t blocks = host->liveBlocks();
    host->disconnect(bob);
    host->advance(5);
    EXPECT_LT(host->liveBlocks(), blocks) << "his three events were freed";
    EXPECT_EQ(host->pendingTimers(), 1u);
}

TEST_F(TimerActions, ActionsWaitForARoomAndUnknownActionsAreFreed)
{
    ASSERT_TRUE(start(""));
    ServerUserRec *bob = connect("bob");
    host->advance(2);
    size_t blocks = host->liveBlocks();

    // A sanction action for a user in no room waits until he has one.
    bob->user.roomID = 99;
    ASSERT_TRUE(scheduleAction(state(), bob->user.userID, TA_SANCTIONS, 0));
    host->flush();
    host->advance(3);
    EXPECT_EQ(host->liveBlocks(), blocks + 1) << "still waiting";
    bob->user.roomID = 0;
    host->advance(1);
    EXPECT_EQ(host->liveBlocks(), blocks);

    ASSERT_TRUE(scheduleAction(state(), bob->user.userID, 99, 1));
    host->advance(1);
    EXPECT_EQ(host->liveBlocks(), blocks);
}

} // namespace
