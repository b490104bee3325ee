// The substitute host on its own: clock and timers, the queue, the
// allocator, room buffers, entry rules, lookups and the transcript.
#include "fixture.h"

#include <cstring>

namespace
{

class Bare : public ::testing::Test
{
  protected:
    vh::Host host;

    ServerUserRec *connect(const std::string &handle, int rank = 1, RoomID room = 0)
    {
        vh::UserOptions o;
        o.handle = handle;
        o.rank = rank;
        o.room = room;
        return host.connect(o);
    }
};

// Timer events without a plug-in: record the order they fire in.
std::vector<int> g_fired;
std::vector<time_t> g_firedAt;
int g_rescheduleFirst = 0;

void recordTimer(ServerState *, AnyType, AnyType event)
{
    auto *e = static_cast<TimerEvent *>(event);
    g_fired.push_back(e->action);
    g_firedAt.push_back(vh::clockNow());
    if (e->action == 1 && g_rescheduleFirst-- > 0) {
        scheduleTimerEvent(1, e, 10);
        return;
    }
    DisposePtr(static_cast<Ptr>(event));
}

AnyType fakeInit(PluginID, int, char **)
{
    return &g_fired;
}
void fakeShutdown(ServerState *, AnyType) {}
void fakeUser(ServerState *, AnyType, ServerUserRec *) {}
void fakeRoom(ServerState *, AnyType, ServerRoomRec *) {}
void fakeEntry(ServerState *, AnyType, ServerUserRec *, ServerRoomRec *) {}
ClientMsg *fakeHandle(ServerState *, AnyType, ClientMsg *m)
{
    return m;
}

class Timers : public Bare
{
  protected:
    void SetUp() override
    {
        vh::PluginProcs p{fakeInit, fakeShutdown, fakeUser,   fakeUser,   fakeRoom,
                          fakeRoom, fakeEntry,    fakeHandle, recordTimer};
        ASSERT_TRUE(host.attachPlugin(p, "none"));
        g_fired.clear();
        g_firedAt.clear();
        g_rescheduleFirst = 0;
    }

