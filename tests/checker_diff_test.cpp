// vestrel-check --diff, case by case, and the plain words of a rate limit
// held against what a user acting at that pace actually gets.
#include "checker.h"
#include "fixture.h"

#include <fstream>
#include <regex>

namespace
{

class Diff : public ::testing::Test
{
  protected:
    std::string file(const std::string &name, const std::string &text)
    {
        std::string path = dir.path() + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // The lines, with the folder taken out of the file names.
    std::vector<std::string> diff(const std::string &before, const std::string &after,
                                  check::DiffFilter filter = {}, int *status = nullptr)
    {
        check::DiffResult r =
            check::diffFiles(file("old.conf", before), file("new.conf", after), filter);
        if (status != nullptr)
            *status = r.status;
        for (std::string &line : r.lines) {
            for (size_t at; (at = line.find(dir.path() + "/")) != std::string::npos;)
                line.erase(at, dir.path().size() + 1);
        }
        return r.lines;
    }

    TempDir dir;
};

using Lines = std::vector<std::string>;
const Lines kSame = {"vestrel-check: old.conf and new.conf do the same"};

TEST_F(Diff, ComparesWhatAppliesNotTheLines)
{
    struct Case {
        const char *name;
        const char *before, *after;
        Lines expected;
    };
    const Case cases[] = {
        {"range lines that never meet, reordered", "chat 5 0.2 rm1-9\nchat 3 1 rm20-29\n",
         "chat 3 1 rm20-29\nchat 5 0.2 rm1-9\n", kSame},
        {"class lines reordered: users in no room meet the first",
         "chat 5 0.2 public\nchat 3 1 member\n",
         "chat 3 1 member\nchat 5 0.2 public\n",
         {"chat for users in no room: max 5 decay 0.2 (old.conf:1) -> max 3 decay 1 (new.conf:1)"}},
        {"the same policy on another line", "\n\nchat 5 0.2 rm100-199\n", "chat 5 0.2 rm100-199\n",
         kSame},
        {"one range split in two, one half changed",
         "chat 5 0.2 rm100-199\n",
         "chat 5 0.2 rm100-149\nchat 3 0.1 rm150-199\n",
         {"chat in rooms 150-199: max 5 decay 0.2 (old.conf:1) -> max 3 decay 0.1 (new.conf:2)"}},
        {"a class entry shadowed by a range after the edit",
         "chat 5 0.2 public\n",
         "chat 5 0.2 public\nchat 9 1 rm10-19\n",
         {"chat in public rooms 10-19: max 5 decay 0.2 (old.conf:1) -> max 9 decay 1 (new.conf:2)",
          "chat in private, member and altmember rooms 10-19: not limited -> max 9 decay 1 "
          "(new.conf:2)"}},
        {"a class newly limited, and users in no room with it",
         "",
         "chat 10 1 member\n",
         {"chat in member rooms: not limited -> max 10 decay 1 (new.conf:1)",
          "chat for users in no room: not limited -> max 10 decay 1 (new.conf:1)"}},
        {"every class changed over the same rooms is one line",
         "draw 5 1 rm7\n",
         "draw 6 1 rm7\n",
         {"draw in room 7: max 5 decay 1 (old.conf:1) -> max 6 decay 1 (new.conf:1)"}},
        {"the warn flag is policy",
         "move 5 1 all\n",
         "move 5 1 all warn\n",
         {"move in every room: max 5 decay 1 (old.conf:1) -> max 5 decay 1 warn (new.conf:1)",
          "move for users in no room: max 5 decay 1 (old.conf:1) -> max 5 decay 1 warn "
          "(new.conf:1)"}},
        {"a keyword", "", "pagelength 10\n", {"keyword pagelength: 0 -> 10 (new.conf:1)"}},
        {"a keyword written the same way twice", "guestwiz no\n", "guestwiz no\nguestwiz no\n",
         kSame},
        {"a setrank line",
         "",
         "setrank gmsg member\n",
         {"setrank gmsg: wizard and up -> member and up (new.conf:1)"}},
        {"chatgoto phrases: removed, moved, case alone",
         "chatgoto 5 take me home\nchatgoto 7 Go\n",
         "chatgoto 8 go\n",
         {"chatgoto \"go\": room 7 (old.conf:2) -> room 8 (new.conf:1)",
          "chatgoto \"take me home\": room 5 (old.conf:1) -> removed"}},
        {"a later duplicate phrase never decides", "chatgoto 5 home\n",
         "chatgoto 5 home\nchatgoto 9 home\n", kSame},
        {"dupip counts and patterns",
         "dupip 2 10.1.*.*\ndupip 1\n",
         "dupip 3 10.1.*.*\n",
         {"dupip \"10.1.*.*\": 2 other connections (old.conf:1) -> 3 other connections "
          "(new.conf:1)",
          "dupip without a pattern: 1 other connection (old.conf:2) -> removed"}},
        {"dupip patterns reordered that never meet", "dupip 2 10.1.*.*\ndupip 3 10.2.*.*\n",
         "dupip 3 10.2.*.*\ndupip 2 10.1.*.*\n", kSame},
        {"dupip patterns reordered where the order decides",
         "dupip 2 10.1.*.*\ndupip 3 10.*.1.*\n",
         "dupip 3 10.*.1.*\ndupip 2 10.1.*.*\n",
         {"dupip \"10.1.*.*\" before dupip \"10.*.1.*\" (old.conf:1) -> after it (new.conf:2)"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int status = -1;
        EXPECT_EQ(diff(c.before, c.after, {}, &status), c.expected);
        EXPECT_EQ(status, c.expected == kSame ? 0 : 1);
    }
}

TEST_F(Diff, RestrictsToOneClassOrRoom)
{
    const char *before = "chat 5 0.2 rm100-199\nchat 2 1 public\n";
    const char *after = "chat 3 0.1 rm100-199\nchat 2 1 public\nchat 4 1 member\n";
    struct Case {
        const char *name;
        check::DiffFilter filter;
        Lines expected;
    };
    check::DiffFilter member, room, limbo;
    member.layer = 2;
    room.room = 150;
    limbo.layer = check::kLimboLayer;
    const Case cases[] = {
        {"member rooms",
         member,
         {"chat in member rooms up to 99: not limited -> max 4 decay 1 (new.conf:3)",
          "chat in member rooms 100-199: max 5 decay 0.2 (old.conf:1) -> max 3 decay 0.1 "
          "(new.conf:1)",
          "chat in member rooms 200 and up: not limited -> max 4 decay 1 (new.conf:3)"}},
        {"room 150",
         room,
         {"chat in room 150: max 5 decay 0.2 (old.conf:1) -> max 3 decay 0.1 (new.conf:1)"}},
        {"users in no room", limbo, kSame},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(diff(before, after, c.filter), c.expected);
    }
}

TEST_F(Diff, FilesThatDoNotLoadWhole)
{
    int status = -1;
    Lines partial =
        diff("chat 5 1 all\n", "chat 5 1 all\n" + std::string(400, 'x') + "\nchat 1 1 all\n", {},
             &status);
    ASSERT_FALSE(partial.empty());
    EXPECT_EQ(partial[0], "new.conf: warning: the file loads only in part; it is compared as the "
                          "plug-in would leave it (vestrel-check new.conf says why)");
    EXPECT_EQ(status, 0) << "the line after the long one is not read";

    check::DiffResult missing = check::diffFiles(file("old.conf", ""), dir.path() + "/absent", {});
    EXPECT_EQ(missing.status, 2);
}

TEST_F(Diff, ReloadKeepsWhatAReloadKeeps)
{
    // A setrank line is never undone and wizinmemberrooms stays on: a
    // reload without the lines changes neither.
    EXPECT_EQ(diff("setrank gmsg member\nwizinmemberrooms yes\n", ""), kSame);
    EXPECT_EQ(check::currentRanks().rank[0], cmdTable[0].rank);
}

// ---- The plain words, against the counter ---------------------------------

class Words : public HostTest
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(start(""));
        alice = connect("alice");
        host->advance(5);
        lines();
    }

    // Whether a fresh chat line of alice's is shown.
    bool talks()
    {
        std::string text = "line number " + std::to_string(++said);
        return contains(type(alice, text), "alice says: " + text);
    }

    // How many lines in a row pass now.
    int burst()
    {
        int n = 0;
        while (n < 1000 && talks())
            n++;
        return n;
    }

    ServerUserRec *alice = nullptr;
    int said = 0;
};

long numberAfter(const std::string &text, const std::string &before)
{
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(before + " ([0-9]+)")))
        return -1;
    return std::stol(m[1]);
}

