// vestrel-docs: writes the reference of the parameter file or of the
// command language, in Markdown, from the plug-in's own tables. docs/ holds
// its output; a test checks that the two agree.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "checker.h"
#include "host.h"
#include "static_procs.h"

namespace
{

// Text for a table cell: no HTML, no column breaks.
std::string cell(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '|')
            out += "\\|";
        else
            out += c;
    }
    return out;
}

// Literal text for a table cell; a double-backtick span may hold a backtick.
std::string code(const std::string &text)
{
    std::string out;
    for (char c : text)
        out += c == '|' ? std::string("\\|") : std::string(1, c);
    return "`` " + out + " ``";
}

const char kParametersIntro[] = R"(# The vestrel parameter file

vestrel reads one text file when the server loads it, and again when an
operator says `` `vestrel reload ``. `vestrel-check FILE` reads a file the
same way and says what the plug-in makes of it; see the end of this page.

## Lines

- One setting per line. A line holds at most 298 characters before its
  newline (297 on a last line without one). A longer line, a NUL byte in a
  line that is not the file's last, or a read error part way through ends
  the load there: on a reload the lines before it are in force (the
  configuration as a file of only those lines would leave it), no report is
  given, and none of the lines after it is read; at start-up the plug-in
  does not start.
- Words are separated by spaces and tabs, nothing else. A carriage return is
  part of the word it follows, so a file saved with CRLF line ends does not
  mean what it says.
- Blank lines, and lines whose first non-blank character is `#`, are
  ignored. `#` later in a line is not a comment.
- Keywords and parameter names are whole words in any case, never
  abbreviated. Every other first word names a limit parameter.
- A load empties every limit parameter first: a parameter the file does not
  name is not limited at all. Only the settings marked "kept" below survive
  a reload whose file no longer sets them.
- A file that cannot be opened or read through (a directory, a missing or
  unreadable file, a read error found before the load begins) changes
  nothing: at start-up the plug-in does not start, on reload the
  configuration in force stays.
- `vestrel-check` exits 2 for both kinds of failure, and its last line
  says which it is: "cannot be read" (the configuration in force stays) or
  "stops loading at line N" (a reload puts the lines before N in force and
  leaves the rest unloaded).

## Keywords

| keyword | form | at start-up | on a reload without the line | meaning |
|---|---|---|---|---|
)";

const char kLimitLines[] = R"(
## Limit lines

A limit line is the parameter's name, its numbers, and where it applies:

- `all`, `public`, `private`, `member`, `altmember` (member rooms whose
  owner turned on alternate limits with rlimit), `limbo` (only for a user
  in no room): room classes; `all` is all five.
- `rm5`, `rm100-199`: room numbers, lower-case `rm`; a range applies in its
  rooms whatever their class. Room numbers run from -32768 to 32767.
- `warn`: tell the user once, when the limit bites, that it does.
- `off`, `nowhere`: drop the classes and `warn` named before it on the line.

A rate limit is `<maximum> <decay>`: a user may act `<maximum>` times in a
burst, and `<decay>` actions are forgiven per second. A maximum of -1 is
unlimited; 0 refuses every action. Operators (rank 2 and up) are never
counted.

Forgiveness is counted in whole actions, at each attempt, from the seconds
since the user's last attempt, allowed or refused; what does not make a
whole action is dropped, and the clock starts again. So:

- the wait for one action to be forgiven is the smallest whole number of
  seconds s with s × decay ≥ 1: with decay 0.3 it is 4 seconds (3 × 0.3 is
  0.9, which forgives nothing), not 3.3; with 0.5 it is 2, with 1 or more
  it is 1;
- each refused attempt restarts that wait: a user who retries more often
  than once every s seconds is never forgiven anything and stays refused
  until he waits s seconds without trying.

For example `page 1 0.3 all`: a first page is allowed; pages 1, 2 and 3
seconds later are each refused and each restarts the wait; once the user
has been quiet for 4 seconds, his next page is allowed.

