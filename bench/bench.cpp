// vestrel-bench: the cost of the plug-in on the host's thread, measured by
// calling the entry points directly on a populated substitute host, beside
// a null plug-in (returns every message) and a touch plug-in (reads every
// payload byte) in the same process. Names are <case>/<plugin>.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "vestrel.h"

// Under callgrind (bench/run --instructions) only the calls into the
// plug-in are counted, and each case's count is dumped under its name.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#define CALLGRIND_DUMP_STATS_AT(name) (void)(name)
#endif

namespace
{

constexpr int kMembers = 10000;
constexpr int kPerRoom = 50;
constexpr RoomID kDupRoom = 30; // "nodupavatars rm30 warn" in the example file
// Rooms laid with loose props, and how many: propdrop_100, _10 and _50 drop in them.
constexpr std::pair<RoomID, int> kPropRooms[] = {{1, 100}, {4, 10}, {5, 50}};

struct Plugin {
    const char *name;
    const char *path;
};
const Plugin kPlugins[] = {
    {"vestrel", VESTREL_SO}, {"null", NULL_SO}, {"touch", TOUCH_SO}, {"floor", FLOOR_SO}};

std::string benchDir()
{
    static std::string dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "vestrel-bench-XXXXXX").string();
        if (mkdtemp(t.data()) == nullptr)
            std::abort();
        return t;
    }();
    return dir;
}

// A parameter file of 10,000 limit lines with room ranges, none of which
// covers the rooms the members are in: the line that applies comes last.
std::string tenThousandLines()
{
    std::string path = benchDir() + "/10k.conf";
    if (!std::filesystem::exists(path)) {
        std::ofstream out(path);
        out << std::ifstream(EXAMPLE_CONF).rdbuf();
        for (int i = 0; i < 10000; i++)
            out << "chat 100 1 rm" << 1000 + i * 3 << "-" << 1001 + i * 3 << "\n";
    }
    return path;
}

// A populated host with one plug-in: members in rooms of 50 at places far
// enough apart for every personal-space rule. Kept while the next case
// asks for the same.
struct World {
    std::string key;
    std::unique_ptr<vh::Host> host;
    std::vector<ServerUserRec *> members;
    ServerUserRec *op = nullptr;
    ServerUserRec *flooder = nullptr; // talk_refused's, so no member is left over his limits
    // Where each case's next run goes on, so that no member says again the
    // line he said last in that case: the cases that share the world share
    // its members, and a help line leaves the remembered line as it was.
    std::map<std::string, size_t> cursors;
    std::set<std::string> warmed; // the cases whose senders have spoken once (counted runs)
    HandleMessageProc handle = nullptr;
    void *dat = nullptr;

    ServerState *state() { return host->state(); }
    // The host as it stands when the server offers the plug-in a message.
    void prepare(ServerUserRec *u)
    {
        host->makeCurrent();
        state()->currentUser = u;
    }
    ClientMsg *call(ServerUserRec *u, ClientMsg *msg)
    {
        prepare(u);
        return handle(state(), dat, msg);
    }
};

Point placeOf(int i, int perRoom = kPerRoom)
{
    int k = i % perRoom;
    return Point{static_cast<sint16>(20 + (k / 10) * 70), static_cast<sint16>(20 + (k % 10) * 45)};
}

// Every world is built once and kept: the cases run interleaved.
World &world(const Plugin &plugin, const std::string &params, int members, int perRoom = kPerRoom)
{
    static std::map<std::string, std::unique_ptr<World>> worlds;
    std::string key = std::string(plugin.path) + "|" + params + "|" + std::to_string(members) +
                      "|" + std::to_string(perRoom);
    auto found = worlds.find(key);
    if (found != worlds.end()) {
        found->second->host->makeCurrent();
        return *found->second;
    }
    // A new host sets the one virtual clock to its own start; the clock is
    // put back where the other worlds left it, so that it never runs
    // backwards under their members' counters (which would refuse them).
    time_t resume = vh::clockNow();
    auto &w = worlds[key];
    w = std::make_unique<World>();
    w->key = key;
    w->host = std::make_unique<vh::Host>();
    vh::Host &h = *w->host;
    h.setQuiet(true);
    h.setLeanAllocator(true);
    for (int r = 1; r <= (members + perRoom - 1) / perRoom; r++)
        h.createRoom(static_cast<RoomID>(r), "Room " + std::to_string(r));
    if (!h.loadPlugin(plugin.path, params))
        std::abort();
    for (int i = 0; i < members; i++) {
        vh::UserOptions o;
        o.handle = "m" + std::to_string(i);
        o.room = static_cast<RoomID>(1 + i / perRoom);
        Point p = placeOf(i, perRoom);
        o.x = p.h;
        o.y = p.v;
        o.ip = 0x0A000000u + static_cast<uint32_t>(i);
        w->members.push_back(h.connect(o));
    }
    vh::UserOptions o;
    o.handle = "olga";
    o.rank = 2;
    w->op = h.connect(o);
    o.handle = "flooder";
    o.rank = 1;
    o.room = 3;
    w->flooder = h.connect(o);
    for (const auto &[room, count] : kPropRooms) {
        for (int i = 0; i < count; i++)
            h.addLooseProp(room, AssetSpec{5000 + i, 0},
                           Point{static_cast<sint16>(300 + (i / 10) * 20),
                                 static_cast<sint16>(20 + (i % 10) * 20)});
    }
    h.advance(2);
    if (vh::clockNow() < resume)
        vh::setClock(resume);
    w->handle = h.procs().handleMessage;
    w->dat = h.pluginData();
    return *w;
}

