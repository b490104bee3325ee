// What vestrel-check and vestrel-docs know about a parameter file beyond
// the plug-in's own reading of it: the meaning of every parameter and
// keyword, the lint, the command table as a file leaves it, and the
// entries in force in one room. Everything that decides what the plug-in
// does is asked of the plug-in's own code, linked in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "vestrel.h"

namespace vh
{
class Host;
}

namespace check
{

// One limit parameter, in the order of the plug-in's parameter table.
struct ParamInfo {
    const char *name;
    const char *maxField;   // what the first number is ("maximum", "room", ...)
    const char *decayField; // what the second number is, for PM_DECAY rows
    const char *noun;       // for a rate limit: one counted action; else null
    bool limiting;          // never naming it leaves an activity unlimited
    const char *meaning;
};
extern const ParamInfo kParams[NBR_LIMITS];

struct KeywordInfo {
    const char *name;
    const char *form;
    const char *start; // the value at start-up
    bool kept;         // a reload without the line keeps the value
    const char *meaning;
};
extern const std::vector<KeywordInfo> kKeywords;

// Empty when kParams follows the plug-in's table, else what differs.
std::string paramTableMismatch();

// The way a limit line after its name reads, from the row's mask.
std::string lineForm(const ParameterTable &row);
// The built-in default entry as a limit line would give it, or "none".
std::string defaultText(const ParameterTable &row);
const char *rankName(int rank);
const char *helpClassName(int helpClass);

struct Diagnostic {
    enum Level { Note, Warning, Error };
    int line; // 0: the file as a whole
    Level level;
    std::string text;
    bool stopsLoad = false; // the plug-in stops loading at this line
};

// The ranks of the command table at one moment.
struct Ranks {
    int rank[NBR_COMMANDS], target[NBR_COMMANDS];
};
Ranks currentRanks();
// Puts the table back as it was: a setrank line is never undone by a load.
void restoreRanks(const Ranks &ranks);

// The lint of the file's bytes, line by line, up to the line where the
// plug-in stops loading; setrank lines are weighed against the ranks the
// table had before the file was loaded. Lines ending in a carriage return
// are linted without it and given one warning, for the file as a whole,
// named `file` in its advice.
std::vector<Diagnostic> lintText(const std::string &bytes, const Ranks &before,
                                 const std::string &file);
// What shows only in the loaded configuration: entries shadowed by earlier
// ones of their slot, and the activities no line limits.
std::vector<Diagnostic> lintLoaded(const MyState *state);

// One row of the command table as a file leaves it.
struct CommandRow {
    std::string word, abbreviation, who, onWhom, helpClass, syntax, help;
};
std::vector<CommandRow> commandRows();

// A room of the checker's own host in the given class (public, private,
// member or altmember), for asking the plug-in what applies there.
ServerRoomRec *makeRoom(vh::Host &host, MyState *state, RoomID id, const std::string &roomClass);

// What a rate limit lets a user do, worked out from the counter's
// arithmetic; and the whole seconds of quiet that forgive one action (0:
// none ever do).
std::string limitInWords(const LimitValue *entry);
long secondsPerUnit(double decay);

// Restricts --diff to one room class (or users in no room) and one room.
constexpr int kAnyLayer = -1, kLimboLayer = 4;
struct DiffFilter {
    int layer = kAnyLayer; // 0..3: public, private, member, altmember
    std::optional<int> room;
};
// What reloading from the old file to the new one would change, a line
// each; status 0 nothing, 1 something, 2 a file cannot be read.
struct DiffResult {
    int status = 0;
    std::vector<std::string> lines;
};
DiffResult diffFiles(const std::string &oldFile, const std::string &newFile,
                     const DiffFilter &filter);

} // namespace check
