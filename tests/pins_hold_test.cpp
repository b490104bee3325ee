// An operator's pin and a member room's sanctions hold against what a
// member can do: neither a room's owner nor the pinned user himself (with
// or without a friend's help) moves, undresses or frees him.
#include "sanctions_fixture.h"

namespace
{

// Where and as what an operator's pin holds a user.
struct Held {
    RoomID room;
    Point pos;
};

Held heldAt(const ServerUserRec *u)
{
    return {u->user.roomID, u->user.roomPos};
}

void expectStillHeld(const ServerUserRec *u, const Held &was)
{
    EXPECT_TRUE(u->flags & UF_Pinned);
    EXPECT_EQ(u->user.roomID, was.room) << "moved out of the operator's pin";
    EXPECT_EQ(u->user.roomPos.h, was.pos.h);
    EXPECT_EQ(u->user.roomPos.v, was.pos.v);
    ASSERT_EQ(u->user.nbrProps, 1) << "the pin costume came off";
    EXPECT_EQ(u->user.propSpec[0].id, PIN_PROP_ID);
}

// ben owns room 13; a visitor the operator pinned there is the operator's
// to free, whatever ben's room does to visitors.
TEST_F(SanctionsHold, NoOwnerMovesOrUndressesAUserAnOperatorPinned)
{
    struct Case {
        const char *name;
        const char *line;   // typed by ben in room 13; %s the visitor
        const char *answer; // to ben, %s the visitor; null: the sanction's own
    };
    const Case cases[] = {
        {"kicked out of the room", "`rkick %s", "ben: %s is pinned by an operator"},
        {"prop-gagged in the room", "`rpropgag %s", nullptr},
        {"the room deleted under him", "`rdelete",
         "ben: You can't delete a room while an operator holds a user in it"},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (host->room(13) == nullptr) {
            host->createRoom(13, "Room 13");
            host->setRoomOwner(13, ben);
            host->gotoRoom(ben, 13);
        }
        std::string handle = "v" + std::to_string(n++);
        ServerUserRec *v = visitor(handle, 13);
        type(wiz, "`pinx " + handle);
        ASSERT_TRUE(v->flags & UF_Pinned);
        Held was = heldAt(v);

        char line[64], answer[128];
        snprintf(line, sizeof line, c.line, handle.c_str());
        auto out = type(ben, line);
        if (c.answer != nullptr) {
            snprintf(answer, sizeof answer, c.answer, handle.c_str());
            EXPECT_TRUE(contains(out, answer));
        }
        host->advance(2);
        expectStillHeld(v, was);
    }
}

// A pinned owner may not delete his room; nor may the friend he gives it
// to, from wherever the friend stands.
TEST_F(SanctionsHold, APinnedOwnersRoomIsNotDeletedUnderHimByTheOneHeGaveItTo)
{
    ServerUserRec *pal = visitor("pal", 14);
    type(wiz, "`pinx ann");
    ASSERT_TRUE(ann->flags & UF_Pinned);
    Held was = heldAt(&*ann);
    ASSERT_EQ(was.room, 12);

    EXPECT_TRUE(contains(type(ann, "`rowner pal"), "pal owns room 12"));
    host->advance(1);
    type(pal, "`rdelete");
    host->advance(2);
    EXPECT_NE(host->room(12), nullptr);
    expectStillHeld(ann, was);
}

// The server cannot let an owner into his own room when it has no place
// left; the room he stands in then still holds him.
TEST_F(SanctionsHold, AnOwnerWhoCannotGetIntoHisFullRoomStaysHeld)
{
    ServerUserRec *h = visitor("h", 12);
    host->createRoom(15, "h's");
    host->setRoomOwner(15, h);
    for (int i = 0; i < 64; i++)
        connect("filler" + std::to_string(i), 1, 15);
    host->advance(2);
    ASSERT_EQ(host->room(15)->room.nbrPeople, 64);
    discipline(h);
    ASSERT_EQ(ud(h)->flags & UD_ROOMSANCTIONS, UD_ROOMSANCTIONS);

    host->gotoRoom(h, 15);
    host->advance(1);
    ASSERT_EQ(h->user.roomID, 12) << "the full room keeps him out";
    EXPECT_EQ(ud(h)->flags & UD_ROOMSANCTIONS, UD_ROOMSANCTIONS);
    EXPECT_TRUE(contains(type(h, "free at last"), "dropped talk from h"));
    Point at = h->user.roomPos;
    host->moveTo(h, 10, 10);
    EXPECT_EQ(h->user.roomPos.h, at.h) << "the room pin holds him where he was";
}

// A move the server refuses is no move: it sets off none of the checks of
// a room entry, which would strip an operator's pin costume where another
// pinned user wears the same.
TEST_F(SanctionsHold, ARefusedMoveOfAPinnedUserSetsOffNoEntryChecks)
{
    ServerUserRec *v = visitor("v", 13);
    ServerUserRec *w = visitor("w", 13);
    type(ben, "`rnodupavatars on");
    for (const char *line : {"`pinx v", "`pinx w"})
        type(wiz, line);
    host->advance(1);
    Held was = heldAt(v), wWas = heldAt(w);
    for (RoomID dest : {RoomID(99), RoomID(14)}) {
        SCOPED_TRACE(dest);
        host->gotoRoom(v, dest);
        host->advance(1);
        expectStillHeld(v, was);
    }
    expectStillHeld(w, wWas);
}

// A room that holds a user is not his to take over: taking it would make
// him its owner, whom its sanctions never touch.
TEST_F(SanctionsHold, AUserTheRoomHoldsCannotTakeItOver)
{
    config("mroomdiscipline 5\nrtakedelay 0\n");
    ServerUserRec *v = visitor("v", 12);
    discipline(v);
    host->disconnect(ann);
    ann = nullptr;
    host->advance(5);
    lines();

    EXPECT_TRUE(contains(type(v, "`rtake"), "v: You can't take a room that holds you"));
    EXPECT_NE(host->room(12)->memberOwner, v->counter);
    EXPECT_EQ(sanctions(v, 12), RS_PIN | RS_GAG | RS_PROPGAG);
    type(v, "`runpin v");
    type(v, "`rungag v");
    EXPECT_TRUE(contains(type(v, "mine now"), "dropped talk from v"));
}

} // namespace