std::vector<uint8_t> textPayload(const std::string &t)
{
    std::vector<uint8_t> p(t.begin(), t.end());
    p.push_back(0);
    return p;
}

// Checks, untimed, that the plug-in passed or dropped every message as
// the case intends; the reference plug-ins pass everything.
void expect(benchmark::State &state, bool isVestrel, int64_t passed, bool shouldPass)
{
    int64_t want = isVestrel && !shouldPass ? 0 : state.iterations();
    if (passed != want)
        state.SkipWithError(shouldPass ? "a message meant to pass was dropped"
                                       : "a message meant to be refused passed");
}

std::string g_case;     // the name of the case running, for the instruction dumps
bool g_fixedIterations; // VESTREL_BENCH_ITERATIONS is set: counted, not timed

// Members in turn, each message of its own; the clock moves on `seconds`
// after every round of `round` messages so that the limits decay.
template <typename Make>
void run(benchmark::State &state, World &w, const std::vector<ServerUserRec *> &who, Make make,
         bool isVestrel, bool shouldPass, long seconds)
{
    std::vector<vh::Message> msgs;
    for (size_t i = 0; i < who.size() * 2; i++)
        msgs.push_back(make(i));
    int64_t passed = 0;
    size_t n = who.size();
    if (g_fixedIterations && w.warmed.insert(g_case).second) {
        // Counted runs are short: every sender speaks once first, so that
        // what is counted is the steady state, not first-time allocations.
        size_t &cursor = w.cursors[g_case];
        for (size_t k = cursor; k < cursor + n; k++)
            w.call(who[k % n], msgs[k % msgs.size()].get());
        cursor += n;
        vh::setClock(vh::clockNow() + seconds);
    }
    size_t i = w.cursors[g_case];
    size_t firstOdd = SIZE_MAX; // the first message that went the other way
    HandleMessageProc handle = w.handle;
    ServerState *serverState = w.state();
    void *dat = w.dat;
    for (auto _ : state) {
        ClientMsg *msg = msgs[i % msgs.size()].get();
        w.prepare(who[i % n]);
        CALLGRIND_TOGGLE_COLLECT;
        ClientMsg *r = handle(serverState, dat, msg);
        CALLGRIND_TOGGLE_COLLECT;
        passed += r != nullptr;
        if ((r != nullptr) != shouldPass && firstOdd == SIZE_MAX)
            firstOdd = i;
        if (++i % n == 0)
            vh::setClock(vh::clockNow() + seconds);
    }
    w.cursors[g_case] = i; // the next run goes on where this one stopped
    std::string dump = g_case + " " + std::to_string(state.iterations());
    CALLGRIND_DUMP_STATS_AT(dump.c_str());
    if (isVestrel && firstOdd != SIZE_MAX) {
        // Say why, with what the plug-in showed for that message again.
        w.host->setQuiet(false);
        w.host->clearTranscript();
        w.call(who[firstOdd % n], msgs[firstOdd % msgs.size()].get());
        for (const std::string &l : w.host->transcript())
            std::fprintf(stderr, "  message %zu: %s\n", firstOdd, l.c_str());
        w.host->setQuiet(true);
    }
    expect(state, isVestrel, passed, shouldPass);
}

std::vector<ServerUserRec *> roomMembers(World &w, RoomID room)
{
    std::vector<ServerUserRec *> out;
    for (ServerUserRec *u : w.members)
        if (u->user.roomID == room)
            out.push_back(u);
    return out;
}

vh::Message talk(size_t i)
{
    char line[64];
    std::snprintf(line, sizeof line, "%06zu says hello to the room", i);
    return vh::Message(MSG_TALK, textPayload(line));
}

