// vestrel-sim's parts: a scenario line split into words, the Simulator
// that plays directives against the plug-in in the substitute host and
// checks what they expect (sim_play.cpp), and the console that feeds it
// lines (sim_console.cpp). The Simulator owns its host and the plug-in the
// host loads.
#pragma once

#include <ctime>
#include <istream>
#include <optional>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "host.h"

namespace sim
{

// A directive split into words, with the rest of the line kept for <text>.
struct Line {
    std::vector<std::string> words;
    std::vector<size_t> starts; // offset of each word in raw
    std::string raw;

    // The text after word i and one blank, with \xHH decoded.
    std::string textAfter(size_t i) const;
};

Line split(const std::string &raw);

// Every directive with its syntax: help lists them, and a malformed line
// is answered with its directive's.
struct Directive {
    const char *name;
    const char *syntax;
    const char *what;
};

constexpr long kMaxAdvance = 31536000; // a year of seconds

// Where a local time falls in the zone: once, never (the clocks skip it in
// spring) or twice (the clocks go back over it in autumn).
struct LocalTime {
    enum { Once, Skipped, Twice } kind = Once;
    time_t first = 0; // the earlier of the two instants when Twice
};

std::optional<long> number(const std::string &s);
std::optional<uint32_t> address(const std::string &s);
uint32_t code(const std::string &s);
const Directive *findDirective(const std::string &name);
std::string syntaxOf(const std::string &name);
bool isAction(const std::string &w);
bool isPosition(long v);
LocalTime findLocalTime(int y, int mo, int d, int h, int mi, int s);
std::string zoneAbbreviation(time_t t);
bool validClock(int y, int mo, int d, int h, int mi, int s);

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

// Ctrl-C at a terminal drops the line typed instead of ending the program.
void catchInterrupts();
// The console's loop: lines until quit or the end of input; at a terminal
// Ctrl-C drops the line being typed, and a second one at the empty prompt
// it leaves behind ends the session.
void console(Simulator &sim, std::istream &in, bool terminal, const std::string &name);

} // namespace sim
