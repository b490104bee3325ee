#include "oracle.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

namespace fuzz
{

namespace
{

constexpr int kGlobalBits = UD_PAGEGAG | UD_NAMEGAG | UD_LISTGAG;

// Log tags of the plug-in's operator actions.
const std::set<std::string> kOperatorTags = {
    "chat",    "signoff",   "gotoroom", "move",       "setpos",       "setface", "setcolor",
    "naked",   "dress",     "pinx",     "pagegag",    "unpagegag",    "listgag", "unlistgag",
    "namegag", "unnamegag", "name",     "propfreeze", "nolooseprops", "chatgoto"};

bool operatorLog(const std::string &line)
{
    if (line.rfind("log [", 0) != 0)
        return false;
    size_t end = line.find(']');
    return end != std::string::npos && kOperatorTags.count(line.substr(5, end - 5)) != 0;
}

// What the world showed last, for whoever reads a finding.
void dumpTranscript(World &w)
{
    const auto &t = w.host().transcript();
    size_t from = t.size() > 60 ? t.size() - 60 : 0;
    for (size_t i = from; i < t.size(); i++)
        std::fprintf(stderr, "  | %s\n", t[i].c_str());
}

[[noreturn]] void violation(World &w, const std::string &speaker, const std::string &line,
                            const std::string &what)
{
    dumpTranscript(w);
    std::fprintf(stderr, "privilege oracle: %s said \"%s\": %s\n", speaker.c_str(), line.c_str(),
                 what.c_str());
    std::abort();
}

MyState *pluginState(World &w)
{
    return static_cast<MyState *>(w.host().pluginData());
}

UserDat *userDat(ServerUserRec *u)
{
    return static_cast<UserDat *>(getPluginUserInfo(1, u));
}

RoomDat *roomDat(ServerRoomRec *r)
{
    return static_cast<RoomDat *>(getPluginRoomInfo(1, r));
}

UserState userState(ServerUserRec *u)
{
    const UserRec &r = u->user;
    UserDat *ud = userDat(u);
    int flags = ud != nullptr ? ud->flags : 0;
    std::vector<long> counters;
    if (ud != nullptr)
        counters = {static_cast<long>(ud->move.lastTime),
                    ud->move.numberRecent,
                    static_cast<long>(ud->slide.lastTime),
                    ud->slide.numberRecent,
                    ud->lastWarning,
                    ud->lastClientPos.h,
                    ud->lastClientPos.v};
    return UserState{std::string(reinterpret_cast<const char *>(r.name + 1), r.name[0] & 31),
                     r.roomID,
                     r.roomPos,
                     std::vector<AssetSpec>(r.propSpec, r.propSpec + std::min<int>(r.nbrProps, 9)),
                     r.faceNbr,
                     r.colorNbr,
                     flags & UD_ROOMSANCTIONS,
                     flags & kGlobalBits,
                     static_cast<uint16>(u->flags & UF_Pinned),
                     counters,
                     (u->flags & UF_LogonComplete) != 0};
}

// The UserDat bits that carry out a room's sanctions.
int roomBitsFor(int sanctions)
{
    return ((sanctions & RS_PIN) ? UD_RPIN : 0) | ((sanctions & RS_GAG) ? UD_RGAG : 0) |
           ((sanctions & RS_PROPGAG) ? UD_RPROPGAG : 0);
}

RoomState roomState(ServerRoomRec *r)
{
    RoomDat *rd = roomDat(r);
    RoomState s{r->memberOwner, r->room.roomFlags, rd != nullptr ? rd->flags : 0, {}, {}, 0};
    for (RoomBadActor *e = rd != nullptr ? rd->badActorList : nullptr; e != nullptr; e = e->next)
        s.banList.push_back({e->flags, e->counter, e->puid, e->ipAddress});
    if (rd != nullptr && rd->lastChat != nullptr) {
        s.lastChat = rd->lastChat;
        s.lastSpeaker = rd->lastUserID;
    }
    return s;
}

bool sameProps(const std::vector<AssetSpec> &a, const std::vector<AssetSpec> &b)
{
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(),
        [](const AssetSpec &x, const AssetSpec &y) { return x.id == y.id && x.crc == y.crc; });
}

// Whether he left his place, room or props: what an operator's pin holds.
bool movedOrUndressed(const UserState &was, const UserState &now)
{
    return now.room != was.room || now.pos.h != was.pos.h || now.pos.v != was.pos.v ||
           !sameProps(now.props, was.props);
}

// The member room the speaker owns, by the test that exempts owners.
RoomID ownRoom(ServerUserRec *u)
{
    ServerRoomRec *r = u->lastOwnedRoom;
    return r != nullptr && ownsRoomForSanctions(u, r) ? r->room.roomID : -1;
}

// A user on the server, not a guest, whose counter this is.
bool memberWithCounter(World &w, ClientID counter)
{
    for (ServerUserRec *u = w.host().state()->userList; u != nullptr; u = u->nextUser) {
        if (u->counter == counter && w.host().rankOf(u) >= 1)
            return true;
    }
    return false;
}

// The lines the plug-in answered the speaker with, from `from` on.
std::vector<std::string> answers(World &w, const std::string &who, size_t from, size_t to)
{
    std::vector<std::string> out;
    const auto &t = w.host().transcript();
    for (size_t i = from; i < to && i < t.size(); i++) {
        for (const std::string &head : {who + ": ", who + " (private): "}) {
            if (t[i].rfind(head, 0) == 0)
                out.push_back(t[i].substr(head.size()));
        }
    }
    return out;
}

// Where `name` stands in `text` as a word of its own, in any case.
std::vector<size_t> wordsOf(const std::string &text, const std::string &name)
{
    std::vector<size_t> at;
    if (name.empty())
        return at;
    auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    for (size_t i = 0; i + name.size() <= text.size(); i++) {
        bool same = true;
        for (size_t k = 0; k < name.size() && same; k++)
            same = std::tolower(static_cast<unsigned char>(text[i + k])) ==
                   std::tolower(static_cast<unsigned char>(name[k]));
        if (same && (i == 0 || !isWord(text[i - 1])) &&
            (i + name.size() == text.size() || !isWord(text[i + name.size()])))
            at.push_back(i);
    }
    return at;
}

struct Check {
    World &w;
    ServerUserRec *speaker;
    ServerUserRec *to;
    const std::string &line;
    const Snapshot &before;
    std::string who;
    RoomID own;

