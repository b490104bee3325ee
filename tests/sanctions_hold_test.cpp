// Member-room sanctions hold: only the room that laid them lifts what a
// user bears there, identities cannot be borrowed or left blank to slip a
// kick, guests own nothing, a kicked user stays out however he comes in, a
// room's sanctions go with the room, and names cannot be borrowed.
#include "fixture.h"

namespace
{

class SanctionsHold : public HostTest
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(start("mroomdiscipline 5\n"));
        for (RoomID id : {12, 13, 14})
            host->createRoom(id, "Room " + std::to_string(id));
        ann = connect("ann", 1, 12);
        host->setRoomOwner(12, ann);
        ben = connect("ben", 1, 13);
        host->setRoomOwner(13, ben);
        wiz = connect("wiz", 2, 0);
        host->advance(2);
        lines();
    }

    ServerUserRec *visitor(const std::string &handle, RoomID room)
    {
        ServerUserRec *u = connect(handle, 1, room);
        host->advance(2);
        lines();
        return u;
    }

    // ann pins, gags and prop-gags v in her room 12.
    void discipline(ServerUserRec *v)
    {
        for (const char *cmd : {"`rpin ", "`rgag ", "`rpropgag "})
            type(ann, cmd + host->handleOf(v));
        host->advance(1);
        lines();
    }

    // A user in room 12 with the identities given, logged on.
    ServerUserRec *connectIn12(const char *handle, uint32_t ip, uint32_t counter, uint32_t puid)
    {
        vh::UserOptions o;
        o.handle = handle;
        o.ip = ip;
        o.counter = counter;
        o.puid = puid;
        o.room = 12;
        ServerUserRec *u = host->connect(o);
        host->advance(2);
        return u;
    }

    int sanctions(ServerUserRec *u, RoomID room)
    {
        return getUserSanctions(state(), u, host->room(room), ud(u));
    }

    ServerUserRec *ann = nullptr, *ben = nullptr, *wiz = nullptr;
};

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

