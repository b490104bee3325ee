// The plug-in loaded by dlopen into the host, seen from outside: start,
// users and rooms coming and going, and a clean shutdown.
#include "fixture.h"

#include <cstring>

namespace
{

class Frame : public HostTest
{
  protected:
    // Starts the plug-in with the nth allocation and all after it failing,
    // for n = 1, 2, ... until a start succeeds; `failed(n)` looks at each
    // host a failed start left. Returns the n of the start that succeeded,
    // 0 for none.
    template <typename Check> uint64_t walkFailedStarts(Check failed)
    {
        for (uint64_t n = 1; n < 100; n++) {
            host.reset();
            host = std::make_unique<vh::Host>();
            host->failAllocation(n, false);
            bool started = host->loadPlugin(VESTREL_SO, paramPath);
            host->failAllocation(0, false);
            if (started)
                return n;
            failed(n);
        }
        return 0;
    }
};

// Pending actions other than the perpetual idle check.
std::vector<int> pendingActions(vh::Host &host)
{
    std::vector<int> actions;
    for (void *e : host.pendingEvents()) {
        if (static_cast<TimerEvent *>(e)->action != TA_IDLE)
            actions.push_back(static_cast<TimerEvent *>(e)->action);
    }
    return actions;
}

TEST_F(Frame, StartsWithBannerAndShutsDownWithNoBlocksLeft)
{
    ASSERT_TRUE(start("# nothing\n"));
    EXPECT_TRUE(saw("log [vestrel]: vestrel version 4.2.8"));
    ServerUserRec *alice = connect("alice");
    ServerUserRec *bob = connect("bob");
    ASSERT_NE(alice, nullptr);
    host->createRoom(5, "Garden");
    host->gotoRoom(alice, 5);
    host->whisper(bob, alice, "hello");
    host->advance(5);
    host->disconnect(bob);
    host->shutdown();
    EXPECT_FALSE(host->pluginRunning());
    EXPECT_EQ(host->liveBlocks(), 0u);
    EXPECT_EQ(host->badFrees(), 0);
}

TEST_F(Frame, PendingTimerEventsAreFreedByTheHostAtShutdown)
{
    ASSERT_TRUE(start(""));
    connect("alice");
    EXPECT_EQ(host->pendingTimers(), 3u) << "two logon events and the idle check";
    host->shutdown();
    EXPECT_EQ(host->liveBlocks(), 0u);
}

TEST_F(Frame, MissingParameterFileFailsTheStartAndFreesEverything)
{
    host->clearTranscript();
    ASSERT_FALSE(host->loadPlugin(VESTREL_SO, dir.path() + "/missing.conf"));
    const std::string open =
        "log [vestrel]: Open failed No such file or directory, errno=2, on file " + dir.path() +
        "/missing.conf";
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "log [vestrel]: vestrel version 4.2.8",
                           open,
                           "log [vestrel]: *** vestrel initialization failed ***",
                           "host: plug-in failed to start",
                       }));
    EXPECT_EQ(host->liveBlocks(), 0u);
}

TEST_F(Frame, NoMemoryForTheStateIsADisaster)
{
    writeParams("");
    host->failAllocation(1, true);
    ASSERT_FALSE(host->loadPlugin(VESTREL_SO, paramPath));
    EXPECT_TRUE(saw("log [DISASTER: ]: Unable to allocate storage for vestrel plugin"));
    EXPECT_EQ(host->liveBlocks(), 0u);
}

TEST_F(Frame, EveryAllocationFailureDuringStartEndsCleanly)
{
    writeParams("");
    uint64_t n = walkFailedStarts(
        [&](uint64_t n) { EXPECT_EQ(host->liveBlocks(), 0u) << "failing allocation " << n; });
    EXPECT_GT(n, 1u) << "the start never succeeded, or needed no allocation";
}

TEST_F(Frame, FailedStartLeavesNoEventInTheHostsKeeping)
{
    // The announcement's event is scheduled before the load runs out of
    // memory; the host frees it at once rather than decades later.
    writeParams("autoannounce 12:00:00 Lunch!\nchat 5 1 public\nspoof public\n");
    int failedAfterScheduling = 0;
    walkFailedStarts([&](uint64_t n) {
        EXPECT_EQ(host->pendingTimers(), 0u) << "failing allocation " << n;
        EXPECT_EQ(host->liveBlocks(), 0u) << "failing allocation " << n;
        failedAfterScheduling += n > 3;
    });
    EXPECT_GT(failedAfterScheduling, 0);
}

