// vestrel-sim: plays a scenario against the real vestrel.so in the
// substitute host, printing the transcript of every step and checking what
// the scenario expects. With no file, or with a terminal on standard input,
// it is an interactive console.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
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

#include "host.h"
#include "plugin_path.h"
#include "vestrel.h"

#ifdef HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace fs = std::filesystem;

namespace
{

// A directive split into words, with the rest of the line kept for <text>.
struct Line {
    std::vector<std::string> words;
    std::vector<size_t> starts; // offset of each word in raw
    std::string raw;

    // The text after word i and one blank, with \xHH decoded.
    std::string textAfter(size_t i) const;
};

std::string decode(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string Line::textAfter(size_t i) const
{
    size_t end = starts[i] + words[i].size();
    if (end >= raw.size())
        return "";
    return decode(raw.substr(end + 1));
}

Line split(const std::string &raw)
{
    Line line;
    line.raw = raw;
    size_t i = 0;
    while (i < raw.size()) {
        while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t'))
            i++;
        if (i >= raw.size())
            break;
        size_t start = i;
        while (i < raw.size() && raw[i] != ' ' && raw[i] != '\t')
            i++;
        line.words.push_back(raw.substr(start, i - start));
        line.starts.push_back(start);
    }
    return line;
}

std::optional<long> number(const std::string &s)
{
    if (s.empty())
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 0);
    if (*end != '\0' || errno != 0)
        return std::nullopt;
    return v;
}

std::optional<uint32_t> address(const std::string &s)
{
    unsigned a, b, c, d;
    char extra;
    if (std::sscanf(s.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 ||
        b > 255 || c > 255 || d > 255)
        return std::nullopt;
    return (a << 24) | (b << 16) | (c << 8) | d;
}

uint32_t code(const std::string &s)
{
    uint32_t c = 0;
    for (size_t i = 0; i < 4; i++)
        c = (c << 8) | static_cast<uint8_t>(i < s.size() ? s[i] : ' ');
    return c;
}

// Every directive with its syntax: help lists them, and a malformed line
// is answered with its directive's.
struct Directive {
    const char *name;
    const char *syntax;
    const char *what;
};

const Directive kDirectives[] = {
    {"params", "params ... end", "the parameter file, one line each, up to a line end"},
    {"start", "start [missing]", "start the plug-in now (missing: with no parameter file)"},
    {"clock", "clock <YYYY-MM-DD> <HH:MM:SS>", "set the virtual clock (local time)"},
    {"room",
     "room <id> [private] [closed] [operators-only] [nolooseprops] [password=<p>] "
     "[owner=<user>|none] [drawings=<n>] [lenvars=<n>] [max=<n>] [name <text>]",
     "create or change a room"},
    {"connect",
     "connect <user> [guest|member|wizard|god] [hidden] [ip=<a.b.c.d>] [counter=<n>] "
     "[crc=<n>] [puid=<n>] [room=<id>] [client=<n>] [logon=<seconds>] [pos=<x>,<y>] "
     "[name <text>]",
     "connect a user (logon=: his logon data arrive that late)"},
    {"disconnect", "disconnect <user>", "the user leaves"},
    {"advance", "advance <seconds>", "run the virtual clock, firing timers (at most a year)"},
    {"shutdown", "shutdown", "shut the plug-in down and report the blocks left"},
    {"<user>",
     "<user> say|xsay|gmsg|rmsg|page <text>\n"
     "<user> whisper|xwhisper <user> <text>\n"
     "<user> goto <room>\n"
     "<user> loc <x> <y>\n"
     "<user> face <n> | color <n>\n"
     "<user> props <id>[:<crc>] ...|none\n"
     "<user> desc <face> <color> <id>[:<crc>] ...|none\n"
     "<user> name <text>\n"
     "<user> drop <prop id> <x> <y> | moveprop <n> <x> <y> | delprop <n>|all\n"
     "<user> draw path|clear|delete [<bytes>]\n"
     "<user> spot | lock | unlock | users | rooms | superuser | ping | quit\n"
     "<user> raw <four-letter code> <hex bytes>",
     "a message from that user's client (the user must be connected)"},
    {"expect", "expect <line>", "some line of the last step is this"},
    {"expect-not", "expect-not <line>", "no line of the last step is this"},
    {"expect-quiet", "expect-quiet", "the last step printed nothing"},
    {"check",
     "check <user> room <id>\n"
     "check <user> pos <x> <y>   (or pos <x>,<y>, as connect takes it)\n"
     "check <user> face <n> | color <n>\n"
     "check <user> props <id> ...|none\n"
     "check <user> name <text>\n"
     "check <user> owns <room id>|none\n"
     "check <user> online yes|no\n"
     "check room <id> owner <user>|none\n"
     "check room <id> people <n> | looseprops <n> | drawings <n>\n"
     "check room <id> roomflags <hex>\n"
     "check blocks <n>",
     "compare the world with a value"},
    {"help", "help [<directive>]", "this list, or one directive"},
    {"quit", "quit (or exit)", "leave"},
};

const Directive *findDirective(const std::string &name)
{
    for (const Directive &d : kDirectives) {
        if (name == d.name || (name == "exit" && std::string(d.name) == "quit"))
            return &d;
    }
    return nullptr;
}

// A directive's syntax for "usage: ", its later forms under the first.
std::string syntaxOf(const std::string &name)
{
    const Directive *d = findDirective(name);
    if (d == nullptr)
        return "help lists the directives";
    std::string out;
    for (const char *c = d->syntax; *c != '\0'; c++)
        out += *c == '\n' ? std::string("\n       ") : std::string(1, *c);
    return out;
}

// The words a user's line may start with, after the user's name.
bool isAction(const std::string &w)
{
    static const char *const actions[] = {
        "say",  "xsay",  "gmsg",   "rmsg",  "page",  "whisper",   "xwhisper", "goto",    "loc",
        "face", "color", "props",  "desc",  "name",  "drop",      "moveprop", "delprop", "draw",
        "spot", "lock",  "unlock", "users", "rooms", "superuser", "ping",     "raw",     "quit"};
    return std::find(std::begin(actions), std::end(actions), w) != std::end(actions);
}

constexpr long kMaxAdvance = 31536000; // a year of seconds

bool isPosition(long v)
{
    return v >= -32768 && v <= 32767;
}

// Where a local time falls in the zone: once, never (the clocks skip it in
// spring) or twice (the clocks go back over it in autumn).
struct LocalTime {
    enum { Once, Skipped, Twice } kind = Once;
    time_t first = 0; // the earlier of the two instants when Twice
};

bool showsAs(time_t t, int y, int mo, int d, int h, int mi, int s)
{
    struct tm tm {
    };
    localtime_r(&t, &tm);
    return tm.tm_year == y - 1900 && tm.tm_mon == mo - 1 && tm.tm_mday == d && tm.tm_hour == h &&
           tm.tm_min == mi && tm.tm_sec == s;
}

LocalTime findLocalTime(int y, int mo, int d, int h, int mi, int s)
{
    LocalTime found;
    std::vector<time_t> hits;
    for (int dst : {-1, 0, 1}) {
        struct tm tm {
        };
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
        tm.tm_isdst = dst;
        time_t t = mktime(&tm);
        if (t != static_cast<time_t>(-1) && showsAs(t, y, mo, d, h, mi, s) &&
            std::find(hits.begin(), hits.end(), t) == hits.end())
            hits.push_back(t);
    }
    if (hits.empty()) {
        found.kind = LocalTime::Skipped;
        return found;
    }
    found.first = *std::min_element(hits.begin(), hits.end());
    found.kind = hits.size() > 1 ? LocalTime::Twice : LocalTime::Once;
    return found;
}

std::string zoneAbbreviation(time_t t)
{
    struct tm tm {
    };
    localtime_r(&t, &tm);
    char text[16];
    std::strftime(text, sizeof text, "%Z", &tm);
    return text;
}

// A calendar date and time that exist (years the clock can hold).
bool validClock(int y, int mo, int d, int h, int mi, int s)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1970 || y > 2100 || mo < 1 || mo > 12 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        s < 0 || s > 59)
        return false;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    int inMonth = days[mo - 1] + (mo == 2 && leap ? 1 : 0);
    return d >= 1 && d <= inMonth;
}

