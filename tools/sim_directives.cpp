// vestrel-sim's directives: the table that help, the README and the man
// page list, and the reading of a line's words: numbers, addresses, event
// codes and local times.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "sim.h"

namespace sim
{
namespace
{

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

} // namespace

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

namespace
{
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

} // namespace

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

bool isPosition(long v)
{
    return v >= -32768 && v <= 32767;
}

namespace
{
bool showsAs(time_t t, int y, int mo, int d, int h, int mi, int s)
{
    struct tm tm {
    };
    localtime_r(&t, &tm);
    return tm.tm_year == y - 1900 && tm.tm_mon == mo - 1 && tm.tm_mday == d && tm.tm_hour == h &&
           tm.tm_min == mi && tm.tm_sec == s;
}

} // namespace

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

} // namespace sim
