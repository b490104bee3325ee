// The lint: what a parameter file line does that its writer may not mean.
// Each check reads the line the way the plug-in does (strtol, strtod and
// the plug-in's own word comparisons) and says what the plug-in makes of
// it; the plug-in itself goes on reading files exactly as before.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checker.h"
#include "host.h"

namespace check
{
namespace
{

constexpr int kLineMax = 298; // characters before the newline the plug-in reads
constexpr long kRoomLow = -32768, kRoomHigh = 32767;

const char *skipBlanks(const char *p)
{
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

std::string wordAt(const char *p)
{
    return std::string(p, (size_t)wordLength(p));
}

std::string q(const std::string &text)
{
    return "'" + vh::printable(text) + "'";
}

class Lint
{
  public:
    Lint(std::vector<Diagnostic> &out, const Ranks &before) : out_(out), ranks_(before) {}
    void line(int lineno, const std::string &text);

  private:
    void warn(const char *format, ...) __attribute__((format(printf, 2, 3)));
    void keyword(const std::string &name, const char *value);
    void limitLine(int slot, const char *lp);
    const char *maximum(const char *p, int slot, uint32 *value);
    const char *decay(const char *p, int slot, uint32 maximum);
    void roomWords(const char *p);
    void range(const std::string &word);
    void dupipPattern(const char *text);
    void wholeNumber(const std::string &keyword, const char *value, const char *zeroEffect,
                     const char *negativeEffect);
    void autoannounce(const char *value);
    void setrank(const char *value);

    std::vector<Diagnostic> &out_;
    int lineno_ = 0;
    Ranks ranks_;
};

void Lint::warn(const char *format, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    out_.push_back({lineno_, Diagnostic::Warning, text});
}

bool isRate(int slot)
{
    return kParams[slot].noun != nullptr;
}

// What a first number of 0 does, for the rows where it is a surprise.
std::string zeroEffect(int slot)
{
    if (isRate(slot))
        return std::string(": every ") + kParams[slot].noun + " is refused";
    switch (slot) {
    case L_IDLE:
        return ": idle users are never sent away";
    case L_DUPIP:
        return ": no second connection from an address is allowed";
    case L_CHATGOTO:
        return ": the phrase leads to the speaker's own room";
    case L_MIMICK:
        return ": any chat line that somebody else just said is refused";
    case L_CLEARLOOSEPROPS:
        return ": nobody may clear the loose props of a room with anybody in it";
    default:
        return "";
    }
}

void Lint::line(int lineno, const std::string &text)
{
    lineno_ = lineno;
    const char *p = skipBlanks(text.c_str());
    if (*p == '\0' || *p == '#')
        return;
    std::string first = wordAt(p);
    for (const KeywordInfo &k : kKeywords) {
        if (wordCmp(p, k.name) == 0) {
            keyword(k.name, skipBlanks(p + first.size()));
            return;
        }
    }
    int slot = findParameter(p);
    if (slot >= 0)
        limitLine(slot, p);
}

void Lint::keyword(const std::string &name, const char *value)
{
    static const char *const yesNo[] = {"wizinmemberrooms", "rownerinroom", "hideoperators",
                                        "memberrwho", "guestwiz"};
    for (const char *k : yesNo) {
        if (name == k && *value != '\0' && wordMinCmp(value, "yes", 1) != 0 &&
            wordMinCmp(value, "no", 2) != 0)
            warn("%s %s is neither yes nor no: the setting is left as it was", k,
                 q(wordAt(value)).c_str());
    }
    bool offOrNumber = name == "rtakedelay" || name == "mroomdiscipline";
    if (offOrNumber && *value != '\0' && wordMinCmp(value, "off", 1) != 0)
        wholeNumber(name, value,
                    name == "rtakedelay"
                        ? ": a member may rtake a room as soon as its owner is gone"
                        : ": the member room discipline commands stay disabled",
                    name == "rtakedelay" ? ": members may not rtake, as with off"
                                         : ": rgag, rpin and rpropgag stay disabled and each "
                                           "member room's ban list holds 20, as with off");
    if (name == "pagelength" && *value != '\0')
        wholeNumber(name, value, ": no page is too short",
                    ": a page's length is compared with it unsigned, as 4294967295 and up, so "
                    "every page is refused as too short, while no roompage is");
    if (name == "gpagelength" && *value != '\0')
        wholeNumber(name, value, ": no gpage is too short", ": no gpage is too short, as with 0");
    if (name == "autoannounce")
        autoannounce(value);
    if (name == "setrank")
        setrank(value);
}

// A keyword's number, read with strtol and saturated to an int; what a
// negative one means to the plug-in.
void Lint::wholeNumber(const std::string &keyword, const char *value, const char *zero,
                       const char *negative)
{
    std::string word = wordAt(value);
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(value, &end, 10);
    long stored = std::clamp<long>(v, INT_MIN, INT_MAX);
    if (end == value)
        warn("%s %s is read as 0%s", keyword.c_str(), q(word).c_str(), zero);
    else if (end < value + word.size())
        warn("%s %s is read as %ld, and %s is ignored", keyword.c_str(), q(word).c_str(), stored,
             q(std::string((const char *)end, value + word.size())).c_str());
    else if (errno == ERANGE || stored != v)
        warn("%s %s is out of range: it is read as %ld", keyword.c_str(), q(word).c_str(), stored);
    if (end != value && stored < 0)
        warn("%s %ld is negative%s", keyword.c_str(), stored, negative);
}

void Lint::autoannounce(const char *value)
{
    std::string word = wordAt(value);
    if (word.size() != 8 || value[8] != ' ')
        return; // the plug-in reports these itself
    char *p = nullptr;
    long h = std::strtol(value, &p, 10);
    if (*p == ':')
        p++;
    long m = std::strtol(p, &p, 10);
    if (*p == ':')
        p++;
    long s = std::strtol(p, &p, 10);
    bool shaped = true;
    for (int i = 0; i < 8; i++)
        shaped =
            shaped && (i == 2 || i == 5 ? word[i] == ':' : std::isdigit((unsigned char)word[i]));
    if (!shaped) {
        warn("autoannounce time %s is not hh:mm:ss: it is read as %ld:%ld:%ld", q(word).c_str(), h,
             m, s);
        return;
    }
    if (h <= 23 && m <= 59 && s <= 59)
        return;
    long total = h * 3600 + m * 60 + s;
    long days = total / 86400, rest = total % 86400;
    char when[64];
    std::snprintf(when, sizeof when, "%02ld:%02ld:%02ld %s", rest / 3600, rest / 60 % 60, rest % 60,
                  days == 1 ? "the next day" : (std::to_string(days) + " days later").c_str());
    warn("autoannounce time %s is outside 00:00:00..23:59:59: the calendar makes it %s",
         q(word).c_str(), when);
}

void Lint::setrank(const char *value)
{
    if (*value == '\0')
        return;
    CmdTable *row = findCommand(nullptr, value);
    const char *rankWord = nextWord(value);
    if (row == nullptr || rankWord == nullptr)
        return;
    int r = getRank(rankWord);
    if (r < 0 || r > RANK_DISABLE)
        return;
    int i = (int)(row - cmdTable);
    int t = ranks_.target[i];
    if (const char *targetWord = nextWord(rankWord)) {
        if (ranks_.target[i] == RANK_DISABLE)
            return;
        t = getRank(targetWord);
        if (t < 0 || t > RANK_DISABLE)
            return;
    }
    if (r == ranks_.rank[i] && t == ranks_.target[i])
        warn("setrank changes nothing: %s already has rank %s and target rank %s", row->command,
             rankName(r), rankName(t));
    ranks_.rank[i] = r;
    ranks_.target[i] = t;
}

void Lint::limitLine(int slot, const char *lp)
{
    const ParameterTable &row = parameterTable[slot];
    const char *p = skipBlanks(lp + wordLength(lp));
    if (*p == '\0')
        return; // "No ... data specified": the plug-in says so
    uint32 max = 0;
    if (row.paramMask & PM_MAXIMUM) {
        const char *next = maximum(p, slot, &max);
        if (next == p)
            return; // the rest is misread from here on; the plug-in names the words
        p = next;
    }
    if (row.paramMask & PM_ROOMID) {
        p = skipBlanks(p);
        if (wordCmp(p, "currentroom") == 0)
            p += wordLength(p);
        else
            p = maximum(p, slot, &max);
    }
    if (row.paramMask & PM_DECAY)
        p = decay(p, slot, max);
    if (row.paramMask & PM_STRING) {
        p = skipBlanks(p);
        if (slot == L_CHATGOTO && *p == '\0')
            warn("chatgoto without a phrase: the entry does nothing");
        if (slot == L_DUPIP && *p != '\0')
            dupipPattern(p);
        return;
    }
    roomWords(p);
}

const char *Lint::maximum(const char *p, int slot, uint32 *value)
{
    const char *field = kParams[slot].maxField;
    const char *w = skipBlanks(p);
    std::string word = wordAt(w);
    char *end = nullptr;
    long v = std::strtol(p, &end, 10);
    *value = v > (long)UINT32_MAX ? LIMIT_UNLIMITED : (uint32)std::max<long>(v, INT32_MIN);
    if (end == p) {
        warn("%s %s is read as 0%s", field, q(word).c_str(), zeroEffect(slot).c_str());
        return p;
    }
    if (end < w + word.size())
        warn("%s %s is read as %ld, and %s as what follows it", field, q(word).c_str(), v,
             q(std::string((const char *)end, w + word.size())).c_str());
    else if (slot == L_CHATGOTO && (v < kRoomLow || v > kRoomHigh))
        warn("chatgoto room %s is not a room number (-32768..32767)", word.c_str());
    else if (v >= (long)LIMIT_UNLIMITED)
        warn("%s %s is above 4294967294: it is read as -1%s", field, word.c_str(),
             isRate(slot) ? ", unlimited" : "");
    else if (v < -1)
        warn("%s %s is negative: it is read as %u%s", field, word.c_str(), (unsigned)*value,
             isRate(slot) ? ", so in effect it is unlimited" : "");
    return end;
}

const char *Lint::decay(const char *p, int slot, uint32 maximum)
{
    const char *field = kParams[slot].decayField;
    bool rate = isRate(slot);
    const char *w = skipBlanks(p);
    std::string word = wordAt(w);
    const char *none = rate             ? ": nothing is ever forgiven"
                       : slot == L_IDLE ? ": idle users are sent to room 0"
                                        : "";
    if (word.empty()) {
        if (rate || slot == L_IDLE)
            warn("no %s is given: it is read as 0%s", field, none);
        return p;
    }
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(p, &end);
    if (end == p) {
        warn("%s %s is read as 0%s", field, q(word).c_str(), none);
        return p;
    }
    if (end < w + word.size()) {
        warn("%s %s is read as %g, and %s as what follows it", field, q(word).c_str(), v,
             q(std::string((const char *)end, w + word.size())).c_str());
        return end;
    }
    if (std::isnan(v)) {
        warn("%s %s is not a number: it is read as 0%s", field, q(word).c_str(), none);
        return end;
    }
    if (std::isinf(v)) {
        warn("%s %s %s", field, q(word).c_str(),
             errno == ERANGE ? "overflows: it is read as inf" : "is infinite");
        return end;
    }
    if (errno == ERANGE)
        warn("%s %s underflows: it is read as %g", field, q(word).c_str(), v);
    if (rate && v < 0)
        warn("decay %s is negative: the count grows as time passes instead of being forgiven",
             word.c_str());
    else if (rate && v == 0 && maximum != 0 && maximum != LIMIT_UNLIMITED)
        warn("decay 0 on a rate limit: nothing is ever forgiven, so after %u %s%s every further "
             "one is refused",
             (unsigned)maximum, kParams[slot].noun, maximum == 1 ? "" : "s");
    if (slot == L_IDLE) {
        if (!(v > -32769.0 && v < 32768.0))
            warn("idle room %s is not a room number: idle users are never sent away", word.c_str());
        else if (v != std::trunc(v))
            warn("idle room %s is not a whole number: it is read as room %d", word.c_str(), (int)v);
    }
    return end;
}

void Lint::roomWords(const char *p)
{
    static const struct {
        const char *word;
        sint32 bits;
    } classWords[] = {{"all", RC_ALL},
                      {"public", RC_PUBLIC},
                      {"private", RC_PRIVATE},
                      {"member", RC_MEMBER},
                      {"limbo", RC_LIMBO},
                      {"warn", RC_WARN},
                      {"altmember", RC_ALTMEMBER}};
    sint32 set = 0;
    bool off = false, ranges = false;
    for (const char *w = skipBlanks(p); w != nullptr && *w != '\0'; w = nextWord(w)) {
        bool known = false;
        for (const auto &c : classWords) {
            if (wordCmp(w, c.word) == 0) {
                set |= c.bits;
                known = true;
            }
        }
        if (wordCmp(w, "nowhere") == 0 || wordCmp(w, "off") == 0) {
            set = 0;
            off = known = true;
        }
        if (!known && w[0] == 'r' && w[1] == 'm') {
            range(wordAt(w));
            ranges = true;
        }
    }
    if ((set & RC_ALL) == 0 && !ranges && !off)
        warn("the entry names no room class and no room range: it applies nowhere");
}

void Lint::range(const std::string &word)
{
    const char *digits = word.c_str() + 2;
    char *end = nullptr;
    long low = std::strtol(digits, &end, 10);
    if (end == digits) {
        warn("range %s has no room number: it is read as room 0", q(word).c_str());
        return;
    }
    long high = low;
    if (*end == '-') {
        const char *second = end + 1;
        high = std::strtol(second, &end, 10);
        if (end == second) {
            warn("range %s has no second number: it is read as rm%ld-0", q(word).c_str(), low);
            return;
        }
    }
    if (*end != '\0')
        warn("range %s: %s after the number is ignored", q(word).c_str(), q(end).c_str());
    if (low > high)
        warn("range %s runs from %ld down to %ld: it names no room", q(word).c_str(), low, high);
    else if (high < kRoomLow || low > kRoomHigh)
        warn("range %s lies outside the room numbers -32768..32767: it names no room",
             q(word).c_str());
    else if (low < kRoomLow || high > kRoomHigh)
        warn("range %s reaches beyond the room numbers -32768..32767", q(word).c_str());
}

bool isAddressPattern(const char *text)
{
    const char *p = text;
    for (int i = 0; i < 4; i++) {
        if (i > 0 && *p++ != '.')
            return false;
        if (*p == '*') {
            p++;
            continue;
        }
        int digits = 0, value = 0;
        while (std::isdigit((unsigned char)*p) && digits < 4) {
            value = value * 10 + (*p++ - '0');
            digits++;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
    }
    return *skipBlanks(p) == '\0';
}

void Lint::dupipPattern(const char *text)
{
    if (isAddressPattern(text))
        return;
    static const char *const roomWords[] = {"all",   "public", "private", "member", "altmember",
                                            "limbo", "warn",   "off",     "nowhere"};
    std::string word = wordAt(text);
    bool roomWord = std::any_of(std::begin(roomWords), std::end(roomWords),
                                [&](const char *w) { return wordCmp(text, w) == 0; }) ||
                    (text[0] == 'r' && text[1] == 'm');
    if (roomWord)
        warn("dupip takes no room words: %s is read as an address pattern and matches no address; "
             "an entry without a pattern is the one for every address",
             q(word).c_str());
    else
        warn("dupip pattern %s is not four octets of 0..255 or '*'", q(text).c_str());
}

} // namespace

Ranks currentRanks()
{
    Ranks ranks;
    for (int i = 0; i < NBR_COMMANDS; i++) {
        ranks.rank[i] = cmdTable[i].rank;
        ranks.target[i] = cmdTable[i].targetRank;
    }
    return ranks;
}

void restoreRanks(const Ranks &ranks)
{
    for (int i = 0; i < NBR_COMMANDS; i++) {
        cmdTable[i].rank = ranks.rank[i];
        cmdTable[i].targetRank = ranks.target[i];
    }
}

// Why the plug-in stops loading at this line, or "" when it reads it.
// The plug-in's line ends at a NUL byte, without its newline: it takes
// that for a line too long unless nothing follows in the file, as it does
// a last line without a newline.
static std::string stopCause(const std::string &text, bool lastInFile, bool newline)
{
    size_t nul = text.find('\0');
    if (nul != std::string::npos && !lastInFile)
        return "a NUL byte at column " + std::to_string(nul + 1) +
               " ends the line early, so the plug-in takes it for a line too long";
    bool unended = nul != std::string::npos || !newline;
    size_t length = nul != std::string::npos ? nul : text.size();
    size_t max = unended ? kLineMax - 1 : kLineMax;
    if (length > max)
        return "the line is " + std::to_string(length) + " characters long, above the " +
               std::to_string(max) + " the plug-in reads";
    return "";
}

std::vector<Diagnostic> lintText(const std::string &bytes, const Ranks &before,
                                 const std::string &file)
{
    std::vector<std::string> lines;
    for (size_t start = 0; start < bytes.size();) {
        size_t nl = bytes.find('\n', start);
        bool last = nl == std::string::npos;
        lines.push_back(bytes.substr(start, last ? std::string::npos : nl - start));
        start = last ? bytes.size() : nl + 1;
    }
    bool endsInNewline = !bytes.empty() && bytes.back() == '\n';

    std::vector<Diagnostic> out;
    Lint lint(out, before);
    int firstCR = 0, carriageReturns = 0;
    for (size_t i = 0; i < lines.size(); i++) {
        int lineno = (int)i + 1;
        std::string text = lines[i];
        bool lastInFile = i + 1 == lines.size();
        std::string cause = stopCause(text, lastInFile, !lastInFile || endsInNewline);
        if (!cause.empty()) {
            std::string rest = i + 1 == lines.size() ? ""
                               : i + 2 == lines.size()
                                   ? "; line " + std::to_string(lineno + 1) + " is not read"
                                   : "; the rest of the file (lines " + std::to_string(lineno + 1) +
                                         " to " + std::to_string(lines.size()) + ") is not read";
            Diagnostic stop{lineno, Diagnostic::Warning, cause + ": the load stops here" + rest};
            stop.stopsLoad = true;
            out.push_back(stop);
            break;
        }
        size_t nul = text.find('\0');
        if (nul != std::string::npos) {
            out.push_back({lineno, Diagnostic::Warning,
                           "a NUL byte at column " + std::to_string(nul + 1) +
                               ": the plug-in reads the line only up to it"});
            text.resize(nul);
        }
        if (!text.empty() && text.back() == '\r') {
            if (carriageReturns++ == 0)
                firstCR = lineno;
            text.pop_back(); // read as the writer meant it; said once below
        }
        lint.line(lineno, text);
    }
    if (carriageReturns > 0) {
        std::string count =
            carriageReturns == 1 ? "1 line ends" : std::to_string(carriageReturns) + " lines end";
        out.push_back({firstCR, Diagnostic::Warning,
                       count +
                           " in a carriage return, this one first (a file saved with CRLF "
                           "line ends): the plug-in reads it as part of the line's last "
                           "word, so such a word names no room class, keyword value or "
                           "rank; remove them with sed -i 's/\\r$//' " +
                           file + " or dos2unix " + file +
                           " (the problems they cause are not listed one by one)"});
    }
    return out;
}

} // namespace check
