/* vestrel: the small functions every message calls, inline, with what
 * they answer from the message's speaker record (his UserDat, rank, room,
 * the room's RoomDat and its resolved limit entries) instead of asking the
 * host again. Included at the end of vestrel.h. */
#ifndef VESTREL_INLINE_H
#define VESTREL_INLINE_H

#include <math.h>
#include <stdint.h>
#include <string.h>

/* ---- Users, rooms and the speaker ----------------------------------------- */

static inline void endSpeaker(MyState *state)
{
    state->speaker.user = nullptr;
    state->speaker.room = nullptr;
    state->speaker.rd = nullptr;
    state->speaker.limits = nullptr;
}

static inline int isOperator(const ServerUserRec *user)
{
    return user != nullptr && (user->flags & (UF_Wizard | UF_God)) != 0;
}

/* An operator's pin holds a user below the operators where he is and as
 * he is: only an operator lifts it. */
static inline int isOperatorPinned(ServerUserRec *user)
{
    return user != nullptr && (user->flags & UF_Pinned) && UserRank(user) < 2;
}

static inline UserDat *getUserDat(MyState *state, ServerUserRec *user)
{
    if (state == nullptr || user == nullptr)
        return nullptr;
    if (user == state->speaker.user)
        return state->speaker.ud;
    return (UserDat *)getPluginUserInfo(state->myPluginID, user);
}

static inline RoomDat *getRoomDat(MyState *state, ServerRoomRec *room)
{
    if (state == nullptr || room == nullptr)
        return nullptr;
    if (room == state->speaker.room)
        return state->speaker.rd;
    return (RoomDat *)getPluginRoomInfo(state->myPluginID, room);
}

static inline ServerRoomRec *getUserRoom(ServerUserRec *user)
{
    if (user == nullptr)
        return nullptr;
    return GetRoom(user->user.roomID);
}

/* 1 when the user is the speaker and still in the room he spoke in. */
static inline int isSpeakerInRoom(const MyState *state, const ServerUserRec *user)
{
    const Speaker *s = &state->speaker;
    return user != nullptr && user == s->user && s->room != nullptr &&
           user->user.roomID == s->roomID;
}

/* The user's room, from the speaker's record while he has not moved. */
static inline ServerRoomRec *roomOf(MyState *state, ServerUserRec *user)
{
    if (isSpeakerInRoom(state, user))
        return state->speaker.room;
    return getUserRoom(user);
}

static inline int rankOf(MyState *state, ServerUserRec *user)
{
    if (user != nullptr && user == state->speaker.user)
        return state->speaker.rank;
    return UserRank(user);
}

/* ---- Places ----------------------------------------------------------------- */

static inline int absDiff(int a, int b)
{
    return a > b ? a - b : b - a;
}

/* 1 when b lies within `zone` pixels of a on both axes; the scans of a
 * room ask it of every occupant or prop. */
static inline int withinZone(Point a, Point b, uint32 zone)
{
    return (uint32)absDiff(a.h, b.h) <= zone && (uint32)absDiff(a.v, b.v) <= zone;
}

/* ---- Limit lookups ---------------------------------------------------------- */

/* The class bit an entry needs to apply in this room. A member room's
 * owner chooses between the member and the alternate member limits. */
static inline sint32 roomClassOf(const ServerRoomRec *room, const RoomDat *rd)
{
    if (room->memberOwner != 0)
        return rd != nullptr && (rd->flags & RD_RLIMIT) ? RC_ALTMEMBER : RC_MEMBER;
    return (room->room.roomFlags & RF_Private) ? RC_PRIVATE : RC_PUBLIC;
}

/* The room's resolved entries (rd is its RoomDat), resolved again when
 * the load or the room's class has changed since. */
static inline LimitValue *const *roomEntries(MyState *state, ServerRoomRec *room, RoomDat *rd)
{
    sint32 cls = roomClassOf(room, rd);
    const RoomLimits *resolved = &rd->limits;
    if (resolved->generation != state->limitGeneration || resolved->roomClass != cls ||
        resolved->roomID != room->room.roomID)
        resolveRoomLimits(state, room, rd, cls);
    return resolved->entry;
}

/* The entry of slot `slot` that applies in the current user's room: what
 * getRoomLimit gives for the slot's chain, in one read while the speaker
 * is in the room whose entries his message has checked. */
static inline LimitValue *limitHere(ServerState *serverState, MyState *state, int slot)
{
    const Speaker *s = &state->speaker;
    ServerUserRec *user = serverState->currentUser;
    if (s->limits != nullptr && user == s->user && user->user.roomID == s->roomID)
        return s->limits[slot];
    return limitHereSlow(serverState, state, slot);
}

