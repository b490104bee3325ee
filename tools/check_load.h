// vestrel-check's loads of a parameter file: the plug-in's own load, read
// back from its log; a second load of the same bytes without carriage
// returns, to tell the problems they alone cause; and the words for a load
// that failed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "checker.h"
#include "host.h"

namespace check
{

// What the plug-in made of a file, from its log.
struct Load {
    bool started = false;
    bool fileRefused = false; // could not be opened or read through: nothing changed
    int stopLine = 0;         // the line the load stopped at as too long; 0: none
    std::vector<Diagnostic> diagnostics;
    std::vector<std::string> report;
};

// Loads `path` as the plug-in does at start-up; where its messages name
// the path, they name `shown` instead.
Load loadFile(vh::Host &host, const std::string &path, const std::string &shown);

// The bytes of a regular file, or nothing.
std::optional<std::string> readBytes(const std::string &path);

// A scratch directory, removed with everything in it at the end.
class Scratch
{
  public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    // Writes a file in the directory; its path, or "" when that failed.
    std::string write(const std::string &name, const std::string &bytes);

  private:
    std::string dir_;
};

// Whether some line of the bytes ends in a carriage return.
bool hasCarriageReturns(const std::string &bytes);

// The plug-in's problems with the bytes once the carriage returns at line
// ends are gone, from a scratch copy loaded in a host of its own: call it
// while no other host exists. The command table's ranks are put back.
std::vector<Diagnostic> problemsWithoutCarriageReturns(const std::string &bytes,
                                                       const std::string &shown);

// Drops the plug-in's problems that only the carriage returns cause (those
// absent from `without`), never the line that stops the load; how many.
int dropCarriageReturnProblems(Load &load, const std::vector<Diagnostic> &without);

// The plug-in's "too long" for the line that stops the load, and the
// lint's account of why and of the lines not read, as one diagnostic.
void mergeStop(std::vector<Diagnostic> &diagnostics);

// The summary's words for a file that did not load.
std::string failureSummary(const Load &load, const std::string &shown);

} // namespace check
