// Member rooms: entry, ownership, the owner's switches, sanctions and the
// ban list.
#include "fixture.h"

namespace
{

class MemberRooms : public HostTest
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(start(kParams));
        host->createRoom(7, "Mel's");
        host->createRoom(9, "Vault");
        mel = connect("mel");
        host->setRoomOwner(7, mel);
        bob = connect("bob");
        wiz = connect("wiz", 2);
        god = connect("god", 3);
        host->advance(2);
        lines();
    }

    void enter(ServerUserRec *u, RoomID room)
    {
        host->gotoRoom(u, room);
        host->advance(1);
        lines();
    }

    RoomBadActor *banList(RoomID room) { return rd(room)->badActorList; }
    int sanctions(ServerUserRec *u, RoomID room)
    {
        return getUserSanctions(state(), u, host->room(room), ud(u));
    }

    static constexpr const char *kParams =
        "godonly rm9\nrtakedelay 300\nmroomdiscipline 5\nchat 100 1 altmember\n";
    ServerUserRec *mel = nullptr, *bob = nullptr, *wiz = nullptr, *god = nullptr;
};

TEST_F(MemberRooms, EntryRefusesOwnersOnlyRoomsAndKickedUsers)
{
    enter(mel, 7);
    enter(bob, 7);
    enter(wiz, 7);
    enter(god, 7);
    type(mel, "`rkick bob");
    rememberPerp(host->state(), state(), wiz, host->room(7), RS_KICK);
    rememberPerp(host->state(), state(), god, host->room(7), RS_KICK);
    struct Case {
        ServerUserRec *who;
        RoomID room;
        bool enters;
        const char *told;
    };
    const Case cases[] = {
        {god, 9, true, nullptr},
        {wiz, 9, false, "wiz: Sorry, only owners are permitted in that room"},
        {bob, 7, false, "bob: Sorry - you've been kicked from that room"},
        {wiz, 7, true, nullptr},
        {god, 7, true, nullptr},
        {bob, 42, true, nullptr}, // no such room: the host answers
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(host->handleOf(c.who) + " to " + std::to_string(c.room));
        enter(c.who, 0);
        lines();
        EXPECT_EQ(roomEntryPermitted(host->state(), state(), c.room, c.who), c.enters ? 1 : 0);
        if (c.told != nullptr) {
            EXPECT_TRUE(saw(c.told));
        } else {
            EXPECT_TRUE(lines().empty()) << "a user let in is told nothing";
        }
    }
}

TEST_F(MemberRooms, RtakeWaitsForTheDelayUnlessAnOperatorTakes)
{
    enter(bob, 7);
    EXPECT_TRUE(
        contains(type(bob, "`rtake"), "bob: You may send a message to the room owner with `rpage"));
    host->disconnect(mel);
    host->advance(299);
    EXPECT_TRUE(contains(type(bob, "`rtake"), "bob: Waiting for owner to return"));
    EXPECT_TRUE(contains(type(bob, "`rwho"), "bob: Room owner is not available"));
    host->advance(2);
    auto out = type(bob, "`rtake");
    EXPECT_TRUE(contains(out, "bob: You now own the room"));
    EXPECT_TRUE(contains(out, "room 7: Ownership transferred to bob"));
    EXPECT_TRUE(contains(out, "log [rtake] bob: {7} {Mel's} {bob}"));
    EXPECT_EQ(host->room(7)->memberOwner, bob->counter);
    EXPECT_EQ(bob->lastOwnedRoom, host->room(7));

    // An operator takes a room at once, with its owner present.
    enter(wiz, 7);
    EXPECT_TRUE(contains(type(wiz, "`rtake"), "wiz: You now own the room"));
}

TEST_F(MemberRooms, RoomWhoseOwnerNeverLoggedOffIsFreeOnceHeIsGone)
{
    host->room(7)->memberOwner = 0x7777; // an owner not on the server since the start
    enter(bob, 7);
    EXPECT_EQ(rd(7)->ownerLogoffTime, 0);
    EXPECT_TRUE(
        contains(type(bob, "`rwho"), "bob: Room is unowned, use `rtake to become the owner"));
    EXPECT_TRUE(contains(type(bob, "`rtake"), "bob: You now own the room"));
}

TEST_F(MemberRooms, RtakeOffIsLeftToTheHostForMembers)
{
    config("rtakedelay off\n");
    host->disconnect(mel);
    enter(bob, 7);
    enter(wiz, 7);
    EXPECT_TRUE(contains(type(bob, "`rtake"), "bob says: `rtake"));
    EXPECT_TRUE(contains(type(wiz, "`rtake"), "wiz: You now own the room"));
}