class Simulator
{
  public:
    Simulator(std::string plugin, std::string dir, bool quiet, bool echoDirectives)
        : plugin_(std::move(plugin)), dir_(std::move(dir)), quiet_(quiet),
          echoDirectives_(echoDirectives)
    {
        host_.echo = [this](const std::string &l) {
            step_.push_back(l);
            if (!quiet_)
                std::printf("%s\n", l.c_str());
        };
    }

    void setParams(const std::string &text) { writeFile("vestrel.conf", text); }
    // The operator's own parameter file, read by the plug-in at every load
    // and named as given; `from` is the directory the name is relative to.
    void useParamsFile(const std::string &given, const std::string &from)
    {
        paramsFile_ = given;
        paramsFrom_ = from;
    }
    // A console answers a typo with its syntax and does not count it.
    void setConsole() { console_ = true; }
    void setVerbose() { verbose_ = true; }
    bool quitting() const { return quit_; }
    bool inParams() const { return inParams_; }
    // Nothing printed, not even a failed check: for allocation walks.
    void setSilent() { silent_ = true; }
    vh::Host &host() { return host_; }
    // Shuts the plug-in down if the scenario left it running.
    void endRun()
    {
        if (started_ && !dead_)
            host_.shutdown();
        dead_ = true;
    }

