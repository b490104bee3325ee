// Limit slots, room classification and the decaying counter.
#include "fixture.h"

#include <cmath>
#include <limits>

namespace
{

class Limits : public HostTest
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(start(""));
        host->createRoom(5, "Five");
        host->createRoom(6, "Private");
        host->changeRoom(6, vh::RoomOptions{.isPrivate = true});
        host->createRoom(7, "Member");
        alice = connect("alice");
        host->createRoom(8, "Owned");
        host->setRoomOwner(7, alice);
        lines();
    }

    // An entry owned by the test; freed with the fixture.
    LimitValue *entry(sint32 classes, uint32 maximum, double decay,
                      std::vector<std::pair<int, int>> ranges = {})
    {
        auto *v = static_cast<LimitValue *>(static_cast<void *>(NewPtrClear(sizeof(LimitValue))));
        v->roomsChecked = classes;
        v->maximum = maximum;
        v->decay = decay;
        for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
            auto *r = reinterpret_cast<RoomNumbers *>(NewPtrClear(sizeof(RoomNumbers)));
            r->low = it->first;
            r->high = it->second;
            r->next = v->roomNumbers;
            v->roomNumbers = r;
        }
        owned.push_back(v);
        return v;
    }

    LimitValue *chain(std::vector<LimitValue *> entries)
    {
        for (size_t i = 0; i + 1 < entries.size(); i++)
            entries[i]->next = entries[i + 1];
        return entries.empty() ? nullptr : entries[0];
    }

    void TearDown() override
    {
        for (LimitValue *v : owned) {
            v->next = nullptr;
            freeLimitList(v);
        }
    }

    ServerUserRec *alice = nullptr;
    std::vector<LimitValue *> owned;
};

TEST_F(Limits, EveryLoadedSlotStartsFromTheFileAlone)
{
    for (int slot = 0; slot < NBR_LIMITS; slot++)
        EXPECT_EQ(state()->limits[slot], nullptr) << parameterTable[slot].name;
}

TEST_F(Limits, ParameterTableHasEverySlotWithItsDefault)
{
    struct Row {
        int slot;
        const char *name;
        sint32 mask;
        bool hasDefault;
        sint32 classes;
        uint32 maximum;
        double decay;
    };
    const Row rows[] = {
        {0, "zone", 1, true, 1, 12, 0.0},
        {1, "spoof", 0, true, 1, 0, 0.0},
        {2, "page", 3, true, 7, 1, 0.5},
        {3, "reppage", 3, true, 7, 1, 0.1},
        {4, "chat", 3, true, 1, 10, 1.0},
        {5, "repchat", 3, true, 1, 10, 1.0},
        {6, "propdrop", 3, true, 1, 10, 1.0},
        {7, "roommsg", 3, true, 1, 0, 0.2},
        {8, "facechange", 3, true, 1, 10, 0.5},
        {9, "avatarchange", 3, true, 1, 40, 2.0},
        {10, "move", 3, true, 1, 30, 0.2},
        {11, "slide", 3, true, 1, 30, 0.2},
        {12, "spotstatechange", 3, true, 1, 30, 0.5},
        {13, "chatgoto", 12, false, 0, 0, 0},
        {14, "clearlooseprops", 1, false, 0, 0, 0},
        {15, "nodupavatars", 0, false, 0, 0, 0},
        {16, "namechange", 3, true, 1, 40, 2.0},
        {17, "take", 0, false, 0, 0, 0},
        {18, "dupip", 5, false, 0, 0, 0},
        {19, "godonly", 0, false, 0, 0, 0},
        {20, "avatarzone", 1, true, 1, 12, 0.0},
        {21, "mimick", 1, false, 0, 0, 0},
        {22, "pinx", 3, false, 0, 0, 0},
        {23, "newroom", 3, false, 0, 0, 0},
        {24, "gpage", 3, true, 7, 1, 0.5},
        {25, "rpage", 3, true, 7, 1, 0.5},
        {26, "roompage", 3, true, 7, 1, 0.5},
        {27, "roomgoto", 3, true, 7, 10, 0.1},
        {28, "draw", 3, true, 7, 50, 0.1},
        {29, "idle", 3, true, 1, 0, 120.0},
    };
    ASSERT_EQ(std::size(rows), static_cast<size_t>(NBR_LIMITS));
    EXPECT_EQ(parameterTable[NBR_LIMITS].name, nullptr);

    setDefaultParameters(state());
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const ParameterTable &p = parameterTable[r.slot];
        EXPECT_STREQ(p.name, r.name);
        EXPECT_EQ(p.index, r.slot);
        EXPECT_EQ(p.paramMask, r.mask);
        LimitValue *v = state()->limits[r.slot];
        ASSERT_EQ(v != nullptr, r.hasDefault);
        if (v == nullptr)
            continue;
        EXPECT_NE(v, p.defaultValue) << "slots hold copies of the defaults";
        EXPECT_EQ(v->roomsChecked, r.classes);
        EXPECT_EQ(v->maximum, r.maximum);
        EXPECT_DOUBLE_EQ(v->decay, r.decay);
        EXPECT_EQ(v->next, nullptr);
    }
    freeLimits(state());
}

