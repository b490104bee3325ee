// The limit lookup index, and each room's resolved entries, give exactly
// the entry that the first-match walk of the chain gives, for random files
// and rooms of every class, and go on doing so as rooms change class
// between loads.
#include <random>
#include <sstream>

#include "fixture.h"

namespace
{

class LimitIndex : public HostTest
{
  protected:
    // Rooms of every class at numbers across the whole RoomID range.
    void makeRooms(std::mt19937 &rng)
    {
        ServerUserRec *owner = connect("owner");
        std::uniform_int_distribution<int> number(-32768, 32767);
        std::vector<int> picks = {-32768, -32767, -32740, -32700, -1,    0,     1,    2,
                                  9,      10,     11,     32707,  32740, 32766, 32767};
        for (int i = 0; i < 60; i++)
            picks.push_back(i % 3 == 0 ? number(rng) : static_cast<int>(rng() % 40) - 5);
        for (int n : picks) {
            RoomID id = static_cast<RoomID>(n);
            if (host->room(id) != nullptr)
                continue;
            host->createRoom(id, "R");
            rooms.push_back(id);
            switch (rng() % 4) {
            case 0:
                host->changeRoom(id, vh::RoomOptions{.isPrivate = true});
                break;
            case 1:
                host->room(id)->memberOwner = owner->counter;
                break;
            case 2:
                host->room(id)->memberOwner = owner->counter;
                rd(id)->flags |= RD_RLIMIT;
                break;
            default:
                break;
            }
        }
        rooms.push_back(12345); // no such room
    }

    std::string randomFile(std::mt19937 &rng)
    {
        static const char *classes[] = {"public", "private", "member", "altmember", "limbo", "all"};
        static const char *slots[] = {"chat", "move", "godonly", "take", "idle"};
        std::ostringstream out;
        int lines = 1 + static_cast<int>(rng() % 40);
        for (int l = 0; l < lines; l++) {
            const char *slot = slots[rng() % 5];
            out << slot;
            if (std::string(slot) == "chat" || std::string(slot) == "move")
                out << " " << rng() % 20 << " 1";
            if (std::string(slot) == "idle")
                out << " 10 86";
            int words = static_cast<int>(rng() % 4);
            for (int w = 0; w < words; w++) {
                if (rng() % 2) {
                    out << " " << classes[rng() % 6];
                } else {
                    int lo = static_cast<int>(rng() % 60) - 10;
                    int hi = lo + static_cast<int>(rng() % 15) - 3; // sometimes below lo
                    if (rng() % 10 == 0) {
                        lo = -40000;
                        hi = 40000;
                    } else if (rng() % 8 == 0) { // at either end of the room numbers
                        int end = rng() % 2 ? -32768 : 32767 - 60;
                        lo += end;
                        hi += end;
                    }
                    out << " rm" << lo;
                    if (rng() % 3)
                        out << "-" << hi;
                }
            }
            out << "\n";
        }
        return out.str();
    }

    // Gives a room another class at random, as its owner or the server
    // may between two loads.
    void changeClass(std::mt19937 &rng, RoomID id, ServerUserRec *owner)
    {
        switch (rng() % 4) {
        case 0:
            host->changeRoom(id, vh::RoomOptions{.isPrivate = rng() % 2 == 0});
            break;
        case 1:
            host->room(id)->memberOwner = host->room(id)->memberOwner != 0 ? 0 : owner->counter;
            break;
        default:
            rd(id)->flags ^= RD_RLIMIT;
            break;
        }
    }

    // Every slot's entry in every room, from the room's resolved entries,
    // against the walk of the chain.
    void expectResolvedAsWalked()
    {
        for (int slot = 0; slot < NBR_LIMITS; slot++) {
            LimitValue *head = state()->limits[slot];
            for (RoomID room : rooms) {
                ServerRoomRec *rec = host->room(room);
                RoomDat *dat = rec != nullptr ? rd(room) : nullptr;
                ASSERT_EQ(limitInRoom(state(), slot, rec, dat), walkRoomLimit(state(), head, room))
                    << "slot " << parameterTable[slot].name << " room " << room;
            }
        }
    }

    std::vector<RoomID> rooms;
};

TEST_F(LimitIndex, GivesTheWalksEntryForRandomFilesAndRooms)
{
    std::mt19937 rng(20261210);
    ASSERT_TRUE(start(""));
    makeRooms(rng);
    for (int file = 0; file < 300; file++) {
        std::string text = randomFile(rng);
        SCOPED_TRACE(text);
        writeParams(text);
        ASSERT_EQ(loadParameterFile(state(), nullptr), 1);
        for (int slot = 0; slot < NBR_LIMITS; slot++) {
            LimitValue *head = state()->limits[slot];
            if (head != nullptr) {
                ASSERT_NE(head->index, nullptr) << "every chain has its index";
                for (LimitValue *e = head->next; e != nullptr; e = e->next)
                    ASSERT_EQ(e->index, nullptr) << "only on its first entry";
            }
            for (RoomID room : rooms) {
                ASSERT_EQ(getRoomLimitForRoom(host->state(), state(), head, room),
                          walkRoomLimit(state(), head, room))
                    << "slot " << parameterTable[slot].name << " room " << room;
            }
        }
    }
}

TEST_F(LimitIndex, EachRoomsResolvedEntriesFollowLoadsAndClassChanges)
{
    std::mt19937 rng(20270105);
    ASSERT_TRUE(start(""));
    makeRooms(rng);
    ServerUserRec *owner = host->user("owner");
    for (int file = 0; file < 150; file++) {
        std::string text = randomFile(rng);
        SCOPED_TRACE(text);
        writeParams(text);
        ASSERT_EQ(loadParameterFile(state(), nullptr), 1);
        expectResolvedAsWalked(); // resolved now, or stale from the last file
        for (int round = 0; round < 3; round++) {
            for (RoomID room : rooms) {
                if (host->room(room) != nullptr && rng() % 3 == 0)
                    changeClass(rng, room, owner);
            }
            expectResolvedAsWalked();
        }
    }
}

TEST_F(LimitIndex, AFailedReloadIndexesTheLinesBeforeTheFailure)
{
    ASSERT_TRUE(start("chat 5 1 public\n"));
    host->createRoom(5, "Five");
    writeParams("chat 1 1 rm5\nchat 2 1 rm1-9\n" + std::string(400, 'x') + "\nchat 3 1 rm5\n");
    EXPECT_EQ(loadParameterFile(state(), nullptr), 0);
    LimitValue *first = state()->limits[L_CHAT];
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(getRoomLimitForRoom(host->state(), state(), first, 5),
              walkRoomLimit(state(), first, 5));
    EXPECT_EQ(getRoomLimitForRoom(host->state(), state(), first, 5)->maximum, 2u)
        << "unsorted: the later line comes first";
}

} // namespace
