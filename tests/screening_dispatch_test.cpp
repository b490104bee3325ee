// Message dispatch and the first stage: malformed text, enciphered chat, rooms, drawings, movement.
#include "screening_fixture.h"

namespace
{

TEST_F(Screen, TextNeedsANulWithinItsLength)
{
    struct Case {
        const char *name;
        uint32_t code;
        std::vector<uint8_t> payload;
        bool drop;
    };
    const std::vector<uint8_t> target = le32(2);
    const Case cases[] = {
        {"talk without NUL", MSG_TALK, bytes("hello"), true},
        {"talk with its NUL last", MSG_TALK, bytes(std::string("hello", 6)), false},
        {"empty talk", MSG_TALK, {}, true},
        {"gmsg without NUL", MSG_GMSG, bytes("hi"), true},
        {"rmsg with NUL", MSG_RMSG, bytes(std::string("hi", 3)), false},
        {"whisper of only a target", MSG_WHISPER, target, true},
        {"whisper without NUL", MSG_WHISPER, cat({target, bytes("hi")}), true},
        {"whisper with NUL", MSG_WHISPER, cat({target, bytes(std::string("hi", 3))}), false},
        {"NUL only in the target", MSG_WHISPER, cat({le32(0), bytes("hi")}), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dropped(alice, c.code, c.payload), c.drop);
    }
}

TEST_F(Screen, EncipheredLengthsAreCheckedBeforeDeciphering)
{
    auto xtalk = [](int length, size_t payload) {
        std::vector<uint8_t> p = le16(length);
        p.resize(payload, 'x');
        return p;
    };
    struct Case {
        const char *name;
        uint32_t code;
        std::vector<uint8_t> payload;
        bool drop;
    };
    const Case cases[] = {
        {"xtlk of one byte passes unread", MSG_XTALK, {7}, false},
        {"L 258 with 258 bytes", MSG_XTALK, xtalk(258, 258), false},
        {"L 259", MSG_XTALK, xtalk(259, 300), true},
        {"L 2", MSG_XTALK, xtalk(2, 10), true},
        {"payload shorter than L", MSG_XTALK, xtalk(20, 19), true},
        {"xwis of five bytes", MSG_XWHISPER, {2, 0, 0, 0, 9}, true},
        {"xwis shorter than L + 4", MSG_XWHISPER, cat({le32(2), xtalk(10, 9)}), true},
        {"xwis L 258", MSG_XWHISPER, cat({le32(2), xtalk(258, 258)}), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dropped(alice, c.code, c.payload), c.drop);
    }
}

TEST_F(Screen, EncipheredChatIsScreenedAsPlainText)
{
    config("spoof public warn\n");
    std::vector<uint8_t> wire = vh::encipher("@alice says hi");
    auto payload = cat({le16(static_cast<int>(wire.size() + 3)), wire, {0}});
    EXPECT_EQ(
        sendLines(bob, MSG_XTALK, payload),
        (std::vector<std::string>{"bob: Spoofing is not permitted here", "dropped xtlk from bob"}));
}

TEST_F(Screen, RoomChanges)
{
    config("roomgoto 1 0 all\n");
    host->createRoom(6, "Six");
    host->gotoRoom(alice, 5);
    EXPECT_EQ(alice->user.roomID, 5);

    ud(alice)->lastWarning = 3;
    host->gotoRoom(alice, 5);
    EXPECT_EQ(ud(alice)->lastWarning, 3) << "the current room: no room change work";

    EXPECT_EQ(ud(alice)->roomGoto.numberRecent, 1) << "the second request for room 5 counted";

    host->gotoRoom(alice, 0);
    host->gotoRoom(alice, 0);
    host->gotoRoom(alice, 0);
    EXPECT_EQ(alice->user.roomID, 0);
    EXPECT_EQ(ud(alice)->roomGoto.numberRecent, 1) << "room 0 is never counted";

    host->gotoRoom(alice, 6);
    EXPECT_EQ(alice->user.roomID, 6) << "another destination is not counted";
    lines();
    host->gotoRoom(alice, 6);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "alice <- nav error 1",
                           "alice <- desc alice face 0 color 0 props none",
                           "alice <- move alice 0 0",
                           "alice <- name alice alice",
                           "dropped navR from alice",
                       }));
}

TEST_F(Screen, GodOnlyRoomsRefuseAllButRankThree)
{
    config("godonly rm9\n");
    host->createRoom(9, "Owners");
    ServerUserRec *god = connect("god", 3);
    lines();
    host->gotoRoom(wiz, 9);
    EXPECT_TRUE(saw("wiz: Sorry, only owners are permitted in that room"));
    EXPECT_EQ(wiz->user.roomID, 0);
    host->gotoRoom(god, 9);
    EXPECT_EQ(god->user.roomID, 9);
}