Several lines may name one parameter. For a room, the first entry that
applies is in force, in this order: the lines with room ranges, the last of
them in the file first; then the lines without ranges, the first of them in
the file first. So a range line overrides the class lines for its rooms,
and among class lines the earlier wins.

Numbers are read as the C library reads them and are never reported: a word
that is not a number reads as 0, and what follows a partial number (`12.5`)
is read as the next field. A maximum above 4294967294 is unlimited.

## Limit parameters

| parameter | form after the name | built-in default | meaning |
|---|---|---|---|
)";

const char kPitfalls[] = R"(
The built-in default is what a line holding the name alone gives ("No ...
data specified, default used"); a parameter without one ignores such a
line. No default applies to a parameter the file never names.

## What vestrel-check warns about

`vestrel-check FILE` prints every problem the plug-in reports and these
warnings, as `FILE:LINE: warning: text`, and exits 1 when there is any:

- a number that is not one, or only partly (`chat five 1 public` reads a
  maximum of 0 and refuses every chat line);
- a maximum above 4294967294 (unlimited) or negative, a decay that
  overflows (`1e400`), is negative or, on a rate limit, is 0 (nothing is
  ever forgiven);
- a yes/no value that is neither (`guestwiz nope` leaves the setting as it
  was; `no` must be written out);
- an `autoannounce` time outside 00:00:00..23:59:59 (the calendar carries
  it over into the next day) or not written as hh:mm:ss;
- a `dupip` pattern that is not four octets of 0..255 or `*`, and room
  words after `dupip`, which are read as a pattern;
- an `idle` room that is not a whole number or not a room number, and an
  `idle` room that a `godonly` entry keeps idle users out of (every minute
  each idle user is told he was sent there, is refused, and a log line is
  written, without end);
- a negative `mroomdiscipline` or `rtakedelay` (read as off), `pagelength`
  (a page is compared with it unsigned, so every page is refused as too
  short) or `gpagelength` (read as 0);
- an entry that applies nowhere (no class and no range), a range whose low
  is above its high or that lies outside -32768..32767, an entry that
  earlier entries of its parameter shadow in every room it names, a
  `chatgoto` without a phrase, a `setrank` that changes nothing;
- carriage returns at line ends, in one warning naming the first such line
  and the count, with the fix (`sed -i 's/\r$//' FILE` or `dos2unix FILE`);
  the file is linted as if they were gone, and the plug-in's problems that
  they alone cause are not listed;
- a NUL byte in the last line (read only up to it); and the line that
  stops the load (too long, or a NUL byte), once, with the plug-in's own
  "too long": the lines after it are not read, so they are not linted;
- and, as a note at the end, the parameters the file never names, whose
  activities are therefore not limited.

`vestrel-check FILE --room N` lists, for every limit parameter, the entry in
force in room N and the line it came from; `--class` says what kind of room
N is. `vestrel-check --commands FILE` lists the command table as the file's
`setrank` lines leave it (see [commands.md](commands.md)).
)";

const char kDiffAndWords[] = R"(
## A limit in plain words

`vestrel-check FILE --room N` says, under each rate limit in force in room
N, what it lets a user do, worked out from the counter's own arithmetic:
time counts in whole seconds, and each check, allowed or refused, forgives
the whole units its wait has earned and drops the fraction. For `chat 5 0.2`:

    at most 5 in a burst; then one more every 5 s of quiet (12 a minute); a retry sooner forgives nothing and restarts the wait

The wait is the one described under Limit lines (`chat 3 0.3` waits 4 s,
not 3.3). A decay of 1 or more forgives that many a second, and a refused
attempt still counts, up to that many beyond the maximum. A maximum of 0
refuses everything; `-1` is unlimited.

## What a reload would change: vestrel-check --diff