TEST_F(MemberRooms, RwhoTellsOperatorsAndWithMemberRWhoMembersWhoOwnsTheRoom)
{
    enter(bob, 7);
    enter(wiz, 7);
    EXPECT_TRUE(
        contains(type(bob, "`rwho"),
                 "bob: This room has an owner, user `rpage to send a message to the owner"));
    EXPECT_TRUE(contains(type(wiz, "`rwho"), "wiz: This room is owned by mel"));
    config("memberrwho yes\n");
    EXPECT_TRUE(contains(type(bob, "`rwho"), "bob: This room is owned by mel"));
    enter(bob, 0);
    EXPECT_TRUE(contains(type(bob, "`rwho"), "bob: Sorry - this is a public room"));
}

TEST_F(MemberRooms, NewroomChecksPinLimitAndPicture)
{
    // An owner's second room is the host's business.
    auto out = type(mel, "`newroom Second");
    EXPECT_TRUE(contains(out, "mel: You already own a room"));

    bob->flags |= UF_Pinned;
    EXPECT_TRUE(contains(type(bob, "`newroom Mine"), "bob: You can't make a room while pinned"));
    bob->flags &= ~UF_Pinned;

    config("newroom 1 0.001 public warn\nmroombg garden.png\n");
    out = type(bob, "`newroom Mine");
    EXPECT_TRUE(contains(out, "bob creates room 1000"));
    EXPECT_TRUE(contains(out, "room 1000: picture garden.png (by bob)"));
    type(bob, "`rdelete");
    EXPECT_EQ(host->room(1000), nullptr);
    EXPECT_TRUE(
        contains(type(bob, "`newroom Again"), "bob: Repeated room creation are limited here"));
}

TEST_F(MemberRooms, RdeleteClearsTheOccupantsDataOnlyWithoutAnArgument)
{
    enter(mel, 7);
    enter(bob, 7);
    ud(bob)->flags |= UD_RGAG;
    type(mel, "`rdelete now");
    EXPECT_TRUE(ud(bob)->flags & UD_RGAG) << "with an argument nobody's data is cleared";
    EXPECT_EQ(host->room(7), nullptr) << "but the host deletes the room";
}

// The server empties a deleted room into the gate, so a pinned owner who
// could delete his room would walk out of an operator's pin.
TEST_F(MemberRooms, APinnedOwnerDeletesNoRoom)
{
    enter(mel, 7);
    enter(wiz, 7);
    type(wiz, "`pinx mel");
    ASSERT_TRUE(mel->flags & UF_Pinned);
    for (const char *line : {"`rdelete", "`rdelete now"}) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(contains(type(mel, line), "mel: You can't delete a room while pinned"));
        ASSERT_NE(host->room(7), nullptr);
        EXPECT_EQ(mel->user.roomID, 7);
    }
}

