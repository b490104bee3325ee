// Who may own a member room and whose name is whose: guests own nothing,
// nor does a user whose logon is not complete; a returning owner is free in
// his own room; names cannot be borrowed; the server's own commands take
// the plug-in's short forms, and a room keeps to its places.
#include "sanctions_fixture.h"

namespace
{

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

// A second room would leave the first owned by his counter and by nobody
// who can manage it.
TEST_F(SanctionsHold, AnOwnerTakesNoSecondRoom)
{
    config("mroomdiscipline 5\nrtakedelay 0\n");
    const ClientID bens = ben->counter;
    host->disconnect(ben);
    host->advance(2);
    host->gotoRoom(ann, 13);
    host->advance(1);
    EXPECT_TRUE(contains(type(ann, "`rtake"), "ann: You already own a member room"));
    EXPECT_EQ(host->room(13)->memberOwner, bens);
    EXPECT_EQ(host->room(12)->memberOwner, ann->counter);
    host->gotoRoom(wiz, 13);
    host->advance(1);
    EXPECT_TRUE(contains(type(wiz, "`rtake"), "wiz: You now own the room")) << "he owns none";

    // A user whose client shares the counter of an owner owns his room.
    ServerUserRec *twin = connectIn12("twin", 0x0A0000F0, ann->counter, 0x77);
    host->gotoRoom(wiz, 13);
    host->advance(1);
    EXPECT_TRUE(contains(type(wiz, "`rowner twin"), "wiz: That user already owns a member room"));
    EXPECT_NE(host->room(13)->memberOwner, twin->counter);
}

// A client sharing the counter of a user who takes a room after it logged
// on has no last owned room; the host, which asks only that, would make
// the counter a second room.
TEST_F(SanctionsHold, ACounterMakesNoSecondRoomThroughATwin)
{
    config("mroomdiscipline 5\nrtakedelay 0\n");
    ServerUserRec *twin = connectIn12("twin", 0x0A0000F1, 0x4242, 0x78);
    ServerUserRec *taker = connectIn12("taker", 0x0A0000F2, 0x4242, 0x79);
    host->disconnect(ben);
    host->advance(2);
    host->gotoRoom(taker, 13);
    host->advance(1);
    ASSERT_TRUE(contains(type(taker, "`rtake"), "taker: You now own the room"));
    ASSERT_EQ(twin->lastOwnedRoom, nullptr);
    EXPECT_TRUE(contains(type(twin, "`newroom Twin's"), "twin: You already own a member room"));
    EXPECT_EQ(host->room(1000), nullptr);
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

} // namespace