TEST_F(Limits, FailedDefaultCopyIsLoggedAndLeavesTheSlotEmpty)
{
    host->failAllocation(1, true);
    setDefaultParameters(state());
    EXPECT_TRUE(saw("log [vestrel]: Unable to get memory for LimitValue, init failed"));
    EXPECT_EQ(state()->limits[L_ZONE], nullptr);
    EXPECT_NE(state()->limits[L_CHAT], nullptr);
    freeLimits(state());
}

TEST_F(Limits, LookupByRoomClassAndRange)
{
    LimitValue *pub = entry(RC_PUBLIC, 1, 0);
    LimitValue *priv = entry(RC_PRIVATE, 2, 0);
    LimitValue *member = entry(RC_MEMBER, 3, 0);
    LimitValue *alt = entry(RC_ALTMEMBER, 4, 0);
    LimitValue *ranged = entry(0, 5, 0, {{5, 5}, {100, 90}});
    LimitValue *limbo = entry(RC_LIMBO, 6, 0);
    LimitValue *first = chain({ranged, pub, priv, member, alt, limbo});

    struct Case {
        const char *name;
        RoomID room;
        bool rlimit;
        LimitValue *expected;
    };
    const Case cases[] = {
        {"public room", 0, false, pub},
        {"range wins over the class", 5, false, ranged},
        {"private room", 6, false, priv},
        {"member room", 7, false, member},
        {"member room with alternate limits", 7, true, alt},
        {"room that does not exist: first entry with any class", 99, false, pub},
        {"a reversed range matches nothing", 95, false, pub},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        rd(7)->flags = c.rlimit ? RD_RLIMIT : 0;
        EXPECT_EQ(getRoomLimitForRoom(host->state(), state(), first, c.room), c.expected);
    }
    EXPECT_EQ(getRoomLimitForRoom(host->state(), state(), nullptr, 0), nullptr);
}

TEST_F(Limits, UserInNoRoomMeetsFirstEntryWithAnyBitWarnIncluded)
{
    LimitValue *byNumber = entry(0, 1, 0, {{0, 10}});
    LimitValue *warnOnly = entry(RC_WARN, 2, 0);
    LimitValue *first = chain({byNumber, warnOnly});
    EXPECT_EQ(getRoomLimitForRoom(host->state(), state(), first, -1), warnOnly);
    EXPECT_EQ(getRoomLimitForRoom(host->state(), state(), byNumber->next = nullptr, -1), nullptr);
}

TEST_F(Limits, PrivateEntryDoesNotApplyInPublicRoomAndNoMatchIsNull)
{
    LimitValue *first = chain({entry(RC_PRIVATE, 1, 0), entry(RC_MEMBER, 1, 0)});
    EXPECT_EQ(getRoomLimitForRoom(host->state(), state(), first, 0), nullptr);
    host->state()->currentUser = alice;
    EXPECT_EQ(getRoomLimit(host->state(), state(), first), nullptr);
}

// ---- checkLimit --------------------------------------------------------------

class Counter : public Limits
{
  protected:
    // Runs one check at the current virtual time as alice.
    int check(const LimitValue *limit, int slot = L_CHAT, int actions = 1)
    {
        host->state()->currentUser = alice;
        return checkLimit(host->state(), state(), &hist, limit, ud(alice), slot, actions,
                          "Chat messages");
    }

    ActivityHistory hist{};
};

TEST_F(Counter, ChatDefaultWorkedExample)
{
    LimitValue *chat = entry(RC_PUBLIC, 10, 1.0);
    for (int i = 1; i <= 10; i++)
        EXPECT_EQ(check(chat), 0) << "line " << i;
    EXPECT_EQ(hist.numberRecent, 10);
    EXPECT_EQ(check(chat), 1);
    EXPECT_EQ(hist.numberRecent, 11);
    EXPECT_EQ(check(chat), 1);
    EXPECT_EQ(hist.numberRecent, 11) << "capped at maximum plus decay";
    host->advance(3);
    EXPECT_EQ(check(chat), 0);
    EXPECT_EQ(hist.numberRecent, 9);
}