    // Plays one line; returns false at end of a params block still open.
    void play(const std::string &where, const std::string &raw);
    void finish(const std::string &where);
    int passed() const { return passed_; }
    int failed() const { return failed_; }

  private:
    void writeFile(const std::string &name, const std::string &text)
    {
        std::ofstream out(dir_ + "/" + name, std::ios::binary | std::ios::trunc);
        out << text;
    }

    bool ensureStarted(const std::string &where);
    void start(bool missing);
    void fail(const std::string &where, const std::string &what, bool showStep = true);
    void refuse(const std::string &where, const std::string &why);
    void pass(const std::string &where, const Line &l)
    {
        passed_++;
        if (verbose_ && !silent_)
            std::printf("ok %s: %s\n", where.c_str(), vh::printable(l.raw).c_str());
    }
    void help(const Line &l);
    void setClock(const std::string &where, const Line &l, int y, int mo, int d, int h, int mi,
                  int s);
    void check(const std::string &where, const Line &l);
    void checkUser(const std::string &where, const Line &l);
    void checkRoom(const std::string &where, const Line &l);
    void room(const std::string &where, const Line &l);
    void connect(const std::string &where, const Line &l);
    void action(const std::string &where, const Line &l, ServerUserRec *u);
    ServerUserRec *user(const std::string &handle) { return host_.user(handle); }

    vh::Host host_;
    std::string plugin_;
    std::string dir_;
    bool quiet_;
    bool silent_ = false;
    bool console_ = false, verbose_ = false, quit_ = false;
    std::string paramsFile_, paramsFrom_; // --params, as given, and where it was given
    bool toldOverride_ = false;
    bool echoDirectives_;
    bool started_ = false;
    bool dead_ = false; // failed to start, or shut down
    std::vector<std::string> step_;
    std::map<std::string, uint32_t> counters_;
    bool inParams_ = false;
    std::string paramsText_;
    int passed_ = 0, failed_ = 0;
};

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

