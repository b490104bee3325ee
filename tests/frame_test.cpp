// The plug-in loaded by dlopen into the host: start, users and rooms coming
// and going, the shared routines seen from outside, and a clean shutdown.
#include "fixture.h"

#include <cstring>

using Frame = HostTest;

TEST_F(Frame, StartsWithBannerAndShutsDownWithNoBlocksLeft)
{
    ASSERT_TRUE(start("# nothing\n"));
    EXPECT_TRUE(saw("log [vestrel]: vestrel version 4.2.8"));
    ServerUserRec *alice = connect("alice");
    ASSERT_NE(alice, nullptr);
    host->createRoom(5, "Garden");
    host->gotoRoom(alice, 5);
    host->advance(5);
    host->shutdown();
    EXPECT_EQ(host->liveBlocks(), 0u);
    EXPECT_EQ(host->badFrees(), 0);
}
