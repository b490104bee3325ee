// Command lines said or whispered by users of every rank, aimed at users of
// every rank, in public and member rooms. An input is text, one record a
// line:
//   +N      advance the clock N seconds
//   @R      the next speaker goes to the world's room R (a digit)
//   STtext  user S (a digit) says text; T is '-' for a plain line or the
//           digit of the user he whispers it to
// The dictionary holds every command word and its abbreviations, switches,
// numbers and names.
//
// The privilege oracle: a line spoken by a guest, or by a member who owns
// no room, never changes another user's name, room, position, props, face,
// colour, connection, gags or pins, and never brings an operator notice or
// an operator's log line. A finding is a rank test that let the wrong user
// through. The world has no setrank lines, so the built-in ranks hold.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "world.h"

namespace
{

const char kParams[] = "chat 50 1 all\ntake rm5\npinx 300 200 rm8\nchatgoto 6 open sesame\n"
                       "chatgoto currentroom refresh\nnewroom 5 0.01 all\npagelength 3\n"
                       "gpagelength 5\npageresponse Thanks.\ngpageresponse The owners know.\n"
                       "wizinmemberrooms yes\nmroomdiscipline 4\nrtakedelay 5\n"
                       "memberrwho yes\nrownerinroom yes\nchat 60 1 altmember\n";

std::vector<fuzz::UserSpec> worldUsers()
{
    return {{"guest", 0, 0, 0x0A000001},
            {"member", 1, 0, 0x0A000002},
            {"mel", 1, fuzz::World::kMemberRoom, 0x0A000003},
            {"wiz", 2, 0, 0x0A000004},
            {"god", 3, 0, 0x0A000005},
            {"visitor", 1, fuzz::World::kMemberRoom, 0x0A000006}};
}

// What the oracle compares of every user but the speaker.
struct Seen {
    std::string name;
    RoomID room;
    Point pos;
    std::vector<AssetSpec> props;
    sint16 face, color;
    int gags;
    uint16 pinned;
};

bool same(const Seen &a, const Seen &b)
{
    auto sameProp = [](const AssetSpec &x, const AssetSpec &y) {
        return x.id == y.id && x.crc == y.crc;
    };
    return a.name == b.name && a.room == b.room && a.pos.h == b.pos.h && a.pos.v == b.pos.v &&
           std::equal(a.props.begin(), a.props.end(), b.props.begin(), b.props.end(), sameProp) &&
           a.face == b.face && a.color == b.color && a.gags == b.gags && a.pinned == b.pinned;
}

std::map<std::string, Seen> look(fuzz::World &w, ServerUserRec *except)
{
    std::map<std::string, Seen> out;
    for (size_t i = 0; i < w.users(); i++) {
        ServerUserRec *u = w.user(i);
        if (u == nullptr || u == except)
            continue;
        const UserRec &r = u->user;
        auto *ud = static_cast<UserDat *>(getPluginUserInfo(1, u));
        Seen s{std::string(reinterpret_cast<const char *>(r.name + 1), r.name[0] & 31),
               r.roomID,
               r.roomPos,
               std::vector<AssetSpec>(r.propSpec, r.propSpec + std::min<int>(r.nbrProps, 9)),
               r.faceNbr,
               r.colorNbr,
               ud != nullptr ? ud->flags : 0,
               static_cast<uint16>(u->flags & UF_Pinned)};
        out.emplace(w.host().handleOf(u), s);
    }
    return out;
}

// Log tags of the plug-in's operator actions.
const std::set<std::string> kOperatorTags = {
    "chat",    "signoff",   "gotoroom", "move",       "setpos",       "setface", "setcolor",
    "naked",   "dress",     "pinx",     "pagegag",    "unpagegag",    "listgag", "unlistgag",
    "namegag", "unnamegag", "name",     "propfreeze", "nolooseprops", "rtake",   "chatgoto"};

bool operatorLog(const std::string &line)
{
    if (line.rfind("log [", 0) != 0)
        return false;
    size_t end = line.find(']');
    return end != std::string::npos && kOperatorTags.count(line.substr(5, end - 5)) != 0;
}

void violation(const std::string &speaker, const std::string &line, const std::string &what)
{
    std::fprintf(stderr, "privilege oracle: %s said \"%s\": %s\n", speaker.c_str(), line.c_str(),
                 what.c_str());
    std::abort();
}

// Lines of a guest or of a member who owns no room are checked.
bool unprivileged(vh::Host &h, ServerUserRec *u)
{
    return h.rankOf(u) <= 1 && u->lastOwnedRoom == nullptr;
}

void speak(fuzz::World &w, ServerUserRec *u, ServerUserRec *to, const std::string &line)
{
    vh::Host &h = w.host();
    bool checked = unprivileged(h, u);
    auto before = checked ? look(w, u) : std::map<std::string, Seen>{};
    std::string speaker = h.handleOf(u);
    size_t from = h.transcript().size();
    size_t notices = h.operatorNotices();
    if (to != nullptr)
        h.whisper(u, to, line);
    else
        h.say(u, line);
    if (!checked)
        return;
    if (h.operatorNotices() != notices)
        violation(speaker, line, "a notice to the operators");
    const auto &t = h.transcript();
    for (size_t i = from; i < t.size(); i++) {
        if (operatorLog(t[i]))
            violation(speaker, line, "an operator's log line: " + t[i]);
    }
    auto after = look(w, h.user(speaker));
    for (const auto &[handle, seen] : before) {
        auto it = after.find(handle);
        if (it == after.end())
            violation(speaker, line, handle + " was disconnected");
        if (!same(seen, it->second))
            violation(speaker, line, handle + " was changed");
    }
}

fuzz::World *g_world = nullptr;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (g_world == nullptr)
        g_world = new fuzz::World(kParams, worldUsers(), false);
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
        } else if (rec.size() >= 2) {
            ServerUserRec *u = w.user(static_cast<uint8_t>(rec[0]));
            ServerUserRec *to = rec[1] == '-' ? nullptr : w.user(static_cast<uint8_t>(rec[1]));
            if (u == nullptr)
                continue;
            if (nextRoom >= 0)
                w.host().gotoRoom(u, nextRoom);
            nextRoom = -1;
            speak(w, u, to, rec.substr(2));
        }
    }
    w.reset();
    return 0;
}