    [[noreturn]] void fail(const std::string &what) const { violation(w, who, line, what); }

    void noticesAndLogs() const
    {
        if (w.host().operatorNotices() != before.notices)
            fail("a notice to the operators");
        const auto &t = w.host().transcript();
        for (size_t i = before.transcriptAt; i < t.size(); i++) {
            if (operatorLog(t[i]))
                fail("an operator's log line: " + t[i]);
        }
    }

    void others() const
    {
        for (const auto &[handle, was] : before.users) {
            if (handle == who)
                continue;
            ServerUserRec *u = w.host().user(handle);
            if (u == nullptr)
                fail(handle + " was disconnected");
            UserState now = userState(u);
            if (now.name != was.name || now.face != was.face || now.color != was.color ||
                now.globalBits != was.globalBits || now.pinned != was.pinned)
                fail(handle + "'s name, face, colour or operators' gags changed");
            if (!was.loggedOn && now.loggedOn)
                continue; // his own logon's actions ran (checkWorld judges them)
            bool moved = movedOrUndressed(was, now);
            if (was.room == own && own >= 0) {
                // The owner disciplines visitors of his room, but one an
                // operator pinned is the operator's to move or undress.
                if (was.pinned && w.host().rankOf(u) < 2 && moved)
                    fail(handle + ", whom an operator pinned, was moved or undressed");
                continue;
            }
            if (moved || now.roomBits != was.roomBits || now.counters != was.counters)
                fail(handle + ", outside the speaker's room, was changed");
        }
    }

