// Paging commands: gpage, roompage, rpage, respond and er.
#include "fixture.h"

namespace
{

class Paging : public HostTest
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(start("gpagelength 20\npagelength 10\nrtakedelay 300\nwizinmemberrooms yes\n"
                          "rpage 2 0.01 public member warn\n"));
        host->createRoom(5, "Five");
        host->createRoom(7, "Mel's");
        mel = connect("mel", 1, 7);
        host->setRoomOwner(7, mel);
        bob = connect("bob", 1, 5);
        wiz = connect("wiz", 2, 5);
        god = connect("god", 3);
        host->advance(2);
        lines();
    }

    ServerUserRec *mel = nullptr, *bob = nullptr, *wiz = nullptr, *god = nullptr;
};

const char kShortGpage[] = "Your gpage was not accepted because there wasn't enough information. "
                           "Please page again with a more detailed message.";
const char kShortRoompage[] = "Your room page was not accepted because there wasn't enough "
                              "information. Please page again with a more detailed message.";

TEST_F(Paging, GpageLengthRankAndGag)
{
    const std::string nineteen(19, 'x'), twenty(20, 'x');
    struct Row {
        ServerUserRec *speaker;
        std::string text;
        std::vector<std::string> shows;
    };
    const Row rows[] = {
        {bob, nineteen, {std::string("bob: ") + kShortGpage}},
        {bob,
         twenty,
         {"bob: The owners have been paged",
          "gods [god]: Owner Page from bob in Five (5): " + twenty}},
        {wiz,
         "help",
         {"wiz: The owners have been paged", "gods [god]: Owner Page from wiz in Five (5): help"}},
        {god, "hi", {"gods [god]: Owner Page from god: hi"}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(host->handleOf(r.speaker) + " " + r.text);
        auto out = type(r.speaker, "`gpage " + r.text);
        for (const std::string &l : r.shows)
            EXPECT_TRUE(contains(out, l)) << l;
        EXPECT_EQ(out.size(), r.shows.size() + 1) << "and the dropped line";
    }
    ud(bob)->flags |= UD_PAGEGAG;
    EXPECT_TRUE(contains(type(bob, "`gpage " + twenty), "bob: Sorry, you've been pagegagged."));
}

TEST_F(Paging, RoompageOrderOfTestsAndOfReplies)
{
    EXPECT_TRUE(
        contains(type(wiz, "`roompage hi"), "wizards in room 5 [wiz]: Room Page from wiz: hi"));
    EXPECT_TRUE(contains(type(bob, "`roompage short"), std::string("bob: ") + kShortRoompage));

    config("pagelength 10\ngpageresponse First the owners' text.\npageresponse Then ours.\n");
    auto out = type(bob, "`roompage somebody is flooding");
    const std::vector<std::string> want = {
        "bob: First the owners' text.", "bob: The operators in this room have been paged",
        "bob: Then ours.", "wizards in room 5 [wiz]: Room Page from bob: somebody is flooding",
        "dropped talk from bob"};
    EXPECT_EQ(out, want);
}

TEST_F(Paging, RpageLimitComesFirstEvenInAPublicRoom)
{
    type(bob, "`rpage one");
    type(bob, "`rpage two");
    auto out = type(bob, "`rpage three");
    EXPECT_TRUE(contains(out, "bob: RPage Messages are limited here")) << out.front();
    EXPECT_FALSE(contains(out, "bob: Sorry - this is a public room"));
}

TEST_F(Paging, RpageReachesThePresentOwnerAndHisRespondAnswers)
{
    host->gotoRoom(bob, 7);
    auto out = type(bob, "`rpage may I paint here?");
    EXPECT_TRUE(contains(out, "mel: RPage from bob: may I paint here?"));
    EXPECT_TRUE(contains(out, "bob: The member room owner has been paged."));
    EXPECT_EQ(mel->lastESPsender, bob->user.userID);

    for (const char *word : {"`respond", "`re"}) {
        SCOPED_TRACE(word);
        out = type(mel, std::string(word) + " yes");
        EXPECT_TRUE(contains(out, "mel (private): Message to bob: yes"));
        EXPECT_TRUE(contains(out, "bob (private): Message from mel: yes"));
        EXPECT_TRUE(contains(out, "dropped talk from mel"));
    }

    // In different rooms the host's own respond answers.
    host->gotoRoom(bob, 5);
    out = type(mel, "`respond still there?");
    EXPECT_TRUE(contains(out, "mel whispers to bob: still there?"));
    EXPECT_FALSE(contains(out, "mel (private): Message to bob: still there?"));
}

TEST_F(Paging, RpageToAnAbsentOwnerWithinAndAfterTheDelay)
{
    host->gotoRoom(bob, 7);
    host->disconnect(mel);
    struct Case {
        long after;
        const char *answer;
    };
    const Case cases[] = {
        {300, "bob: Room owner is not available"},
        {1, "bob: Room is unowned, use `rtake to become the owner"},
    };
    for (const Case &c : cases) {
        host->advance(c.after);
        EXPECT_TRUE(contains(type(bob, "`rpage hello?"), c.answer)) << c.after;
    }
    host->gotoRoom(bob, 5);
    host->advance(1000);
    EXPECT_TRUE(contains(type(bob, "`rpage hello?"), "bob: Sorry - this is a public room"));
}

TEST_F(Paging, ErFollowsThePageIntoClosedOrPasswordedMemberRooms)
{
    struct Case {
        const char *name;
        vh::RoomOptions room;
        bool wizInMemberRooms;
        bool pluginAnswers;
    };
    vh::RoomOptions closed, passworded, open;
    closed.closed = true;
    passworded.password = "secret";
    const Case cases[] = {
        {"closed", closed, true, true},
        {"passworded", passworded, true, true},
        {"open", open, true, false},
        {"closed, operators not let in", closed, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        config(c.wizInMemberRooms ? "wizinmemberrooms yes\n" : "wizinmemberrooms no\n");
        vh::RoomOptions reset;
        reset.closed = false;
        reset.password = "";
        host->changeRoom(7, reset);
        host->changeRoom(7, c.room);
        host->gotoRoom(wiz, 5);
        type(mel, "`page help me please");
        EXPECT_EQ(state()->lastUserPageRoom, 7);
        auto out = type(wiz, "`er");
        EXPECT_EQ(contains(out, "wizards near wiz []: Page from System: wiz has responded to mel's "
                                "page via `er"),
                  c.pluginAnswers);
        EXPECT_EQ(contains(out, "dropped talk from wiz"), c.pluginAnswers);
        EXPECT_EQ(wiz->user.roomID, c.pluginAnswers ? 7 : (c.room.closed ? 5 : 7))
            << "the host's er keeps him out of a closed room";
    }
}

} // namespace