    void schedule(int action, int32_t delay)
    {
        auto *e = reinterpret_cast<TimerEvent *>(NewPtrClear(sizeof(TimerEvent)));
        e->action = action;
        scheduleTimerEvent(1, e, delay);
    }
};

TEST_F(Timers, FireByDueTimeThenSchedulingOrder)
{
    time_t t0 = vh::clockNow();
    schedule(1, 5);
    schedule(2, 3);
    schedule(3, 5);
    schedule(4, 3);
    host.advance(4);
    EXPECT_EQ(g_fired, (std::vector<int>{2, 4}));
    EXPECT_EQ(g_firedAt, (std::vector<time_t>{t0 + 3, t0 + 3}));
    EXPECT_EQ(vh::clockNow(), t0 + 4);
    host.advance(1);
    EXPECT_EQ(g_fired, (std::vector<int>{2, 4, 1, 3}));
    EXPECT_EQ(host.liveBlocks(), 0u);
}

TEST_F(Timers, RescheduledEventFiresAgainWithinOneAdvance)
{
    g_rescheduleFirst = 2;
    schedule(1, 10);
    host.advance(35);
    EXPECT_EQ(g_fired, (std::vector<int>{1, 1, 1}));
    time_t t0 = vh::clockNow() - 35;
    EXPECT_EQ(g_firedAt, (std::vector<time_t>{t0 + 10, t0 + 20, t0 + 30}));
}

TEST_F(Timers, ZeroAndNegativeDelaysRunWhenTheQueueDrains)
{
    schedule(1, 0);
    schedule(2, -5);
    EXPECT_TRUE(g_fired.empty());
    host.flush();
    EXPECT_EQ(g_fired, (std::vector<int>{1, 2}));
}

TEST_F(Bare, AllocatorCountsBlocksAndFailsOnRequest)
{
    Ptr a = NewPtr(10);
    Ptr b = NewPtrClear(0);
    EXPECT_EQ(host.liveBlocks(), 2u);
    EXPECT_EQ(NewPtr(-1), nullptr);

    host.failAllocation(2, true);
    Ptr c = NewPtr(1);
    EXPECT_EQ(NewPtr(1), nullptr) << "the second from now fails";
    Ptr d = NewPtr(1);
    EXPECT_NE(d, nullptr) << "only that one";

    host.failAllocation(1, false);
    EXPECT_EQ(NewPtr(1), nullptr);
    EXPECT_EQ(NewPtrClear(1), nullptr) << "and every one after it";
    host.failAllocation(0, false);

    for (Ptr p : {a, b, c, d})
        DisposePtr(p);
    EXPECT_EQ(host.liveBlocks(), 0u);
    EXPECT_EQ(host.badFrees(), 0);
}

TEST_F(Bare, DisposingAForeignBlockIsReportedLoudly)
{
    char local[4];
    DisposePtr(local);
    EXPECT_EQ(host.badFrees(), 1);
    EXPECT_EQ(host.transcript().back(), "host: DisposePtr of a block the host never handed out");
}

TEST_F(Bare, RoomBufferHoldsNameAndLoosePropsChainedByOffset)
{
    ServerRoomRec *r = host.createRoom(5, "Garden");
    auto *name = static_cast<unsigned char *>(r->varBuf + r->room.roomNameOfst);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(name + 1), name[0]), "Garden");

    ServerUserRec *alice = connect("alice", 1, 5);
    for (int id : {101, 102, 103}) {
        AssetSpec asset{id, 0};
        Point loc{static_cast<sint16>(id), 20};
        std::vector<uint8_t> p(12);
        std::memcpy(p.data(), &asset, 8);
        std::memcpy(p.data() + 8, &loc, 4);
        host.send(alice, MSG_PROPNEW, p);
    }
    ASSERT_EQ(r->room.nbrLProps, 3);
    std::vector<int> ids;
    Offset at = r->room.firstLProp;
    for (int i = 0; i < r->room.nbrLProps; i++) {
        auto *p = static_cast<LPropRec *>(getInVarBuf(r, at, 4));
        ASSERT_NE(p, nullptr);
        ids.push_back(p->propSpec.id);
        at = p->link.nextOfst;
    }
    EXPECT_EQ(ids, (std::vector<int>{103, 102, 101})) << "a new prop is number 0";
    EXPECT_EQ(at, 0);

    std::vector<uint8_t> del(4);
    int32_t one = 1;
    std::memcpy(del.data(), &one, 4);
    host.send(alice, MSG_PROPDEL, del);
    EXPECT_EQ(r->room.nbrLProps, 2);
    DeleteLooseProp(alice, -1);
    EXPECT_EQ(r->room.nbrLProps, 0);
    EXPECT_EQ(r->room.firstLProp, 0);
}

TEST_F(Bare, DrawingsKeepCountAndBytesInUse)
{
    ServerRoomRec *r = host.createRoom(5, "Garden");
    ServerUserRec *alice = connect("alice", 1, 5);
    Offset base = r->room.lenVars;
    DrawRecord d{};
    d.drawCmd = DC_Path;
    d.cmdLength = 20;
    AddDrawCommand(alice, &d);
    AddDrawCommand(alice, &d);
    EXPECT_EQ(r->room.nbrDrawCmds, 2);
    EXPECT_EQ(r->room.lenVars, base + 2 * (10 + 20));
    d.drawCmd = DC_Delete;
    AddDrawCommand(alice, &d);
    EXPECT_EQ(r->room.nbrDrawCmds, 1);
    d.drawCmd = DC_Detonate;
    AddDrawCommand(alice, &d);
    EXPECT_EQ(r->room.nbrDrawCmds, 0);
    EXPECT_EQ(r->room.lenVars, base);

    host.changeRoom(5, vh::RoomOptions{.drawings = 200, .lenVars = 5000});
    EXPECT_EQ(r->room.nbrDrawCmds, 200);
    EXPECT_EQ(r->room.lenVars, 5000);
}