    void rooms() const
    {
        const UserState &self = before.users.at(who);
        for (const auto &[id, was] : before.rooms) {
            ServerRoomRec *r = w.host().room(id);
            if (id == own)
                continue; // his to delete, set up, discipline in and hand over
            if (r == nullptr)
                fail("room " + std::to_string(id) + ", not his, was deleted");
            RoomState now = roomState(r);
            if (now.roomFlags != was.roomFlags || now.switches != was.switches ||
                now.banList != was.banList)
                fail("room " + std::to_string(id) + ", not his, changed its switches or list");
            if (now.owner != was.owner && !(id == self.room && now.owner == speaker->counter &&
                                            w.host().rankOf(speaker) >= 1 && takeable(id)))
                fail("room " + std::to_string(id) + " changed owner");
        }
        if (own >= 0) {
            ServerRoomRec *r = w.host().room(own);
            if (r != nullptr && r->memberOwner != before.rooms.at(own).owner &&
                !memberWithCounter(w, r->memberOwner))
                fail("his room was handed to a user who may not own one");
        }
        for (ServerRoomRec *r = w.host().state()->roomList; r != nullptr; r = r->nextRoom) {
            if (before.rooms.count(r->room.roomID) == 0 &&
                !(r->memberOwner == speaker->counter && w.host().rankOf(speaker) >= 1))
                fail("room " + std::to_string(r->room.roomID) + " was made for a non-member");
        }
    }

    // The absence of the owner that rtake waits for, as it was before.
    bool takeable(RoomID id) const { return before.takeable.count(id) != 0; }

    void texts() const
    {
        if (w.host().controlTexts() != before.controlTexts)
            fail("a notice, room message or log line with a control byte");
        const UserState &was = before.users.at(who);
        if (speaker->user.roomID != was.room)
            return;
        RoomID here = speaker->user.roomID;
        auto room = before.rooms.find(here);
        ServerRoomRec *r = w.host().room(here);
        const CmdTable *row = command();
        if (room == before.rooms.end() || r == nullptr || r->memberOwner != room->second.owner ||
            (row != nullptr && std::strcmp(row->command, "rtake") == 0))
            return; // a take announces the new owner: the server's words, not his
        bool announced = w.host().roomMessages() != before.roomMessages;
        bool replied = false, repeated = false;
        const auto &t = w.host().transcript();
        std::string reply = " (private): Message from " + was.name + ": ";
        for (size_t i = before.transcriptAt; i < t.size(); i++) {
            for (const auto &[handle, user] : before.users) {
                (void)user;
                std::string head = handle + reply;
                if (t[i].rfind(head, 0) != 0)
                    continue;
                replied = true;
                // A reply that repeats his last line counts as repeated chat.
                std::string last = before.lastChat;
                for (char &c : last) {
                    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                        c = ' '; // as the reply shows it
                }
                repeated = t[i].substr(head.size()) == vh::printable(last);
            }
        }
        if (!announced && !replied)
            return;
        // A repeated line counts against the repeated-chat limit instead.
        bool spent = before.chatSpent && (announced || !repeated);
        if (spent || (was.roomBits & UD_RGAG))
            fail("an announcement or reply while gagged or past his chat limit");
        UserDat *ud = userDat(speaker);
        if (before.chatLimited && !(replied && repeated) && ud != nullptr &&
            ud->chat.lastTime != before.at)
            fail("an announcement or reply not counted against his chat limit");
    }

    // The command the line names, if it is one.
    const CmdTable *command() const
    {
        if (line.empty() || (line[0] != '`' && line[0] != '\''))
            return nullptr;
        return findCommand(pluginState(w), line.c_str() + 1);
    }

    // Whether the command looks its target up for this speaker, as the
    // interpreter decides it before any lookup.
    bool aimsAtOthers(const CmdTable *row) const
    {
        int rank = w.host().rankOf(speaker);
        ServerRoomRec *room = w.host().room(speaker->user.roomID);
        bool owner =
            (row->flags & CF_MROOM) && isRoomOwner(w.host().state(), pluginState(w), speaker, room);
        if (rank < row->targetRank && !owner)
            return false;
        return (row->flags & (CF_NAMETARGET | CF_WHISPERONLY)) || row->targetRank <= 3;
    }

