// The capture for vestrel-check --diff: the policy the running plug-in is
// left with after a load, asked of its own lookup with a probe room of
// each class moved across the room numbers, and read from its keywords,
// command table and lists. The host owns the probe rooms; the Policy holds
// copies.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "checker_policy.h"
#include "host.h"

namespace check
{

bool samePolicy(const Limit &a, const Limit &b)
{
    if (!a.limited || !b.limited)
        return a.limited == b.limited;
    bool sameDecay = a.decay == b.decay || (std::isnan(a.decay) && std::isnan(b.decay));
    return a.maximum == b.maximum && sameDecay && a.text == b.text && a.warn == b.warn;
}

Probes makeProbes(vh::Host &host, MyState *state)
{
    Probes p;
    for (int c = 0; c < kLayers; c++)
        p.room[c] = makeRoom(host, state, (RoomID)(c + 1), kLayerWords[c]);
    return p;
}

std::string lower(std::string text)
{
    for (char &c : text)
        c = (char)std::tolower((unsigned char)c);
    return text;
}

namespace
{

Limit limitOf(const LimitValue *e)
{
    Limit l;
    if (e == nullptr)
        return l;
    l.limited = true;
    l.maximum = e->maximum;
    l.decay = e->decay;
    l.text = e->string != nullptr ? e->string : "";
    l.warn = (e->roomsChecked & RC_WARN) != 0;
    l.line = e->line;
    return l;
}

void captureLimits(MyState *state, Probes &probes, Policy &policy)
{
    for (int slot = 0; slot < NBR_LIMITS; slot++) {
        if (slot == L_CHATGOTO || slot == L_DUPIP)
            continue;
        LimitValue *chain = state->limits[slot];
        std::vector<long> bounds = {kRoomLow};
        for (const LimitValue *e = chain; e != nullptr; e = e->next) {
            for (const RoomNumbers *r = e->roomNumbers; r != nullptr; r = r->next) {
                long low = std::max<long>(r->low, kRoomLow),
                     high = std::min<long>(r->high, kRoomHigh);
                if (low > high)
                    continue;
                bounds.push_back(low);
                if (high < kRoomHigh)
                    bounds.push_back(high + 1);
            }
        }
        std::sort(bounds.begin(), bounds.end());
        bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
        for (int c = 0; c < kLayers; c++) {
            ServerRoomRec *room = probes.room[c];
            RoomID home = room->room.roomID;
            Steps &steps = policy.rooms[slot][c];
            for (long b : bounds) {
                room->room.roomID = (RoomID)b;
                Limit l = limitOf(getRoomLimitInRoom(state, chain, room));
                if (!steps.values.empty() && samePolicy(steps.values.back(), l) &&
                    steps.values.back().line == l.line)
                    continue;
                steps.starts.push_back(b);
                steps.values.push_back(l);
            }
            room->room.roomID = home;
        }
        policy.limbo[slot] = limitOf(getRoomLimitInRoom(state, chain, nullptr));
    }
}

std::string yesNo(int value)
{
    return value ? "yes" : "no";
}

std::string offOrNumber(int value)
{
    return value == -1 ? "off" : std::to_string(value);
}

void captureKeywords(const MyState *s, Policy &policy)
{
    auto text = [](const char *t, const char *none) {
        return t != nullptr ? "\"" + vh::printable(t) + "\"" : std::string(none);
    };
    policy.keywords = {
        {"gpagelength", std::to_string(s->gpageLengthLimit)},
        {"gpageresponse", text(s->gpageResponse, "none")},
        {"guestwiz", yesNo(s->guestWiz)},
        {"hideoperators", yesNo(s->hideops)},
        {"memberrwho", yesNo(s->memberRWho)},
        {"mroombg", text(s->mRoomBG, "off")},
        {"mroomdiscipline", offOrNumber(s->mroomdiscipline)},
        {"pagelength", std::to_string(s->pageLengthLimit)},
        {"pageresponse", text(s->pageResponse, "none")},
        {"rownerinroom", yesNo(s->rownerInRoom)},
        {"rtakedelay", offOrNumber(s->rTakeDelay)},
        {"wizinmemberrooms", yesNo(s->wizInMemberRooms)},
    };
    for (const AutoAnnounce *a = s->autoannounce; a != nullptr; a = a->next)
        policy.keywords["autoannounce " + std::string(a->time) + " \"" + vh::printable(a->message) +
                        "\""] = "daily";
}

void captureLists(const MyState *state, Policy &policy)
{
    for (const LimitValue *e = state->limits[L_CHATGOTO]; e != nullptr; e = e->next) {
        if (e->string != nullptr)
            policy.gotos.emplace(lower(e->string),
                                 Goto{e->string, (long)(sint32)e->maximum, e->line});
    }
    // A later entry with an earlier one's pattern, or a second fallback,
    // never decides: the earlier one wins every tie.
    std::vector<std::string> seen;
    for (const LimitValue *e = state->limits[L_DUPIP]; e != nullptr; e = e->next) {
        std::string text = e->string != nullptr ? e->string : "";
        if (std::find(seen.begin(), seen.end(), text) != seen.end())
            continue;
        seen.push_back(text);
        policy.patterns.push_back({text, e->maximum, e->line});
    }
}

} // namespace

Policy capture(MyState *state, Probes &probes)
{
    Policy policy;
    captureLimits(state, probes, policy);
    captureKeywords(state, policy);
    for (int i = 0; i < NBR_COMMANDS; i++) {
        policy.rank[i] = cmdTable[i].rank;
        policy.target[i] = cmdTable[i].targetRank;
    }
    captureLists(state, policy);
    return policy;
}

} // namespace check