void talkPass(benchmark::State &state, const Plugin &p, const std::string &params)
{
    World &w = world(p, params, kMembers);
    run(state, w, w.members, talk, std::strcmp(p.name, "vestrel") == 0, true, 2);
}

void BM_talk_pass(benchmark::State &state, const Plugin &p)
{
    talkPass(state, p, EXAMPLE_CONF);
}

void BM_talk_pass_10k_lines(benchmark::State &state, const Plugin &p)
{
    talkPass(state, p, tenThousandLines());
}

// One member floods: every line over the chat limit.
void BM_talk_refused(benchmark::State &state, const Plugin &p)
{
    World &w = world(p, EXAMPLE_CONF, kMembers);
    std::vector<ServerUserRec *> one = {w.flooder};
    std::vector<vh::Message> warm;
    for (int i = 0; i < 20; i++) {
        warm.push_back(talk(900000 + i));
        w.call(one[0], warm.back().get());
    }
    run(
        state, w, one, [](size_t i) { return talk(800000 + i % 64); },
        std::strcmp(p.name, "vestrel") == 0, false, 0);
}

void BM_whisper(benchmark::State &state, const Plugin &p)
{
    World &w = world(p, EXAMPLE_CONF, kMembers);
    auto make = [&](size_t i) {
        std::vector<uint8_t> payload(4);
        UserID to = w.members[(i + 1) % w.members.size()]->user.userID;
        std::memcpy(payload.data(), &to, 4);
        char line[64];
        std::snprintf(line, sizeof line, "%06zu a word in your ear", i);
        auto text = textPayload(line);
        payload.insert(payload.end(), text.begin(), text.end());
        return vh::Message(MSG_WHISPER, payload);
    };
    run(state, w, w.members, make, std::strcmp(p.name, "vestrel") == 0, true, 2);
}

// A help line the plug-in answers and consumes.
void BM_help_find(benchmark::State &state, const Plugin &p)
{
    World &w = world(p, EXAMPLE_CONF, kMembers);
    run(
        state, w, w.members,
        [](size_t) { return vh::Message(MSG_TALK, textPayload("`help find")); },
        std::strcmp(p.name, "vestrel") == 0, false, 2);
}

// Moves between two free places, every member in turn, in rooms of
// `perRoom`: each move is checked against every other occupant.
void moveIn(benchmark::State &state, const Plugin &p, int perRoom)
{
    World &w = world(p, EXAMPLE_CONF, kMembers, perRoom);
    auto who = w.members;
    auto make = [&](size_t i) {
        Point at = placeOf(static_cast<int>(i % who.size()), perRoom);
        // Halfway between rows, so no occupant stands within the zone.
        Point to{static_cast<sint16>(at.v + 35),
                 static_cast<sint16>(at.h + (i < who.size() ? 22 : 0))};
        std::vector<uint8_t> payload(sizeof to);
        std::memcpy(payload.data(), &to, sizeof to);
        return vh::Message(MSG_USERMOVE, payload);
    };
    run(state, w, who, make, std::strcmp(p.name, "vestrel") == 0, true, 10);
}

template <int PerRoom> void BM_move(benchmark::State &state, const Plugin &p)
{
    moveIn(state, p, PerRoom);
}

vh::Message props(size_t i, int base)
{
    std::vector<uint8_t> payload(4 + 3 * sizeof(AssetSpec));
    int32_t n = 3;
    std::memcpy(payload.data(), &n, 4);
    for (int k = 0; k < 3; k++) {
        AssetSpec a{static_cast<AssetID>(base + static_cast<int>(i) * 8 + k), 0};
        std::memcpy(payload.data() + 4 + k * sizeof a, &a, sizeof a);
    }
    return vh::Message(MSG_USERPROP, payload);
}

void BM_props_50(benchmark::State &state, const Plugin &p)
{
    World &w = world(p, EXAMPLE_CONF, kMembers);
    auto who = roomMembers(w, 2);
    run(
        state, w, who, [](size_t i) { return props(i, 20000); },
        std::strcmp(p.name, "vestrel") == 0, true, 3);
}

// A prop change in a room where duplicate avatars are refused: every
// occupant's avatar is compared with the new one.
void BM_props_dup_50(benchmark::State &state, const Plugin &p)
{
    World &w = world(p, EXAMPLE_CONF, kMembers);
    auto who = roomMembers(w, kDupRoom);
    for (size_t i = 0; i < who.size(); i++) {
        AssetSpec worn[3] = {{static_cast<AssetID>(40000 + i * 8), 0},
                             {static_cast<AssetID>(40001 + i * 8), 0},
                             {static_cast<AssetID>(40002 + i * 8), 0}};
        w.host->setProps(who[i], 3, worn);
    }
    run(
        state, w, who, [](size_t i) { return props(i, 60000); },
        std::strcmp(p.name, "vestrel") == 0, true, 3);
}