TEST_F(Counter, PageDefaultWorkedExampleLosesFractions)
{
    LimitValue *page = entry(7, 1, 0.5);
    EXPECT_EQ(check(page, L_PAGE), 0);
    EXPECT_EQ(hist.numberRecent, 1);
    for (int i = 0; i < 5; i++) {
        host->advance(1);
        EXPECT_EQ(check(page, L_PAGE), 1) << "every refusal restarts the wait";
        EXPECT_EQ(hist.numberRecent, 1);
    }
    host->advance(2);
    EXPECT_EQ(check(page, L_PAGE), 0);
    EXPECT_EQ(hist.numberRecent, 1);
}

TEST_F(Counter, ExemptionsAndSpecialMaxima)
{
    struct Case {
        const char *name;
        int rank;
        uint32 maximum;
        int expected;
        sint32 countAfter;
    };
    const Case cases[] = {
        {"wizard is never counted", 2, 0, 0, 5},
        {"god is never counted", 3, 0, 0, 5},
        {"unlimited maximum is never counted", 1, LIMIT_UNLIMITED, 0, 5},
        {"maximum 0 refuses a member", 1, 0, 1, 0},
        {"maximum 0 refuses a guest", 0, 0, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        host->setRank(alice, c.rank);
        hist = ActivityHistory{vh::clockNow(), 5};
        EXPECT_EQ(check(entry(RC_PUBLIC, c.maximum, 0.2)), c.expected);
        EXPECT_EQ(hist.numberRecent, c.countAfter);
    }
}

TEST_F(Counter, ManyActionsPassWhileBelowMaximumAndCapOnlyOnRefusal)
{
    LimitValue *avatar = entry(RC_PUBLIC, 10, 2.0);
    hist = ActivityHistory{vh::clockNow(), 9};
    EXPECT_EQ(check(avatar, L_AVATARCHANGE, 9), 0);
    EXPECT_EQ(hist.numberRecent, 18) << "allowed above maximum plus decay";
    EXPECT_EQ(check(avatar, L_AVATARCHANGE, 9), 1);
    EXPECT_EQ(hist.numberRecent, 12);
}

TEST_F(Counter, WarningIsGivenOncePerSlotUntilAnotherSlotWarns)
{
    LimitValue *chat = entry(RC_PUBLIC | RC_WARN, 0, 0);
    LimitValue *moves = entry(RC_PUBLIC | RC_WARN, 0, 0);
    LimitValue *silent = entry(RC_PUBLIC, 0, 0);
    const std::string warning = "alice: Chat messages are limited here";

    check(chat);
    check(chat);
    EXPECT_EQ(lines(), std::vector<std::string>{warning});
    EXPECT_EQ(ud(alice)->lastWarning, L_CHAT);

    check(silent, L_SLIDE);
    EXPECT_TRUE(lines().empty()) << "an entry without warn tells nothing";
    check(moves, L_MOVE);
    EXPECT_EQ(ud(alice)->lastWarning, L_MOVE);
    lines();
    check(chat);
    EXPECT_EQ(lines(), std::vector<std::string>{warning});

    clearDataForRoomChange(host->state(), state(), alice);
    EXPECT_EQ(ud(alice)->lastWarning, -1);
    check(chat);
    EXPECT_EQ(lines(), std::vector<std::string>{warning}) << "again after a room change";
    host->flush();
}

TEST_F(Counter, ExtremeValuesNeverOverflow)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *name;
        uint32 maximum;
        double decay;
        ActivityHistory before;
        int expected;
        sint32 countAfter;
    };
    const time_t now = vh::clockNow();
    const Case cases[] = {
        {"never checked: any count is forgiven", 10, 1.0, {0, 1000000000}, 0, 1},
        {"huge decay after a long wait", 10, 1e300, {now - 100000, 5}, 0, 1},
        {"infinite decay", 10, inf, {now - 1, 5}, 0, 1},
        {"infinite decay with no time passed", 10, inf, {now, 10}, 1, 11},
        {"negative decay raises nothing past 32 bits", 10, -1e300, {now - 5, 5}, 1, 0},
        {"NaN decay forgives nothing", 10, nan, {now - 5, 5}, 0, 6},
        {"largest limited maximum", 0xFFFFFFFE, 1.0, {now, INT32_MAX}, 0, INT32_MAX},
        {"counter at the top refused by a small maximum", 3, 0.0, {now, INT32_MAX}, 1, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        hist = c.before;
        EXPECT_EQ(check(entry(RC_PUBLIC, c.maximum, c.decay)), c.expected);
        EXPECT_EQ(hist.numberRecent, c.countAfter);
        EXPECT_EQ(hist.lastTime, now);
    }
}

} // namespace