TEST_F(Screen, OperatorsEnterLockedMemberRoomsWhenAllowed)
{
    host->createRoom(7, "Locked");
    host->changeRoom(7, vh::RoomOptions{.password = std::string("pw")});
    host->setRoomOwner(7, bob);
    host->createRoom(8, "Public");
    host->changeRoom(8, vh::RoomOptions{.password = std::string("pw")});
    config("wizinmemberrooms yes\n");

    std::vector<std::string> out = sendLines(wiz, MSG_ROOMGOTO, le16(7));
    EXPECT_EQ(wiz->user.roomID, 7);
    EXPECT_EQ(out.back(), "dropped navR from wiz") << "the plug-in moved him itself";
    host->gotoRoom(wiz, 8);
    EXPECT_EQ(wiz->user.roomID, 8) << "a public room: the host's own rules let him in";

    host->gotoRoom(bob, 7);
    EXPECT_EQ(bob->user.roomID, 7) << "the owner enters his own locked room";
    host->gotoRoom(alice, 7);
    EXPECT_EQ(alice->user.roomID, 0);
}

TEST_F(Screen, DrawingsInAFullRoom)
{
    // Room 0 would never hear the warning: its number is also the value
    // that means "told nowhere yet".
    config("draw 100 1 all\n");
    host->changeRoom(5, vh::RoomOptions{.drawings = 200});
    host->gotoRoom(alice, 5);
    host->gotoRoom(wiz, 5);
    struct Case {
        const char *name;
        ServerUserRec *who;
        int command;
        bool drop;
        bool warned;
    };
    const Case cases[] = {
        {"a drawing is refused with a warning", alice, DC_Path, true, true},
        {"again: no second warning", alice, DC_Path, true, false},
        {"operators too", wiz, DC_Path, true, true},
        {"clearing passes", alice, DC_Detonate, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> p(10, 0);
        p[4] = static_cast<uint8_t>(c.command);
        auto out = sendLines(c.who, MSG_DRAW, p);
        std::string drop = "dropped draw from " + host->handleOf(c.who);
        EXPECT_EQ(std::find(out.begin(), out.end(), drop) != out.end(), c.drop);
        std::string warning = host->handleOf(c.who) + ": Clean your room!";
        EXPECT_EQ(std::find(out.begin(), out.end(), warning) != out.end(), c.warned);
    }
    EXPECT_EQ(ud(alice)->LastDrawFull, 0);
    EXPECT_TRUE(dropped(alice, MSG_DRAW, std::vector<uint8_t>(9, 0))) << "shorter than a record";
}

TEST_F(Screen, FloodedRoomIsLoggedAndRefused)
{
    host->gotoRoom(alice, 5);
    host->changeRoom(5, vh::RoomOptions{.lenVars = 23130});
    std::vector<uint8_t> p(10, 0);
    EXPECT_FALSE(dropped(alice, MSG_DRAW, p)) << "23130 + 10 is not above 23140";
    host->changeRoom(5, vh::RoomOptions{.lenVars = 23131});
    EXPECT_EQ(sendLines(alice, MSG_DRAW, p),
              (std::vector<std::string>{"log [Paint Delay] alice: -- Flooded Room",
                                        "alice: Clean your room!", "dropped draw from alice"}));
}

TEST_F(Screen, SlidesMovesAndPersonalSpace)
{
    config("move 0 0 all warn\nslide 100 0 all\n");
    alice->user.roomPos = Point{100, 100};
    struct Case {
        const char *name;
        int x, y;
        bool allowed;
    };
    const Case cases[] = {
        {"4 pixels on each axis is a slide", 104, 96, true},
        {"5 pixels from the server's position is a move", 109, 100, false},
        {"but within 4 of the last reported position it slides", 112, 100, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        lines();
        host->moveTo(alice, c.x, c.y);
        EXPECT_EQ(saw("dropped uLoc from alice"), !c.allowed);
        if (!c.allowed) {
            EXPECT_TRUE(saw("alice <- move alice 100 100")) << "the client is reset";
        }
        alice->user.roomPos = Point{100, 100};
    }

    config("avatarzone 20 all warn\n");
    bob->user.roomPos = Point{200, 200};
    host->moveTo(alice, 220, 180);
    EXPECT_TRUE(saw("alice: Avatars have some private space here"));
    EXPECT_EQ(alice->user.roomPos.h, 100);
    lines();
    host->moveTo(alice, 221, 180);
    EXPECT_EQ(alice->user.roomPos.h, 221) << "21 pixels on one axis is far enough";
    host->moveTo(wiz, 200, 200);
    EXPECT_EQ(wiz->user.roomPos.h, 200) << "operators are not held off";
}

TEST_F(Screen, PinnedUserCannotMoveAndShortMovesAreDropped)
{
    ud(alice)->flags |= UD_RPIN;
    EXPECT_TRUE(dropped(alice, MSG_USERMOVE, cat({le16(5), le16(5)})));
    EXPECT_TRUE(dropped(alice, MSG_USERMOVE, {1, 2, 3})) << "too short";
}

TEST_F(Screen, RoomMessagesCountBeforeTheirText)
{
    config("roommsg 0 0.2 public\n");
    EXPECT_TRUE(dropped(alice, MSG_RMSG, bytes(std::string("hi", 3))));
    EXPECT_FALSE(dropped(wiz, MSG_RMSG, bytes(std::string("hi", 3))));
}

} // namespace