TEST_F(MemberRooms, DeletedRoomLeavesNoPointerBehind)
{
    enter(mel, 7);
    type(mel, "`rdelete");
    ASSERT_EQ(host->room(7), nullptr);
    EXPECT_EQ(mel->lastOwnedRoom, nullptr);
    struct Case {
        const char *line;
        const char *shows;
    };
    const Case cases[] = {
        {"`myroom", "mel: You don't own a member room"},
        {"`rwho", "mel: Sorry - this is a public room"},
        {"`rtake", "mel: Sorry - this is a public room"},
        {"`rgag bob", "mel: Command must be given in a member room"},
        {"`newroom Fresh", "mel creates room 1000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_TRUE(contains(type(mel, c.line), c.shows));
    }
    EXPECT_EQ(mel->lastOwnedRoom, host->room(1000));
}

TEST_F(MemberRooms, RownerHandsTheRoomOverAndDropsTheOldPointer)
{
    enter(mel, 7);
    host->createRoom(8, "Eight");
    host->setRoomOwner(8, wiz);
    EXPECT_TRUE(contains(type(mel, "`rowner wiz"), "mel: That user already owns a member room"));

    config("rownerinroom yes\n");
    EXPECT_TRUE(
        contains(type(mel, "`rowner bob"), "mel: The new owner must be in the member room"));
    enter(bob, 7);
    auto out = type(mel, "`rowner bob");
    EXPECT_TRUE(contains(out, "bob owns room 7"));
    EXPECT_EQ(mel->lastOwnedRoom, host->room(7)) << "until the clean-up a second later";
    host->advance(1);
    EXPECT_EQ(mel->lastOwnedRoom, nullptr);
    EXPECT_EQ(bob->lastOwnedRoom, host->room(7));
    EXPECT_EQ(host->pendingTimers(), 1u) << "only the idle check is left";
}

TEST_F(MemberRooms, MyroomGoesToTheOwnedRoom)
{
    EXPECT_TRUE(contains(type(mel, "`myroom"), "mel enters room 7"));
    EXPECT_TRUE(contains(type(bob, "`myroom"), "bob: You don't own a member room"));
}

TEST_F(MemberRooms, SwitchesReportAndAnnounce)
{
    enter(mel, 7);
    struct Case {
        const char *line;
        std::vector<std::string> shows;
        int roomDatFlags;
        uint32_t roomFlags;
    };
    const Case cases[] = {
        {"`rpropfreeze", {"mel: Props are not frozen in this room"}, 0, 0},
        {"`rpropfreeze on", {"room 7: mel has frozen loose props"}, RD_RPROPFREEZE, 0},
        {"`rpropfreeze", {"mel: Props are frozen in this room"}, RD_RPROPFREEZE, 0},
        {"`rpropfreeze off", {"room 7: mel has unfroze loose props"}, 0, 0},
        {"`rnodupavatars on",
         {"room 7: mel is not allowing duplicate avatars"},
         RD_RNODUPAVATARS,
         0},
        {"`rnodupavatars yes", {"room 7: mel is allowing duplicate avatars"}, 0, 0},
        {"`rnolooseprops on", {"room 7: mel is not allowing loose props"}, RD_RNOLOOSEPROPS, 0},
        {"`rnolooseprops yes", {"mel: `rnolooseprops [on|off]"}, RD_RNOLOOSEPROPS, 0},
        {"`rnolooseprops", {"mel: Loose Props are not allowed in this room"}, RD_RNOLOOSEPROPS, 0},
        {"`rnolooseprops off", {"room 7: mel is allowing loose props"}, 0, 0},
        {"`roperatorsonly on", {"room 7: mel is not allowing members"}, 0, RF_WizardsOnly},
        {"`roperatorsonly", {"mel: Members are not allowed in this room"}, 0, RF_WizardsOnly},
        {"`roperatorsonly off", {"room 7: mel is allowing members"}, 0, 0},
        {"`rlimit maybe", {"mel: `rlimit [on|off]", "mel: `rlimit off"}, 0, 0},
        {"`rlimit ON", {"mel: `rlimit [on|off]", "mel: `rlimit on"}, RD_RLIMIT, 0},
        {"`rlimit off", {"mel: `rlimit off"}, 0, 0},
        {"`rannounce tea at five", {"room 7: tea at five"}, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        auto out = type(mel, c.line);
        for (const std::string &l : c.shows)
            EXPECT_TRUE(contains(out, l)) << l;
        EXPECT_EQ(rd(7)->flags, c.roomDatFlags);
        EXPECT_EQ(host->room(7)->room.roomFlags, c.roomFlags);
    }
}

TEST_F(MemberRooms, RlockdownSendsItsFourLinesInOrder)
{
    struct Case {
        const char *params;
        const char *rlimitAnswer;
    };
    const Case cases[] = {{kParams, "mel: `rlimit on"},
                          {"godonly rm9\n", "mel: rlimit not available on this server"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.params);
        config(c.params);
        rd(7)->flags = 0;
        enter(mel, 7);
        auto out = type(mel, "`rlockdown");
        std::vector<std::string> order = {"room 7: scripts off (by mel)",
                                          "room 7: painting off (by mel)", c.rlimitAnswer,
                                          "room 7: mel is not allowing loose props"};
        std::vector<std::string> seen;
        for (const std::string &l : out) {
            if (std::find(order.begin(), order.end(), l) != order.end())
                seen.push_back(l);
        }
        EXPECT_EQ(seen, order);
    }
}

TEST_F(MemberRooms, SanctionsAreCarriedOutAndLifted)
{
    enter(mel, 7);
    enter(bob, 7);
    host->props(bob, {{5, 0}, {6, 0}});
    host->advance(5);

    auto out = type(mel, "`rgag bob");
    EXPECT_TRUE(contains(out, "mel: bob rgagged"));
    EXPECT_TRUE(ud(bob)->flags & UD_RGAG);
    EXPECT_TRUE(contains(type(bob, "hello?"), "dropped talk from bob"));

    out = type(mel, "`rpropgag bob");
    EXPECT_TRUE(contains(out, "room 7 <- props bob none"));
    EXPECT_TRUE(ud(bob)->flags & UD_RPROPGAG);

    out = type(mel, "`rpin bob");
    EXPECT_TRUE(contains(out, "room 7 <- props bob 1280"));
    EXPECT_EQ(bob->user.roomPos.h, 490);
    EXPECT_EQ(bob->user.roomPos.v, 362);
    EXPECT_TRUE(ud(bob)->flags & UD_RPIN);
    EXPECT_EQ(sanctions(bob, 7), RS_GAG | RS_PROPGAG | RS_PIN);

    struct Case {
        const char *line;
        const char *told;
        int udBit;
        int sanctionsLeft;
    };
    const Case lifts[] = {
        {"`rungag bob", "mel: bob rungagged", UD_RGAG, RS_PROPGAG | RS_PIN},
        {"`runpropgag bob", "mel: bob runpropgagged", UD_RPROPGAG, RS_PIN},
        {"`runpin bob", "mel: bob runpinned", UD_RPIN, 0},
    };
    for (const Case &c : lifts) {
        SCOPED_TRACE(c.line);
        EXPECT_TRUE(contains(type(mel, c.line), c.told));
        EXPECT_FALSE(ud(bob)->flags & c.udBit);
        EXPECT_EQ(sanctions(bob, 7), c.sanctionsLeft);
    }
    EXPECT_EQ(bob->user.nbrProps, 0) << "the pin prop, worn alone, came off";
    EXPECT_EQ(banList(7), nullptr);
    EXPECT_TRUE(contains(type(mel, "`rungag bob"), "mel: bob rungagged")) << "nothing to lift";
}

TEST_F(MemberRooms, RunpinLeavesAUserWhoDressedOtherwise)
{
    enter(mel, 7);
    enter(bob, 7);
    type(mel, "`rpin bob");
    bob->user.nbrProps = 2;
    bob->user.propSpec[1] = AssetSpec{77, 0};
    auto out = type(mel, "`runpin bob");
    EXPECT_FALSE(contains(out, "room 7 <- props bob none"));
    EXPECT_EQ(bob->user.nbrProps, 2);
}

TEST_F(MemberRooms, DisciplineOffLeavesAllButKicksToTheHost)
{
    config("godonly rm9\n"); // mroomdiscipline off
    enter(mel, 7);
    enter(bob, 7);
    for (const char *line : {"`rgag bob", "`rpin bob", "`rpropgag bob", "`rungag bob",
                             "`runpin bob", "`runpropgag bob"}) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(contains(type(mel, line), std::string("mel says: ") + line));
    }
    EXPECT_EQ(banList(7), nullptr);
    auto out = type(mel, "`rkick bob");
    EXPECT_TRUE(contains(out, "room 7: bob is kicked out by mel"));
    EXPECT_EQ(bob->user.roomID, 0);
    EXPECT_EQ(sanctions(bob, 7), RS_KICK);

    // The list is capped at 20 while discipline is off.
    for (int i = 0; i < 25; i++) {
        vh::UserOptions o;
        o.handle = "v" + std::to_string(i);
        o.room = 7;
        ServerUserRec *v = host->connect(o);
        rememberPerp(host->state(), state(), v, host->room(7), RS_KICK);
    }
    int n = 0;
    for (RoomBadActor *e = banList(7); e != nullptr; e = e->next)
        n++;
    EXPECT_EQ(n, 20);
    EXPECT_EQ(sanctions(bob, 7), 0) << "the oldest entries went first";
}

TEST_F(MemberRooms, BanListCapDropsTheOldestEntry)
{
    config("mroomdiscipline 3\n");
    enter(mel, 7);
    std::vector<ServerUserRec *> visitors;
    for (const char *h : {"v1", "v2", "v3", "v4"}) {
        vh::UserOptions o;
        o.handle = h;
        o.room = 7;
        visitors.push_back(host->connect(o));
        host->advance(1);
        type(mel, std::string("`rgag ") + h);
    }
    EXPECT_EQ(sanctions(visitors[0], 7), 0) << "the oldest entry was dropped";
    for (size_t i = 1; i < visitors.size(); i++)
        EXPECT_EQ(sanctions(visitors[i], 7), RS_GAG);
    auto out = type(mel, "`rbanlist");
    EXPECT_EQ(std::vector<std::string>(out.begin(), out.begin() + 3),
              (std::vector<std::string>{"mel: ;  gagged: v4", "mel: ;  gagged: v3",
                                        "mel: ;  gagged: v2"}));
}

TEST_F(MemberRooms, OneEntryPerUserGainsAndLosesSanctions)
{
    enter(mel, 7);
    enter(bob, 7);
    EXPECT_TRUE(contains(type(mel, "`rbanlist"), "mel: No entries in the room's ban list"));
    type(mel, "`rgag bob");
    type(mel, "`rkick bob");
    EXPECT_TRUE(contains(type(mel, "`rbanlist"), "mel: ;  kicked gagged: bob"));
    type(mel, "`runkick bob");
    EXPECT_TRUE(contains(type(mel, "`rbanlist"), "mel: ;  gagged: bob"));
    type(mel, "`rungag bob");
    EXPECT_TRUE(contains(type(mel, "`rbanlist"), "mel: No entries in the room's ban list"));
}

TEST_F(MemberRooms, ReturningUsersAreRecognisedByTheirIdentities)
{
    enter(mel, 7);
    vh::UserOptions o;
    o.handle = "eve";
    o.ip = (192u << 24) | (168u << 16) | (1u << 8) | 20u;
    o.room = 7;
    ServerUserRec *eve = host->connect(o);
    host->advance(1);
    type(mel, "`rkick eve");
    host->disconnect(eve);

    struct Case {
        const char *name;
        std::optional<uint32_t> ip, counter, puid;
        int rank;
        bool kicked;
    };
    const uint32_t eveIp = *o.ip;
    const Case cases[] = {
        {"same address, new name", eveIp, std::nullopt, std::nullopt, 1, true},
        {"same counter", std::nullopt, 0x1000 + 5, std::nullopt, 1, true},
        {"same counter, as a guest", std::nullopt, 0x1000 + 5, std::nullopt, 0, false},
        {"same machine", std::nullopt, std::nullopt, 0x3000 + 5, 1, true},
        {"same machine, as a guest", std::nullopt, std::nullopt, 0x3000 + 5, 0, true},
        {"a stranger", std::nullopt, std::nullopt, std::nullopt, 1, false},
    };
    ASSERT_EQ(banList(7)->counter, 0x1000 + 5) << "eve was the fifth connection";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        vh::UserOptions again;
        again.handle = "evelyn";
        again.ip = c.ip;
        again.counter = c.counter;
        again.puid = c.puid;
        again.rank = c.rank;
        ServerUserRec *u = host->connect(again);
        host->advance(1);
        lines();
        host->gotoRoom(u, 7);
        EXPECT_EQ(saw("evelyn: Sorry - you've been kicked from that room"), c.kicked);
        host->disconnect(u);
    }
    EXPECT_TRUE(contains(type(mel, "`rbanlist"), "mel: ;  kicked: eve")) << "the first name";
}