void Simulator::help(const Line &l)
{
    if (l.words.size() >= 2) {
        const Directive *d = findDirective(l.words[1]);
        if (d == nullptr)
            std::printf("no directive %s: help lists them\n", vh::printable(l.words[1]).c_str());
        else
            std::printf("%s\n    %s\n", d->syntax, d->what);
        return;
    }
    std::printf("Directives (help <directive> for one; # starts a comment):\n");
    for (const Directive &d : kDirectives)
        std::printf("  %-13s %s\n", d.name, d.what);
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

const char kUsage[] = "usage: vestrel-sim [-q] [-v] [--plugin <vestrel.so>] [--params <file>] "
                      "[--tz <zone>] [--alloc-walk] [scenario]\n";

int usage()
{
    std::fprintf(stderr, "%s", kUsage);
    return 2;
}

int help()
{
    std::printf("%s", kUsage);
    std::printf("Plays a scenario against vestrel.so in the substitute host, or, without one,\n"
                "reads directives from standard input (a console on a terminal).\n"
                "  -q              print only failures and the summary\n"
                "  -v              print ok FILE:LINE: for every passing check\n"
                "  --plugin FILE   the plug-in to load (default: the one built beside)\n"
                "  --params FILE   your parameter file, which the plug-in reads at start and\n"
                "                  at every reload (a params block before the start wins)\n"
                "  --tz ZONE       the time zone of the virtual clock (default UTC)\n"
                "  --alloc-walk    play the scenario failing each host allocation in turn\n"
                "  --version       print the version\n"
                "Type help at the console for the directives; Ctrl-C drops the line typed,\n"
                "and a second Ctrl-C at the empty prompt, Ctrl-D or quit leaves.\n");
    return 0;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A readable file that is not a directory.
bool readableFile(const std::string &path)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return false;
    std::ifstream in(path, std::ios::binary);
    return static_cast<bool>(in);
}

// A zone the C library knows: a file of the zone database, or a POSIX
// rule such as EST5EDT. An unknown name would silently mean UTC.
bool knownZone(const std::string &tz)
{
    if (tz == "UTC" || tz == "GMT")
        return true;
    std::error_code ec;
    if (tz.find("..") == std::string::npos && fs::is_regular_file("/usr/share/zoneinfo/" + tz, ec))
        return true;
    size_t letters = 0;
    while (letters < tz.size() && std::isalpha(static_cast<unsigned char>(tz[letters])))
        letters++;
    return letters >= 3 && letters < tz.size() &&
           (std::isdigit(static_cast<unsigned char>(tz[letters])) || tz[letters] == '-' ||
            tz[letters] == '+');
}

// Ctrl-C at the console: the handler only notes it, so that the read it
// interrupts returns and the line being typed is dropped.
volatile sig_atomic_t g_interrupted = 0;
// Whether a key was typed since the prompt (known with libedit only).
bool g_typed = false;

void noteInterrupt(int)
{
    g_interrupted = 1;
}

#ifdef HAVE_LIBEDIT
// libedit's key reader: a read that Ctrl-C interrupts ends the line.
int typedKey(FILE *)
{
    unsigned char c;
    for (;;) {
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 1) {
            g_typed = true;
            return c;
        }
        if (n < 0 && errno == EINTR && !g_interrupted)
            continue;
        return EOF;
    }
}
#endif

void catchInterrupts()
{
    struct sigaction action {
    };
    action.sa_handler = noteInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the read must return
    sigaction(SIGINT, &action, nullptr);
#ifdef HAVE_LIBEDIT
    rl_catch_signals = 0; // libedit leaves SIGINT to the handler above
    rl_getc_function = typedKey;
#endif
}

enum class Read { Line, End, Interrupted };

// A terminal line read straight from the descriptor, so that Ctrl-C, which
// the terminal answers by discarding what was typed, ends the read.
Read readTerminal(std::string &line)
{
    line.clear();
    for (;;) {
        char c;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR && g_interrupted)
            return Read::Interrupted;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return line.empty() ? Read::End : Read::Line;
        if (c == '\n')
            return Read::Line;
        line += c;
    }
}

