// The lint of the loaded configuration: what shows only once the plug-in
// has read the whole file. Entries that earlier entries of their slot
// shadow in every room they name, an idle room that godonly keeps idle
// users out of, and the activities that no line limits.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "checker.h"

namespace check
{
namespace
{

constexpr long kRoomLow = -32768, kRoomHigh = 32767;

// One slot's room numbers cut at every range bound, with four layers of
// cells (public, private, member, altmember rooms); each cell remembers the
// first entry, in the slot's lookup order, that applies there. An entry
// that is first in no cell never applies.
class Coverage
{
  public:
    explicit Coverage(const LimitValue *chain)
    {
        starts_ = {kRoomLow, kRoomHigh + 1};
        for (const LimitValue *e = chain; e != nullptr; e = e->next) {
            for (const RoomNumbers *r = e->roomNumbers; r != nullptr; r = r->next) {
                long low, high;
                if (clip(r, &low, &high)) {
                    starts_.push_back(low);
                    starts_.push_back(high + 1);
                }
            }
        }
        std::sort(starts_.begin(), starts_.end());
        starts_.erase(std::unique(starts_.begin(), starts_.end()), starts_.end());
        cells_ = starts_.size() - 1;
        for (int c = 0; c < 4; c++) {
            owner_[c].assign(cells_, nullptr);
            next_[c].resize(cells_ + 1);
            for (size_t j = 0; j <= cells_; j++)
                next_[c][j] = j;
        }
    }

    // Paints the entry into every cell still free; whether it got any.
    bool paint(const LimitValue *e)
    {
        bool any = false;
        forEachSpan(e, [&](int c, size_t from, size_t to) {
            for (size_t j = find(c, from); j <= to && j < cells_; j = find(c, j + 1)) {
                owner_[c][j] = e;
                next_[c][j] = j + 1;
                any = true;
            }
        });
        return any;
    }

    // Whether the entry names any room at all.
    bool namesRooms(const LimitValue *e)
    {
        bool any = false;
        forEachSpan(e, [&](int, size_t, size_t) { any = true; });
        return any;
    }

    // The lines of the entries that are first where this one would apply.
    std::set<int> ownersOver(const LimitValue *e)
    {
        std::set<int> lines;
        forEachSpan(e, [&](int c, size_t from, size_t to) {
            for (size_t j = from; j <= to && j < cells_ && lines.size() < 4; j++)
                lines.insert(owner_[c][j]->line);
        });
        return lines;
    }

  private:
    static bool clip(const RoomNumbers *r, long *low, long *high)
    {
        *low = std::max<long>(r->low, kRoomLow);
        *high = std::min<long>(r->high, kRoomHigh);
        return *low <= *high;
    }

    size_t cellOf(long room) const
    {
        return (size_t)(std::upper_bound(starts_.begin(), starts_.end(), room) - starts_.begin()) -
               1;
    }

    template <class F> void forEachSpan(const LimitValue *e, F f)
    {
        static const sint32 layerBits[4] = {RC_PUBLIC, RC_PRIVATE, RC_MEMBER, RC_ALTMEMBER};
        for (const RoomNumbers *r = e->roomNumbers; r != nullptr; r = r->next) {
            long low, high;
            if (clip(r, &low, &high)) {
                for (int c = 0; c < 4; c++)
                    f(c, cellOf(low), cellOf(high));
            }
        }
        for (int c = 0; c < 4; c++) {
            if (e->roomsChecked & layerBits[c])
                f(c, 0, cells_ - 1);
        }
    }

    size_t find(int c, size_t j)
    {
        size_t root = j;
        while (next_[c][root] != root)
            root = next_[c][root];
        while (next_[c][j] != root) {
            size_t up = next_[c][j];
            next_[c][j] = root;
            j = up;
        }
        return root;
    }

    std::vector<long> starts_;
    size_t cells_ = 0;
    std::vector<const LimitValue *> owner_[4];
    std::vector<size_t> next_[4];
};

// The godonly entry that keeps everybody below god out of a room, whatever
// the room's class: one whose range holds it, or one naming every class.
const LimitValue *godOnlyEntry(const MyState *state, long room)
{
    const sint32 everyClass = RC_PUBLIC | RC_PRIVATE | RC_MEMBER | RC_ALTMEMBER;
    for (const LimitValue *g = state->limits[L_GODONLY]; g != nullptr; g = g->next) {
        if ((g->roomsChecked & everyClass) == everyClass)
            return g;
        for (const RoomNumbers *r = g->roomNumbers; r != nullptr; r = r->next) {
            if (room >= r->low && room <= r->high)
                return g;
        }
    }
    return nullptr;
}

// An idle entry whose room the entry rule refuses to the users it moves
// (operators are never moved, gods are): the move is refused, and the next
// minute's check tries it again.
void idleIntoGodOnly(const MyState *state, std::vector<Diagnostic> &out)
{
    for (const LimitValue *e = state->limits[L_IDLE]; e != nullptr; e = e->next) {
        if (e->maximum == 0 || !(e->decay > -32769.0 && e->decay < 32768.0))
            continue;
        long room = (long)e->decay;
        const LimitValue *g = godOnlyEntry(state, room);
        if (g == nullptr)
            continue;
        out.push_back({e->line, Diagnostic::Warning,
                       "idle users are sent to room " + std::to_string(room) + ", which line " +
                           std::to_string(g->line) +
                           " (godonly) keeps them out: every minute each idle user is told he "
                           "was sent to the Idle Room, is refused, and a log line is written, "
                           "without end"});
    }
}

std::string lineList(const std::set<int> &lines)
{
    std::string out;
    int n = 0;
    for (int line : lines) {
        if (n++ == 3) {
            out += " and others";
            break;
        }
        out += (out.empty() ? "" : n == (int)lines.size() ? " and " : ", ") + std::to_string(line);
    }
    return lines.size() == 1 ? "line " + out + " comes first" : "lines " + out + " come first";
}

} // namespace

std::vector<Diagnostic> lintLoaded(const MyState *state)
{
    std::vector<Diagnostic> out;
    std::string never;
    for (int slot = 0; slot < NBR_LIMITS; slot++) {
        const LimitValue *chain = state->limits[slot];
        if (chain == nullptr && kParams[slot].limiting)
            never += (never.empty() ? "" : ", ") + std::string(kParams[slot].name);
        if (slot == L_CHATGOTO || slot == L_DUPIP || chain == nullptr)
            continue;
        Coverage coverage(chain);
        std::vector<const LimitValue *> shadowed;
        for (const LimitValue *e = chain; e != nullptr; e = e->next) {
            if (!coverage.paint(e) && coverage.namesRooms(e))
                shadowed.push_back(e);
        }
        for (const LimitValue *e : shadowed)
            out.push_back({e->line, Diagnostic::Warning,
                           std::string("this ") + kParams[slot].name +
                               " entry never applies: for every room it names, " +
                               lineList(coverage.ownersOver(e))});
    }
    idleIntoGodOnly(state, out);
    std::sort(out.begin(), out.end(),
              [](const Diagnostic &a, const Diagnostic &b) { return a.line < b.line; });
    if (!never.empty())
        out.push_back({0, Diagnostic::Note,
                       "the file never names " + never + ", so what they limit is not limited"});
    // A reload never gives a command its built-in ranks back: what a
    // running server's earlier files set stays, and this check, which
    // starts from the built-in table, cannot know it.
    out.push_back({0, Diagnostic::Note,
                   "on a running server, ranks that setrank lines of earlier files gave stay after "
                   "a reload; the server's report lists every command whose ranks differ from the "
                   "built-in table"});
    return out;
}

} // namespace check
