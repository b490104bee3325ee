// vestrel-check: loads a parameter file exactly as the plug-in does at
// start-up, in a host with no users, and prints every problem the plug-in
// reports and every warning of the lint as FILE:LINE: level: text, then
// the plug-in's report. With --room, the entry of every limit parameter
// that holds in one room; with --commands, the command table as the file
// leaves it. Exit status: 0 clean, 1 problems or warnings, 2 no load.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "check_load.h"
#include "checker.h"
#include "host.h"

namespace
{

const char kUsage[] =
    "usage: vestrel-check [--no-lint] [--room <n> [--class <class>]] [--] <file>|-\n"
    "       vestrel-check --diff [--room <n>] [--class <class>] <old> <new>\n"
    "       vestrel-check --commands [<file>]\n"
    "       vestrel-check --help | --version\n";

int usage(const std::string &why = "")
{
    if (!why.empty())
        std::fprintf(stderr, "vestrel-check: %s\n", why.c_str());
    std::fprintf(stderr, "%s", kUsage);
    return 2;
}

int help()
{
    std::printf("%s", kUsage);
    std::printf(
        "Loads a vestrel parameter file as the plug-in does and reports what it makes of it.\n"
        "  --no-lint          only the plug-in's own problems and report\n"
        "  --room N           the entry of each limit parameter in force in room N\n"
        "  --class CLASS      that room's class: public, private, member, altmember, or\n"
        "                     limbo (a user in no room); any case (default: the class the\n"
        "                     file's lines give room N, or public)\n"
        "  --diff OLD NEW     what reloading from OLD to NEW would change, room by room;\n"
        "                     with --room or --class, in that room or class only\n"
        "  --commands         the command table as the file leaves it (the built-in table\n"
        "                     without a file); not with --room\n"
        "  --version          print the version\n"
        "  -                  the file is standard input; -- ends the options\n"
        "Exit status: 0 clean, 1 problems or warnings, 2 the file did not load: it cannot\n"
        "be read (the plug-in would not start; a reload keeps the configuration in force),\n"
        "or a line stops the load (the plug-in would not start; a reload puts the lines\n"
        "before it in force and leaves the rest unloaded).\n"
        "With --diff: 0 nothing would change, 1 something would, 2 a file cannot be read.\n");
    return 0;
}

struct Options {
    std::string file;    // as given; "-" is standard input
    std::string oldFile; // --diff's first file
    bool lint = true, commands = false, diff = false;
    std::optional<int> room;
    std::string roomClass;
};

using check::Diagnostic;
using check::Load;

std::vector<std::string> splitLines(const std::string &bytes)
{
    std::vector<std::string> lines;
    std::stringstream ss(bytes);
    for (std::string line; std::getline(ss, line);)
        lines.push_back(line);
    return lines;
}

void print(const std::string &file, const Diagnostic &d)
{
    static const char *const levels[] = {"note", "warning", "error"};
    std::string where = d.line > 0 ? file + ":" + std::to_string(d.line) : file;
    std::printf("%s: %s: %s\n", where.c_str(), levels[d.level], vh::printable(d.text).c_str());
}

// ---- --room --------------------------------------------------------------------

const struct {
    const char *word;
    sint32 bit;
} kClasses[] = {{"public", RC_PUBLIC},
                {"private", RC_PRIVATE},
                {"member", RC_MEMBER},
                {"altmember", RC_ALTMEMBER},
                {"limbo", RC_LIMBO}};

// The class the file's ranged entries give the room, when they agree.
std::string classFromFile(const MyState *state, int room, int *fromLine)
{
    sint32 bits = 0;
    for (const LimitValue *chain : state->limits) {
        for (const LimitValue *e = chain; e != nullptr; e = e->next) {
            for (const RoomNumbers *r = e->roomNumbers; r != nullptr; r = r->next) {
                sint32 classes = e->roomsChecked & (RC_ALL & ~RC_LIMBO);
                if (room >= r->low && room <= r->high && classes != 0) {
                    if (bits == 0)
                        *fromLine = e->line;
                    bits |= classes;
                }
            }
        }
    }
    for (const auto &c : kClasses) {
        if (bits == c.bit)
            return c.word;
    }
    *fromLine = 0;
    return "";
}

std::string entryText(const LimitValue *e, const std::vector<std::string> &lines)
{
    std::string text = e->line > 0 && e->line <= (int)lines.size() ? lines[e->line - 1] : "";
    size_t start = text.find_first_not_of(" \t");
    return "line " + std::to_string(e->line) + ": " +
           vh::printable(start == std::string::npos ? "" : text.substr(start));
}

void showRoom(vh::Host &host, const Options &o, const std::vector<std::string> &lines)
{
    MyState *state = static_cast<MyState *>(host.pluginData());
    std::string cls = o.roomClass;
    std::string why = "as asked";
    if (cls.empty()) {
        int from = 0;
        cls = classFromFile(state, *o.room, &from);
        why = from != 0 ? "from line " + std::to_string(from) : "the file gives it no class";
        if (cls.empty())
            cls = "public";
    }
    RoomID id = (RoomID)*o.room;
    if (cls == "limbo") {
        // A user in no room: the lookup finds no room for his room number.
        for (id = -32768; host.room(id) != nullptr; id++)
            ;
        std::printf("a user in no room (limbo; the room number does not matter):\n");
    } else {
        check::makeRoom(host, state, id, cls);
        std::printf("room %d, %s (%s):\n", *o.room, cls.c_str(), why.c_str());
    }
    for (int slot = 0; slot < NBR_LIMITS; slot++) {
        const char *name = parameterTable[slot].name;
        LimitValue *chain = state->limits[slot];
        std::string what;
        if (slot == L_CHATGOTO || slot == L_DUPIP) {
            for (const LimitValue *e = chain; e != nullptr; e = e->next)
                what += (what.empty() ? "every room: lines " : ", ") + std::to_string(e->line);
        } else if (const LimitValue *e = getRoomLimitForRoom(host.state(), state, chain, id)) {
            what = entryText(e, lines);
            if (check::kParams[slot].noun != nullptr)
                what += "\n  " + std::string(16, ' ') + " " + check::limitInWords(e);
        }
        // A rule that an entry switches on is not a limit: without one it
        // simply does not apply.
        const char *none =
            check::kParams[slot].limiting ? "not limited" : "no entry: does not apply";
        std::printf("  %-16s %s\n", name, what.empty() ? none : what.c_str());
    }
}

// ---- --commands ----------------------------------------------------------------

void showCommands()
{
    for (const check::CommandRow &r : check::commandRows()) {
        std::printf("%s (%s): %s; aimed at others by %s; help class %s\n", r.word.c_str(),
                    r.abbreviation.c_str(), r.who.c_str(), r.onWhom.c_str(), r.helpClass.c_str());
        std::printf("    %s -- %s\n", r.syntax.c_str(), r.help.c_str());
    }
}

bool parse(int argc, char **argv, Options &o, int &exitNow)
{
    exitNow = -1;
    bool options = true;
    for (int i = 1; i < argc && exitNow < 0; i++) {
        std::string a = argv[i];
        bool valued = a == "--room" || a == "--class";
        if (options && valued && i + 1 >= argc) {
            exitNow =
                usage(a == "--room" ? "--room needs a room number" : "--class needs a room class");
        } else if (options && a == "--") {
            options = false;
        } else if (options && (a == "--help" || a == "-h")) {
            exitNow = help();
        } else if (options && a == "--version") {
            std::printf("vestrel-check %s\n", VESTREL_VERSION);
            exitNow = 0;
        } else if (options && a == "--no-lint") {
            o.lint = false;
        } else if (options && a == "--commands") {
            o.commands = true;
        } else if (options && a == "--diff") {
            o.diff = true;
        } else if (options && a == "--room") {
            char *end = nullptr;
            long n = std::strtol(argv[++i], &end, 10);
            if (*argv[i] == '\0' || *end != '\0' || n < -32768 || n > 32767)
                exitNow = usage(std::string("not a room number: ") + argv[i]);
            o.room = (int)n;
        } else if (options && a == "--class") {
            o.roomClass = argv[++i];
            for (char &c : o.roomClass)
                c = (char)std::tolower((unsigned char)c);
            bool known = false;
            for (const auto &c : kClasses)
                known = known || o.roomClass == c.word;
            if (!known)
                exitNow = usage("not a room class: " + std::string(argv[i]));
        } else if (options && a.size() > 1 && a[0] == '-') {
            exitNow = usage("unknown option " + a);
        } else if (o.diff && o.oldFile.empty() && !o.file.empty()) {
            o.oldFile = o.file;
            o.file = a;
        } else if (!o.file.empty()) {
            exitNow = usage(o.diff ? "--diff compares two files" : "one file at a time");
        } else {
            o.file = a;
        }
    }
    if (exitNow >= 0)
        return false;
    if (o.diff) {
        if (o.oldFile.empty() || o.commands) {
            exitNow = usage(o.commands ? "--diff and --commands do not go together"
                                       : "--diff needs an old and a new file");
            return false;
        }
        return true;
    }
    if (!o.roomClass.empty() && !o.room) {
        exitNow = usage("--class goes with --room");
        return false;
    }
    if (o.commands && o.room) {
        exitNow = usage("--commands and --room answer different questions: ask one at a time");
        return false;
    }
    if (o.file.empty() && !o.commands) {
        exitNow = usage();
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    int exitNow = -1;
    if (!parse(argc, argv, o, exitNow))
        return exitNow;
    if (o.diff) {
        check::DiffFilter filter;
        filter.room = o.room;
        for (int c = 0; c < 4; c++)
            filter.layer = o.roomClass == kClasses[c].word ? c : filter.layer;
        if (o.roomClass == "limbo")
            filter.layer = check::kLimboLayer;
        check::DiffResult diff = check::diffFiles(o.oldFile, o.file, filter);
        for (const std::string &line : diff.lines)
            std::printf("%s\n", line.c_str());
        return diff.status;
    }
    bool builtIn = o.commands && o.file.empty();
    std::string path = builtIn ? "/dev/null" : o.file; // /dev/null: the built-in table
    std::string shown = o.file == "-" ? "<stdin>" : o.file;
    check::Scratch scratch;
    if (o.file == "-") {
        std::string bytes{std::istreambuf_iterator<char>(std::cin), {}};
        path = scratch.write("stdin.conf", bytes);
        if (path.empty()) {
            std::fprintf(stderr, "vestrel-check: cannot keep standard input in a scratch file\n");
            return 2;
        }
    }
    check::Ranks before = check::currentRanks();
    std::optional<std::string> bytes = check::readBytes(path);

    // The problems the carriage returns alone cause, from a load of the
    // same bytes without them, made before the real one.
    bool crlf = bytes && check::hasCarriageReturns(*bytes);
    std::vector<Diagnostic> withoutCR;
    if (crlf && o.lint)
        withoutCR = check::problemsWithoutCarriageReturns(*bytes, shown);

    vh::Host host;
    Load load = check::loadFile(host, path, shown);
    std::string mismatch = check::paramTableMismatch();
    if (!mismatch.empty()) {
        std::fprintf(stderr, "vestrel-check: out of step with the plug-in (%s)\n",
                     mismatch.c_str());
        return 2;
    }

    if (builtIn) {
        showCommands();
        host.shutdown();
        return 0;
    }

    if (crlf && o.lint)
        check::dropCarriageReturnProblems(load, withoutCR);
    std::vector<Diagnostic> diagnostics;
    if (o.lint && bytes && !load.fileRefused)
        diagnostics = check::lintText(*bytes, before, shown);
    diagnostics.insert(diagnostics.begin(), load.diagnostics.begin(), load.diagnostics.end());
    check::mergeStop(diagnostics);
    std::vector<Diagnostic> note;
    if (o.lint && load.started) {
        for (Diagnostic &d : check::lintLoaded(static_cast<MyState *>(host.pluginData())))
            (d.line > 0 ? diagnostics : note).push_back(d);
    }
    std::stable_sort(diagnostics.begin(), diagnostics.end(),
                     [](const Diagnostic &a, const Diagnostic &b) { return a.line < b.line; });

    for (const Diagnostic &d : diagnostics)
        print(shown, d);
    if (load.started && o.commands) {
        showCommands();
    } else if (load.started && o.room) {
        showRoom(host, o, splitLines(bytes.value_or("")));
    } else {
        for (const std::string &line : load.report)
            std::printf("%s\n", vh::printable(line).c_str());
        for (const Diagnostic &d : note)
            print(shown, d);
    }
    if (load.started)
        host.shutdown();

    int status = !load.started ? 2 : diagnostics.empty() ? 0 : 1;
    int errors = 0, warnings = 0;
    for (const Diagnostic &d : diagnostics)
        (d.level == Diagnostic::Error ? errors : warnings)++;
    if (status == 2)
        std::printf("vestrel-check: %s\n", check::failureSummary(load, shown).c_str());
    else if (status == 1)
        std::printf("vestrel-check: %s: %d error%s, %d warning%s\n", shown.c_str(), errors,
                    errors == 1 ? "" : "s", warnings, warnings == 1 ? "" : "s");
    else
        std::printf("vestrel-check: %s is clean\n", shown.c_str());
    return status;
}
