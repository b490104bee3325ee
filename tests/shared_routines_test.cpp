// The frame's shared routines, called directly.
#include "screening_fixture.h"

#include <cstring>

namespace
{

std::vector<std::string> g_seen;

ClientMsg *recordingHandleMessage(ServerState *ss, AnyType dat, ClientMsg *msg)
{
    g_seen.push_back(vh::eventCode(msg->eventType));
    return handleMessage(ss, dat, msg);
}

// The screening tests' small host: three users, in the entrance.
class Shared : public Screen
{
};

TEST_F(Shared, UserIPPrintsOctetsInNetworkOrder)
{
    const unsigned char octets[4] = {10, 1, 2, 3};
    std::memcpy(&alice->netAddress.ipAddress, octets, 4);
    char ip[IP_TEXT_SIZE];
    getUserIP(ip, alice);
    EXPECT_STREQ(ip, "10.1.2.3");

    const unsigned char widest[4] = {255, 255, 255, 255};
    std::memcpy(&alice->netAddress.ipAddress, widest, 4);
    getUserIP(ip, alice);
    EXPECT_STREQ(ip, "255.255.255.255");
}

TEST_F(Shared, CUserNameIsAtMost31Characters)
{
    struct Case {
        int lengthByte;
        std::string expected;
    };
    const std::string all(31, 'n');
    const Case cases[] = {{0, ""}, {5, "nnnnn"}, {31, all}, {32, all}, {40, all}, {255, all}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.lengthByte);
        std::memset(alice->user.name, 'n', sizeof alice->user.name);
        alice->user.name[0] = static_cast<unsigned char>(c.lengthByte);
        char name[USER_NAME_SIZE + 8];
        std::memset(name, 'x', sizeof name);
        getCUserName(name, alice);
        EXPECT_EQ(std::string(name), c.expected);
        EXPECT_EQ(name[USER_NAME_SIZE], 'x') << "nothing written past 32 bytes";
    }
}

TEST_F(Shared, RoomChangeDropsRoomSanctionsAndKeepsGlobalGags)
{
    UserDat *d = ud(alice);
    d->flags = UD_PAGEGAG | UD_NAMEGAG | UD_LISTGAG | UD_RPIN | UD_RPROPGAG | UD_RGAG;
    d->move = {100, 3};
    d->slide = {100, 4};
    d->chat = {100, 5};
    d->lastWarning = L_CHAT;
    d->lastClientPos = Point{7, 8};
    alice->user.nbrProps = 1;
    alice->user.propSpec[0] = AssetSpec{1280, 0};

    clearDataForRoomChange(host->state(), state(), alice);
    EXPECT_EQ(d->flags, UD_PAGEGAG | UD_NAMEGAG | UD_LISTGAG);
    EXPECT_EQ(alice->user.nbrProps, 0) << "the pin costume comes off";
    EXPECT_EQ(d->move.numberRecent, 0);
    EXPECT_EQ(d->move.lastTime, 0);
    EXPECT_EQ(d->slide.numberRecent, 0);
    EXPECT_EQ(d->chat.numberRecent, 5) << "other counters carry over";
    EXPECT_EQ(d->lastWarning, -1);
    EXPECT_EQ(d->lastClientPos.v, -5);
    EXPECT_EQ(d->lastClientPos.h, -5);

    auto pending = host->pendingEvents();
    ASSERT_EQ(pending.size(), 2u) << "room entry, and the idle check";
    EXPECT_EQ(static_cast<TimerEvent *>(pending[0])->action, TA_ROOMENTRY);
    EXPECT_EQ(host->pendingTimers(), 1u) << "room entry runs at once, after the move";
    host->flush();
}

TEST_F(Shared, UnpinnedUserKeepsHisPropsOnRoomChange)
{
    alice->user.nbrProps = 2;
    ud(alice)->flags = UD_RPROPGAG;
    clearDataForRoomChange(host->state(), state(), alice);
    EXPECT_EQ(alice->user.nbrProps, 2);
    host->flush();
}

TEST_F(Shared, ResetUserTellsTheClientWhatTheServerHolds)
{
    alice->user.faceNbr = 3;
    alice->user.colorNbr = 9;
    alice->user.nbrProps = 2;
    alice->user.propSpec[0] = AssetSpec{11, 0};
    alice->user.propSpec[1] = AssetSpec{12, 0};
    alice->user.roomPos = Point{40, 30};
    host->state()->currentUser = alice;
    resetUser(host->state(), state());
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "alice <- desc alice face 3 color 9 props 11 12",
                           "alice <- move alice 30 40",
                           "alice <- name alice alice",
                       }));
}

