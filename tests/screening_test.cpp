// Message dispatch and chat screening: what each client message meets.
#include "fixture.h"

#include <cstring>

class Screen : public HostTest
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(start(""));
        host->createRoom(5, "Five");
        alice = connect("alice");
        bob = connect("bob");
        wiz = connect("wiz", 2);
        host->advance(2);
        lines();
    }

    std::vector<std::string> sayLines(ServerUserRec *u, const std::string &text)
    {
        lines();
        host->say(u, text);
        return lines();
    }

    bool passed(ServerUserRec *u, const std::string &text)
    {
        auto out = sayLines(u, text);
        return std::find(out.begin(), out.end(), host->handleOf(u) + " says: " + text) != out.end();
    }

    std::vector<std::string> sendLines(ServerUserRec *u, uint32_t code, std::vector<uint8_t> p)
    {
        lines();
        host->send(u, code, p);
        return lines();
    }

    bool dropped(ServerUserRec *u, uint32_t code, std::vector<uint8_t> p)
    {
        auto out = sendLines(u, code, p);
        return std::find(out.begin(), out.end(),
                         "dropped " + vh::eventCode(code) + " from " + host->handleOf(u)) !=
               out.end();
    }

    ServerUserRec *alice = nullptr, *bob = nullptr, *wiz = nullptr;
};