// One line from the console or a file.
Read readLine(std::istream &in, bool terminal, const char *prompt, std::string &line)
{
    g_interrupted = 0;
    g_typed = false;
#ifdef HAVE_LIBEDIT
    if (terminal) {
        char *got = readline(prompt);
        if (g_interrupted) {
            std::free(got);
            return Read::Interrupted;
        }
        if (got == nullptr)
            return Read::End;
        line = got;
        if (*got != '\0')
            add_history(got);
        std::free(got);
        return Read::Line;
    }
#endif
    if (terminal) {
        std::printf("%s", prompt);
        std::fflush(stdout);
        return readTerminal(line);
    }
    return std::getline(in, line) ? Read::Line : Read::End;
}

// Plays the scenario again and again, failing the Nth host allocation of
// the run for N = 1, 2, ... until a run no longer reaches it. Whatever the
// checks say, every run must end with no block left and no foreign free.
int allocationWalk(const std::string &plugin, const std::string &dir, const std::string &name,
                   const std::vector<std::string> &lines, const std::string &params)
{
    int unclean = 0;
    uint64_t n = 1;
    for (;; n++) {
        std::error_code ec;
        fs::remove(dir + "/vestrel.conf", ec);
        Simulator sim(plugin, dir, true, false);
        sim.setSilent();
        if (!params.empty())
            sim.setParams(params);
        sim.host().failAllocation(n, true);
        for (size_t i = 0; i < lines.size(); i++)
            sim.play(name + ":" + std::to_string(i + 1), lines[i]);
        sim.finish(name);
        sim.endRun();
        vh::Host &host = sim.host();
        if (host.liveBlocks() != 0 || host.badFrees() != 0) {
            std::printf("%s: failing allocation %llu leaves %zu blocks and %d foreign frees\n",
                        name.c_str(), static_cast<unsigned long long>(n), host.liveBlocks(),
                        host.badFrees());
            unclean++;
        }
        if (host.allocationCalls() < n)
            break; // the run completed untouched
    }
    std::printf("%s: %llu allocations walked, %d runs unclean\n", name.c_str(),
                static_cast<unsigned long long>(n - 1), unclean);
    return unclean == 0 ? 0 : 1;
}

} // namespace

// The plug-in as the host would load it, tried once before anything is
// played: one that cannot be loaded is one error, not a failure per step.
bool pluginLoads(const std::string &plugin)
{
    vh::Host probe;
    std::string why;
    probe.echo = [&](const std::string &l) {
        if (why.empty() && l.rfind("host: ", 0) == 0)
            why = l.substr(6);
    };
    if (probe.loadPlugin(plugin, "/dev/null"))
        return true;
    std::fprintf(stderr, "vestrel-sim: %s\n",
                 why.empty() ? ("cannot start the plug-in " + plugin).c_str() : why.c_str());
    return false;
}

// The console's loop: lines until quit or the end of input; at a terminal
// Ctrl-C drops the line being typed, and a second one at the empty prompt
// it leaves behind ends the session.
void console(Simulator &sim, std::istream &in, bool terminal, const std::string &name)
{
    std::string line;
    int lineno = 0;
    bool interruptedLast = false;
    while (!sim.quitting()) {
        Read got = readLine(in, terminal, sim.inParams() ? "params> " : "vestrel> ", line);
        if (got == Read::End) {
            if (terminal)
                std::printf("\n"); // the summary goes below the prompt
            break;
        }
        if (got == Read::Interrupted) {
            if (interruptedLast && !g_typed) {
                std::printf("\n");
                break;
            }
            std::printf("\n(the line is dropped; Ctrl-C again, Ctrl-D or quit leaves)\n");
            interruptedLast = true;
            continue;
        }
        interruptedLast = false;
        lineno++;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        sim.play(name + ":" + std::to_string(lineno), line);
        std::fflush(stdout);
    }
    sim.finish(name + ":" + std::to_string(lineno));
}