`vestrel-check --diff OLD NEW` loads OLD and then reloads NEW into one
plug-in, as `` `vestrel reload`` would on a server running OLD, and prints
what would be done differently, not which lines differ: for every limit
parameter, the entry that applies in each room class (public, private,
member and altmember rooms) over each range of room numbers and for users in
no room, each keyword's value, the command table the `setrank` lines leave
(a reload never undoes one), the `chatgoto` phrases and the `dupip`
patterns. Two entries are the same policy when they agree in maximum,
decay, text and `warn`; a file that only moves or rewrites lines gives no
line. With `--class` or `--room N` it says what changes in that class or
that room only. It exits 0 when nothing would change, 1 when something
would, and 2 when a file cannot be read; a file that loads only in part is
compared as the plug-in would leave it, with a warning.

With `old.conf`

    chat 5 0.2 rm100-199
    chat 2 1 public
    chatgoto 5 take me home

and `new.conf`

    pagelength 10
    chat 3 0.1 rm100-149
    chat 5 0.2 rm150-199
    chat 2 1 public

it prints

    chat in rooms 100-149: max 5 decay 0.2 (old.conf:1) -> max 3 decay 0.1 (new.conf:2)
    keyword pagelength: 0 -> 10 (new.conf:1)
    chatgoto "take me home": room 5 (old.conf:3) -> removed

Rooms 150-199 keep the same policy from another line, so they are not named.
)";

int parameters()
{
    std::printf("%s", kParametersIntro);
    for (const check::KeywordInfo &k : check::kKeywords)
        std::printf("| `%s` | %s | %s | %s | %s |\n", k.name, code(k.form).c_str(), k.start,
                    k.kept ? "kept" : "the start-up value", cell(k.meaning).c_str());
    std::printf("%s", kLimitLines);
    for (int i = 0; i < NBR_LIMITS; i++) {
        const ParameterTable &row = parameterTable[i];
        std::printf("| `%s` | %s | %s | %s |\n", row.name, code(check::lineForm(row)).c_str(),
                    check::defaultText(row) == "none" ? "none"
                                                      : code(check::defaultText(row)).c_str(),
                    cell(check::kParams[i].meaning).c_str());
    }
    std::printf("%s", kPitfalls);
    std::printf("%s", kDiffAndWords);
    return 0;
}

const char kCommandsIntro[] = R"(# The vestrel command language

A chat line that starts with a backtick (`` ` ``) or an apostrophe and names
a command is a command, and nobody else hears it. A command word may be
abbreviated down to its shortest form below. Whispered to another user, a
command is aimed at that user when the speaker may aim it ("aimed at others
by"); otherwise it acts on the speaker.

Ranks: guest 0, member 1, wizard 2, god 3; "disable" (4) is a rank nobody
has. A `setrank` line of the parameter file changes who may use a command
and on whom; `vestrel-check --commands FILE` shows the table as a file
leaves it. Help class "host's own" marks a command the host also has: vestrel
checks it and lets the host carry it out, and `` `help `` does not list it.

## help

`` `help `` is answered by vestrel before the table is looked at; it is not
a row of the table, and anybody may use it. The word must be written out
(`` `help ``, in any case; `` `hel `` is no command).

- `` `help `` alone: a guest or a member who owns no room gets every command
  he may use, and the host answers too; anybody else gets the list of
  classes below and how to ask for one.
- `` `help CLASS ``: the commands of that class the speaker may use (a room
  owner also gets the room commands), under the class's header line.
- `` `help COMMAND `` (with or without its backtick): its syntax and help
  line, when the speaker may use it; otherwise, or for a host's own
  command, the host answers.

| class | shortest word | what it lists | the host answers too |
|---|---|---|---|
)";

// The help classes in the order help tries their words; "all" lists every
// class. The host also answers those whose lines help lets go on.
const struct {
    int number;
    const char *word, *shortest, *lists;
    bool hostToo;
} kHelpClasses[] = {
    {1, "user", "user", "commands available to unprivileged users", true},
    {2, "rmanaging", "rmanag", "commands for managing users in a (member created) room", false},
    {3, "rpermissions", "rperm",
     "commands controlling what users can do in a (member created) room", false},
    {4, "managing", "manag", "commands for operators to manage the online population", true},
    {5, "permissions", "perm", "commands controlling what users can do inside the server", true},
    {6, "administration", "admin", "commands for server operations and administration", true},
    {0, "all", "all", "every command of every class", true},
};

const char kCommandsMiddle[] = R"(
`mrooms`, which the class list names, is not a class vestrel knows: the
host answers `` `help mrooms ``.

## The host's page

`` `page <message> `` is the host's own command, not a row of the table:
the host delivers the page to the operators. vestrel screens it first, as
chat: the `page` and `reppage` limits apply, a page of `pagelength`
characters or fewer is refused as too short, `pageresponse` is sent to the
user after it, and the room it came from is remembered for `` `er ``. See
[parameters.md](parameters.md).

## Commands the server has too

`er`, `newroom`, `rdelete`, `respond`, `rkick`, `rowner` and `runkick` are
the server's own commands as well as rows of this table (help class "host's
own"): vestrel checks the line, records what it must (a kick in the room's
ban list, for one) and lets it go on, and the server carries the command
out. To the user each is one command, so the server's own command must
accept the same short forms as vestrel, no more and no fewer: the
"shortest" column below (`` `rk bob `` kicks bob; a server that knew only
`` `rkick `` would show `` `rk bob `` as chat, and bob, recorded as kicked,
would stay). The substitute host in this repository does so.

## Member room discipline

`rgag`, `rungag`, `rpin`, `runpin`, `rpropgag` and `runpropgag` work only
while `mroomdiscipline` is 1 or more. While it is off (the start-up value,
or any number below 1), vestrel does nothing with them: the line goes on to
the server as typed, screened as chat, and unless the server has a command
of that word the room hears it said (`` `rgag bob `` as a chat line).
`rkick`, `runkick` and `rbanlist` work either way.