TEST_F(Bare, VarBufAccessorChecksWhereARecordStarts)
{
    ServerRoomRec *r = host.room(0);
    const uint32_t size = r->varBufAlloc;
    struct Case {
        const char *name;
        int offset;
        int align;
        bool found;
    };
    const Case cases[] = {
        {"offset 0 is none", 0, 4, false},
        {"aligned inside", 8, 4, true},
        {"odd offset", 9, 4, false},
        {"2 modulo 4", 10, 4, false},
        {"2 modulo 4 with alignment 2", 10, 2, true},
        {"negative offset", -8, 4, false},
        {"offset at the end", static_cast<int>(size), 4, true},
        {"offset past the end", static_cast<int>(size + 4), 4, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        void *p = getInVarBuf(r, static_cast<Offset>(c.offset), c.align);
        EXPECT_EQ(p != nullptr, c.found);
        if (p != nullptr) {
            EXPECT_EQ(p, r->varBuf + c.offset);
        }
    }
}

TEST_F(Bare, EntryRulesKeepOrdinaryUsersOut)
{
    host.createRoom(1, "Closed");
    host.changeRoom(1, vh::RoomOptions{.closed = true});
    host.createRoom(2, "Secret");
    host.changeRoom(2, vh::RoomOptions{.password = std::string("pw")});
    host.createRoom(3, "Staff");
    host.changeRoom(3, vh::RoomOptions{.operatorsOnly = true});
    host.createRoom(4, "Tiny");
    host.changeRoom(4, vh::RoomOptions{.maxOccupancy = 1});
    ServerUserRec *member = connect("member");
    ServerUserRec *wiz = connect("wiz", 2);
    host.clearTranscript();

    for (RoomID id : {1, 2, 3, 99})
        host.gotoRoom(member, id);
    EXPECT_EQ(member->user.roomID, 0);
    EXPECT_EQ(host.transcript(), std::vector<std::string>(4, "member <- nav error 1"));

    for (RoomID id : {1, 2, 3})
        host.gotoRoom(wiz, id);
    EXPECT_EQ(wiz->user.roomID, 3);
    host.gotoRoom(wiz, 4);
    host.gotoRoom(member, 4);
    EXPECT_EQ(member->user.roomID, 0) << "the room is full";

    ChangeUserRoom(member, 1, 1);
    EXPECT_EQ(member->user.roomID, 1) << "a forced move ignores the rules";
    EXPECT_EQ(host.room(1)->room.nbrPeople, 1);
    EXPECT_EQ(host.room(0)->room.nbrPeople, 0);
}

TEST_F(Bare, LookupsFollowNamesCountersAndIds)
{
    vh::UserOptions o;
    o.handle = "alice";
    o.counter = 777;
    o.logonName = "Alice Liddell";
    ServerUserRec *alice = host.connect(o);
    EXPECT_EQ(GetServerUserByName("alice liddell"), alice);
    EXPECT_EQ(GetServerUserByCounter(777), alice);
    EXPECT_EQ(GetServerUser(alice->user.userID), alice);

    std::vector<uint8_t> rename = {3, 'B', 'o', 'b'};
    host.send(alice, MSG_USERNAME, rename);
    EXPECT_EQ(GetServerUserByName("Alice Liddell"), nullptr);
    EXPECT_EQ(GetServerUserByName("BOB"), alice);
    EXPECT_EQ(host.transcript().back(), "alice changes name to Bob") << "shown by handle";

    host.disconnect(alice);
    EXPECT_EQ(GetServerUserByName("bob"), nullptr);
    EXPECT_EQ(GetServerUserByCounter(777), nullptr);
}

TEST_F(Bare, RanksAndDefaultIdentities)
{
    ServerUserRec *guest = connect("guest", 0);
    ServerUserRec *member = connect("member", 1);
    ServerUserRec *wiz = connect("wiz", 2);
    ServerUserRec *god = connect("god", 3);
    EXPECT_EQ(guest->crc, GUEST_CRC);
    EXPECT_NE(member->crc, GUEST_CRC);
    EXPECT_EQ(UserRank(guest), 0);
    EXPECT_EQ(UserRank(god), 3);
    EXPECT_EQ(wiz->flags & (UF_Wizard | UF_God), UF_Wizard);
    EXPECT_EQ(god->flags & (UF_Wizard | UF_God), UF_God);
    EXPECT_NE(member->counter, wiz->counter);
    EXPECT_NE(member->puidCtr, wiz->puidCtr);
    const unsigned char *ip = reinterpret_cast<const unsigned char *>(&wiz->netAddress.ipAddress);
    EXPECT_EQ((std::vector<int>{ip[0], ip[1], ip[2], ip[3]}), (std::vector<int>{10, 0, 0, 3}));
    EXPECT_TRUE(member->flags & UF_LogonComplete);
}

TEST_F(Bare, UserListShowsOperatorMarksAsFlagsHoldThem)
{
    ServerUserRec *alice = connect("alice");
    ServerUserRec *wiz = connect("wiz", 2);
    host.clearTranscript();
    GenerateListOfAllUsers(alice);
    wiz->flags &= static_cast<uint16>(~UF_Wizard);
    GenerateListOfAllUsers(alice);
    EXPECT_EQ(host.transcript(), (std::vector<std::string>{"alice <- users alice wiz(op)",
                                                           "alice <- users alice wiz"}));
}

TEST_F(Bare, TranscriptEscapesControlBytesAndCipherRoundTrips)
{
    EXPECT_EQ(vh::printable(std::string("a\tb\x7f\x01 z", 7)), "a\\x09b\\x7F\\x01 z");
    EXPECT_EQ(vh::printable("caf\xc3\xa9 \x80\xff~"), "caf\\xC3\\xA9 \\x80\\xFF~");
    std::string plain = "secret words";
    std::vector<uint8_t> wire = vh::encipher(plain);
    std::string back(plain.size(), '\0');
    DecryptCString(wire.data(), back.data(), static_cast<int>(wire.size()), 0);
    EXPECT_EQ(back, plain);
    EXPECT_NE(std::string(wire.begin(), wire.end()), plain);
}

} // namespace

