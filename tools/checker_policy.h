// The policy a load leaves, for vestrel-check --diff: every limit
// parameter's entry per room class over the room numbers, the keywords,
// the command ranks, the chat-goto phrases and the address patterns, in
// plain values. Captured by checker_policy.cpp, compared by
// checker_diff.cpp. A Policy owns copies only; the plug-in owns what it
// loaded.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "checker.h"

namespace check
{

constexpr long kRoomLow = -32768, kRoomHigh = 32767;
constexpr int kLayers = 4; // public, private, member, altmember rooms
const char *const kLayerWords[kLayers] = {"public", "private", "member", "altmember"};

// One limit entry as policy: what it does and the line it came from.
struct Limit {
    bool limited = false;
    uint32 maximum = 0;
    double decay = 0;
    std::string text;
    bool warn = false;
    int line = 0;
};

// A slot's entries as a step function over room numbers, per class.
struct Steps {
    std::vector<long> starts;
    std::vector<Limit> values;
    const Limit &at(long room) const
    {
        size_t i = (size_t)(std::upper_bound(starts.begin(), starts.end(), room) - starts.begin());
        return values[i - 1];
    }
};

struct Goto {
    std::string phrase;
    long room;
    int line;
};

struct Pattern {
    std::string text; // empty: the fallback entry without a pattern
    uint32 count;
    int line;
};

struct Policy {
    Steps rooms[NBR_LIMITS][kLayers];
    Limit limbo[NBR_LIMITS];
    std::map<std::string, std::string> keywords;
    int rank[NBR_COMMANDS], target[NBR_COMMANDS];
    std::map<std::string, Goto> gotos; // by phrase in lower case
    std::vector<Pattern> patterns;     // the entries that can decide, in order
};

// One room of each class; the capture moves it about the room numbers.
struct Probes {
    ServerRoomRec *room[kLayers];
};

bool samePolicy(const Limit &a, const Limit &b);
Probes makeProbes(vh::Host &host, MyState *state);
std::string lower(std::string text);
Policy capture(MyState *state, Probes &probes);

} // namespace check
