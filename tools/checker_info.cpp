// The meaning of every limit parameter and keyword, and the command table
// as a parameter file leaves it. The forms, defaults, ranks and help texts
// come from the plug-in's own tables; only the prose is kept here.
#include <cstdio>
#include <cstring>

#include "checker.h"

namespace check
{

const ParamInfo kParams[NBR_LIMITS] = {
    {"zone", "distance", nullptr, nullptr, true,
     "The distance in pixels, on each axis, within which the same loose prop may not be dropped "
     "twice."},
    {"spoof", nullptr, nullptr, nullptr, true,
     "Any entry forbids spoofing prefixes in chat and makes face sequences in chat count as face "
     "changes."},
    {"page", "maximum", "decay", "page", true,
     "Rate of pages (the page command and the page message)."},
    {"reppage", "maximum", "decay", "repeated page", true,
     "Rate of pages equal to the user's previous line."},
    {"chat", "maximum", "decay", "chat line", true, "Rate of chat lines."},
    {"repchat", "maximum", "decay", "repeated chat line", true,
     "Rate of chat lines equal to the user's previous line."},
    {"propdrop", "maximum", "decay", "loose prop drop", true, "Rate of dropped loose props."},
    {"roommsg", "maximum", "decay", "room message", true, "Rate of room messages."},
    {"facechange", "maximum", "decay", "face or colour change", true,
     "Rate of face and colour changes, and of face sequences in chat."},
    {"avatarchange", "maximum", "decay", "prop change", true,
     "Rate of prop changes, counted per changed prop."},
    {"move", "maximum", "decay", "move", true, "Rate of moves."},
    {"slide", "maximum", "decay", "short move", true, "Rate of short moves."},
    {"spotstatechange", "maximum", "decay", "spot state change", true,
     "Rate of spot state, lock and unlock requests."},
    {"chatgoto", "room", nullptr, nullptr, false,
     "A chat phrase and the room that saying it leads to (currentroom or 0: the speaker's own "
     "room). Every entry is tried, in file order, in every room."},
    {"clearlooseprops", "people", nullptr, nullptr, true,
     "The number of people in the room above which a user may not clear all loose props."},
    {"nodupavatars", nullptr, nullptr, nullptr, false,
     "Any entry forbids wearing the same props as another occupant."},
    {"namechange", "maximum", "decay", "name change", true, "Rate of name changes."},
    {"take", nullptr, nullptr, nullptr, false,
     "Any entry makes the room a take-avatar room (the take command works there)."},
    {"dupip", "connections", nullptr, nullptr, true,
     "The number of other connections allowed from one address, for the addresses that match the "
     "pattern (four octets, each 0..255 or *). The most specific matching pattern wins; an entry "
     "without a pattern covers every address no pattern matches. Not looked up by room."},
    {"godonly", nullptr, nullptr, nullptr, false, "Any entry reserves the room for rank 3 (god)."},
    {"avatarzone", "distance", nullptr, nullptr, true,
     "The distance in pixels, on each axis, that avatars keep from one another."},
    {"mimick", "length", nullptr, nullptr, true,
     "The shortest chat line that another user may not repeat. The room remembers the last such "
     "line whether it was said, whispered or put in by the server, so a user may confirm a "
     "whisper he did not hear by repeating his guess and seeing it refused; this is left as it "
     "is."},
    {"pinx", "x", "y", nullptr, false, "Where the pinx command places a user."},
    {"newroom", "maximum", "decay", "member room creation", true, "Rate of member room creation."},
    {"gpage", "maximum", "decay", "gpage", true, "Rate of the gpage command."},
    {"rpage", "maximum", "decay", "rpage", true, "Rate of the rpage command."},
    {"roompage", "maximum", "decay", "roompage", true, "Rate of the roompage command."},
    {"roomgoto", "maximum", "decay", "repeated room request", true,
     "Rate of repeated requests to enter the same room."},
    {"draw", "maximum", "decay", "paint command", true, "Rate of paint commands."},
    {"idle", "minutes", "room", nullptr, false,
     "Idle minutes before a user is sent away (0: never), and the room he is sent to."},
};

const std::vector<KeywordInfo> kKeywords = {
    {"mroombg", "<picture>|off", "off", true,
     "The background picture of a newly created member room (at most 31 characters). The line "
     "alone also turns it off."},
    {"wizinmemberrooms", "yes|no", "no", true,
     "Operators may enter closed and passworded member rooms. Turning it on tells everybody on "
     "the server; removing the line does not turn it off."},
    {"rownerinroom", "yes|no", "no", false,
     "The new owner named in rowner must be in the member room."},
    {"hideoperators", "yes|no", "no", false,
     "User lists sent to non-operators show nobody as an operator. On or off, a user the server "
     "hides "
     "(hidden from everybody, or from one user) is answered to non-operators as a user who is "
     "not there, in the name as typed, by every command that looks a user up (find, goto, take, "
     "the discipline commands and the rest), before any test of rank could tell him apart. Not "
     "hidden: a hidden operator who owns a member room shows as its owner to rwho, rtake and "
     "rpage there; and a change to the name a hidden user holds is refused, as a change to any "
     "name another connected user holds is."},
    {"memberrwho", "yes|no", "no", false,
     "rwho tells non-operators the name of a member room's owner who is online."},
    {"guestwiz", "yes|no", "yes", false, "Guests may ask for operator privileges."},
    {"rtakedelay", "off|<seconds>", "off", false,
     "How long a member room's owner must have been gone before another member may rtake it; off: "
     "members may not rtake."},
    {"mroomdiscipline", "off|<number>", "off", false,
     "1 or more enables rgag, rpin and rpropgag in member rooms and is the length of each member "
     "room's ban list."},
    {"pagelength", "<characters>", "0", false,
     "A page or roompage shorter than this is refused as too short."},
    {"gpagelength", "<characters>", "0", false, "The same threshold for gpage."},
    {"pageresponse", "<text>", "none", true,
     "Sent to a user after he pages (at most 250 characters). The line alone removes it."},
    {"gpageresponse", "<text>", "none", true,
     "Sent to a user after gpage or roompage (at most 250 characters). The line alone removes it."},
    {"autoannounce", "hh:mm:ss <text>", "none", false,
     "A daily announcement to everybody at that local time (text of at most 250 characters). "
     "Every line is one announcement."},
    {"setrank", "<command> <rank> [<target rank>]", "the built-in ranks", true,
     "Who may use a command, and who may aim it at another user. Ranks: guest (0), member (1), "
     "wizard or operator (2), god or owner (3), disable (4). A reload without the line keeps the "
     "rank the last line gave, and the configuration report then shows it as a setrank line all "
     "the same: the report lists every command whose ranks differ from the built-in table."},
};

std::string paramTableMismatch()
{
    for (int i = 0; i < NBR_LIMITS; i++) {
        const char *name = parameterTable[i].name;
        if (name == nullptr || std::strcmp(name, kParams[i].name) != 0)
            return std::string("row ") + std::to_string(i) + ": the plug-in has " +
                   (name != nullptr ? name : "nothing") + ", the checker " + kParams[i].name;
    }
    return "";
}

std::string lineForm(const ParameterTable &row)
{
    const ParamInfo &info = kParams[row.index];
    auto field = [](const char *name) { return std::string("<") + name + ">"; };
    std::string form;
    if (row.paramMask & PM_MAXIMUM)
        form += field(info.maxField) + " ";
    if (row.paramMask & PM_ROOMID)
        form += field(info.maxField) + "|currentroom ";
    if (row.paramMask & PM_DECAY)
        form += field(info.decayField) + " ";
    if (row.paramMask & PM_STRING)
        form += (row.paramMask & PM_ROOMID) ? "<phrase>" : "[<address pattern>]";
    else
        form += "<room words>";
    return form;
}

std::string defaultText(const ParameterTable &row)
{
    const LimitValue *d = row.defaultValue;
    if (d == nullptr)
        return "none";
    char text[200];
    if (row.paramMask & PM_DECAY)
        std::snprintf(text, sizeof text, "%d %g ", (int)d->maximum, d->decay);
    else if (row.paramMask & PM_MAXIMUM)
        std::snprintf(text, sizeof text, "%d ", (int)d->maximum);
    else
        text[0] = '\0';
    appendWhere(text, text + sizeof text, d);
    std::string out = text;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

const char *rankName(int rank)
{
    static const char *const names[] = {"guest", "member", "wizard", "god", "disable"};
    return rank >= 0 && rank <= 4 ? names[rank] : "?";
}

const char *helpClassName(int helpClass)
{
    static const char *const names[] = {"none",     "user",        "rmanaging",     "rpermissions",
                                        "managing", "permissions", "administration"};
    return helpClass >= 0 && helpClass <= 6 ? names[helpClass] : "?";
}

// The shortest word that finds this row: earlier rows take some prefixes.
static std::string shortestAbbreviation(const CmdTable &row)
{
    std::string word = row.command;
    for (size_t n = row.minimum > 0 ? (size_t)row.minimum : 1; n < word.size(); n++) {
        std::string prefix = word.substr(0, n);
        if (findCommand(nullptr, prefix.c_str()) == &row)
            return prefix;
    }
    return word;
}

static std::string whoMayUse(const CmdTable &row)
{
    if (row.rank >= 4)
        return "nobody (disabled)";
    std::string who = row.rank == 0 ? "everybody" : std::string(rankName(row.rank)) + " and up";
    if (row.flags & CF_MROOM)
        who += ", and the room's owner";
    else if (row.flags & CF_ROOMOWNER)
        who += ", and any room owner";
    return who;
}

// Who may aim the command at another user (by whispering it): only those
// who may use it at all, whatever the target rank says.
static std::string onWhom(const CmdTable &row)
{
    std::string by;
    int rank = row.targetRank > row.rank ? row.targetRank : row.rank;
    if (rank < 4 && row.targetRank < 4)
        by = rank == 0 ? "everybody" : std::string(rankName(rank)) + " and up";
    if (row.flags & CF_MROOM)
        by += by.empty() ? "the room's owner" : ", and the room's owner";
    return by.empty() ? "nobody" : by;
}

std::vector<CommandRow> commandRows()
{
    std::vector<CommandRow> rows;
    for (const CmdTable &row : cmdTable) {
        CommandRow r;
        r.word = row.command;
        r.abbreviation = shortestAbbreviation(row);
        r.who = whoMayUse(row);
        r.onWhom = onWhom(row);
        int helpClass = (row.flags & CF_CLASSMASK) >> CF_CLASSSHIFT;
        r.helpClass = (row.flags & CF_HOSTCMD) ? "host's own" : helpClassName(helpClass);
        r.syntax = row.shortHelp;
        r.help = row.longHelp;
        rows.push_back(r);
    }
    return rows;
}

} // namespace check