namespace
{

// The server's own backtick commands, with no plug-in in the way.
class HostCommands : public Bare
{
  protected:
    std::vector<std::string> run(ServerUserRec *u, const std::string &line,
                                 ServerUserRec *target = nullptr)
    {
        host.clearTranscript();
        if (target != nullptr)
            host.whisper(u, target, line);
        else
            host.say(u, line);
        return host.transcript();
    }
};

TEST_F(HostCommands, MemberRoomsAreCreatedHandedOverAndDeleted)
{
    ServerUserRec *alice = connect("alice");
    ServerUserRec *bob = connect("bob");
    EXPECT_EQ(run(alice, "`newroom Tea House"),
              (std::vector<std::string>{"room 1000 created", "alice creates room 1000",
                                        "alice enters room 1000"}));
    ServerRoomRec *r = host.room(1000);
    EXPECT_EQ(r->memberOwner, alice->counter);
    EXPECT_EQ(alice->lastOwnedRoom, r);
    EXPECT_EQ(run(alice, "`newroom Another"),
              std::vector<std::string>{"alice: You already own a room"});
    EXPECT_EQ(run(alice, "`rpaint off"),
              std::vector<std::string>{"room 1000: painting off (by alice)"});

    host.gotoRoom(bob, 1000);
    run(alice, "`rkick bob");
    EXPECT_EQ(bob->user.roomID, 0);
    ServerUserRec *wiz = connect("wiz", 2);
    host.gotoRoom(wiz, 1000);
    host.gotoRoom(bob, 1000);
    run(wiz, "`rkick bob");
    EXPECT_EQ(bob->user.roomID, 0) << "an operator kicks out of the member room he is in";
    run(alice, "'rowner bob");
    EXPECT_EQ(r->memberOwner, bob->counter);
    EXPECT_EQ(bob->lastOwnedRoom, r);

    host.gotoRoom(alice, 1000);
    EXPECT_EQ(run(alice, "`rdelete"), std::vector<std::string>{"alice: You own no room"});
    run(bob, "`rdelete");
    EXPECT_EQ(host.room(1000), nullptr);
    EXPECT_EQ(alice->user.roomID, 0) << "occupants go to room 0";
    EXPECT_EQ(bob->lastOwnedRoom, nullptr);
}

TEST_F(HostCommands, OperatorsKillAndBanAddresses)
{
    ServerUserRec *alice = connect("alice");
    ServerUserRec *wiz = connect("wiz", 2);
    EXPECT_EQ(run(alice, "`kill", wiz),
              std::vector<std::string>{"alice: kill must be whispered by an operator"});
    run(wiz, "`kill flooding", alice);
    EXPECT_EQ(host.user("alice"), nullptr);
    EXPECT_EQ(host.transcript().back(), "alice disconnected (killed: flooding)");

    run(wiz, "`banip 10.9.9.9");
    vh::UserOptions o;
    o.handle = "mallory";
    o.ip = (10u << 24) | (9u << 16) | (9u << 8) | 9u;
    EXPECT_EQ(host.connect(o), nullptr);
    EXPECT_EQ(host.transcript().back(), "host: logon from 10.9.9.9 refused (banned)");
}

TEST_F(HostCommands, PagesCommentsResponsesAndUnknownWords)
{
    host.createRoom(5, "Five");
    ServerUserRec *alice = connect("alice", 1, 5);
    ServerUserRec *wiz = connect("wiz", 2);
    EXPECT_EQ(run(alice, "`page I need help"),
              std::vector<std::string>{"wizards: Page from alice: I need help"});
    run(wiz, "`er");
    EXPECT_EQ(wiz->user.roomID, 5);
    EXPECT_EQ(run(wiz, "`comment all is well"),
              std::vector<std::string>{"log [comment] wiz: all is well"});
    host.whisper(alice, wiz, "psst");
    EXPECT_EQ(run(wiz, "`respond yes?"), std::vector<std::string>{"wiz whispers to alice: yes?"});
    EXPECT_EQ(run(alice, "`rpaint off"), std::vector<std::string>{"alice: You own no room"});
    EXPECT_EQ(run(alice, "`dance"), std::vector<std::string>{"alice says: `dance"});
    EXPECT_EQ(run(alice, "'help").size(), 1u);
}

} // namespace

