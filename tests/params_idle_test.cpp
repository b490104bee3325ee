// The idle check: idle users sent to the idle room, each by his own room's entry.
#include "params_fixture.h"

namespace
{

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

} // namespace