TEST_F(Words, EachPhraseIsWhatAUserAtThatPaceGets)
{
    const char *const limits[] = {"chat 5 0.2 all", "chat 3 0.3 all", "chat 2 0.15 all",
                                  "chat 4 1 all",   "chat 3 2 all",   "chat 0 1 all",
                                  "chat 2 0 all",   "chat -1 1 all"};
    for (const char *limit : limits) {
        SCOPED_TRACE(limit);
        config(std::string(limit) + "\n");
        ud(alice)->chat = ActivityHistory{0, 0};
        std::string words = check::limitInWords(state()->limits[L_CHAT]);
        SCOPED_TRACE(words);

        if (words == "unlimited") {
            EXPECT_EQ(burst(), 1000);
            continue;
        }
        if (words == "every one is refused") {
            EXPECT_FALSE(talks());
            continue;
        }
        long max = numberAfter(words, "at most");
        ASSERT_GE(max, 1);
        EXPECT_EQ(burst(), max) << "the burst";

        long wait = numberAfter(words, "one more every");
        long each = numberAfter(words, "then");
        if (words.find("nothing is ever forgiven") != std::string::npos) {
            host->advance(100000);
            EXPECT_FALSE(talks());
        } else if (wait > 0) {
            // Sooner than the wait forgives nothing, and restarts it.
            host->advance(wait - 1);
            EXPECT_FALSE(talks()) << "a retry sooner";
            host->advance(wait - 1);
            EXPECT_FALSE(talks()) << "the wait restarted";
            for (int round = 0; round < 5; round++) {
                host->advance(wait);
                EXPECT_TRUE(talks()) << "one more after " << wait << " s, round " << round;
                EXPECT_FALSE(talks()) << "and only one";
                host->advance(wait);
                EXPECT_TRUE(talks());
            }
            long perMinute = -1;
            std::smatch m;
            if (std::regex_search(words, m, std::regex("\\(([0-9]+) a minute")))
                perMinute = std::stol(m[1]);
            if (60 % wait == 0) {
                EXPECT_EQ(perMinute, 60 / wait) << "the sustained rate";
            }
        } else {
            ASSERT_GE(each, 1);
            host->advance(100000);
            EXPECT_EQ(burst(), max) << "a long pause forgives all";
            host->advance(100000);
            for (long n = 0; n < max; n++)
                talks();
            host->advance(1);
            EXPECT_EQ(burst(), each) << "a second of quiet after the burst";
            host->advance(1);
            EXPECT_EQ(burst(), each - 1) << "the refused attempt counted";
        }
    }
}

} // namespace
