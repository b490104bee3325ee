// vestrel-sim's Simulator: each directive played against the plug-in in
// the substitute host, and the checks of what a scenario expects.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim.h"
#include "vestrel.h"

namespace fs = std::filesystem;

namespace sim
{

void Simulator::fail(const std::string &where, const std::string &what, bool showStep)
{
    failed_++;
    if (silent_)
        return;
    std::printf("%s: %s\n", where.c_str(), what.c_str());
    for (size_t i = 0; showStep && i < step_.size(); i++)
        std::printf("  | %s\n", step_[i].c_str());
}

// In a scenario file a malformed line is an error; at the console it is
// answered and the session goes on. Either way the last step is not the
// point, and is not shown again.
void Simulator::refuse(const std::string &where, const std::string &why)
{
    if (!console_)
        return fail(where, why, false);
    std::printf("%s\n", why.c_str());
}

// The plug-in opens its parameter file by the name it is given, at start
// and at every reload, from the working directory: the operator's own file
// from where he named it, a params block's from the scratch directory.
void Simulator::start(bool missing)
{
    started_ = true;
    std::string file = missing ? "missing.conf" : "vestrel.conf";
    bool own = !missing && !paramsFile_.empty();
    if (own)
        file = paramsFile_;
    else if (!missing && !fs::exists(dir_ + "/vestrel.conf"))
        setParams("");
    std::error_code ec;
    fs::current_path(own ? paramsFrom_ : dir_, ec);
    if (!host_.loadPlugin(plugin_, file))
        dead_ = true;
}

bool Simulator::ensureStarted(const std::string &where)
{
    if (!started_)
        start(false);
    if (dead_) {
        fail(where, "the plug-in is not running");
        return false;
    }
    return true;
}

void Simulator::finish(const std::string &where)
{
    if (inParams_)
        fail(where, "params block without end");
}

void Simulator::play(const std::string &where, const std::string &raw)
{
    if (inParams_) {
        if (split(raw).words == std::vector<std::string>{"end"}) {
            inParams_ = false;
            if (started_ && !paramsFile_.empty())
                return refuse(where, "params: the plug-in reads " + paramsFile_ +
                                         " (--params); edit that file and reload");
            setParams(paramsText_);
            if (!paramsFile_.empty() && !toldOverride_ && !silent_) {
                std::printf("vestrel-sim: the scenario's params block replaces the file given "
                            "with --params\n");
                toldOverride_ = true;
            }
            paramsFile_.clear();
        } else {
            paramsText_ += raw + "\n";
        }
        return;
    }
    Line l = split(raw);
    if (l.words.empty() || l.words[0][0] == '#')
        return;
    const std::string &w = l.words[0];

    if (w == "expect" || w == "expect-not" || w == "expect-quiet" || w == "check") {
        check(where, l);
        return;
    }
    if (!quiet_ && echoDirectives_)
        std::printf("> %s\n", vh::printable(raw).c_str());
    if (w == "help" || w == "?") {
        help(l);
        return;
    }
    if ((w == "quit" || w == "exit") && l.words.size() == 1) {
        quit_ = true;
        return;
    }
    step_.clear();

    if (w == "params" && l.words.size() == 1) {
        inParams_ = true;
        paramsText_.clear();
    } else if (w == "start" && l.words.size() <= 2) {
        bool missing = l.words.size() == 2 && l.words[1] == "missing";
        if (l.words.size() == 2 && !missing)
            refuse(where, "usage: " + syntaxOf("start"));
        else if (started_)
            refuse(where, "start: the plug-in was started already");
        else
            start(missing);
    } else if (w == "clock" && l.words.size() == 3) {
        int y, mo, d, h, mi, s;
        char extra;
        if (std::sscanf(l.words[1].c_str(), "%d-%d-%d%c", &y, &mo, &d, &extra) != 3 ||
            std::sscanf(l.words[2].c_str(), "%d:%d:%d%c", &h, &mi, &s, &extra) != 3)
            refuse(where, "usage: " + syntaxOf("clock"));
        else if (!validClock(y, mo, d, h, mi, s))
            refuse(where, "clock: no such date or time: " + vh::printable(l.textAfter(0)));
        else
            setClock(where, l, y, mo, d, h, mi, s);
    } else if (w == "room" && l.words.size() >= 2) {
        if (ensureStarted(where))
            room(where, l);
    } else if (w == "connect" && l.words.size() >= 2) {
        if (ensureStarted(where))
            connect(where, l);
    } else if (w == "disconnect" && l.words.size() == 2) {
        if (!ensureStarted(where))
            return;
        if (ServerUserRec *u = user(l.words[1]))
            host_.disconnect(u);
        else
            refuse(where, "no user " + vh::printable(l.words[1]));
    } else if (w == "advance" && l.words.size() == 2 && number(l.words[1])) {
        long seconds = *number(l.words[1]);
        if (seconds < 0 || seconds > kMaxAdvance)
            refuse(where, "advance: the seconds are 0 to " + std::to_string(kMaxAdvance) +
                              " (a year), not " + l.words[1]);
        else if (ensureStarted(where))
            host_.advance(seconds);
    } else if (w == "shutdown" && l.words.size() == 1) {
        if (!ensureStarted(where))
            return;
        host_.shutdown();
        dead_ = true;
        host_.emit("host: " + std::to_string(host_.liveBlocks()) + " blocks still allocated");
    } else if (l.words.size() >= 2 && user(w) != nullptr) {
        if (ensureStarted(where))
            action(where, l, user(w));
    } else if (l.words.size() >= 2 && counters_.count(w) != 0) {
        refuse(where, "no user " + w + ": " + w + " is not connected any more");
    } else if (l.words.size() >= 2 && isAction(l.words[1]) && findDirective(w) == nullptr) {
        refuse(where, "no user " + vh::printable(w) + " (connect " + vh::printable(w) + " first)");
    } else if (findDirective(w) != nullptr) {
        refuse(where, "usage: " + syntaxOf(w));
    } else {
        refuse(where, "malformed directive: " + vh::printable(raw) + "; help lists the directives");
    }
}

// A local time the clocks skip is refused; one they pass twice is the
// first of the two, said once.
void Simulator::setClock(const std::string &where, const Line &l, int y, int mo, int d, int h,
                         int mi, int s)
{
    const char *zone = std::getenv("TZ") != nullptr ? std::getenv("TZ") : "UTC";
    std::string when = vh::printable(l.words[1] + " " + l.words[2]);
    LocalTime t = findLocalTime(y, mo, d, h, mi, s);
    if (t.kind == LocalTime::Skipped)
        return refuse(where, "clock: " + when + " does not exist in " + zone +
                                 ": the clocks skip it when they go forward");
    if (t.kind == LocalTime::Twice && !quiet_)
        std::printf("clock: %s comes twice in %s, as the clocks go back; the first, %s, is "
                    "taken\n",
                    when.c_str(), zone, zoneAbbreviation(t.first).c_str());
    vh::setClock(t.first);
}

void Simulator::room(const std::string &where, const Line &l)
{
    auto id = number(l.words[1]);
    if (!id || *id < -32768 || *id > 32767) {
        refuse(where, "usage: " + syntaxOf("room") + " (the id is -32768 to 32767)");
        return;
    }
    RoomID rid = static_cast<RoomID>(*id);
    vh::RoomOptions o;
    ServerUserRec *owner = nullptr;
    bool setOwner = false;
    for (size_t i = 2; i < l.words.size(); i++) {
        const std::string &w = l.words[i];
        auto value = [&](const char *key) -> std::optional<std::string> {
            std::string k = std::string(key) + "=";
            if (w.rfind(k, 0) == 0)
                return w.substr(k.size());
            return std::nullopt;
        };
        if (w == "name") {
            o.name = l.textAfter(i);
            break;
        } else if (w == "private") {
            o.isPrivate = true;
        } else if (w == "closed") {
            o.closed = true;
        } else if (w == "operators-only") {
            o.operatorsOnly = true;
        } else if (w == "nolooseprops") {
            o.noLooseProps = true;
        } else if (auto v = value("password")) {
            o.password = *v;
        } else if (auto v = value("owner")) {
            owner = user(*v);
            setOwner = true;
            if (owner == nullptr && *v != "none") {
                refuse(where, "room: no user " + *v);
                return;
            }
        } else if (auto v = value("drawings"); v && number(*v)) {
            o.drawings = static_cast<int>(*number(*v));
        } else if (auto v = value("lenvars"); v && number(*v)) {
            o.lenVars = static_cast<int>(*number(*v));
        } else if (auto v = value("max"); v && number(*v)) {
            o.maxOccupancy = static_cast<int>(*number(*v));
        } else {
            refuse(where,
                   "room: unknown option " + vh::printable(w) + "; usage: " + syntaxOf("room"));
            return;
        }
    }
    if (host_.room(rid) == nullptr)
        host_.createRoom(rid, o.name.value_or("Room " + std::to_string(rid)));
    host_.changeRoom(rid, o);
    if (setOwner)
        host_.setRoomOwner(rid, owner);
}

void Simulator::connect(const std::string &where, const Line &l)
{
    vh::UserOptions o;
    o.handle = l.words[1];
    static const std::map<std::string, int> ranks = {
        {"guest", 0}, {"member", 1}, {"wizard", 2}, {"god", 3}};
    for (size_t i = 2; i < l.words.size(); i++) {
        const std::string &w = l.words[i];
        size_t eq = w.find('=');
        std::string key = w.substr(0, eq);
        std::string val = eq == std::string::npos ? "" : w.substr(eq + 1);
        auto n = number(val);
        if (w == "name") {
            o.logonName = l.textAfter(i);
            break;
        } else if (ranks.count(w) != 0) {
            o.rank = ranks.at(w);
        } else if (w == "hidden") {
            o.hidden = true;
        } else if (key == "ip") {
            if (!address(val))
                return refuse(where, "connect: ip= takes an IPv4 address such as 10.0.0.1, not " +
                                         vh::printable(val));
            o.ip = *address(val);
        } else if (key == "counter" && n) {
            o.counter = static_cast<uint32_t>(*n);
        } else if (key == "crc" && n) {
            o.crc = static_cast<uint32_t>(*n);
        } else if (key == "puid" && n) {
            o.puid = static_cast<uint32_t>(*n);
        } else if (key == "room" && n) {
            if (*n < -32768 || *n > 32767 || host_.room(static_cast<RoomID>(*n)) == nullptr)
                return refuse(where, "connect: no room " + val + " (make it with room first)");
            o.room = static_cast<RoomID>(*n);
        } else if (key == "client" && n) {
            o.clientType = static_cast<uint32_t>(*n);
        } else if (key == "logon" && n && *n >= 0) {
            o.logonDelay = static_cast<int>(*n);
        } else if (key == "pos" && val.find(',') != std::string::npos &&
                   number(val.substr(0, val.find(','))) && number(val.substr(val.find(',') + 1))) {
            long x = *number(val.substr(0, val.find(','))),
                 y = *number(val.substr(val.find(',') + 1));
            if (!isPosition(x) || !isPosition(y))
                return refuse(where, "connect: a position is -32768 to 32767 each way");
            o.x = static_cast<int>(x);
            o.y = static_cast<int>(y);
        } else {
            refuse(where, "connect: unknown option " + vh::printable(w) +
                              "; usage: " + syntaxOf("connect"));
            return;
        }
    }
    if (ServerUserRec *u = host_.connect(o))
        counters_[o.handle] = u->counter;
}

// "<id>[:<crc>] ..." or "none", from word `from` on.
std::optional<std::vector<AssetSpec>> parseProps(const Line &l, size_t from)
{
    std::vector<AssetSpec> props;
    if (from < l.words.size() && l.words[from] == "none") {
        if (from + 1 != l.words.size())
            return std::nullopt;
        return props;
    }
    for (size_t i = from; i < l.words.size(); i++) {
        const std::string &w = l.words[i];
        size_t colon = w.find(':');
        auto id = number(w.substr(0, colon));
        auto crc =
            colon == std::string::npos ? std::optional<long>(0) : number(w.substr(colon + 1));
        if (!id || !crc)
            return std::nullopt;
        props.push_back(AssetSpec{static_cast<AssetID>(*id), static_cast<uint32_t>(*crc)});
    }
    return props;
}

// One message from the user's client.
void Simulator::action(const std::string &where, const Line &l, ServerUserRec *u)
{
    const std::string &a = l.words[1];
    const size_t n = l.words.size();
    auto num = [&](size_t i) { return i < n ? number(l.words[i]) : std::nullopt; };
    auto bad = [&](const char *usage) { refuse(where, std::string("usage: <user> ") + usage); };
    auto to = [&]() -> ServerUserRec * {
        ServerUserRec *target = n >= 3 ? user(l.words[2]) : nullptr;
        if (target == nullptr)
            refuse(where, "no user " + (n >= 3 ? l.words[2] : std::string("given")));
        return target;
    };
    auto place = [&](size_t i) { return num(i) && isPosition(*num(i)); };
    static const std::map<std::string, int> drawings = {
        {"path", DC_Path}, {"clear", DC_Detonate}, {"delete", DC_Delete}};

    if (a == "say") {
        host_.say(u, l.textAfter(1));
    } else if (a == "xsay") {
        host_.xsay(u, l.textAfter(1));
    } else if (a == "gmsg") {
        host_.globalMessage(u, l.textAfter(1));
    } else if (a == "rmsg") {
        host_.roomMessage(u, l.textAfter(1));
    } else if (a == "page") {
        host_.page(u, l.textAfter(1));
    } else if (a == "whisper" || a == "xwhisper") {
        ServerUserRec *target = to();
        if (target != nullptr && a == "whisper")
            host_.whisper(u, target, l.textAfter(2));
        else if (target != nullptr)
            host_.xwhisper(u, target, l.textAfter(2));
    } else if (a == "goto" && n == 3 && num(2)) {
        host_.gotoRoom(u, static_cast<RoomID>(*num(2)));
    } else if (a == "loc" && n == 4 && num(2) && num(3) && !(place(2) && place(3))) {
        bad("loc <x> <y> (each -32768 to 32767)");
    } else if (a == "loc" && n == 4 && num(2) && num(3)) {
        host_.moveTo(u, static_cast<int>(*num(2)), static_cast<int>(*num(3)));
    } else if (a == "face" && n == 3 && num(2)) {
        host_.face(u, static_cast<int>(*num(2)));
    } else if (a == "color" && n == 3 && num(2)) {
        host_.color(u, static_cast<int>(*num(2)));
    } else if (a == "props" && n >= 3) {
        auto props = parseProps(l, 2);
        if (!props)
            return bad("props <id>[:<crc>] ... | none");
        host_.props(u, *props);
    } else if (a == "desc" && n >= 5 && num(2) && num(3)) {
        auto props = parseProps(l, 4);
        if (!props)
            return bad("desc <face> <color> <id>[:<crc>] ... | none");
        host_.desc(u, static_cast<int>(*num(2)), static_cast<int>(*num(3)), *props);
    } else if (a == "name") {
        host_.rename(u, l.textAfter(1));
    } else if (a == "drop" && n == 5 && num(2) && num(3) && num(4)) {
        host_.dropProp(u, AssetSpec{static_cast<AssetID>(*num(2)), 0}, static_cast<int>(*num(3)),
                       static_cast<int>(*num(4)));
    } else if (a == "moveprop" && n == 5 && num(2) && num(3) && num(4)) {
        host_.moveProp(u, static_cast<int32_t>(*num(2)), static_cast<int>(*num(3)),
                       static_cast<int>(*num(4)));
    } else if (a == "delprop" && n == 3 && (l.words[2] == "all" || num(2))) {
        host_.deleteProp(u, l.words[2] == "all" ? -1 : static_cast<int32_t>(*num(2)));
    } else if (a == "draw" && (n == 3 || (n == 4 && num(3)))) {
        long bytes = n == 4 ? *num(3) : 10;
        if (drawings.count(l.words[2]) == 0 || bytes < 0 || bytes > 65536)
            return bad("draw path|clear|delete [<bytes>]");
        host_.draw(u, drawings.at(l.words[2]), static_cast<size_t>(bytes));
    } else if (n == 2 && (a == "spot" || a == "lock" || a == "unlock")) {
        std::vector<uint8_t> p(a == "spot" ? 6 : 4, 0);
        host_.send(u, a == "spot" ? MSG_SPOTSTATE : a == "lock" ? MSG_DOORLOCK : MSG_DOORUNLOCK, p);
    } else if (n == 2 && (a == "users" || a == "rooms" || a == "superuser" || a == "ping")) {
        uint32_t c = a == "users"       ? MSG_LISTOFALLUSERS
                     : a == "rooms"     ? MSG_LISTOFALLROOMS
                     : a == "superuser" ? MSG_SUPERUSER
                                        : MSG_PING;
        host_.send(u, c, {});
    } else if (a == "raw" && n >= 3 && l.words[2].size() == 4) {
        std::string hex;
        for (size_t i = 3; i < n; i++)
            hex += l.words[i];
        if (hex.size() % 2 != 0 ||
            hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return bad("raw <code> <hex bytes>");
        std::vector<uint8_t> p;
        for (size_t i = 0; i < hex.size(); i += 2)
            p.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        host_.send(u, code(l.words[2]), p);
    } else if (a == "quit" && n == 2) {
        host_.disconnect(u);
    } else {
        refuse(where, "malformed directive: " + vh::printable(l.raw) +
                          "; help <user> lists what a user can send");
    }
}

void Simulator::check(const std::string &where, const Line &l)
{
    const std::string &w = l.words[0];
    // Lines are compared as printed: control bytes in the expectation print
    // as \xHH just as they do in the transcript.
    if (w == "expect" && l.words.size() >= 2) {
        std::string want = vh::printable(l.textAfter(0));
        bool found = std::find(step_.begin(), step_.end(), want) != step_.end();
        found ? pass(where, l) : fail(where, "expected the line: " + want);
    } else if (w == "expect-not" && l.words.size() >= 2) {
        std::string unwanted = vh::printable(l.textAfter(0));
        bool found = std::find(step_.begin(), step_.end(), unwanted) != step_.end();
        found ? fail(where, "did not expect the line: " + unwanted) : pass(where, l);
    } else if (w == "expect-quiet" && l.words.size() == 1) {
        step_.empty() ? pass(where, l) : fail(where, "expected the step to print nothing");
    } else if (w == "check" && l.words.size() >= 3 && l.words[1] == "blocks") {
        auto n = number(l.words[2]);
        if (!n || l.words.size() != 3)
            return refuse(where, "usage: " + syntaxOf("check"));
        size_t live = host_.liveBlocks();
        live == static_cast<size_t>(*n)
            ? pass(where, l)
            : fail(where, "expected " + l.words[2] + " blocks, found " + std::to_string(live));
    } else if (w == "check" && l.words.size() >= 4 && l.words[1] == "room") {
        checkRoom(where, l);
    } else if (w == "check" && l.words.size() >= 4) {
        checkUser(where, l);
    } else {
        refuse(where, "usage: " + syntaxOf(w));
    }
}

// "x y" or "x,y" (the form connect takes) as "x y".
std::string positionWords(const std::string &text)
{
    size_t comma = text.find(',');
    if (comma == std::string::npos || text.find(' ') != std::string::npos)
        return text;
    return text.substr(0, comma) + " " + text.substr(comma + 1);
}

void Simulator::checkUser(const std::string &where, const Line &l)
{
    const std::string &handle = l.words[1];
    const std::string &what = l.words[2];
    static const char *const aspects[] = {"online", "room",  "pos",  "face",
                                          "color",  "props", "name", "owns"};
    if (std::find(std::begin(aspects), std::end(aspects), what) == std::end(aspects))
        return refuse(where, "usage: " + syntaxOf("check"));
    ServerUserRec *u = user(handle);
    auto expectEq = [&](const std::string &want, const std::string &got) {
        want == got
            ? pass(where, l)
            : fail(where, "expected " + handle + " " + what + " " + want + ", found " + got);
    };
    if (what == "online") {
        return expectEq(l.words[3], u != nullptr ? "yes" : "no");
    }
    if (u == nullptr)
        return fail(where, handle + " is not connected");
    const UserRec &r = u->user;
    std::string rest = l.textAfter(2);
    if (what == "room")
        expectEq(rest, std::to_string(r.roomID));
    else if (what == "pos")
        expectEq(positionWords(rest),
                 std::to_string(r.roomPos.h) + " " + std::to_string(r.roomPos.v));
    else if (what == "face")
        expectEq(rest, std::to_string(r.faceNbr));
    else if (what == "color")
        expectEq(rest, std::to_string(r.colorNbr));
    else if (what == "props")
        expectEq(rest, vh::propList(r.nbrProps, r.propSpec));
    else if (what == "name")
        expectEq(rest, std::string(reinterpret_cast<const char *>(r.name + 1),
                                   std::min<int>(r.name[0], 31)));
    else if (what == "owns")
        expectEq(rest, u->lastOwnedRoom == nullptr ? "none"
                                                   : std::to_string(u->lastOwnedRoom->room.roomID));
}

void Simulator::checkRoom(const std::string &where, const Line &l)
{
    const std::string &what = l.words[3];
    static const char *const aspects[] = {"owner", "people", "looseprops", "drawings", "roomflags"};
    auto id = number(l.words[2]);
    if (std::find(std::begin(aspects), std::end(aspects), what) == std::end(aspects) ||
        l.words.size() < 5 || !id)
        return refuse(where, "usage: " + syntaxOf("check"));
    ServerRoomRec *r = host_.room(static_cast<RoomID>(*id));
    if (r == nullptr)
        return fail(where, "no room " + l.words[2]);
    std::string want = l.textAfter(3);
    auto expectEq = [&](const std::string &got) {
        want == got ? pass(where, l)
                    : fail(where, "expected room " + l.words[2] + " " + what + " " + want +
                                      ", found " + got);
    };
    if (what == "owner") {
        std::string owner = "none";
        for (const auto &[handle, counter] : counters_) {
            if (r->memberOwner != 0 && counter == r->memberOwner)
                owner = handle;
        }
        if (r->memberOwner != 0 && owner == "none")
            owner = "counter " + std::to_string(r->memberOwner);
        expectEq(owner);
    } else if (what == "people") {
        expectEq(std::to_string(r->room.nbrPeople));
    } else if (what == "looseprops") {
        expectEq(std::to_string(r->room.nbrLProps));
    } else if (what == "drawings") {
        expectEq(std::to_string(r->room.nbrDrawCmds));
    } else if (what == "roomflags") {
        auto want16 = std::strtoul(want.c_str(), nullptr, 16);
        want16 == r->room.roomFlags
            ? pass(where, l)
            : fail(where, "expected room " + l.words[2] + " roomflags " + want + ", found " +
                              std::to_string(r->room.roomFlags));
    }
}

} // namespace sim
