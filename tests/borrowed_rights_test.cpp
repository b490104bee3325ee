// Rights that are not the speaker's: a command the parameter file disabled,
// the reply meant for another, a name an operator fixed, a second room, and
// the privileges of a room once given away.
#include <cstring>

#include "sanctions_fixture.h"

namespace
{

class BorrowedRights : public SanctionsHold
{
  protected:
    // The command table outlives the plug-in in this process.
    static void builtinRanks()
    {
        for (CmdTable &row : cmdTable) {
            row.rank = builtinRank(&row);
            row.targetRank = builtinTargetRank(&row);
        }
    }
    void TearDown() override
    {
        builtinRanks();
        SanctionsHold::TearDown();
    }
};

// "disable" is a rank nobody has: a room's owner no more than anybody.
TEST_F(BorrowedRights, ACommandTheFileDisablesIsDisabledForRoomOwnersToo)
{
    struct Case {
        const char *command;
        const char *line; // typed by ann, in her room 12 unless `from0`
        bool from0;
    };
    const Case cases[] = {
        {"rgag", "`rgag v", false},      {"rpin", "`rpin v", false},
        {"rkick", "`rkick v", false},    {"rowner", "`rowner v", false},
        {"rlimit", "`rlimit on", false}, {"myroom", "`myroom", true},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        builtinRanks();
        config(std::string("mroomdiscipline 5\nchat 10 1 altmember\nsetrank ") + c.command +
               " disable\n");
        std::string handle = "v" + std::to_string(n++);
        ServerUserRec *v = visitor(handle, 12);
        host->setRoomOwner(12, ann); // whatever the case before did
        host->gotoRoom(ann, c.from0 ? 0 : 12);
        host->advance(1);
        RoomID before = ann->user.roomID;
        std::string line = c.line;
        if (line.size() > 2 && line.substr(line.size() - 2) == " v")
            line = line.substr(0, line.size() - 1) + handle;
        auto out = type(ann, line);
        host->advance(2);
        EXPECT_TRUE(contains(out, "ann: Sorry - you are not privileged to use that command"));
        EXPECT_EQ(sanctions(v, 12), 0);
        EXPECT_EQ(v->user.roomID, 12);
        EXPECT_EQ(host->room(12)->memberOwner, ann->counter);
        EXPECT_EQ(ann->user.roomID, before);
        EXPECT_FALSE(rd(12)->flags & RD_RLIMIT);
        rd(12)->flags &= ~RD_RLIMIT;
    }
}

// v's private reply goes to whoever last answered him, as the server's own
// respond has it, whether that answer came from his room or from another.
TEST_F(BorrowedRights, AReplyGoesBackToTheOneWhoAnsweredLast)
{
    struct Case {
        const char *name;
        RoomID vIn;
        const char *reply; // how v's "`respond thanks" reaches ann
    };
    const Case cases[] = {
        {"answered from his own room", 12, "ann (private): Message from v: thanks"},
        {"answered from another room", 14, "v whispers to ann: thanks"},
    };
    ServerUserRec *m = visitor("m", 13);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ServerUserRec *v = host->user("v") != nullptr ? host->user("v") : visitor("v", c.vIn);
        host->gotoRoom(v, c.vIn);
        host->advance(1);
        type(v, "a question", ann);
        type(m, "psst", v); // m whispered v last
        type(ann, "`respond the answer");
        auto out = type(v, "`respond thanks");
        EXPECT_TRUE(contains(out, c.reply));
        EXPECT_FALSE(contains(out, "v whispers to m: thanks")) << "m reads the reply meant for ann";
    }
}

// A logon record is the client's first word; sent again, it is a rename
// round the name gag an operator laid.
TEST_F(BorrowedRights, ASecondLogonRecordIsNoWayRoundANameGag)
{
    ServerUserRec *v = visitor("v", 12);
    type(wiz, "`namegag", v);
    ASSERT_TRUE(ud(v)->flags & UD_NAMEGAG);
    std::vector<uint8_t> regi(LOGON_RECORD_SIZE, 0);
    regi[LOGON_NAME_OFFSET] = 5;
    std::memcpy(&regi[LOGON_NAME_OFFSET + 1], "freed", 5);
    lines();
    host->send(v, MSG_LOGON, regi);
    EXPECT_FALSE(saw("v logs on as freed"));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(v->user.name + 1), v->user.name[0]), "v");
}

// One room each: an owner back on the server, his room not yet found for
// him, makes no second one.
TEST_F(BorrowedRights, AnOwnerBackOnTheServerMakesNoSecondRoom)
{
    const ClientID counter = ann->counter;
    host->disconnect(ann);
    vh::UserOptions back;
    back.handle = "ann";
    back.counter = counter;
    back.room = 0;
    ann = host->connect(back);
    type(ann, "`newroom");
    host->advance(2);
    int owned = 0;
    for (ServerRoomRec *r = host->state()->roomList; r != nullptr; r = r->nextRoom)
        owned += r->memberOwner == counter;
    EXPECT_EQ(owned, 1);
    EXPECT_EQ(ann->lastOwnedRoom, host->room(12));
}

// A room given away leaves its giver none of an owner's rights in it.
TEST_F(BorrowedRights, AGiverKeepsNoOwnersRightInTheRoomHeGaveAway)
{
    config("mroomdiscipline 5\nclearlooseprops 1 member\n");
    visitor("v", 12);
    visitor("b", 12);
    ASSERT_TRUE(host->addLooseProp(12, AssetSpec{5, 0}, Point{10, 10}));
    EXPECT_TRUE(contains(type(ann, "`rowner b"), "b owns room 12"));
    lines();
    host->deleteProp(ann, -1);
    EXPECT_FALSE(saw("room 12: ann clears the loose props"));
    EXPECT_EQ(host->room(12)->room.nbrLProps, 1);
}

} // namespace
