// Loads that fail: lines too long, every allocation failure and files that cannot be read.
#include "params_fixture.h"

#include <filesystem>

namespace
{

TEST_F(Params, LineLengthLimits)
{
    struct Case {
        const char *name;
        std::string file;
        int result;
        int badLine;
    };
    const std::string comment = "#";
    const Case cases[] = {
        {"298 characters and a newline", comment + std::string(297, 'x') + "\n", 1, 0},
        {"299 characters and a newline", comment + std::string(298, 'x') + "\n", 0, 1},
        {"last line of 297 without newline", "# ok\n" + comment + std::string(296, 'x'), 1, 0},
        {"last line of 298 without newline", "# ok\n" + comment + std::string(297, 'x'), 0, 2},
        {"400 characters on line 3", "# a\n# b\n" + comment + std::string(399, 'x') + "\n", 0, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(load(c.file), c.result);
        std::vector<std::string> out = logged();
        if (c.result == 1) {
            EXPECT_EQ(out, kPlainSettings);
            continue;
        }
        EXPECT_EQ(out, std::vector<std::string>{"Line " + std::to_string(c.badLine) + " in file " +
                                                paramPath + " too long"});
    }
}

TEST_F(Params, TooLongLineKeepsTheLinesBeforeItUnsortedAndUnreported)
{
    ServerUserRec *wiz = connect("wiz", 2);
    lines();
    std::string file = "chat 10 1 public\nchat 20 1 rm5\nguestwiz no\n" + std::string(400, 'x') +
                       "\npagelength 9\n";
    EXPECT_EQ(load(file, wiz), 0);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "log [vestrel]: Line 4 in file " + paramPath + " too long",
                           "wiz (private): Line 4 in file " + paramPath + " too long",
                       }));
    ASSERT_NE(slot(L_CHAT), nullptr);
    EXPECT_EQ(slot(L_CHAT)->maximum, 20u) << "still in reverse order: not sorted";
    EXPECT_EQ(state()->guestWiz, 0);
    EXPECT_EQ(state()->pageLengthLimit, 0);
}

TEST_F(Params, EveryAllocationFailureOfALoadEndsCleanly)
{
    const std::string file = "autoannounce 12:00:00 Lunch\n"
                             "setrank gmsg member\n"
                             "chat 10 1 rm5 rm7-9 public\n"
                             "chatgoto 5 go five\n"
                             "pageresponse Thanks\n"
                             "mroombg x.gif\n"
                             "zone 12 public\n";
    writeParams(file);
    for (uint64_t n = 1;; n++) {
        SCOPED_TRACE(n);
        lines();
        host->failAllocation(n, true);
        int result = loadParameterFile(state(), nullptr);
        host->failAllocation(0, false);
        std::vector<std::string> out = logged();
        bool failedLine = false;
        for (const std::string &l : out)
            failedLine = failedLine || l.find("load failed") != std::string::npos;
        if (result == 1 && !failedLine && n > 20)
            break;
        ASSERT_LT(n, 200u);
    }
    host->shutdown();
    EXPECT_EQ(host->liveBlocks(), 0u);
    EXPECT_EQ(host->badFrees(), 0);
}

TEST_F(Params, OutOfMemoryMessagesEndTheLoad)
{
    struct Case {
        const char *file;
        int failAt;
        const char *message;
    };
    // Allocation order: autoannounce record then event; setrank node;
    // entry then ranges.
    const Case cases[] = {
        {"autoannounce 12:00:00 x\n", 1, "Unable to get memory for autoannounce, load failed"},
        {"autoannounce 12:00:00 x\n", 2, "Unable to get memory for autoannounce, load failed"},
        {"setrank gmsg member\n", 1, "Unable to get memory for setrank, load failed"},
        {"chat 10 1 public\n", 1, "Unable to get memory for LimitValue, load failed"},
        {"chat 10 1 rm5\n", 2, "Unable to get memory for RoomNumber, load failed"},
    };
    ServerUserRec *wiz = connect("wiz", 2);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        writeParams(c.file);
        lines();
        size_t before = host->liveBlocks();
        host->failAllocation(c.failAt, true);
        EXPECT_EQ(loadParameterFile(state(), wiz), 0);
        host->failAllocation(0, false);
        EXPECT_EQ(lines(), (std::vector<std::string>{"log [vestrel]: " + std::string(c.message),
                                                     "wiz (private): " + std::string(c.message)}));
        EXPECT_EQ(host->liveBlocks(), before) << "nothing of the failed line is left";
    }
}

TEST_F(Params, FailedIdleEventEndsTheFirstLoad)
{
    host->shutdown();
    writeParams("guestwiz no\n");
    host.reset();
    host = std::make_unique<vh::Host>();
    // The state, then the thirty defaults; the idle event comes after them.
    uint64_t idleAllocation = 1 + 21 + 1;
    host->failAllocation(idleAllocation, true);
    EXPECT_FALSE(start("guestwiz no\n"));
    EXPECT_TRUE(saw("log [vestrel]: *** vestrel initialization failed ***"));
    EXPECT_FALSE(saw("log [vestrel]: guestwiz no")) << "no report";
    EXPECT_EQ(host->liveBlocks(), 0u);
}

class ParamsUnreadable : public HostTest
{
};

// A directory opens but reads as nothing; the process's own memory, read
// at offset 0, fails with EIO. Either is refused before anything is let
// go: a reload keeps the configuration in force, a start fails.
TEST_F(ParamsUnreadable, AFileThatCannotBeReadIsRefusedAtStartAndOnReload)
{
    const struct {
        const char *what;
        void (*make)(const std::string &path);
        const char *logged;
    } cases[] = {
        {"a directory", [](const std::string &path) { std::filesystem::create_directory(path); },
         "Open failed Is a directory, errno=21, on file "},
        {"a read error",
         [](const std::string &path) { std::filesystem::create_symlink("/proc/self/mem", path); },
         "Read failed Input/output error, errno=5, on file "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(start("chat 5 1 public\n"));
        std::filesystem::remove(paramPath);
        c.make(paramPath);
        lines();
        EXPECT_EQ(loadParameterFile(state(), nullptr), 0);
        EXPECT_TRUE(saw("log [vestrel]: " + std::string(c.logged) + paramPath));
        ASSERT_NE(state()->limits[L_CHAT], nullptr) << "the configuration in force stays";
        EXPECT_EQ(state()->limits[L_CHAT]->maximum, 5u);

        host->shutdown();
        host.reset();
        host = std::make_unique<vh::Host>();
        EXPECT_FALSE(host->attachPlugin(staticProcs(), paramPath));
        EXPECT_TRUE(saw("log [vestrel]: *** vestrel initialization failed ***"));
        EXPECT_EQ(host->liveBlocks(), 0u);
        std::filesystem::remove_all(paramPath);
        host.reset();
        host = std::make_unique<vh::Host>();
    }
}

} // namespace