    void hidden() const
    {
        const CmdTable *row = command();
        std::vector<std::string> said = answers(w, who, before.lineAt, before.answeredAt);
        // Looked up by the name he typed, or whispered to: absent.
        ServerUserRec *target = nullptr;
        std::string absent;
        if (row == nullptr || !aimsAtOthers(row)) {
            // the line names nobody the command looks up
        } else if (to != nullptr) {
            target = to;
            absent = "Whisper target not found";
        } else if (row->flags & CF_NAMETARGET) {
            const char *cp = nextWord(line.c_str());
            if (cp != nullptr) {
                target = GetServerUserByName(cp);
                absent = vh::printable(std::string("User ") + cp + " not found");
            }
        }
        if (target != nullptr && target != speaker && isHiddenFrom(target, speaker)) {
            static const std::set<std::string> beforeLookup = {
                "Sorry - you are not privileged to use that command",
                "Sorry - you are not the owner of this room",
                "Command must be given in a member room"};
            for (const std::string &a : said) {
                if (a != absent && beforeLookup.count(a) == 0)
                    fail("a hidden user was not answered as absent: " + a);
            }
        }
        // No answer names him in a spelling the speaker did not type; a
        // member room's owner is shown where he owns, and a reply names the
        // one who wrote first.
        static const std::set<std::string> nameKnown = {"rwho", "rtake", "rpage", "respond"};
        if (row != nullptr && nameKnown.count(row->command) != 0)
            return;
        // The names of the users he sees may hold a hidden user's name.
        // Answers are transcript lines, where a byte that is not printable
        // shows as \xHH: names are matched in that form.
        std::vector<std::string> seen;
        for (const std::string &a : said) {
            std::string text = a;
            for (ServerUserRec *v = w.host().state()->userList; v != nullptr; v = v->nextUser) {
                std::string name = vh::printable(userState(v).name);
                if (name.empty() || (v != speaker && isHiddenFrom(v, speaker)))
                    continue;
                for (size_t at = text.find(name); at != std::string::npos; at = text.find(name))
                    text.replace(at, name.size(), "\x01");
            }
            seen.push_back(text);
        }
        const std::string typed = vh::printable(line);
        for (ServerUserRec *u = w.host().state()->userList; u != nullptr; u = u->nextUser) {
            if (u == speaker || !isHiddenFrom(u, speaker))
                continue;
            std::string name = vh::printable(userState(u).name);
            for (const std::string &a : seen) {
                for (size_t at : wordsOf(a, name)) {
                    if (typed.find(a.substr(at, name.size())) == std::string::npos)
                        fail("an answer names a hidden user: " + a);
                }
            }
        }
    }