## Commands by class

)";

const char kCommandsTable[] = R"(
## Commands

The built-in table, in alphabetical order (vestrel itself looks words up in
its own order, which decides abbreviations: the shortest form is given).

| command | shortest | who may use it | aimed at others by | help class | syntax | help |
|---|---|---|---|---|---|---|
)";

int commands()
{
    std::printf("%s", kCommandsIntro);
    for (const auto &c : kHelpClasses)
        std::printf("| `%s` | `%s` | %s | %s |\n", c.word, c.shortest, c.lists,
                    c.hostToo ? "yes" : "no");
    std::printf("%s", kCommandsMiddle);

    std::vector<check::CommandRow> rows = check::commandRows();
    std::vector<std::string> classes = {"user",        "rmanaging",      "rpermissions", "managing",
                                        "permissions", "administration", "host's own",   "none"};
    for (const std::string &c : classes) {
        std::string list;
        for (const check::CommandRow &r : rows) {
            if (r.helpClass == c)
                list += (list.empty() ? "" : ", ") + ("`" + r.word + "`");
        }
        if (!list.empty())
            std::printf("- %s: %s\n", c.c_str(), list.c_str());
    }

    std::printf("%s", kCommandsTable);
    std::sort(rows.begin(), rows.end(), [](const check::CommandRow &a, const check::CommandRow &b) {
        return a.word < b.word;
    });
    for (const check::CommandRow &r : rows)
        std::printf("| `%s` | `%s` | %s | %s | %s | %s | %s |\n", r.word.c_str(),
                    r.abbreviation.c_str(), r.who.c_str(), r.onWhom.c_str(), r.helpClass.c_str(),
                    code(r.syntax).c_str(), cell(r.help).c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::string what = argc == 2 ? argv[1] : "";
    // The plug-in fills its parameter table when it starts; an empty file
    // leaves every built-in value as it is.
    vh::Host host;
    if (!host.attachPlugin(staticProcs(), "/dev/null")) {
        std::fprintf(stderr, "vestrel-docs: the plug-in did not start\n");
        return 2;
    }
    std::string mismatch = check::paramTableMismatch();
    if (!mismatch.empty()) {
        std::fprintf(stderr, "vestrel-docs: out of step with the plug-in (%s)\n", mismatch.c_str());
        return 2;
    }
    if (what == "parameters")
        return parameters();
    if (what == "commands")
        return commands();
    std::fprintf(stderr, "usage: vestrel-docs parameters|commands\n");
    return 2;
}