TEST_F(MemberRooms, OwnersAndOperatorsAreNeverSanctioned)
{
    for (ServerUserRec *u : {mel, wiz, god})
        rememberPerp(host->state(), state(), u, host->room(7), RS_KICK | RS_GAG | RS_PIN);
    EXPECT_EQ(sanctions(mel, 7), 0);
    EXPECT_EQ(sanctions(wiz, 7), 0);
    EXPECT_EQ(sanctions(god, 7), 0);
    enter(wiz, 7);
    EXPECT_EQ(wiz->user.roomID, 7);
    EXPECT_FALSE(ud(wiz)->flags & UD_ROOMSANCTIONS);

    // A member who owns the room aims rgag at a wizard: rank decides.
    enter(mel, 7);
    EXPECT_TRUE(contains(type(mel, "`rgag wiz"), "mel: You can't control wiz"));
}

TEST_F(MemberRooms, SanctionWithoutAnEventIsStillRecorded)
{
    enter(mel, 7);
    enter(bob, 7);
    // The rgag line's own allocations come first; fail each in turn until
    // the one that fails is the timer event.
    for (int n = 1; n < 12; n++) {
        forgivePerp(host->state(), state(), bob, host->room(7), RS_GAG);
        lines();
        host->failAllocation(n, true);
        host->say(mel, "`rgag bob");
        host->failAllocation(0, true);
        if (sanctions(bob, 7) == RS_GAG && !saw("mel: bob rgagged")) {
            EXPECT_FALSE(ud(bob)->flags & UD_RGAG) << "carried out at his next entry";
            enter(bob, 0);
            enter(bob, 7);
            EXPECT_TRUE(ud(bob)->flags & UD_RGAG);
            return;
        }
    }
    FAIL() << "no failed allocation left the sanction without its event";
}

} // namespace
