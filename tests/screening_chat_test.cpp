// Chat screening: mimicry, spoofing and face sequences, chat limits, pages and names.
#include "screening_fixture.h"

namespace
{

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

// A line nobody heard is not the room's last line.
TEST_F(Screen, AGaggedLineIsNotRememberedForMimicry)
{
    config("mimick 5 public\n");
    ud(bob)->flags |= UD_RGAG;
    const std::string line = "meet at the fountain at noon";
    EXPECT_FALSE(passed(bob, line));
    EXPECT_TRUE(passed(alice, line)) << "bob's gagged line blocked alice's";
    EXPECT_FALSE(passed(bob, "anything else"));
    EXPECT_EQ(rd(0)->lastUserID, alice->user.userID);
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

// The rule reads a line in blocks; a break at any place of a line of any
// length, block edges included, is found, and other low bytes are not breaks.
TEST_F(Screen, ALineBreakAnywhereIsASpoof)
{
    config("spoof public\n");
    for (size_t length = 1; length <= 40; length++) {
        for (size_t at = 0; at < length; at++) {
            for (char brk : {'\r', '\n'}) {
                std::string line(length, 'a' + static_cast<char>(length % 26));
                line[at] = brk;
                SCOPED_TRACE(testing::Message() << "length " << length << " at " << at);
                EXPECT_FALSE(passed(alice, line));
            }
        }
        std::string tabbed(length, 'x');
        tabbed[length / 2] = '\t';
        tabbed[0] = static_cast<char>('a' + length % 26);
        EXPECT_TRUE(passed(alice, tabbed)) << "length " << length;
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
