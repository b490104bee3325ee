// vestrel-check --diff: what a reload from one parameter file to another
// would change, asked of the plug-in itself. One plug-in starts on an empty
// file, loads the old file and then reloads the new one, exactly as an
// operator's "`vestrel reload" would; after each load the policy in force
// is captured in plain values (the entry of every limit parameter in every
// room class over every room-number interval, the keywords, the command
// table, the chat-goto phrases and the address patterns; checker_policy.cpp)
// and the two captures are compared. This file holds the comparison and
// its words, the reloads and diffFiles. The host and the plug-in own
// everything loaded; a Policy owns only copies.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>

#include "checker.h"
#include "checker_policy.h"
#include "host.h"
#include "static_procs.h"

namespace check
{
namespace
{

// ---- Words ------------------------------------------------------------------

struct Side {
    const std::string &file;
    const std::vector<std::string> &lines;
};

std::string at(const Side &side, int line)
{
    return line > 0 ? " (" + side.file + ":" + std::to_string(line) + ")" : "";
}

std::string limitText(int slot, const Limit &l, const Side &side)
{
    if (!l.limited)
        return "not limited";
    const ParamInfo &p = kParams[slot];
    std::string out;
    if (p.maxField == nullptr) {
        out = "in force";
    } else {
        std::string field = std::strcmp(p.maxField, "maximum") == 0 ? "max" : p.maxField;
        out =
            field + " " + (l.maximum == LIMIT_UNLIMITED ? "unlimited" : std::to_string(l.maximum));
    }
    if (p.decayField != nullptr) {
        char number[40];
        if (std::strcmp(p.decayField, "decay") == 0)
            std::snprintf(number, sizeof number, "%g", l.decay);
        else
            std::snprintf(number, sizeof number, "%.0f", l.decay);
        out += std::string(" ") + p.decayField + " " + number;
    }
    if (!l.text.empty())
        out += " \"" + vh::printable(l.text) + "\"";
    if (l.warn)
        out += " warn";
    return out + at(side, l.line);
}

std::string roomWords(unsigned layers, long low, long high)
{
    std::string classes;
    if (layers != (1u << kLayers) - 1) {
        int n = 0, total = __builtin_popcount(layers);
        for (int c = 0; c < kLayers; c++) {
            if (!(layers & (1u << c)))
                continue;
            n++;
            classes += (n == 1 ? "" : n == total ? " and " : ", ") + std::string(kLayerWords[c]);
        }
        classes += " ";
    }
    if (low == kRoomLow && high == kRoomHigh)
        return classes.empty() ? "every room" : classes + "rooms";
    if (low == high)
        return classes + "room " + std::to_string(low);
    if (low == kRoomLow)
        return classes + "rooms up to " + std::to_string(high);
    if (high == kRoomHigh)
        return classes + "rooms " + std::to_string(low) + " and up";
    return classes + "rooms " + std::to_string(low) + "-" + std::to_string(high);
}

std::string rankWords(int rank)
{
    if (rank <= 0)
        return "everybody";
    if (rank >= RANK_DISABLE)
        return "nobody";
    return std::string(rankName(rank)) + " and up";
}

// The last line of the file whose first word is `word` and, when given,
// whose second word satisfies `second`.
template <class F>
int lastLine(const std::vector<std::string> &lines, const std::string &word, F second)
{
    for (int i = (int)lines.size(); i > 0; i--) {
        const char *p = lines[i - 1].c_str();
        while (*p == ' ' || *p == '\t')
            p++;
        if (lower(std::string(p, (size_t)wordLength(p))) == word && second(nextWord(p)))
            return i;
    }
    return 0;
}

int keywordLine(const std::vector<std::string> &lines, const std::string &keyword)
{
    std::string word = keyword.substr(0, keyword.find(' '));
    return lastLine(lines, word, [](const char *) { return true; });
}

int setrankLine(const std::vector<std::string> &lines, int row)
{
    return lastLine(lines, "setrank", [row](const char *p) {
        return p != nullptr && findCommand(nullptr, p) == &cmdTable[row];
    });
}

// ---- The comparison -------------------------------------------------------

struct Change {
    long low, high;
    unsigned layers;
    std::string what;
};

void diffLimits(const Policy &a, const Policy &b, const Side &old, const Side &now,
                const DiffFilter &filter, std::vector<std::string> &out)
{
    for (int slot = 0; slot < NBR_LIMITS; slot++) {
        if (slot == L_CHATGOTO || slot == L_DUPIP)
            continue;
        std::vector<Change> changes;
        for (int c = 0; c < kLayers; c++) {
            if (filter.layer != kAnyLayer && filter.layer != c)
                continue;
            const Steps &sa = a.rooms[slot][c], &sb = b.rooms[slot][c];
            std::vector<long> starts = sa.starts;
            starts.insert(starts.end(), sb.starts.begin(), sb.starts.end());
            std::sort(starts.begin(), starts.end());
            starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
            for (size_t i = 0; i < starts.size(); i++) {
                long low = starts[i], high = i + 1 < starts.size() ? starts[i + 1] - 1 : kRoomHigh;
                if (filter.room) {
                    if (*filter.room < low || *filter.room > high)
                        continue;
                    low = high = *filter.room;
                }
                const Limit &la = sa.at(starts[i]), &lb = sb.at(starts[i]);
                if (samePolicy(la, lb))
                    continue;
                std::string what = limitText(slot, la, old) + " -> " + limitText(slot, lb, now);
                if (!changes.empty() && changes.back().layers == (1u << c) &&
                    changes.back().what == what && changes.back().high + 1 == low)
                    changes.back().high = high;
                else
                    changes.push_back({low, high, 1u << c, what});
            }
        }
        // The same change over the same rooms in several classes is one line.
        std::vector<Change> merged;
        std::map<std::tuple<long, long, std::string>, size_t> where;
        for (const Change &ch : changes) {
            auto [it, fresh] = where.try_emplace({ch.low, ch.high, ch.what}, merged.size());
            if (fresh)
                merged.push_back(ch);
            else
                merged[it->second].layers |= ch.layers;
        }
        std::stable_sort(merged.begin(), merged.end(),
                         [](const Change &x, const Change &y) { return x.low < y.low; });
        for (const Change &ch : merged)
            out.push_back(std::string(kParams[slot].name) + " in " +
                          roomWords(ch.layers, ch.low, ch.high) + ": " + ch.what);
        bool limbo = filter.layer == kAnyLayer || filter.layer == kLimboLayer;
        if (limbo && !filter.room && !samePolicy(a.limbo[slot], b.limbo[slot]))
            out.push_back(std::string(kParams[slot].name) +
                          " for users in no room: " + limitText(slot, a.limbo[slot], old) + " -> " +
                          limitText(slot, b.limbo[slot], now));
    }
}

void diffKeywords(const Policy &a, const Policy &b, const Side &old, const Side &now,
                  std::vector<std::string> &out)
{
    std::map<std::string, std::string> all = a.keywords;
    all.insert(b.keywords.begin(), b.keywords.end());
    for (const auto &[name, unused] : all) {
        auto va = a.keywords.find(name), vb = b.keywords.find(name);
        std::string before = va != a.keywords.end() ? va->second : "none";
        std::string after = vb != b.keywords.end() ? vb->second : "removed";
        if (va != a.keywords.end() && vb != b.keywords.end() && before == after)
            continue;
        std::string from = va != a.keywords.end() ? at(old, keywordLine(old.lines, name)) : "";
        std::string to = vb != b.keywords.end() ? at(now, keywordLine(now.lines, name)) : "";
        out.push_back("keyword " + name + ": " + before + from + " -> " + after + to);
    }
}

void diffRanks(const Policy &a, const Policy &b, const Side &now, std::vector<std::string> &out)
{
    for (int i = 0; i < NBR_COMMANDS; i++) {
        std::string where = at(now, setrankLine(now.lines, i));
        if (a.rank[i] != b.rank[i])
            out.push_back(std::string("setrank ") + cmdTable[i].command + ": " +
                          rankWords(a.rank[i]) + " -> " + rankWords(b.rank[i]) + where);
        if (a.target[i] != b.target[i])
            out.push_back(std::string("setrank ") + cmdTable[i].command + ", aimed at others: " +
                          rankWords(a.target[i]) + " -> " + rankWords(b.target[i]) + where);
    }
}

std::string gotoText(const Goto &g, const Side &side)
{
    return (g.room == 0 ? std::string("the speaker's room") : "room " + std::to_string(g.room)) +
           at(side, g.line);
}

void diffGotos(const Policy &a, const Policy &b, const Side &old, const Side &now,
               std::vector<std::string> &out)
{
    std::map<std::string, int> keys;
    for (const auto &[key, g] : a.gotos)
        keys[key] |= 1;
    for (const auto &[key, g] : b.gotos)
        keys[key] |= 2;
    for (const auto &[key, sides] : keys) {
        const Goto *ga = sides & 1 ? &a.gotos.at(key) : nullptr;
        const Goto *gb = sides & 2 ? &b.gotos.at(key) : nullptr;
        if (ga != nullptr && gb != nullptr && ga->room == gb->room)
            continue;
        std::string phrase = vh::printable((gb != nullptr ? gb : ga)->phrase);
        out.push_back("chatgoto \"" + phrase + "\": " + (ga ? gotoText(*ga, old) : "none") +
                      " -> " + (gb ? gotoText(*gb, now) : "removed"));
    }
}

// A pattern's octets: -1 for *, else the number; false when it is not
// four plain octets (then it may overlap anything).
bool octets(const std::string &text, long out[4])
{
    const char *p = text.c_str();
    for (int i = 0; i < 4; i++) {
        if (*p == '*') {
            out[i] = -1;
            p++;
        } else if (std::isdigit((unsigned char)*p)) {
            char *end = nullptr;
            out[i] = std::strtol(p, &end, 10);
            p = end;
        } else {
            return false;
        }
        if (i < 3 && *p++ != '.')
            return false;
    }
    return *p == '\0';
}

// What decides a tie between two patterns: their wildcards and octets.
struct Shape {
    bool fallback; // the entry without a pattern
    bool plain;    // four octets, read as written
    int wild;
    long octet[4];
};

Shape shapeOf(const Pattern &p)
{
    Shape s{p.text.empty(), false, 4, {-1, -1, -1, -1}};
    if (!s.fallback && octets(p.text, s.octet)) {
        s.plain = true;
        s.wild = (int)std::count(s.octet, s.octet + 4, -1L);
    }
    return s;
}

// Whether the order of two patterns can decide an address: both could
// match it with the same number of wildcards.
bool orderMatters(const Shape &x, const Shape &y)
{
    if (x.fallback || y.fallback) // it serves only before any pattern that matches
        return (x.fallback ? y : x).plain ? (x.fallback ? y : x).wild == 4 : true;
    if (!x.plain || !y.plain)
        return true;
    if (x.wild != y.wild)
        return false;
    for (int i = 0; i < 4; i++) {
        if (x.octet[i] != -1 && y.octet[i] != -1 && x.octet[i] != y.octet[i])
            return false;
    }
    return true;
}

std::string patternName(const Pattern &p)
{
    return p.text.empty() ? std::string("dupip without a pattern")
                          : "dupip \"" + vh::printable(p.text) + "\"";
}

void diffPatterns(const Policy &a, const Policy &b, const Side &old, const Side &now,
                  std::vector<std::string> &out)
{
    auto index = [](const Policy &p) {
        std::map<std::string, size_t> at;
        for (size_t i = 0; i < p.patterns.size(); i++)
            at.emplace(p.patterns[i].text, i);
        return at;
    };
    std::map<std::string, size_t> inA = index(a), inB = index(b);
    auto count = [](const Pattern &p, const Side &side) {
        return std::to_string(p.count) + " other connection" + (p.count == 1 ? "" : "s") +
               at(side, p.line);
    };
    std::vector<long> positionInB(a.patterns.size(), -1);
    for (size_t i = 0; i < a.patterns.size(); i++) {
        const Pattern &pa = a.patterns[i];
        auto pb = inB.find(pa.text);
        if (pb == inB.end()) {
            out.push_back(patternName(pa) + ": " + count(pa, old) + " -> removed");
            continue;
        }
        positionInB[i] = (long)pb->second;
        const Pattern &now_ = b.patterns[pb->second];
        if (now_.count != pa.count)
            out.push_back(patternName(pa) + ": " + count(pa, old) + " -> " + count(now_, now));
    }
    for (const Pattern &pb : b.patterns) {
        if (inA.count(pb.text) == 0)
            out.push_back(patternName(pb) + ": none -> " + count(pb, now));
    }
    // Patterns kept in both whose order flipped where the order decides:
    // one line for each pattern that now comes after an earlier one.
    std::vector<Shape> shapes;
    for (const Pattern &p : a.patterns)
        shapes.push_back(shapeOf(p));
    for (size_t i = 0; i < a.patterns.size(); i++) {
        for (size_t j = i + 1; j < a.patterns.size(); j++) {
            if (positionInB[i] < 0 || positionInB[j] < 0 || positionInB[i] < positionInB[j] ||
                !orderMatters(shapes[i], shapes[j]))
                continue;
            out.push_back(patternName(a.patterns[i]) + " before " + patternName(a.patterns[j]) +
                          at(old, a.patterns[i].line) + " -> after it" +
                          at(now, b.patterns[(size_t)positionInB[i]].line));
            break;
        }
    }
}

std::vector<std::string> readLines(const std::string &path)
{
    std::vector<std::string> lines;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return lines;
    std::string line;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += (char)c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    std::fclose(f);
    return lines;
}

// Loads `path` into the running plug-in as a reload would: 0 the file was
// refused and the configuration in force stays, 1 loaded, 2 loaded in part.
int reload(vh::Host &host, MyState *state, const std::string &path)
{
    std::string copy = path;
    char *saved = state->argv[1];
    state->argv[1] = copy.data();
    host.clearTranscript();
    int whole = loadParameterFile(state, nullptr);
    state->argv[1] = saved;
    bool refused = false;
    for (const std::string &line : host.transcript()) {
        refused = refused || line.find("]: Open failed ") != std::string::npos ||
                  line.find("]: Read failed ") != std::string::npos;
    }
    host.clearTranscript();
    return refused ? 0 : whole ? 1 : 2;
}

} // namespace

DiffResult diffFiles(const std::string &oldFile, const std::string &newFile,
                     const DiffFilter &filter)
{
    DiffResult result;
    vh::Host host;
    if (!host.attachPlugin(staticProcs(), "/dev/null")) {
        result.lines.push_back("vestrel-check: the plug-in did not start");
        return result;
    }
    MyState *state = static_cast<MyState *>(host.pluginData());
    Probes probes = makeProbes(host, state);
    Ranks builtIn = currentRanks();

    Policy policies[2];
    const std::string *files[2] = {&oldFile, &newFile};
    for (int i = 0; i < 2 && result.status != 2; i++) {
        int loaded = reload(host, state, *files[i]);
        if (loaded == 0) {
            result.lines.push_back("vestrel-check: " + *files[i] + " cannot be read");
            result.status = 2;
        } else if (loaded == 2) {
            result.lines.push_back(*files[i] +
                                   ": warning: the file loads only in part; it is compared as "
                                   "the plug-in would leave it (vestrel-check " +
                                   *files[i] + " says why)");
        }
        policies[i] = capture(state, probes);
    }
    host.shutdown();
    restoreRanks(builtIn);
    if (result.status == 2)
        return result;

    std::vector<std::string> oldLines = readLines(oldFile), newLines = readLines(newFile);
    Side old{oldFile, oldLines}, now{newFile, newLines};
    std::vector<std::string> &out = result.lines;
    size_t warnings = out.size();
    diffLimits(policies[0], policies[1], old, now, filter, out);
    diffKeywords(policies[0], policies[1], old, now, out);
    diffRanks(policies[0], policies[1], now, out);
    diffGotos(policies[0], policies[1], old, now, out);
    diffPatterns(policies[0], policies[1], old, now, out);
    result.status = out.size() > warnings ? 1 : 0;
    if (result.status == 0)
        out.push_back("vestrel-check: " + oldFile + " and " + newFile + " do the same");
    return result;
}

} // namespace check
