// vestrel-sim: plays a scenario against the real vestrel.so in the
// substitute host, printing the transcript of every step and checking what
// the scenario expects. With no file, or with a terminal on standard input,
// it is an interactive console.
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
#include "sim.h"
#include "vestrel.h"

namespace fs = std::filesystem;

namespace
{

using sim::catchInterrupts;
using sim::console;
using sim::Simulator;

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
