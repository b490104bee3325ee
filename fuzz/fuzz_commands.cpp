// Command lines said or whispered by users of every rank, aimed at users of
// every rank, in public and member rooms, by users who log on again as
// others or with parts of their identity missing, under several sets of
// rank changes. An input is text, one record a line:
//   +N      advance the clock N seconds
//   @R      the next speaker goes to the world's room R (a digit) first, a
//           step the oracle checks on its own
//   ~SMT    user S logs off and on again: M 0 as himself, 1 with his logon
//           data late, 2 without a counter, 3 without a machine identity,
//           4 without an address, 5, 6, 7 with the address, counter or
//           machine identity of user T
//   !K      the plug-in reloads its file with rank changes K (a digit)
//   =Sname  user S asks to be called name
//   %SXY    user S walks to (4X, 4Y), X and Y bytes
//   STtext  user S (a digit) says text; T is '-' for a plain line or the
//           digit of the user he whispers it to
// The dictionary holds every command word and its abbreviations, switches,
// numbers and names.
//
// Every line of a user below the operators' rank, member-room owners
// included, is checked by the privilege oracle (oracle.h), with what the
// timers it scheduled did in the next seconds.
#include <cstdio>
#include <cstring>

#include "oracle.h"
#include "world.h"

namespace
{

const char kParams[] = "chat 50 1 all\ntake rm5\npinx 300 200 rm8\nchatgoto 6 open sesame\n"
                       "chatgoto currentroom refresh\nnewroom 5 0.01 all\npagelength 3\n"
                       "gpagelength 5\npageresponse Thanks.\ngpageresponse The owners know.\n"
                       "wizinmemberrooms yes\nmroomdiscipline 4\nrtakedelay 5\n"
                       "memberrwho yes\nrownerinroom yes\nchat 60 1 altmember\n";

// Rank changes and switches a reload may bring: guests asking for rooms,
// discipline left to the server, hidden operators, an owner's commands
// disabled.
const char *const kReloads[] = {
    "setrank newroom guest\nsetrank rtake guest\nsetrank myroom guest\n",
    "setrank rowner guest\nsetrank gotoroom guest\n",
    "hideoperators yes\n",
    "rtakedelay off\nmroomdiscipline 0\n",
    ("setrank rgag disable\nsetrank rkick disable\nsetrank rowner disable\n"
     "setrank rlimit disable\nsetrank rdelete disable\n"),
};

// Limit lines a reload puts before the world's own, so that they win: a
// chat limit a few lines spend, the spoof rule, and the mimicry rule.
const char *const kReloadLimits[] = {"", "spoof all warn\n", "chat 3 0.05 all warn\n",
                                     "chat 2 0.02 all\nspoof all\n", "mimick 4 all warn\n"};

constexpr uint32_t kGuestCounter = 0x900; // guest clients share one

std::vector<fuzz::UserSpec> worldUsers()
{
    using fuzz::World;
    return {{"guest", 0, 0, 0x0A000001, kGuestCounter},
            {"member", 1, 0, 0x0A000002},
            {"mel", 1, World::kMemberRoom, 0x0A000003, 0, 0, World::kMemberRoom},
            {"wiz", 2, 0, 0x0A000004, 0, 0, -1, true},
            {"god", 3, 0, 0x0A000005},
            {"visitor", 1, World::kMemberRoom, 0x0A000006},
            {"guest2", 0, 5, 0x0A000007, kGuestCounter},
            {"ben", 1, World::kSecondMemberRoom, 0x0A000008, 0, 0, World::kSecondMemberRoom}};
}

void reconnect(fuzz::World &w, const std::string &rec)
{
    size_t who = static_cast<uint8_t>(rec[1]);
    int mode = rec.size() > 2 ? (rec[2] - '0') & 7 : 0;
    ServerUserRec *other = w.user(rec.size() > 3 ? static_cast<uint8_t>(rec[3]) : 0);
    fuzz::Identity id;
    switch (mode) {
    case 1:
        id.logonDelay = 20; // long enough for lines while his counter is 0
        break;
    case 2:
        id.counter = 0;
        break;
    case 3:
        id.puid = 0;
        break;
    case 4:
        id.ip = 0;
        break;
    case 5:
    case 6:
    case 7:
        if (other == nullptr)
            break;
        if (mode == 5) {
            const auto *o = reinterpret_cast<const unsigned char *>(&other->netAddress.ipAddress);
            id.ip = (uint32_t{o[0]} << 24) | (uint32_t{o[1]} << 16) | (uint32_t{o[2]} << 8) | o[3];
        } else if (mode == 6) {
            id.counter = other->counter;
        } else {
            id.puid = other->puidCtr;
        }
        break;
    default:
        break;
    }
    fuzz::Snapshot before = fuzz::snapshot(w, nullptr);
    if (ServerUserRec *u = w.user(who))
        before.users.erase(w.host().handleOf(u)); // he comes anew
    w.reconnect(who, id);
    w.host().advance(5); // his logon data, and the logon and room-entry actions
    fuzz::checkWorld(w, "a reconnection: " + rec, before);
}

void rename(fuzz::World &w, ServerUserRec *u, const std::string &name)
{
    vh::Host &h = w.host();
    if (h.rankOf(u) > 1) {
        h.rename(u, name);
        return;
    }
    h.advance(2);
    fuzz::Snapshot before = fuzz::snapshot(w, u);
    h.rename(u, name);
    h.advance(2);
    fuzz::checkLine(w, u, nullptr, "(a name change to " + name + ")", before);
    fuzz::checkName(w, u, name, before);
}

// A line below the operators' rank is checked with what the timers it
// scheduled do in the next two seconds; what earlier records scheduled runs
// before it. A room change asked for before it is checked the same way, on
// its own, so that the line is judged by where he stands when he says it.
void speak(fuzz::World &w, ServerUserRec *u, ServerUserRec *to, RoomID dest,
           const std::string &line)
{
    vh::Host &h = w.host();
    auto utter = [&] {
        if (to != nullptr)
            h.whisper(u, to, line);
        else
            h.say(u, line);
    };
    if (h.rankOf(u) > 1) {
        if (dest >= 0)
            h.gotoRoom(u, dest);
        utter();
        return;
    }
    h.advance(2);
    if (dest >= 0) {
        fuzz::Snapshot before = fuzz::snapshot(w, u);
        h.gotoRoom(u, dest);
        before.answeredAt = h.transcript().size();
        h.advance(2);
        fuzz::checkLine(w, u, nullptr, "(a move to room " + std::to_string(dest) + ")", before);
    }
    fuzz::Snapshot before = fuzz::snapshot(w, u);
    utter();
    before.answeredAt = h.transcript().size();
    h.advance(2);
    fuzz::checkLine(w, u, to, line, before);
}

fuzz::World *g_world = nullptr;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A world built afresh for every input: what the oracle finds then
    // replays from the one input that shows it, at the cost of about a
    // third of the inputs a second a world kept across inputs would run.
    if (g_world == nullptr)
        g_world = new fuzz::World(kParams, worldUsers(), false, 1);
    fuzz::World &w = *g_world;
    std::string input(reinterpret_cast<const char *>(data), size);
    RoomID nextRoom = -1;
    size_t at = 0;
    for (int records = 0; at < input.size() && records < 64; records++) {
        size_t end = input.find('\n', at);
        if (end == std::string::npos)
            end = input.size();
        std::string rec = input.substr(at, end - at);
        at = end + 1;
        if (rec.size() >= 2 && rec[0] == '+') {
            w.host().advance(std::atoi(rec.c_str() + 1) % 400);
        } else if (rec.size() >= 2 && rec[0] == '@') {
            nextRoom = w.rooms()[static_cast<size_t>(rec[1]) % w.rooms().size()];
        } else if (rec.size() >= 2 && rec[0] == '~') {
            reconnect(w, rec);
        } else if (rec.size() >= 4 && rec[0] == '%') {
            if (ServerUserRec *u = w.user(static_cast<uint8_t>(rec[1])))
                w.host().moveTo(u, 4 * static_cast<uint8_t>(rec[2]),
                                4 * static_cast<uint8_t>(rec[3]));
        } else if (rec.size() >= 2 && rec[0] == '=') {
            if (ServerUserRec *u = w.user(static_cast<uint8_t>(rec[1])))
                rename(w, u, rec.substr(2));
        } else if (rec.size() >= 2 && rec[0] == '!') {
            size_t k = static_cast<uint8_t>(rec[1]);
            w.reload(kReloadLimits[(k / std::size(kReloads)) % std::size(kReloadLimits)],
                     kReloads[k % std::size(kReloads)]);
        } else if (rec.size() >= 2) {
            ServerUserRec *u = w.user(static_cast<uint8_t>(rec[0]));
            ServerUserRec *to = rec[1] == '-' ? nullptr : w.user(static_cast<uint8_t>(rec[1]));
            if (u == nullptr)
                continue;
            speak(w, u, to, nextRoom, rec.substr(2));
            nextRoom = -1;
        }
    }
    w.reset();
    return 0;
}