    void self() const
    {
        const UserState &was = before.users.at(who);
        UserState now = userState(speaker);
        ServerRoomRec *r = w.host().room(now.room);
        if (now.room != was.room && r != nullptr) {
            MyState *state = pluginState(w);
            if (getRoomLimitForRoom(w.host().state(), state, state->limits[L_GODONLY], now.room) !=
                nullptr)
                fail("he got into an owners-only room");
            if (getUserSanctions(state, speaker, r, userDat(speaker)) & RS_KICK)
                fail("he got into room " + std::to_string(now.room) + ", which kicked him");
        }
        // What the room still holds against him (an owner, now, is free).
        int held = r != nullptr ? roomBitsFor(expectedSanctions(w, speaker, r)) : 0;
        if (now.room == was.room && (was.roomBits & ~now.roomBits & held) != 0)
            fail("he shed a sanction of the room he stays in");
        // A gagged line is heard by nobody, so no room remembers it.
        if ((was.roomBits & UD_RGAG) && w.host().rankOf(speaker) < 2) {
            for (const auto &[id, then] : before.rooms) {
                ServerRoomRec *room = w.host().room(id);
                RoomState after = room != nullptr ? roomState(room) : then;
                if (after.lastSpeaker == speaker->user.userID &&
                    (then.lastSpeaker != after.lastSpeaker || then.lastChat != after.lastChat))
                    fail("room " + std::to_string(id) + " remembers a line he said gagged");
            }
        }
        if (was.pinned && now.pinned && movedOrUndressed(was, now))
            fail("he moved or changed while an operator's pin holds him");
    }
};

bool matches(const RoomBadActor *e, ServerUserRec *u, int rank)
{
    UserDat *ud = userDat(u);
    bool addressOnly = ud != nullptr && ud->clientType == 5;
    uint32_t ip = u->netAddress.ipAddress;
    if (ip != 0 && static_cast<uint32_t>(e->ipAddress) == ip)
        return true;
    if (addressOnly)
        return false;
    if (rank != 0 && u->counter != 0 && static_cast<uint32_t>(e->counter) == u->counter)
        return true;
    return u->puidCtr != 0 && static_cast<uint32_t>(e->puid) == u->puidCtr;
}

// Whether a chat line of his would be refused now: the counter's own
// arithmetic (whole seconds, forgiveness truncated), on the entry of his
// room.
bool chatSpent(World &w, ServerUserRec *u, bool *limited)
{
    MyState *state = pluginState(w);
    UserDat *ud = userDat(u);
    if (ud == nullptr || w.host().rankOf(u) >= 2)
        return false;
    LimitValue *e =
        getRoomLimitForRoom(w.host().state(), state, state->limits[L_CHAT], u->user.roomID);
    if (e == nullptr || e->maximum == LIMIT_UNLIMITED)
        return false;
    *limited = true;
    double forgiven = std::trunc(std::difftime(std::time(nullptr), ud->chat.lastTime) * e->decay);
    double count = std::max(0.0, static_cast<double>(ud->chat.numberRecent) - forgiven);
    return count >= static_cast<double>(e->maximum);
}

} // namespace

int expectedSanctions(World &w, ServerUserRec *u, ServerRoomRec *room)
{
    int rank = w.host().rankOf(u);
    if (rank >= 2)
        return 0;
    if (rank >= 1 && (u->lastOwnedRoom == room || u->lastOwnedRoom == nullptr) &&
        room->memberOwner != 0 && room->memberOwner == u->counter)
        return 0;
    RoomDat *rd = roomDat(room);
    int flags = 0;
    for (RoomBadActor *e = rd != nullptr ? rd->badActorList : nullptr; e != nullptr; e = e->next) {
        if (matches(e, u, rank))
            flags |= e->flags;
    }
    return flags;
}

void checkWorld(World &w, const std::string &what, const Snapshot &before)
{
    auto fail = [&](const std::string &why) {
        dumpTranscript(w);
        std::fprintf(stderr, "sanction oracle: after %s: %s\n", what.c_str(), why.c_str());
        std::abort();
    };
    MyState *state = pluginState(w);
    vh::Host &h = w.host();
    // One room a counter: a second leaves the first owned by nobody who can
    // manage it.
    std::map<ClientID, RoomID> owned;
    for (ServerRoomRec *r = h.state()->roomList; r != nullptr; r = r->nextRoom) {
        if (r->memberOwner == 0)
            continue;
        auto [at, fresh] = owned.emplace(r->memberOwner, r->room.roomID);
        if (!fresh)
            fail("rooms " + std::to_string(at->second) + " and " + std::to_string(r->room.roomID) +
                 " have one owner");
    }
    for (ServerUserRec *u = h.state()->userList; u != nullptr; u = u->nextUser) {
        std::string handle = h.handleOf(u);
        for (ServerRoomRec *r = h.state()->roomList; r != nullptr; r = r->nextRoom) {
            int expected = expectedSanctions(w, u, r);
            if (getUserSanctions(state, u, r, userDat(u)) != expected)
                fail(handle + "'s sanctions in room " + std::to_string(r->room.roomID) +
                     " are not " + std::to_string(expected));
        }
        ServerRoomRec *here = h.room(u->user.roomID);
        if (here == nullptr)
            continue;
        // A kick keeps out who comes; who shares an address with the one
        // kicked and stands in the room already stays until he leaves.
        auto was = before.users.find(handle);
        bool moved = was == before.users.end() || was->second.room != u->user.roomID ||
                     (!was->second.loggedOn && (u->flags & UF_LogonComplete));
        if (moved && h.rankOf(u) < 2 && (u->flags & UF_LogonComplete) && here->room.roomID != 0 &&
            (expectedSanctions(w, u, here) & RS_KICK))
            fail(handle + " stands in room " + std::to_string(here->room.roomID) +
                 ", which kicked him");
        UserDat *ud = userDat(u);
        int bits = ud != nullptr ? ud->flags & UD_ROOMSANCTIONS : 0;
        if (moved && (bits & ~roomBitsFor(expectedSanctions(w, u, here))) != 0)
            fail(handle + " bears in room " + std::to_string(here->room.roomID) +
                 " a sanction it does not hold");
    }
}