TEST_F(Frame, NewUserGetsZeroedSlotAndLogonEvents)
{
    ASSERT_TRUE(start(""));
    ServerUserRec *alice = connect("alice");
    UserDat *d = ud(alice);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->lastChat, nullptr);
    EXPECT_EQ(d->lastWarning, -1);
    EXPECT_EQ(d->lastClientPos.v, -5);
    EXPECT_EQ(d->lastClientPos.h, -5);
    EXPECT_EQ(d->flags, 0);
    EXPECT_EQ(d->clientType, 0);
    EXPECT_EQ(d->chat.numberRecent, 0);
    EXPECT_EQ(pendingActions(*host), (std::vector<int>{TA_ROOMENTRY, TA_LOGON}));
    for (void *e : host->pendingEvents()) {
        auto *event = static_cast<TimerEvent *>(e);
        EXPECT_EQ(event->userID, event->action == TA_IDLE ? 0 : alice->user.userID);
    }
}

TEST_F(Frame, OperatorsNoticeEventComesFirstWhenOperatorsMayEnterMemberRooms)
{
    ASSERT_TRUE(start(""));
    state()->wizInMemberRooms = 1;
    connect("alice");
    EXPECT_EQ(pendingActions(*host), (std::vector<int>{TA_WIZNOTICE, TA_ROOMENTRY, TA_LOGON}));
}

TEST_F(Frame, OwnerLogoffTimeIsTheVirtualClockWhenTheOwnerLeaves)
{
    ASSERT_TRUE(start(""));
    ServerUserRec *alice = connect("alice");
    connect("bob");
    host->createRoom(7, "Alice's");
    host->setRoomOwner(7, alice);
    host->advance(100);
    time_t left = vh::clockNow();

    host->disconnect(host->user("bob"));
    EXPECT_EQ(rd(7)->ownerLogoffTime, 0) << "bob owns no room";
    EXPECT_EQ(rd(0)->ownerLogoffTime, 0);

    host->disconnect(alice);
    EXPECT_EQ(rd(7)->ownerLogoffTime, left);
}

TEST_F(Frame, UserWithCounterZeroOwnsNoRoom)
{
    ASSERT_TRUE(start(""));
    vh::UserOptions o;
    o.handle = "zero";
    o.counter = 0;
    host->disconnect(host->connect(o));
    EXPECT_EQ(rd(0)->ownerLogoffTime, 0);
}

TEST_F(Frame, DeletionsReleaseOwnedTexts)
{
    ASSERT_TRUE(start(""));
    ServerUserRec *alice = connect("alice");
    host->createRoom(7, "Seven");
    size_t before = host->liveBlocks();

    ud(alice)->lastChat = NewPtrClear(10);
    rd(7)->lastChat = NewPtrClear(10);
    for (int i = 0; i < 3; i++) {
        auto *bad = reinterpret_cast<RoomBadActor *>(NewPtrClear(sizeof(RoomBadActor)));
        bad->next = rd(7)->badActorList;
        rd(7)->badActorList = bad;
    }
    EXPECT_EQ(host->liveBlocks(), before + 5);
    host->disconnect(alice);
    host->deleteRoom(7);
    EXPECT_EQ(host->liveBlocks(), before);
}

TEST_F(Frame, ClientMessagesPassUntouchedWithoutLimits)
{
    ASSERT_TRUE(start(""));
    ServerUserRec *alice = connect("alice");
    host->createRoom(5, "Five");
    lines();
    host->say(alice, "hi there");
    host->gotoRoom(alice, 5);
    host->moveTo(alice, 100, 200);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "alice says: hi there",
                           "alice enters room 5",
                           "alice moves to 100 200",
                       }));
}

TEST_F(Frame, MessageWithoutUserIsLoggedByItsCodeInMemoryOrder)
{
    ASSERT_TRUE(start(""));
    host->sendWithoutUser(MSG_TALK, {'h', 'i', 0});
    EXPECT_TRUE(saw("dropped talk from nobody")) << "chat needs a speaker";
    // "talk" is 0x74616C6B: its bytes in memory on this machine.
    uint32_t code = MSG_TALK;
    std::string memoryOrder(reinterpret_cast<const char *>(&code), 4);
    EXPECT_TRUE(saw("log [vestrel]: No user for message type " + memoryOrder));
}

TEST_F(Frame, IdleTimeIsKeptOnlyWhereAnIdleLimitApplies)
{
    ASSERT_TRUE(start(""));
    ServerUserRec *alice = connect("alice");
    ServerUserRec *wiz = connect("wiz", 2);
    host->say(alice, "hello");
    EXPECT_EQ(ud(alice)->idle, -1) << "no idle entry applies";

    writeParams("idle 10 86 public\n");
    host->say(wiz, "`vestrel reload");
    ASSERT_NE(state()->limits[L_IDLE], nullptr);
    host->advance(30);
    host->say(alice, "still here");
    EXPECT_EQ(ud(alice)->idle, vh::clockNow());

    host->advance(30);
    host->send(alice, MSG_PING, {});
    EXPECT_EQ(ud(alice)->idle, vh::clockNow() - 30) << "a ping is not activity";
    host->say(wiz, "operators are not watched");
    EXPECT_EQ(ud(wiz)->idle, 0);
}

} // namespace