// A loose prop dropped in a room that already holds some: each drop is
// checked against every prop of the room.
void dropIn(benchmark::State &state, const Plugin &p, RoomID room)
{
    World &w = world(p, EXAMPLE_CONF, kMembers);
    auto who = roomMembers(w, room);
    auto make = [](size_t i) {
        std::vector<uint8_t> payload(12);
        AssetSpec a{static_cast<AssetID>(7000 + i), 0};
        Point at{static_cast<sint16>(250 + (i % 5) * 30), static_cast<sint16>(30 + (i % 7) * 30)};
        std::memcpy(payload.data(), &a, sizeof a);
        std::memcpy(payload.data() + 8, &at, sizeof at);
        return vh::Message(MSG_PROPNEW, payload);
    };
    run(state, w, who, make, std::strcmp(p.name, "vestrel") == 0, true, 2);
}

template <RoomID Room> void BM_propdrop(benchmark::State &state, const Plugin &p)
{
    dropIn(state, p, Room);
}

// The idle scan over 100,000 users, through the timer entry point.
void BM_idle_100k(benchmark::State &state)
{
    World &w = world(kPlugins[0], EXAMPLE_CONF, 100000);
    void *event = nullptr;
    for (void *e : w.host->pendingEvents()) {
        if (static_cast<TimerEvent *>(e)->action == TA_IDLE)
            event = e;
    }
    if (event == nullptr) {
        state.SkipWithError("no idle check is pending");
        return;
    }
    while (w.host->takeTimer() != event) {
    }
    HandleTimerEventProc fire = w.host->procs().handleTimerEvent;
    for (auto _ : state) {
        w.host->makeCurrent();
        w.state()->currentUser = nullptr;
        fire(w.state(), w.dat, event);
        event = w.host->takeTimer(); // rescheduled: take it back
    }
    w.host->scheduleTimer(event, 60);
}

// "`vestrel reload" of a file of 10,000 limit lines, by an operator.
void BM_reload_10k(benchmark::State &state)
{
    World &w = world(kPlugins[0], tenThousandLines(), kMembers);
    vh::Message reload(MSG_TALK, textPayload("`vestrel reload"));
    int64_t consumed = 0;
    for (auto _ : state)
        consumed += w.call(w.op, reload.get()) == nullptr;
    if (consumed != state.iterations())
        state.SkipWithError("the reload line was not consumed");
}

// VESTREL_BENCH_ITERATIONS=N runs every message case exactly N times, so
// that an instruction count per message is the same in every run.
void registerAll()
{
    const char *fixed = std::getenv("VESTREL_BENCH_ITERATIONS");
    long iterations = fixed != nullptr ? std::atol(fixed) : 0;
    g_fixedIterations = iterations > 0;
    using Case = void (*)(benchmark::State &, const Plugin &);
    const std::pair<const char *, Case> cases[] = {
        {"talk_pass", BM_talk_pass},
        {"talk_refused", BM_talk_refused},
        {"whisper", BM_whisper},
        {"help_find", BM_help_find},
        {"move_50", BM_move<50>},
        {"props_50", BM_props_50},
        {"props_dup_50", BM_props_dup_50},
        {"propdrop_100", BM_propdrop<1>},
        {"talk_pass_10k_lines", BM_talk_pass_10k_lines},
        // the curves of the scans the rules prescribe, for vestrel alone
        {"move_25", BM_move<25>},
        {"move_12", BM_move<12>},
        {"propdrop_50", BM_propdrop<5>},
        {"propdrop_10", BM_propdrop<4>},
    };
    const std::set<std::string> vestrelOnly = {"talk_pass_10k_lines", "move_25", "move_12",
                                               "propdrop_50", "propdrop_10"};
    for (const auto &[name, fn] : cases) {
        for (const Plugin &p : kPlugins) {
            if (vestrelOnly.count(name) != 0 && std::strcmp(p.name, "vestrel") != 0)
                continue;
            std::string full = std::string(name) + "/" + p.name;
            auto *b = benchmark::RegisterBenchmark(full.c_str(),
                                                   [fn = fn, p, full](benchmark::State &st) {
                                                       g_case = full;
                                                       fn(st, p);
                                                   });
            if (iterations > 0)
                b->Iterations(iterations);
        }
    }
    benchmark::RegisterBenchmark("idle_100k/vestrel", BM_idle_100k)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("reload_10k/vestrel", BM_reload_10k)
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char **argv)
{
    vh::Host::allowSeveral();
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