/* After a command: it may have changed the room's class, or reloaded. */
static inline void forgetSpeakerLimits(MyState *state)
{
    state->speaker.limits = nullptr;
}

/* ---- The decaying counter ---------------------------------------------------- */

/* Truncates toward zero into 32 bits; out-of-range values saturate and a
 * NaN counts as nothing, so no conversion is ever undefined. */
static inline sint32 truncToSint32(double value)
{
    if (isnan(value))
        return 0;
    if (value >= (double)INT32_MAX)
        return INT32_MAX;
    if (value <= (double)INT32_MIN)
        return INT32_MIN;
    return (sint32)value;
}

static inline sint32 clampCount(int64_t count)
{
    if (count < 0)
        return 0;
    if (count > INT32_MAX)
        return INT32_MAX;
    return (sint32)count;
}

/* The clock when the user's message came, for the speaker; else now. */
static inline time_t nowFor(const MyState *state, const ServerUserRec *user)
{
    if (user != nullptr && user == state->speaker.user)
        return state->speaker.now;
    return time(nullptr);
}

/* Counts `numActions` against the history under `limit`; 1 when over the
 * limit (overLimit has spoken). Operators and unlimited entries count
 * nothing. Times are seconds far from either end of time_t, so their
 * difference is exact. */
static inline int checkLimit(ServerState *serverState, MyState *state, ActivityHistory *hist,
                             const LimitValue *limit, UserDat *ud, int limitNumber, int numActions,
                             const char *type)
{
    ServerUserRec *user = serverState->currentUser;
    if (rankOf(state, user) >= 2 || limit->maximum == LIMIT_UNLIMITED)
        return 0;

    time_t now = nowFor(state, user);
    sint32 forgiven = truncToSint32((double)(now - hist->lastTime) * limit->decay);
    sint32 count = clampCount((int64_t)hist->numberRecent - forgiven);
    hist->numberRecent = count;
    if ((uint32)count >= limit->maximum)
        return overLimit(user, hist, limit, ud, limitNumber, numActions, type, now);

    hist->lastTime = now;
    hist->numberRecent = clampCount((int64_t)count + numActions);
    return 0;
}

/* Counts `actions` against slot `slot` of the current user's room; 1 when
 * over the limit. No entry, or no UserDat, counts nothing. */
static inline int countAgainst(ServerState *serverState, MyState *state, UserDat *ud, int slot,
                               ActivityHistory *hist, int actions, const char *type)
{
    if (ud == nullptr)
        return 0;
    LimitValue *entry = limitHere(serverState, state, slot);
    if (entry == nullptr)
        return 0;
    return checkLimit(serverState, state, hist, entry, ud, slot, actions, type);
}

/* ---- Text ------------------------------------------------------------------- */

/* rememberText of a line of `length` bytes: every block holds REMEMBER_MIN
 * bytes at the least, so a line that fits that is copied in place without
 * a look at the block. */
static inline void rememberLine(char **field, const char *text, size_t length)
{
    if (*field != nullptr && length < REMEMBER_MIN) {
        memmove(*field, text, length + 1);
        return;
    }
    rememberLongLine(field, text, length);
}

/* strcmp(line, remembered) == 0 for a line of `length` bytes and a line
 * remembered by rememberText, whose block holds REMEMBER_MIN bytes at the
 * least: eight bytes can be read from both. A line of eight bytes or more
 * has no NUL among its first eight, so two lines whose first eight bytes
 * differ differ, and most lines are told apart without a call. */
static inline int sameLine(const char *line, size_t length, const char *remembered)
{
    if (length >= 8) {
        uint64_t mine, theirs;
        memcpy(&mine, line, sizeof mine);
        memcpy(&theirs, remembered, sizeof theirs);
        if (mine != theirs)
            return 0;
    }
    return strcmp(line, remembered) == 0;
}

static inline int isCommandLine(const char *line)
{
    return line[0] == COMMAND_CHAR_1 || line[0] == COMMAND_CHAR_2;
}

/* 1 when the line may be a command, a help request or a chat-goto phrase:
 * it begins with a command character or with a byte a phrase may begin
 * with. Any other line is chat, and the interpreter has nothing to do. */
static inline int mayBeInterpreted(const MyState *state, const char *line)
{
    unsigned char first = (unsigned char)line[0];
    return isCommandLine(line) || (state->phraseStart[first / 8] & (1u << (first % 8))) != 0;
}

#endif