inline std::vector<uint8_t> bytes(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

inline std::vector<uint8_t> le16(int v)
{
    std::vector<uint8_t> p(2);
    int16_t x = static_cast<int16_t>(v);
    std::memcpy(p.data(), &x, 2);
    return p;
}

inline std::vector<uint8_t> le32(uint32_t v)
{
    std::vector<uint8_t> p(4);
    std::memcpy(p.data(), &v, 4);
    return p;
}

inline std::vector<uint8_t> cat(std::vector<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

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

// ---- Chat screening ------------------------------------------------------

TEST_F(Screen, Mimicry)
{
    config("mimick 10 public warn\nrepchat 100 0 public\n");
    const std::string line = "twelve bytes";
    EXPECT_TRUE(passed(bob, line));
    auto out = sayLines(alice, line);
    EXPECT_EQ(out, (std::vector<std::string>{"alice: Repeating others chat is limited here",
                                             "dropped talk from alice"}));
    EXPECT_EQ(sayLines(alice, line), std::vector<std::string>{"dropped talk from alice"})
        << "warned once";
    EXPECT_TRUE(passed(bob, line)) << "the first speaker may repeat himself";
    EXPECT_TRUE(passed(alice, "short")) << "a short line passes";
    EXPECT_TRUE(rd(0)->lastChat == nullptr || rd(0)->lastChat[0] == '\0')
        << "and makes the room forget";
    EXPECT_TRUE(passed(alice, line));
    EXPECT_TRUE(passed(wiz, line)) << "an operator is never refused";
    EXPECT_EQ(rd(0)->lastUserID, wiz->user.userID) << "and replaces the room's line";
    EXPECT_FALSE(passed(alice, line));
}

TEST_F(Screen, SpoofAndFaceSequences)
{
    config("spoof public warn\nfacechange 100 0 public\n");
    struct Case {
        const char *line;
        bool spoof;
        int faces;
    };
    const Case cases[] = {
        {"hello @everyone", false, 0},
        {"@alice hi", true, 0},
        {"!@ hi", true, 0},
        {":@ hi", true, 0},
        {";@ hi", false, 1},
        {":) hi", false, 1},
        {":)) hi", false, 1},
        {":):) hi", false, 2},
        {":)x @", false, 1},
        {":-) hi", false, 0},
        {":a", false, 0},
        {"|||", false, 3},
        {") bob @", false, 0},
        {") @", true, 0},
        {")bob_x.y @", true, 0},
        {")bob!@", true, 0},
        {"(/\\", false, 0},
        {"%^[", false, 0},
        {":", false, 0},
        {":0", false, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ud(alice)->faceChange = ActivityHistory{vh::clockNow(), 0};
        ud(alice)->lastWarning = -1;
        EXPECT_EQ(passed(alice, c.line), !c.spoof);
        EXPECT_EQ(ud(alice)->faceChange.numberRecent, c.faces);
    }
}

TEST_F(Screen, FaceSequencesCountOnlyWhereSpoofingIsWatched)
{
    config("facechange 0 0 public\n");
    EXPECT_TRUE(passed(alice, ":) :) :)"));
    config("facechange 0 0 public\nspoof public\n");
    EXPECT_FALSE(passed(alice, ":) hello"));
    EXPECT_FALSE(saw("alice: Spoofing is not permitted here"));
}

TEST_F(Screen, ChatAndRepeatedChatShareOneCounter)
{
    config("chat 3 0 public warn\nrepchat 2 0 public\n");
    EXPECT_TRUE(passed(alice, "one"));
    EXPECT_TRUE(passed(alice, "one")) << "repeated: count 1 is below 2";
    EXPECT_FALSE(passed(alice, "one")) << "count 2 reaches the repeat maximum";
    EXPECT_EQ(ud(alice)->chat.numberRecent, 2) << "capped at maximum plus decay";
    EXPECT_TRUE(passed(alice, "two")) << "2 is below the chat maximum 3";
    auto out = sayLines(alice, "three");
    EXPECT_EQ(out, (std::vector<std::string>{"alice: Chat messages are limited here",
                                             "dropped talk from alice"}));
    EXPECT_STREQ(ud(alice)->lastChat, "three") << "a refused line is remembered too";
}

TEST_F(Screen, MemberRoomGagSilencesWithoutAMessage)
{
    ud(alice)->flags |= UD_RGAG;
    EXPECT_EQ(sayLines(alice, "hello"), std::vector<std::string>{"dropped talk from alice"});
    ud(wiz)->flags |= UD_RGAG;
    EXPECT_TRUE(passed(wiz, "operators are exempt"));
}

TEST_F(Screen, PageCommandWords)
{
    struct Case {
        const char *line;
        bool page;
    };
    const Case cases[] = {
        {"`page help", true}, {"`PAGE help", true}, {"'pag help", true}, {"`Pag", true},
        {"`pages x", false},  {"`page2 x", false},  {"`pa x", false},    {"page x", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(isPageCommand(c.line, host->state(), state()) != 0, c.page) << c.line;
}

TEST_F(Screen, PagesAreRefusedByGagTextAndLength)
{
    config("pagelength 5\npageresponse Thanks, 100% read.\npage 100 0 all\n");
    auto events = [&] {
        int n = 0;
        for (void *e : host->pendingEvents())
            n += static_cast<TimerEvent *>(e)->action == TA_PAGERESPONSE;
        return n;
    };
    const std::string tooShort = "alice: Your page was not accepted because there wasn't enough "
                                 "information. Please page again with more detailed message.";
    struct Case {
        const char *line;
        bool gagged;
        const char *message;
    };
    const Case refused[] = {
        {"`page", false, "alice: ; Usage: `page <msg>"},
        {"`page    ", false, "alice: ; Usage: `page <msg>"},
        {"`page 12345", false, tooShort.c_str()},
        {"`page a long enough page", true, "alice: Sorry, you've been pagegagged."},
    };
    for (const Case &c : refused) {
        SCOPED_TRACE(c.line);
        ud(alice)->flags = c.gagged ? UD_PAGEGAG : 0;
        state()->lastUserPageRoom = -1;
        auto out = sayLines(alice, c.line);
        EXPECT_EQ(out, (std::vector<std::string>{c.message, "dropped talk from alice"}));
        EXPECT_EQ(events(), 0);
        EXPECT_EQ(state()->lastUserPageRoom, -1);
    }
    ud(alice)->flags = 0;
    host->gotoRoom(alice, 5);
    lines();
    host->say(alice, "`page 123456");
    EXPECT_EQ(events(), 1) << "one response per accepted page";
    EXPECT_EQ(state()->lastUserPageRoom, 5);
    EXPECT_STREQ(state()->lastUserPageName, "alice");
    host->advance(1);
    EXPECT_TRUE(saw("alice: Thanks, 100% read."));
    EXPECT_EQ(events(), 0);
}

TEST_F(Screen, PageRateRefusalSchedulesNoResponse)
{
    config("pageresponse ok\npage 1 0 all\n");
    host->say(alice, "`page first page");
    host->say(alice, "`page second page");
    int n = 0;
    for (void *e : host->pendingEvents())
        n += static_cast<TimerEvent *>(e)->action == TA_PAGERESPONSE;
    EXPECT_EQ(n, 1);
}

TEST_F(Screen, CheckNameCleansNames)
{
    struct Case {
        std::string name;
        std::string cleaned;
        int result;
    };
    const Case cases[] = {
        {"  **Bob  the\x01 Builder ", "Bob the Builder", 1},
        {"Alice", "Alice", 0},
        {"  --  ", "", 1},
        {"", "", 0},
        {"O'Neil-Smith", "O'Neil-Smith", 0},
        {"\"Quoted\"", "Quoted\"", 1},
        {"A\xA0"
         "B*C",
         "ABC", 1},
    };
    host->state()->currentUser = alice;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char pname[32] = {static_cast<unsigned char>(c.name.size())};
        std::memcpy(pname + 1, c.name.data(), c.name.size());
        EXPECT_EQ(checkName(pname, host->state(), state(), "username"), c.result);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(pname + 1), pname[0]), c.cleaned);
    }
    unsigned char tooLong[64] = {40};
    EXPECT_EQ(checkName(tooLong, host->state(), state(), "logon"), 1);
    EXPECT_EQ(tooLong[0], 0);
    host->state()->currentUser = wiz;
    unsigned char spaced[8] = {4, ' ', ' ', 'W', ' '};
    EXPECT_EQ(checkName(spaced, host->state(), state(), "username"), 0) << "operators are spared";
    EXPECT_EQ(spaced[0], 4);
}

// ---- Second stage ------------------------------------------------------------

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

TEST_F(Screen, PagesToOperatorsShareTheChatHistory)
{
    config("page 1 0 all\nreppage 5 0 all\n");
    auto smsg = [](const std::string &t) { return bytes(t + std::string(1, '\0')); };
    host->say(alice, "help me");
    EXPECT_FALSE(dropped(alice, MSG_SMSG, smsg("help me"))) << "a repeat of his chat line";
    EXPECT_EQ(ud(alice)->chat.numberRecent, 1);
    EXPECT_TRUE(dropped(alice, MSG_SMSG, smsg("another"))) << "a new page finds the count at 1";
    EXPECT_STREQ(ud(alice)->lastChat, "help me");
}

TEST_F(Screen, RefusedPageKeepsTheLastLine)
{
    config("page 0 0 all\n");
    host->say(alice, "hello");
    EXPECT_TRUE(dropped(alice, MSG_SMSG, bytes(std::string("a page", 7))));
    EXPECT_STREQ(ud(alice)->lastChat, "hello");
    ud(alice)->flags |= UD_PAGEGAG;
    EXPECT_EQ(sendLines(alice, MSG_SMSG, bytes(std::string("x", 2))),
              (std::vector<std::string>{"alice: Sorry, you've been pagegagged.",
                                        "dropped smsg from alice"}));
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

TEST_F(Screen, HiddenOperatorsInUserLists)
{
    config("hideoperators yes\n");
    ServerUserRec *god = connect("god", 3);
    lines();
    host->send(alice, MSG_LISTOFALLUSERS, {});
    EXPECT_EQ(lines(), (std::vector<std::string>{"alice <- users alice bob wiz god",
                                                 "dropped uLst from alice"}));
    EXPECT_EQ(wiz->flags & UF_Wizard, UF_Wizard);
    EXPECT_EQ(god->flags & UF_God, UF_God);
    host->send(wiz, MSG_LISTOFALLUSERS, {});
    EXPECT_TRUE(saw("wiz <- users alice bob wiz(op) god(op)"));

    ud(alice)->flags |= UD_LISTGAG;
    EXPECT_TRUE(dropped(alice, MSG_LISTOFALLUSERS, {}));
    EXPECT_EQ(sendLines(alice, MSG_LISTOFALLROOMS, {}).front(),
              "alice: Sorry, you've been listgagged.");
}

TEST_F(Screen, OperatorPrivilegeRequests)
{
    ServerUserRec *guest = connect("guest", 0);
    EXPECT_FALSE(dropped(guest, MSG_SUPERUSER, {})) << "guestwiz is on by default";
    config("guestwiz no\n");
    EXPECT_TRUE(dropped(guest, MSG_SUPERUSER, {}));
    EXPECT_FALSE(dropped(alice, MSG_SUPERUSER, {}));
    alice->crc = GUEST_CRC;
    EXPECT_TRUE(dropped(alice, MSG_SUPERUSER, {})) << "the guest mark counts too";
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

TEST_F(Screen, MalformedPropCountsAndLengthsAreDropped)
{
    struct Case {
        const char *name;
        uint32_t code;
        std::vector<uint8_t> payload;
    };
    const Case cases[] = {
        {"usrP too short", MSG_USERPROP, {1, 0}},
        {"usrP negative count", MSG_USERPROP, le32(0xFFFFFFFF)},
        {"usrP count whose size overflows", MSG_USERPROP,
         cat({le32(0x20000001), le32(0), le32(0)})},
        {"usrP props past the payload", MSG_USERPROP, cat({le32(2), le32(1), le32(0)})},
        {"usrD too short", MSG_USERDESC, {0, 0, 0, 0, 1}},
        {"usrD negative count", MSG_USERDESC, cat({le32(0), le32(0x80000000)})},
        {"usrD props past the payload", MSG_USERDESC, cat({le32(0), le32(1), le32(5)})},
        {"nPrp too short", MSG_PROPNEW, std::vector<uint8_t>(11, 0)},
        {"mPrp too short", MSG_PROPMOVE, std::vector<uint8_t>(7, 0)},
        {"dPrp too short", MSG_PROPDEL, std::vector<uint8_t>(3, 0)},
        {"usrN longer than its payload", MSG_USERNAME, {5, 'a', 'b'}},
        {"usrN empty", MSG_USERNAME, {}},
        {"regi too short", MSG_LOGON, std::vector<uint8_t>(127, 0)},
        {"sSta too short", MSG_SPOTSTATE, std::vector<uint8_t>(5, 0)},
        {"lock too short", MSG_DOORLOCK, std::vector<uint8_t>(3, 0)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(dropped(alice, c.code, c.payload));
    }
    EXPECT_FALSE(dropped(alice, MSG_USERPROP, cat({le32(1), le32(7), le32(0)})));
}

TEST_F(Screen, NamesAreCleanedAtLogonAndCheckedOnChange)
{
    vh::UserOptions o;
    o.handle = "dave";
    o.logonName = "  **Dave  the\x01 Diver ";
    o.clientType = 0x80000005;
    ServerUserRec *dave = host->connect(o);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(dave->user.name + 1), dave->user.name[0]),
              "Dave the Diver");
    EXPECT_EQ(static_cast<uint32_t>(ud(dave)->clientType), 0x80000000u);

    auto name = [](const std::string &n) {
        std::vector<uint8_t> p = {static_cast<uint8_t>(n.size())};
        p.insert(p.end(), n.begin(), n.end());
        return p;
    };
    EXPECT_EQ(sendLines(alice, MSG_USERNAME, name(" Alice")).front(),
              "alice: Sorry that name is illegal");
    EXPECT_FALSE(dropped(alice, MSG_USERNAME, name("Alicia")));
    ud(alice)->flags |= UD_NAMEGAG;
    EXPECT_EQ(sendLines(alice, MSG_USERNAME, name("Ally")).front(),
              "alice: Sorry, you've been namegagged.");

    config("namechange 1 0 all\n");
    EXPECT_FALSE(dropped(bob, MSG_USERNAME, name("Robert")));
    EXPECT_TRUE(dropped(bob, MSG_USERNAME, name("Bobby")));
}

TEST_F(Screen, SpotStatesAndDoors)
{
    config("spotstatechange 1 0 all\n");
    EXPECT_FALSE(dropped(alice, MSG_SPOTSTATE, std::vector<uint8_t>(6, 0)));
    EXPECT_TRUE(dropped(alice, MSG_DOORLOCK, std::vector<uint8_t>(4, 0)));
    EXPECT_FALSE(dropped(wiz, MSG_DOORUNLOCK, std::vector<uint8_t>(4, 0)));
}

} // namespace

namespace
{

TEST_F(Screen, ChatLinesAllocateNothingOnceTheUsersBlockExists)
{
    config("chat 3 1 public warn\nmimick 5 public\nrepchat 2 0.5 public\n");
    passed(alice, "a first line to remember");
    passed(bob, "and one from bob as well");
    host->advance(10);
    struct Case {
        const char *line;
        bool passes;
    };
    const Case cases[] = {
        {"a second line, longer than the first one was", true},
        {"short", true},
        {"one", true},
        {"flood", false}, // refused by the chat limit
        {"flood again", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        uint64_t before = host->allocationCalls();
        EXPECT_EQ(passed(alice, c.line), c.passes);
        EXPECT_EQ(host->allocationCalls(), before);
    }
    std::string longLine(300, 'l');
    passed(bob, longLine);
    EXPECT_STREQ(ud(bob)->lastChat, longLine.c_str()) << "a longer line gets a block of its own";
}

} // namespace
