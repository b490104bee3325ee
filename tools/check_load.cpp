// vestrel-check's loads of a parameter file; see check_load.h.
#include "check_load.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "static_procs.h"

namespace check
{
namespace
{

// "Problem <text> in line <n> of parameter file: ..." and
// "Line <n> in file <path> too long" carry their line number.
int lineOf(const std::string &text)
{
    int line = 0;
    size_t at = text.find(" in line ");
    if (text.rfind("Problem ", 0) == 0 && at != std::string::npos &&
        std::sscanf(text.c_str() + at, " in line %d", &line) == 1)
        return line;
    if (std::sscanf(text.c_str(), "Line %d in file", &line) == 1)
        return line;
    return 0;
}

bool isTooLong(const std::string &text)
{
    int line = 0;
    return std::sscanf(text.c_str(), "Line %d in file", &line) == 1 && text.size() > 9 &&
           text.compare(text.size() - 9, 9, " too long") == 0;
}

Diagnostic::Level levelOf(const std::string &text)
{
    return text.find(", default used in line ") != std::string::npos ? Diagnostic::Warning
                                                                     : Diagnostic::Error;
}

std::string replaceAll(std::string text, const std::string &from, const std::string &to)
{
    if (from.empty() || from == to)
        return text;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string withoutCarriageReturns(const std::string &bytes)
{
    std::string out;
    for (size_t i = 0; i < bytes.size(); i++) {
        bool lineEnd = i + 1 == bytes.size() || bytes[i + 1] == '\n';
        if (!(bytes[i] == '\r' && lineEnd))
            out += bytes[i];
    }
    return out;
}

} // namespace

Load loadFile(vh::Host &host, const std::string &path, const std::string &shown)
{
    Load load;
    load.started = host.attachPlugin(staticProcs(), path);
    const std::string tag = "log [vestrel]: ";
    for (const std::string &line : host.transcript()) {
        if (line.rfind(tag, 0) != 0) {
            if (line.rfind("host: ", 0) == 0 && line != "host: plug-in failed to start")
                load.report.push_back(line);
            continue;
        }
        std::string text = replaceAll(line.substr(tag.size()), path, shown);
        if (text.rfind("vestrel version ", 0) == 0 ||
            text == "*** vestrel initialization failed ***")
            continue;
        bool failed = text.rfind("Open failed ", 0) == 0 || text.rfind("Read failed ", 0) == 0;
        load.fileRefused = load.fileRefused || failed;
        if (isTooLong(text))
            load.stopLine = lineOf(text);
        if (failed || text.rfind("Problem ", 0) == 0 ||
            text.rfind("Unable to get memory", 0) == 0 || text.rfind("Usage: ", 0) == 0 ||
            lineOf(text) != 0)
            load.diagnostics.push_back({lineOf(text), levelOf(text), text});
        else
            load.report.push_back(text);
    }
    host.clearTranscript();
    return load;
}

std::optional<std::string> readBytes(const std::string &path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    if (!in.good() && !in.eof())
        return std::nullopt;
    return ss.str();
}

Scratch::Scratch()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "vestrel-check-XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr)
        dir_ = tmpl;
}

Scratch::~Scratch()
{
    std::error_code ec;
    if (!dir_.empty())
        std::filesystem::remove_all(dir_, ec);
}

std::string Scratch::write(const std::string &name, const std::string &bytes)
{
    if (dir_.empty())
        return "";
    std::string path = dir_ + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    return out ? path : "";
}

bool hasCarriageReturns(const std::string &bytes)
{
    return bytes.find("\r\n") != std::string::npos || (!bytes.empty() && bytes.back() == '\r');
}

std::vector<Diagnostic> problemsWithoutCarriageReturns(const std::string &bytes,
                                                       const std::string &shown)
{
    Scratch scratch;
    std::string path = scratch.write("unix.conf", withoutCarriageReturns(bytes));
    if (path.empty())
        return {};
    Ranks ranks = currentRanks();
    std::vector<Diagnostic> problems;
    {
        vh::Host host;
        problems = loadFile(host, path, shown).diagnostics;
    }
    restoreRanks(ranks);
    return problems;
}

int dropCarriageReturnProblems(Load &load, const std::vector<Diagnostic> &without)
{
    std::set<std::pair<int, std::string>> kept;
    for (const Diagnostic &w : without)
        kept.insert({w.line, w.text});
    auto mine = [&](const Diagnostic &d) {
        if (d.line == 0 || d.line == load.stopLine)
            return false;
        // The log shows a carriage return as \x0D.
        return kept.count({d.line, replaceAll(d.text, "\\x0D", "")}) == 0;
    };
    auto end = std::remove_if(load.diagnostics.begin(), load.diagnostics.end(), mine);
    int dropped = (int)(load.diagnostics.end() - end);
    load.diagnostics.erase(end, load.diagnostics.end());
    return dropped;
}

void mergeStop(std::vector<Diagnostic> &diagnostics)
{
    auto lint = std::find_if(diagnostics.begin(), diagnostics.end(),
                             [](const Diagnostic &d) { return d.stopsLoad; });
    if (lint == diagnostics.end())
        return;
    auto plugin = std::find_if(diagnostics.begin(), diagnostics.end(), [&](const Diagnostic &d) {
        return !d.stopsLoad && d.line == lint->line && isTooLong(d.text);
    });
    if (plugin == diagnostics.end())
        return;
    // "<cause>: the load stops here..." reads as "<too long> (<cause>): ..."
    const std::string stops = ": the load stops here";
    size_t at = lint->text.find(stops);
    plugin->text += at == std::string::npos
                        ? ": " + lint->text
                        : " (" + lint->text.substr(0, at) + ")" + lint->text.substr(at);
    plugin->stopsLoad = true;
    diagnostics.erase(lint);
}

std::string failureSummary(const Load &load, const std::string &shown)
{
    if (load.fileRefused)
        return shown + " cannot be read: the plug-in would not start with it, and a reload "
                       "keeps the configuration in force";
    if (load.stopLine > 1) {
        int before = load.stopLine - 1;
        return shown + " stops loading at line " + std::to_string(load.stopLine) +
               ": the plug-in would not start with it, and a reload puts " +
               (before == 1 ? std::string("line 1") : "lines 1 to " + std::to_string(before)) +
               " in force, without a report, and leaves the rest unloaded";
    }
    if (load.stopLine == 1)
        return shown + " stops loading at line 1: the plug-in would not start with it, and a "
                       "reload empties every limit parameter and loads nothing";
    return shown + " did not load";
}

} // namespace check