void checkName(World &w, ServerUserRec *user, const std::string &name, const Snapshot &before)
{
    UserState now = userState(user);
    auto was = before.users.find(w.host().handleOf(user));
    if (was != before.users.end() && was->second.name == now.name)
        return; // refused: what he had he keeps, whoever else took it since
    if (GetServerUserByName(now.name.c_str()) != user) {
        dumpTranscript(w);
        std::fprintf(stderr,
                     "name oracle: %s renamed himself \"%s\" and took \"%s\", which finds "
                     "another\n",
                     w.host().handleOf(user).c_str(), name.c_str(), now.name.c_str());
        std::abort();
    }
}

Snapshot snapshot(World &w, ServerUserRec *speaker)
{
    Snapshot s;
    s.ownRoom = speaker != nullptr ? ownRoom(speaker) : -1;
    for (size_t i = 0; i < w.users(); i++) {
        if (ServerUserRec *u = w.user(i))
            s.users.emplace(w.host().handleOf(u), userState(u));
    }
    MyState *state = pluginState(w);
    for (ServerRoomRec *r = w.host().state()->roomList; r != nullptr; r = r->nextRoom) {
        s.rooms.emplace(r->room.roomID, roomState(r));
        // A take the owner's absence allows, by a speaker the room does
        // not hold (its owner would bear none of its sanctions).
        if (r->memberOwner != 0 && state->rTakeDelay >= 0 &&
            findRoomOwner(w.host().state(), r) == nullptr && ownerAwayTooLong(state, r) &&
            (speaker == nullptr || getUserSanctions(state, speaker, r, userDat(speaker)) == 0))
            s.takeable.insert(r->room.roomID);
    }
    s.chatSpent = speaker != nullptr && chatSpent(w, speaker, &s.chatLimited);
    s.at = std::time(nullptr);
    UserDat *ud = speaker != nullptr ? userDat(speaker) : nullptr;
    if (ud != nullptr && ud->lastChat != nullptr)
        s.lastChat = ud->lastChat;
    s.transcriptAt = s.lineAt = s.answeredAt = w.host().transcript().size();
    s.notices = w.host().operatorNotices();
    s.controlTexts = w.host().controlTexts();
    s.roomMessages = w.host().roomMessages();
    return s;
}

void checkLine(World &w, ServerUserRec *speaker, ServerUserRec *to, const std::string &line,
               const Snapshot &before)
{
    std::string who = w.host().handleOf(speaker);
    if (before.users.count(who) == 0)
        return;
    // The room he owned when he spoke: a line that hands it over or
    // deletes it still acted in it.
    checkWorld(w, who + " said \"" + line + "\"", before);
    Check c{w, speaker, to, line, before, who, before.ownRoom};
    // A command the file disabled gives nobody an owner's rights: his own
    // room is then judged as anybody's.
    if (const CmdTable *row = c.command(); row != nullptr && row->rank >= RANK_DISABLE)
        c.own = -1;
    c.noticesAndLogs();
    c.others();
    c.rooms();
    c.texts();
    c.hidden();
    if (w.host().user(who) == speaker)
        c.self();
}

} // namespace fuzz