TEST_F(SanctionsHold, GuestsOwnNoRoom)
{
    // ann's client, used by a guest, shares her counter.
    vh::UserOptions g;
    g.handle = "g";
    g.rank = 0;
    g.counter = ann->counter;
    g.room = 0;
    ServerUserRec *guest = host->connect(g);
    host->advance(2);
    EXPECT_EQ(guest->lastOwnedRoom, nullptr) << "not given ann's room at logon";

    rememberPerp(host->state(), state(), guest, host->room(12), RS_GAG);
    guest->lastOwnedRoom = host->room(12); // a stale pointer grants nothing either
    EXPECT_EQ(getUserSanctions(state(), guest, host->room(12), ud(guest)), RS_GAG);

    // Handed a room, making one, or taking one: refused, whatever rank
    // the operator has lowered those commands to.
    config("mroomdiscipline 5\nsetrank newroom guest\nsetrank rtake guest\nrtakedelay 0\n");
    ServerUserRec *g2 = connect("g2", 0, 12);
    host->disconnect(ben);
    host->advance(2);
    struct Case {
        ServerUserRec *speaker;
        RoomID in;
        const char *line;
        const char *told;
    };
    const Case cases[] = {
        {ann, 12, "`rowner g2", "ann: A guest can't own a member room"},
        {g2, 0, "`newroom", "g2: A guest can't own a member room"},
        {g2, 13, "`rtake", "g2: A guest can't own a member room"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        host->gotoRoom(c.speaker, c.in);
        host->advance(1);
        EXPECT_TRUE(contains(type(c.speaker, c.line), c.told));
    }
    EXPECT_EQ(host->room(12)->memberOwner, ann->counter);
    EXPECT_NE(host->room(13)->memberOwner, g2->counter);
    EXPECT_EQ(g2->lastOwnedRoom, nullptr);
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

TEST_F(SanctionsHold, NamesHeldByOthersCannotBeTaken)
{
    ServerUserRec *bob = visitor("bob", 12);
    struct Case {
        const char *name;
        bool taken;
    };
    const Case cases[] = {
        {"ann", false}, {"ANN", false}, {"ann ", false}, {"Bob", true}, {"nobody", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        lines();
        host->rename(bob, c.name);
        EXPECT_EQ(saw("bob: Sorry that name is illegal"), !c.taken);
        host->advance(60);
    }
    EXPECT_EQ(host->user("ann"), ann);
    EXPECT_EQ(GetServerUserByName("ann"), ann) << "the owner's name still finds the owner";
}

TEST_F(SanctionsHold, TheServerTakesTheShortFormsThePluginTakes)
{
    for (const CmdTable &row : cmdTable) {
        if (!(row.flags & CF_HOSTCMD))
            continue;
        std::string word = row.command;
        for (size_t n = 1; n <= word.size(); n++) {
            std::string upper = word.substr(0, n);
            for (char &ch : upper)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            for (const std::string &typed : {word.substr(0, n), upper}) {
                SCOPED_TRACE(typed);
                bool plugin = findCommand(state(), typed.c_str()) == &row;
                EXPECT_EQ(vh::serverCommandWord(typed) == word, plugin);
            }
        }
    }

    ServerUserRec *bob = visitor("bob", 12);
    auto out = type(ann, "`rk bob");
    EXPECT_TRUE(contains(out, "room 12: bob is kicked out by ann"));
    EXPECT_EQ(bob->user.roomID, 0);
}

TEST_F(SanctionsHold, ARoomHasNoMorePlacesThanItHas)
{
    for (int i = 0; i < host->state()->maxPeoplePerRoom - 1; i++)
        ASSERT_NE(connect("u" + std::to_string(i), 1, 14), nullptr);
    EXPECT_EQ(host->room(14)->room.nbrPeople, host->state()->maxPeoplePerRoom - 1);
    ServerUserRec *last = connect("last", 1, 14);
    ASSERT_NE(last, nullptr);
    lines();
    EXPECT_EQ(connect("extra", 1, 14), nullptr);
    EXPECT_TRUE(saw("extra disconnected (room 14 is full)"));
    EXPECT_EQ(host->room(14)->room.nbrPeople, host->state()->maxPeoplePerRoom);

    host->gotoRoom(wiz, 14);
    EXPECT_EQ(wiz->user.roomID, 0) << "an operator finds the room full too";
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

TEST_F(SanctionsHold, ALogonKeepsNoNameAnotherHolds)
{
    std::string longName(31, 'x');
    connect(longName, 1, 0);
    struct Case {
        std::string logon, name;
    };
    const Case cases[] = {
        {"ann", "ann2"},
        {"ANN", "ANN2"},
        {"nobody", "nobody"},
        {longName, longName.substr(0, 30) + "2"},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.logon);
        vh::UserOptions o;
        o.handle = "h" + std::to_string(n++);
        o.logonName = c.logon;
        ServerUserRec *u = host->connect(o);
        ASSERT_NE(u, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(u->user.name + 1), u->user.name[0]),
                  c.name);
        host->disconnect(u);
    }
    EXPECT_EQ(GetServerUserByName("ann"), ann);
}

TEST_F(SanctionsHold, NoRoomIsGivenToAUserWithoutHisIdentity)
{
    config("mroomdiscipline 5\nrtakedelay 0\n");
    vh::UserOptions o;
    o.handle = "late";
    o.room = 12;
    o.logonDelay = 30;
    ServerUserRec *late = host->connect(o);
    host->advance(2);
    ASSERT_EQ(late->counter, 0u);
    host->disconnect(ben);
    host->advance(2);
    struct Case {
        ServerUserRec *speaker;
        RoomID in;
        const char *line;
    };
    const Case cases[] = {
        {ann, 12, "`rowner late"},
        {late, 0, "`newroom"},
        {late, 13, "`rtake"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        host->gotoRoom(c.speaker, c.in);
        host->advance(1);
        EXPECT_TRUE(contains(type(c.speaker, c.line),
                             host->handleOf(c.speaker) +
                                 ": A member room can't be given before the logon is complete"));
    }
    EXPECT_EQ(host->room(12)->memberOwner, ann->counter);
    EXPECT_NE(host->room(13)->memberOwner, 0u);
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

TEST_F(SanctionsHold, AnOwnerLoggingOnIsNotHeldInHisOwnRoom)
{
    // Somebody on the address ann comes back from is pinned in her room.
    const uint32_t shared = (10u << 24) | 77u;
    vh::UserOptions p;
    p.handle = "p";
    p.ip = shared;
    p.room = 12;
    ServerUserRec *pinned = host->connect(p);
    host->advance(2);
    type(ann, "`rpin p");
    host->disconnect(pinned);
    ClientID counter = ann->counter;

    // Her counter known at once, or only once her logon data arrive.
    for (int logonDelay : {0, 4}) {
        SCOPED_TRACE(logonDelay);
        host->disconnect(ann);
        vh::UserOptions back;
        back.handle = "ann";
        back.ip = shared;
        back.counter = counter;
        back.room = 12;
        back.logonDelay = logonDelay;
        ann = host->connect(back);
        host->advance(logonDelay + 2);
        EXPECT_EQ(ann->lastOwnedRoom, host->room(12));
        EXPECT_FALSE(ud(ann)->flags & UD_ROOMSANCTIONS);
        EXPECT_EQ(ann->user.nbrProps, 0);
    }
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