int main(int argc, char **argv)
{
    bool quiet = false, walk = false, verbose = false;
    std::string plugin = defaultPluginPath(argv[0]);
    std::string params, tz = "UTC", scenario, shownName = "<stdin>";
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool valued = a == "--plugin" || a == "--params" || a == "--tz";
        if (valued && i + 1 >= argc) {
            std::fprintf(stderr, "vestrel-sim: %s needs a value\n", a.c_str());
            return usage();
        }
        if (a == "-q")
            quiet = true;
        else if (a == "-v")
            verbose = true;
        else if (a == "--help" || a == "-h")
            return help();
        else if (a == "--version")
            return std::printf("vestrel-sim %s\n", VESTREL_VERSION) < 0 ? 1 : 0;
        else if (a == "--alloc-walk")
            walk = true;
        else if (a == "--plugin")
            plugin = fs::absolute(argv[++i]).string();
        else if (a == "--params")
            params = argv[++i];
        else if (a == "--tz")
            tz = argv[++i];
        else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "vestrel-sim: unknown option %s\n", vh::printable(a).c_str());
            return usage();
        } else if (scenario.empty()) {
            scenario = fs::absolute(a).string(), shownName = a;
        } else {
            std::fprintf(stderr, "vestrel-sim: one scenario at a time (%s and %s)\n",
                         shownName.c_str(), vh::printable(a).c_str());
            return usage();
        }
    }
    if (!knownZone(tz)) {
        std::fprintf(stderr, "vestrel-sim: unknown time zone %s\n", vh::printable(tz).c_str());
        return 2;
    }
    setenv("TZ", tz.c_str(), 1);
    tzset();

    std::ifstream file;
    if (!scenario.empty()) {
        if (!readableFile(scenario)) {
            std::fprintf(stderr, "vestrel-sim: cannot read %s: not a readable file\n",
                         shownName.c_str());
            return 2;
        }
        file.open(scenario);
    }
    if (!pluginLoads(plugin))
        return 2;

    // A parameter file the plug-in cannot read: its own refusal, as at a
    // server's start.
    if (!params.empty() && !readableFile(params)) {
        vh::Host host;
        host.echo = [](const std::string &l) { std::printf("%s\n", l.c_str()); };
        host.loadPlugin(plugin, params);
        return 2;
    }

    std::string cwd = fs::current_path().string();
    std::string tmpl = (fs::temp_directory_path() / "vestrel-sim-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
        std::fprintf(stderr, "vestrel-sim: cannot make a working directory\n");
        return 2;
    }
    auto cleanUp = [&] {
        std::error_code ec;
        fs::current_path(cwd, ec);
        fs::remove_all(tmpl, ec);
    };

    int status;
    if (walk) {
        if (scenario.empty()) {
            cleanUp();
            std::fprintf(stderr, "vestrel-sim: --alloc-walk plays a scenario file\n");
            return usage();
        }
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
        status =
            allocationWalk(plugin, tmpl, shownName, lines, params.empty() ? "" : readFile(params));
    } else {
        std::istream &in = scenario.empty() ? std::cin : file;
        bool terminal = scenario.empty() && isatty(STDIN_FILENO);
        Simulator sim(plugin, tmpl, quiet, !terminal);
        if (scenario.empty())
            sim.setConsole();
        if (verbose)
            sim.setVerbose();
        if (!params.empty())
            sim.useParamsFile(params, cwd);
        if (terminal) {
            catchInterrupts();
            std::printf("vestrel-sim %s: parameter file %s\ntype help for the directives, quit "
                        "(or Ctrl-D) to leave\n",
                        VESTREL_VERSION,
                        params.empty() ? "(none: empty until a params block)"
                                       : vh::printable(params).c_str());
        }
        console(sim, in, terminal, shownName);
        std::printf("%d passed, %d failed\n", sim.passed(), sim.failed());
        status = sim.failed() == 0 ? 0 : 1;
    }
    cleanUp();
    return status;
}