TEST_F(Shared, OperatorActionLogNamesTargetByAddressKeysAndName)
{
    const unsigned char octets[4] = {192, 168, 7, 9};
    std::memcpy(&bob->netAddress.ipAddress, octets, 4);
    makeServerActionLog(host->state(), state(), alice, "pinx", bob);
    char k1[WIZKEY_MAX], k0[WIZKEY_MAX];
    SeedToWizKey(bob, k1, 1);
    SeedToWizKey(bob, k0, 0);
    EXPECT_EQ(lines(), std::vector<std::string>{"log [pinx] alice: 192.168.7.9 " + std::string(k1) +
                                                " " + std::string(k0) + " \"bob\""});
}

TEST_F(Shared, VarBufRecordMustLieWhollyInsideTheBuffer)
{
    ServerRoomRec *r = host->room(0);
    const int size = static_cast<int>(r->varBufAlloc);
    struct Case {
        const char *name;
        int offset;
        int align;
        uint32 recordSize;
        bool found;
    };
    const Case cases[] = {
        {"offset 0 is none", 0, 4, 24, false},
        {"aligned inside", 8, 4, 24, true},
        {"misaligned", 10, 4, 24, false},
        {"negative offset", -8, 4, 24, false},
        {"record ends exactly at the end", size - 24, 4, 24, true},
        {"record runs past the end", size - 20, 4, 24, false},
        {"empty record at the end", size, 4, 0, true},
        {"one byte at the end", size, 1, 1, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        void *p = varBufRecord(r, static_cast<Offset>(c.offset), c.align, c.recordSize);
        EXPECT_EQ(p != nullptr, c.found);
    }
}

TEST_F(Shared, RoomNameWhoseTextLeavesTheBufferIsNotRead)
{
    ServerRoomRec *r = host->room(0);
    const Offset last = static_cast<Offset>(r->varBufAlloc - 4);
    r->room.roomNameOfst = last;
    r->varBuf[last] = 20; // 20 characters announced, 3 bytes left
    char name[ROOM_NAME_SIZE] = "stale";
    getRoomName(name, r);
    EXPECT_STREQ(name, "");
}

TEST_F(Shared, LogMessageGoesToLogAndPrivatelyToTheUser)
{
    logMessage(alice, "report line", 1);
    logMessage(nullptr, "log only", 1);
    logMessage(bob, "user only", 0);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "log [vestrel] alice: report line",
                           "alice (private): ; report line",
                           "log [vestrel]: log only",
                           "bob (private): ; user only",
                       }));
}

class Injected : public Shared
{
  protected:
    void SetUp() override
    {
        vh::PluginProcs procs = staticProcs();
        procs.handleMessage = recordingHandleMessage;
        writeParams("");
        ASSERT_TRUE(host->attachPlugin(procs, paramPath));
        host->createRoom(5, "Five");
        alice = connect("alice");
        bob = connect("bob");
        g_seen.clear();
        lines();
    }
};

TEST_F(Injected, ChatAndRoomChangesComeBackThroughTheScreen)
{
    generateChat(host->state(), state(), alice, "hello", 0);
    generateChat(host->state(), state(), alice, "psst", bob->user.userID);
    generateGotoRoom(host->state(), state(), alice, 5);
    EXPECT_TRUE(lines().empty()) << "nothing happens before the host's queue runs";
    host->flush();
    EXPECT_EQ(g_seen, (std::vector<std::string>{"talk", "whis", "navR"}));
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "alice says: hello",
                           "alice whispers to bob: psst",
                           "alice enters room 5",
                       }));
    EXPECT_EQ(host->liveBlocks(), 7u) << "the host freed the injected messages; left are the "
                                         "state, four logon events, the idle check and alice's "
                                         "last line";
}

TEST_F(Injected, NothingIsSentWhenTheMessageCannotBeAllocated)
{
    host->failAllocation(1, false);
    generateChat(host->state(), state(), alice, "hello", 0);
    generateGotoRoom(host->state(), state(), alice, 5);
    host->failAllocation(0, false);
    host->flush();
    EXPECT_TRUE(g_seen.empty());
    EXPECT_TRUE(lines().empty());
}

} // namespace