namespace
{

TEST_F(Bare, LoosePropsNeverOutgrowTheRoomBuffer)
{
    host.createRoom(5, std::string(200, 'n'));
    int added = 0;
    while (host.addLooseProp(5, AssetSpec{1, 0}, Point{10, 10}))
        added++;
    EXPECT_EQ(host.transcript().back(), "host: room 5 has no space for another loose prop");
    ServerRoomRec *r = host.room(5);
    EXPECT_EQ(r->room.nbrLProps, added);
    EXPECT_LE(static_cast<uint32_t>(r->room.lenVars), r->varBufAlloc);

    // A client's drop into the full room is refused too.
    ServerUserRec *bob = connect("bob", 1, 5);
    host.dropProp(bob, AssetSpec{2, 0}, 20, 20);
    EXPECT_EQ(host.room(5)->room.nbrLProps, added);
}

TEST_F(Bare, NameLookupIgnoresCaseAndTrailingBlanks)
{
    ServerUserRec *bob = connect("bob");
    EXPECT_EQ(GetServerUserByName("BOB"), bob);
    EXPECT_EQ(GetServerUserByName("bob \t "), bob);
    EXPECT_EQ(GetServerUserByName(" bob"), nullptr);
    EXPECT_EQ(GetServerUserByName("bo"), nullptr);
}

} // namespace
