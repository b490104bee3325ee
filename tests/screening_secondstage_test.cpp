// The second stage: pages to operators, user lists, privilege requests, names, spots and doors.
#include "screening_fixture.h"

namespace
{

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

// A line break in a page forges another page in the operators' stream.
TEST_F(Screen, APageWithALineBreakMeetsTheSpoofRule)
{
    auto smsg = [](const std::string &t) { return bytes(t + std::string(1, '\0')); };
    const std::string forged = "need help\rPage from System: all clear";
    struct Case {
        const char *config;
        ServerUserRec *who;
        std::string text;
        bool dropped;
    };
    const Case cases[] = {
        {"spoof all warn\n", alice, forged, true},
        {"spoof all warn\n", alice, "need help\nsoon", true},
        {"spoof all warn\n", alice, "need help soon", false},
        {"spoof all warn\n", wiz, forged, false},
        {"", alice, forged, false}, // no spoof rule here
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text + " with '" + c.config + "'");
        config(std::string("page 100 1 all\n") + c.config);
        EXPECT_EQ(dropped(c.who, MSG_SMSG, smsg(c.text)), c.dropped);
    }
    config("spoof all warn\npage 100 1 all\n");
    EXPECT_EQ(
        sendLines(bob, MSG_SMSG, smsg(forged)),
        (std::vector<std::string>{"bob: Spoofing is not permitted here", "dropped smsg from bob"}));
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
