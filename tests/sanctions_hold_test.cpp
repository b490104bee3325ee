// Member-room sanctions hold: only the room that laid them lifts what a
// user bears there, identities cannot be borrowed or left blank to slip a
// kick, a kicked user stays out however he comes in, and a room's
// sanctions go with the room.
#include "sanctions_fixture.h"

namespace
{

TEST_F(SanctionsHold, OnlyTheRoomThatHoldsAUserLiftsWhatHeBears)
{
    struct Case {
        const char *line;
        int udBit;
        const char *told;
    };
    const Case lifts[] = {
        {"`rungag v", UD_RGAG, "v rungagged"},
        {"`runpin v", UD_RPIN, "v runpinned"},
        {"`runpropgag v", UD_RPROPGAG, "v runpropgagged"},
    };
    ServerUserRec *v = visitor("v", 12);
    discipline(v);
    ASSERT_EQ(ud(v)->flags & UD_ROOMSANCTIONS, UD_ROOMSANCTIONS);

    // ben, in his own room, forgives in his own list: v stays held in 12.
    for (const Case &c : lifts) {
        SCOPED_TRACE(std::string("from afar: ") + c.line);
        EXPECT_TRUE(contains(type(ben, c.line), std::string("ben: ") + c.told));
        EXPECT_TRUE(ud(v)->flags & c.udBit);
    }
    EXPECT_EQ(v->user.nbrProps, 1) << "the pin costume stays on";
    EXPECT_TRUE(contains(type(v, "hello"), "dropped talk from v"));
    EXPECT_EQ(sanctions(v, 12), RS_PIN | RS_GAG | RS_PROPGAG);

    // ann, whose room holds him, lifts it; the costume comes off before
    // she is told.
    for (const Case &c : lifts) {
        SCOPED_TRACE(std::string("in the room: ") + c.line);
        auto out = type(ann, c.line);
        EXPECT_FALSE(ud(v)->flags & c.udBit);
        auto told = std::find(out.begin(), out.end(), std::string("ann: ") + c.told);
        EXPECT_NE(told, out.end());
        if (c.udBit == UD_RPIN) {
            auto props = std::find(out.begin(), out.end(), "room 12 <- props v none");
            EXPECT_LT(props, told) << "the costume comes off before she is told";
        }
    }
    EXPECT_EQ(sanctions(v, 12), 0);
}

TEST_F(SanctionsHold, AnOwnerCannotUndoAnOperatorsPin)
{
    ServerUserRec *v = visitor("v", 13);
    type(wiz, "`pinx v");
    ASSERT_EQ(v->user.nbrProps, 1);
    type(ben, "`rpin v");
    host->advance(1);
    auto out = type(ben, "`runpin v");
    EXPECT_TRUE(contains(out, "ben: v runpinned"));
    EXPECT_FALSE(contains(out, "room 13 <- props v none"));
    EXPECT_EQ(v->user.nbrProps, 1) << "the operator's pin costume stays";
    EXPECT_TRUE(v->flags & UF_Pinned);
}

TEST_F(SanctionsHold, OwnRoomIsNoEscapeAndAKickFromOutsideTouchesNothing)
{
    ServerUserRec *h = visitor("h", 12);
    host->createRoom(15, "h's");
    host->setRoomOwner(15, h);
    host->advance(2);
    discipline(h);
    ASSERT_EQ(ud(h)->flags & UD_ROOMSANCTIONS, UD_ROOMSANCTIONS);

    // Pinned and gagged in 12, he goes home: what 12 laid on him stays in 12.
    host->gotoRoom(h, 15);
    host->advance(1);
    EXPECT_EQ(h->user.roomID, 15);
    EXPECT_EQ(ud(h)->flags & UD_ROOMSANCTIONS, 0);
    EXPECT_EQ(h->user.nbrProps, 0) << "the pin costume stays behind";
    EXPECT_TRUE(contains(type(h, "free at last"), "h says: free at last"));

    // ann kicks him while he is at home: recorded, nothing of his changes.
    discipline(h); // recorded again, carried out only in 12
    ud(h)->lastWarning = 7;
    size_t timers = host->pendingTimers();
    type(ann, "`rkick h");
    EXPECT_EQ(sanctions(h, 12) & RS_KICK, RS_KICK);
    EXPECT_EQ(h->user.roomID, 15);
    EXPECT_EQ(ud(h)->lastWarning, 7) << "his data where he is are left alone";
    EXPECT_EQ(host->pendingTimers(), timers) << "no room-entry action for him";
    lines();
    host->gotoRoom(h, 12);
    EXPECT_TRUE(saw("h: Sorry - you've been kicked from that room"));
}

void clearBanList(RoomDat *rd)
{
    while (rd->badActorList != nullptr) {
        RoomBadActor *e = rd->badActorList;
        rd->badActorList = e->next;
        DisposePtr(reinterpret_cast<Ptr>(e));
    }
}

TEST_F(SanctionsHold, EveryMatchingEntryCounts)
{
    const uint32_t xavIp = (192u << 24) | (168u << 16) | (5u << 8) | 6u;
    const uint32_t yveIp = (192u << 24) | (168u << 16) | (5u << 8) | 5u;
    ServerUserRec *xav = connectIn12("xav", xavIp, 0x4444, 0x5555);
    type(ann, "`rkick xav");
    host->disconnect(xav);
    connectIn12("yve", yveIp, 0x6666, 0x7777);
    type(ann, "`rgag yve"); // the newest entry
    lines();

    // xav again, with his own client and machine, from yve's address.
    xav = connectIn12("xav", yveIp, 0x4444, 0x5555);
    EXPECT_EQ(getUserSanctions(state(), xav, host->room(12), ud(xav)), RS_KICK | RS_GAG);
    EXPECT_EQ(xav->user.roomID, 0);
    EXPECT_TRUE(saw("xav: Sorry - you've been kicked from that room"));
}

TEST_F(SanctionsHold, AnIdentityOfZeroIsNoIdentity)
{
    struct Identity {
        std::optional<uint32_t> ip, counter, puid;
        int logonDelay;
    };
    struct Case {
        const char *name;
        Identity kicked, comer;
    };
    const Case cases[] = {
        {"both with logon data pending (no counter yet)",
         {0x0A000001, 0x4444, 0x5555, 5},
         {0x0A000002, 0x4445, 0x5556, 5}},
        {"both with no machine identity", {0x0A000003, 0x4446, 0, 0}, {0x0A000004, 0x4447, 0, 0}},
        {"both with no address", {0, 0x4448, 0x5557, 0}, {0, 0x4449, 0x5558, 0}},
    };
    auto connectAs = [&](const char *handle, const Identity &id) {
        vh::UserOptions o;
        o.handle = handle;
        o.ip = id.ip;
        o.counter = id.counter;
        o.puid = id.puid;
        o.logonDelay = id.logonDelay;
        o.room = 12;
        return host->connect(o);
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        clearBanList(rd(12));
        ServerUserRec *kicked = connectAs("xav", c.kicked);
        ServerUserRec *comer = connectAs("zed", c.comer);
        host->advance(1);
        type(ann, "`rkick xav");
        ASSERT_EQ(getUserSanctions(state(), kicked, host->room(12), ud(kicked)), RS_KICK);
        EXPECT_EQ(getUserSanctions(state(), comer, host->room(12), ud(comer)), 0);
        host->disconnect(kicked);
        host->disconnect(comer);
        host->advance(10);
    }
}

TEST_F(SanctionsHold, AKickedUserStaysOutHoweverHeComesIn)
{
    ServerUserRec *k = visitor("k", 12);
    type(ann, "`rkick k");
    ASSERT_EQ(k->user.roomID, 0);
    ClientID counter = k->counter;
    host->disconnect(k);
    lines();

    // Straight into the room at logon: the room-entry action sends him out.
    vh::UserOptions again;
    again.handle = "k";
    again.counter = counter;
    again.room = 12;
    k = host->connect(again);
    host->advance(2);
    EXPECT_EQ(k->user.roomID, 0);
    EXPECT_TRUE(saw("k: Sorry - you've been kicked from that room"));
    EXPECT_FALSE(ud(k)->flags & UD_ROOMSANCTIONS);

    // From another address and machine, his counter known only after the
    // room-entry action ran: the logon action sends him out once it is.
    host->disconnect(k);
    vh::UserOptions late;
    late.handle = "k";
    late.counter = again.counter;
    late.logonDelay = 4;
    late.room = 12;
    k = host->connect(late);
    host->advance(2);
    EXPECT_EQ(k->user.roomID, 12) << "not yet known";
    lines();
    host->advance(4);
    EXPECT_EQ(k->user.roomID, 0);
    EXPECT_TRUE(saw("k: Sorry - you've been kicked from that room"));

    // By a chat-goto phrase and by asking: refused at the door.
    config("mroomdiscipline 5\nchatgoto 12 let me in\n");
    for (const char *how : {"let me in", "goto"}) {
        SCOPED_TRACE(how);
        lines();
        if (std::string(how) == "goto")
            host->gotoRoom(k, 12);
        else
            host->say(k, how);
        host->advance(1);
        EXPECT_EQ(k->user.roomID, 0);
        EXPECT_TRUE(saw("k: Sorry - you've been kicked from that room"));
    }
}

TEST_F(SanctionsHold, ARoomsSanctionsGoWithTheRoom)
{
    enum How { InsideNoArg, InsideWithArg, FromOutside, ByTheServer };
    struct Case {
        const char *name;
        How how;
    };
    const Case cases[] = {
        {"rdelete in the room", InsideNoArg},
        {"rdelete with an argument", InsideWithArg},
        {"rdelete from elsewhere", FromOutside},
        {"deleted by the server", ByTheServer},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        host->createRoom(20, "Doomed");
        ServerUserRec *owner = connect("olga", 1, 20);
        host->setRoomOwner(20, owner);
        ServerUserRec *v = visitor("v", 20);
        for (const char *cmd : {"`rpin v", "`rgag v", "`rpropgag v"})
            type(owner, cmd);
        host->advance(1);
        ASSERT_EQ(ud(v)->flags & UD_ROOMSANCTIONS, UD_ROOMSANCTIONS);
        ASSERT_EQ(v->user.nbrProps, 1);
        if (c.how == FromOutside) {
            host->gotoRoom(owner, 13);
            host->advance(1);
        }
        lines();
        switch (c.how) {
        case InsideNoArg:
        case FromOutside:
            host->say(owner, "`rdelete");
            break;
        case InsideWithArg:
            host->say(owner, "`rdelete now");
            break;
        case ByTheServer:
            host->deleteRoom(20);
            break;
        }
        host->advance(1);
        ASSERT_EQ(host->room(20), nullptr);
        EXPECT_EQ(ud(v)->flags & UD_ROOMSANCTIONS, 0);
        EXPECT_EQ(v->user.nbrProps, 0) << "the pin costume is off";
        EXPECT_TRUE(contains(type(v, "out"), "v says: out"));
        host->disconnect(v);
        host->disconnect(owner);
    }
}

TEST_F(SanctionsHold, AKickedUserWithNowhereToGoIsLoggedOff)
{
    for (int i = 0; i < host->state()->maxPeoplePerRoom - 1; i++)
        ASSERT_NE(connect("e" + std::to_string(i), 1, 0),
                  nullptr); // with wiz, the entrance is full
    visitor("k", 12);
    lines();
    // The server cannot put him out either, and nothing runs on for ever.
    auto out = type(ann, "`rkick k");
    host->advance(2);
    EXPECT_EQ(host->user("k"), nullptr);
    EXPECT_TRUE(contains(out, "k: Sorry - you've been kicked from that room"));
}

TEST_F(SanctionsHold, TheRoomsSanctionsHoldFromTheMomentOfEntry)
{
    struct Case {
        const char *name;
        const char *cmd;
        int logonDelay;
        bool says, stays;
    };
    const Case cases[] = {
        {"gagged, logging on into the room", "`rgag ", 0, false, true},
        {"kicked, logging on into the room", "`rkick ", 0, true, false},
        {"gagged, his counter known late", "`rgag ", 3, false, true},
        {"pinned, his counter known late", "`rpin ", 3, true, true},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string handle = "p" + std::to_string(n++);
        vh::UserOptions o;
        o.handle = handle;
        o.counter = 0x7000 + n;
        o.room = 12;
        ServerUserRec *u = host->connect(o);
        host->advance(2);
        type(ann, c.cmd + handle);
        host->advance(1);
        host->disconnect(u);
        // Back from another address and machine: only his counter tells.
        o.logonDelay = c.logonDelay;
        u = host->connect(o);
        if (c.logonDelay > 0)
            host->advance(c.logonDelay + 1);
        lines();
        host->say(u, "here I am");
        EXPECT_EQ(saw(handle + " says: here I am"), c.says);
        EXPECT_EQ(u->user.roomID == 12, c.stays);
        if (std::string(c.cmd) == "`rpin ") {
            EXPECT_EQ(u->user.nbrProps, 1) << "the pin costume";
        }
        host->disconnect(u);
    }
}

TEST_F(SanctionsHold, ASanctionGoesInTheUsersOwnEntry)
{
    const uint32_t shared = (10u << 24) | 9u;
    ServerUserRec *yve = connectIn12("yve", shared, 0x78, 0x98);
    type(ann, "`rgag yve");
    ServerUserRec *bob = connectIn12("bob", shared, 0x77, 0x99);
    type(ann, "`rkick bob");
    host->disconnect(bob);
    bob = connectIn12("bob", (10u << 24) | 7u, 0x77, 0x99); // another address
    EXPECT_EQ(bob->user.roomID, 0) << "his own client and machine were recorded";
    EXPECT_EQ(getUserSanctions(state(), yve, host->room(12), ud(yve)), RS_GAG | RS_KICK)
        << "yve shares the address the kick was recorded with";
    int entries = 0;
    for (RoomBadActor *e = rd(12)->badActorList; e != nullptr; e = e->next)
        entries++;
    EXPECT_EQ(entries, 2);

    // A lift reaches every entry that holds him.
    rememberPerp(host->state(), state(), yve, host->room(12), RS_KICK);
    forgivePerp(host->state(), state(), yve, host->room(12), RS_KICK);
    EXPECT_EQ(getUserSanctions(state(), yve, host->room(12), ud(yve)), RS_GAG);
}

TEST_F(SanctionsHold, WhatAUserIsMadeToWearHeCannotTakeOff)
{
    ServerUserRec *v = visitor("v", 12);
    ServerUserRec *other = visitor("other", 12);
    host->props(other, {{42, 0}});
    config("mroomdiscipline 5\ntake all\n");
    struct Case {
        const char *name;
        const char *by;
    };
    const Case cases[] = {
        {"pinned by the room", "`rpin v"},
        {"prop-gagged by the room", "`rpropgag v"},
        {"pinned by an operator", "`pinx v"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        type(std::string(c.by) == "`pinx v" ? wiz : ann, c.by);
        if (std::string(c.by) == "`pinx v")
            host->gotoRoom(wiz, 12);
        host->advance(1);
        std::vector<AssetSpec> was(v->user.propSpec, v->user.propSpec + v->user.nbrProps);
        type(v, "`take other");
        EXPECT_EQ(v->user.nbrProps, was.size());
        for (const char *lift : {"`runpin v", "`runpropgag v"})
            type(ann, lift);
        v->flags &= ~UF_Pinned;
        host->advance(1);
    }
}

TEST_F(SanctionsHold, AnOperatorsPinHoldsHisOwnRoomToo)
{
    host->gotoRoom(ann, 0);
    host->advance(1);
    type(wiz, "`pinx ann");
    ASSERT_TRUE(ann->flags & UF_Pinned);
    Point at = ann->user.roomPos;
    host->gotoRoom(ann, 12);
    host->moveTo(ann, 10, 10);
    host->props(ann, {{7, 0}});
    EXPECT_EQ(ann->user.roomID, 0);
    EXPECT_EQ(ann->user.roomPos.h, at.h);
    EXPECT_EQ(ann->user.nbrProps, 1);
    EXPECT_EQ(ann->user.propSpec[0].id, PIN_PROP_ID);
}

TEST_F(SanctionsHold, AServersOwnMoveLeavesTheRoomsSanctionsBehind)
{
    ServerUserRec *v = visitor("v", 12);
    type(ann, "`rpin v"); // pinned and prop-gagged, not gagged: he may still ask
    type(ann, "`rpropgag v");
    host->advance(1);
    ASSERT_EQ(ud(v)->flags & UD_ROOMSANCTIONS, UD_RPIN | UD_RPROPGAG);
    type(v, "`newroom"); // the server makes his room and puts him in it
    host->advance(1);
    ASSERT_NE(v->user.roomID, 12);
    EXPECT_EQ(ud(v)->flags & UD_ROOMSANCTIONS, 0);
    EXPECT_EQ(v->user.nbrProps, 0) << "the pin costume stays behind";
    EXPECT_TRUE(contains(type(v, "my own room"), "v says: my own room"));
}

} // namespace
