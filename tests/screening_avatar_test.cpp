// Avatar, face and prop rules: loose props, face and colour, avatar changes, duplicate avatars.
#include "screening_fixture.h"

namespace
{

std::vector<uint8_t> propsPayload(std::vector<int> ids, bool desc = false, int face = 0,
                                  int color = 0, std::vector<uint32_t> crcs = {})
{
    std::vector<uint8_t> p;
    if (desc)
        p = cat({le16(face), le16(color)});
    p = cat({p, le32(static_cast<uint32_t>(ids.size()))});
    for (size_t i = 0; i < ids.size(); i++)
        p = cat({p, le32(static_cast<uint32_t>(ids[i])), le32(i < crcs.size() ? crcs[i] : 0)});
    return p;
}

std::vector<uint8_t> propAt(int id, int x, int y)
{
    return cat({le32(static_cast<uint32_t>(id)), le32(0), le16(y), le16(x)});
}

void wear(ServerUserRec *u, std::vector<int> ids)
{
    u->user.nbrProps = static_cast<uint16>(ids.size());
    for (size_t i = 0; i < ids.size(); i++)
        u->user.propSpec[i] = AssetSpec{ids[i], 0};
}

TEST_F(Screen, LoosePropFreezesAndClearing)
{
    host->createRoom(7, "Bob's");
    host->setRoomOwner(7, bob);
    host->gotoRoom(bob, 7);
    host->gotoRoom(alice, 7);
    host->addLooseProp(7, AssetSpec{500, 0}, Point{10, 10});
    host->addLooseProp(7, AssetSpec{501, 0}, Point{50, 50});
    config("clearlooseprops 1 all warn\n");

    rd(7)->flags = RD_RPROPFREEZE;
    const std::string ownerFreeze = "alice: The owner has frozen loose props here";
    EXPECT_EQ(sendLines(alice, MSG_PROPDEL, le32(0)),
              (std::vector<std::string>{ownerFreeze, "dropped dPrp from alice"}));
    EXPECT_EQ(sendLines(alice, MSG_PROPMOVE, cat({le32(0), le16(1), le16(1)})),
              (std::vector<std::string>{ownerFreeze, "dropped mPrp from alice"}));
    EXPECT_FALSE(dropped(bob, MSG_PROPMOVE, cat({le32(0), le16(1), le16(1)}))) << "the owner may";

    rd(7)->flags = RD_PROPFREEZE;
    EXPECT_EQ(sendLines(bob, MSG_PROPDEL, le32(0)),
              (std::vector<std::string>{"bob: Sorry, loose props have been frozen here",
                                        "dropped dPrp from bob"}));

    rd(7)->flags = 0;
    EXPECT_EQ(sendLines(alice, MSG_PROPDEL, le32(0xFFFFFFFF)),
              (std::vector<std::string>{"alice: Clearlooseprops is limited here",
                                        "dropped dPrp from alice"}))
        << "two people present, more than 1";
    EXPECT_FALSE(dropped(alice, MSG_PROPDEL, le32(0))) << "one prop is never limited";
    EXPECT_FALSE(dropped(bob, MSG_PROPDEL, le32(0xFFFFFFFF))) << "in his own room";
}

TEST_F(Screen, NoLoosePropsInTheOwnersRoom)
{
    host->createRoom(7, "Bob's");
    host->setRoomOwner(7, bob);
    host->gotoRoom(bob, 7);
    host->gotoRoom(alice, 7);
    rd(7)->flags = RD_RNOLOOSEPROPS;
    EXPECT_EQ(sendLines(alice, MSG_PROPNEW, propAt(500, 10, 10)),
              (std::vector<std::string>{"alice: The owner has limited loose props here",
                                        "dropped nPrp from alice"}));
    EXPECT_FALSE(dropped(bob, MSG_PROPNEW, propAt(500, 10, 10)));
}

TEST_F(Screen, PropZoneKeepsTwinsApart)
{
    config("zone 12 all warn\n");
    host->addLooseProp(0, AssetSpec{500, 0}, Point{100, 100});
    host->addLooseProp(0, AssetSpec{501, 0}, Point{300, 300});
    EXPECT_EQ(sendLines(alice, MSG_PROPNEW, propAt(500, 112, 88)),
              (std::vector<std::string>{"alice: Duplicate props are limited here",
                                        "dropped nPrp from alice"}));
    EXPECT_FALSE(dropped(alice, MSG_PROPNEW, propAt(500, 113, 100))) << "13 pixels on one axis";
    EXPECT_FALSE(dropped(alice, MSG_PROPNEW, propAt(777, 100, 100))) << "another prop";
    // Props now: 777, 500 at 113, 500 at 100, 501.
    EXPECT_FALSE(dropped(alice, MSG_PROPMOVE, cat({le32(3), le16(305), le16(305)})))
        << "a few pixels from its own place";
    EXPECT_TRUE(dropped(alice, MSG_PROPMOVE, cat({le32(1), le16(102), le16(102)})))
        << "next to another 500";
    EXPECT_FALSE(dropped(wiz, MSG_PROPNEW, propAt(500, 100, 100))) << "operators are exempt";
}

TEST_F(Screen, UserInNoRoomMayNotDropOrMoveProps)
{
    host->state()->currentUser = alice;
    alice->user.roomID = 99;
    EXPECT_EQ(anotherPropAlreadyAt(host->state(), state(), nullptr, AssetSpec{1, 0}, Point{0, 0}),
              1);
    EXPECT_TRUE(dropped(alice, MSG_PROPNEW, propAt(500, 1, 1)));
    EXPECT_TRUE(dropped(alice, MSG_PROPMOVE, cat({le32(0), le16(1), le16(1)})));
    alice->user.roomID = 0;
}

TEST_F(Screen, LoosePropWalkStaysInsideTheBuffer)
{
    // The host rewrites the buffer when a prop is added, so each case
    // corrupts it afresh and ends with the message that rewrites it.
    config("zone 12 all\n");
    host->addLooseProp(0, AssetSpec{500, 0}, Point{100, 100});
    ServerRoomRec *r = host->room(0);
    auto first = [&] { return static_cast<LPropRec *>(getInVarBuf(r, r->room.firstLProp, 4)); };
    ASSERT_NE(first(), nullptr);

    first()->link.nextOfst = r->room.firstLProp; // a cycle
    r->room.nbrLProps = 60000;
    EXPECT_FALSE(dropped(alice, MSG_PROPMOVE, cat({le32(59999), le16(1), le16(1)})))
        << "the walk ends after nbrLProps records";
    EXPECT_TRUE(dropped(alice, MSG_PROPNEW, propAt(500, 100, 100))) << "the twin is still found";
    EXPECT_FALSE(dropped(alice, MSG_PROPNEW, propAt(600, 1, 1)));

    first()->link.nextOfst = static_cast<Offset>(r->varBufAlloc - 8); // past the end
    r->room.nbrLProps = 5;
    EXPECT_FALSE(dropped(alice, MSG_PROPMOVE, cat({le32(3), le16(1), le16(1)})));
    EXPECT_FALSE(dropped(alice, MSG_PROPNEW, propAt(700, 1, 1)));

    r->room.firstLProp = -4;
    EXPECT_FALSE(dropped(alice, MSG_PROPNEW, propAt(500, 100, 100)));
}

TEST_F(Screen, FaceAndColourRange)
{
    struct Case {
        int value;
        bool drop;
    };
    const Case cases[] = {{16, true}, {-1, true}, {15, false}, {0, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(dropped(alice, MSG_USERFACE, le16(c.value)), c.drop);
        EXPECT_EQ(dropped(alice, MSG_USERCOLOR, le16(c.value)), c.drop);
    }
    EXPECT_TRUE(dropped(alice, MSG_USERFACE, {1}));
    EXPECT_FALSE(dropped(wiz, MSG_USERFACE, le16(40))) << "operators' messages pass";
}

TEST_F(Screen, AvatarChangeCountsChangedProps)
{
    config("avatarchange 100 0 all\n");
    struct Case {
        std::vector<int> wearing;
        std::vector<int> asked;
        int actions;
    };
    const Case cases[] = {
        {{1, 2, 3}, {1, 2, 3, 4}, 1}, {{1, 2, 3}, {2, 1}, 2}, {{1, 2, 3}, {}, 1}, {{}, {5, 6}, 2},
        {{1, 2}, {1, 2}, 1},
    };
    for (const Case &c : cases) {
        wear(alice, c.wearing);
        ud(alice)->avatarChange = ActivityHistory{vh::clockNow(), 0};
        host->send(alice, MSG_USERPROP, propsPayload(c.asked));
        EXPECT_EQ(ud(alice)->avatarChange.numberRecent, c.actions);
    }
}

TEST_F(Screen, DuplicateAvatars)
{
    config("nodupavatars all warn\n");
    wear(bob, {1, 2, 3, 4, 5});
    const std::string refusal =
        "alice: You aren't permitted to wear the same avatar as someone else here";
    auto out = sendLines(alice, MSG_USERPROP, propsPayload({5, 3, 1, 2, 4}));
    EXPECT_EQ(out.front(), refusal);
    EXPECT_EQ(out.back(), "dropped usrP from alice");
    EXPECT_TRUE(
        dropped(alice, MSG_USERPROP, propsPayload({5, 3, 1, 2, 4}, false, 0, 0, {9, 9, 9, 9, 9})))
        << "the crc is never compared";
    EXPECT_FALSE(dropped(alice, MSG_USERPROP, propsPayload({5, 3, 1, 2, 4, 6}))) << "a sixth prop";
    EXPECT_FALSE(dropped(alice, MSG_USERPROP, propsPayload({}))) << "taking everything off";
    EXPECT_TRUE(dropped(alice, MSG_USERDESC, propsPayload({1, 2, 3, 4, 5}, true)));
    wear(bob, {1, 6});
    EXPECT_FALSE(dropped(alice, MSG_USERPROP, propsPayload({2, 5})))
        << "other props with the same sum and exclusive or of ids";
    EXPECT_TRUE(dropped(alice, MSG_USERPROP, propsPayload({6, 1})));
}

TEST_F(Screen, MemberRoomSwitchAgainstDuplicateAvatars)
{
    host->createRoom(7, "Bob's");
    host->setRoomOwner(7, bob);
    for (ServerUserRec *u : {alice, bob, wiz})
        host->gotoRoom(u, 7);
    rd(7)->flags = RD_RNODUPAVATARS;
    wear(wiz, {1, 2});
    auto out = sendLines(alice, MSG_USERPROP, propsPayload({2, 1}));
    EXPECT_EQ(out.front(),
              "alice: You aren't permitted to wear the same avatar as someone else here");
    EXPECT_EQ(out.back(), "dropped usrP from alice");
    EXPECT_FALSE(dropped(bob, MSG_USERPROP, propsPayload({2, 1}))) << "the owner may";
    config("nodupavatars rm7\n");
    out = sendLines(bob, MSG_USERPROP, propsPayload({2, 1}));
    EXPECT_EQ(out.back(), "dropped usrP from bob") << "an entry binds the owner too";
    EXPECT_EQ(out.front(), "bob <- desc bob face 0 color 0 props 2 1")
        << "silently, for an entry without warn: the reset comes first";
}

TEST_F(Screen, PinnedOrPropGaggedUsersKeepTheirProps)
{
    // No limit entry at all: the sanction alone refuses, and the client is
    // told again what the server holds.
    for (int flag : {UD_RPIN, UD_RPROPGAG}) {
        ud(alice)->flags = flag;
        auto out = sendLines(alice, MSG_USERPROP, propsPayload({7}));
        EXPECT_EQ(out.front(), "alice <- desc alice face 0 color 0 props none");
        EXPECT_EQ(out.back(), "dropped usrP from alice");
    }
}

} // namespace
