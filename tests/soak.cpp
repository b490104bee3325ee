// A long session: a million messages from a thousand users across rooms,
// with a reload every hundred thousand. The plug-in's live blocks come back
// to the same count after every reload (less the timer events it has
// handed to the host) and to none at shutdown. The time
// per message of the first and the last tenth is printed, not judged: a
// benchmark measures, a test asserts behaviour.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "fixture.h"

namespace
{

constexpr int kUsers = 1000;
constexpr long kMessages = 1000000;
constexpr long kReloadEvery = 100000;
const RoomID kRooms[] = {0, 5, 6, 7, 8};

const char kParams[] = "chat 8 1 all warn\nrepchat 3 0.2 all\nspoof all\nmimick 12 all\n"
                       "move 30 0.2 all\nzone 12 all\nfacechange 10 0.5 all\n"
                       "avatarchange 40 2 all\npropdrop 10 1 all\nidle 30 5 public\n"
                       "chatgoto 6 to the garden\nnodupavatars rm8 warn\nmroomdiscipline 5\n"
                       "autoannounce 12:00:00 Lunch\npagelength 3\n";

class Soak : public HostTest
{
};

TEST_F(Soak, LiveBlocksHoldSteadyOverAMillionMessages)
{
    ASSERT_TRUE(start(kParams));
    host->setQuiet(true);
    for (RoomID r : kRooms)
        host->createRoom(r, "Room " + std::to_string(r));
    std::vector<ServerUserRec *> users;
    for (int i = 0; i < kUsers; i++) {
        vh::UserOptions o;
        o.handle = "u" + std::to_string(i);
        o.rank = i % 50 == 0 ? 2 : 1;
        o.room = kRooms[i % 5];
        users.push_back(host->connect(o));
    }
    host->setRoomOwner(7, users[1]);
    host->advance(2);

    std::mt19937 rng(12345);
    std::vector<size_t> steady;
    double firstTenth = 0, lastTenth = 0;
    auto tenthStart = std::chrono::steady_clock::now();
    for (long m = 0; m < kMessages; m++) {
        ServerUserRec *u = users[rng() % kUsers];
        switch (rng() % 8) {
        case 0:
        case 1:
            host->say(u, "line " + std::to_string(rng() % 40));
            break;
        case 2:
            host->moveTo(u, static_cast<int>(rng() % 500), static_cast<int>(rng() % 400));
            break;
        case 3:
            host->props(u, {{static_cast<AssetID>(rng() % 6), 0}});
            break;
        case 4:
            host->gotoRoom(u, kRooms[rng() % 5]);
            break;
        case 5:
            host->whisper(u, users[rng() % kUsers], "`find u" + std::to_string(rng() % kUsers));
            break;
        case 6:
            host->face(u, static_cast<int>(rng() % 16));
            break;
        default:
            host->say(users[1], "`rgag u" + std::to_string(rng() % kUsers));
            break;
        }
        if (m % 1000 == 999)
            host->advance(1);
        if ((m + 1) % kReloadEvery == 0) {
            host->say(users[0], "`vestrel reload");
            host->advance(5); // every delay-0 and one-second action has run
            // A reload cancels the announcement and leaves its event pending
            // until it falls due, when it frees itself: those are counted
            // apart.
            steady.push_back(host->liveBlocks() - host->pendingTimers());
        }
        if ((m + 1) % (kMessages / 10) == 0) {
            auto now = std::chrono::steady_clock::now();
            double ns = std::chrono::duration<double, std::nano>(now - tenthStart).count() /
                        (kMessages / 10);
            if (m + 1 == kMessages / 10)
                firstTenth = ns;
            lastTenth = ns;
            tenthStart = now;
        }
    }
    std::printf("soak: %.0f ns per message in the first tenth, %.0f ns in the last\n", firstTenth,
                lastTenth);
    std::printf("soak: live blocks after each reload, less pending events:");
    for (size_t b : steady)
        std::printf(" %zu", b);
    std::printf("\n");
    // Every user has chatted by the second reload; from then on the count
    // holds (texts, ban lists at their caps, the pending events).
    for (size_t i = 2; i < steady.size(); i++)
        EXPECT_EQ(steady[i], steady[1]) << "after reload " << i + 1;
}

} // namespace
