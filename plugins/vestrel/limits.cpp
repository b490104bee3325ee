/* Activity limits: the thirty limit slots with their built-in defaults, the
 * lookup of the entry that applies in a room, and the decaying counter. */
#include <ctype.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "vestrel.h"

#define RC_PUBLIC_PRIVATE_MEMBER (RC_PUBLIC | RC_PRIVATE | RC_MEMBER)

/* Built-in defaults: roomsChecked, maximum, decay. They have no ranges and
 * no text, so copies may share those (null) pointers. */
static const LimitValue zoneDefault = {nullptr, nullptr, RC_PUBLIC, 12, 0.0, nullptr, 0, nullptr};
static const LimitValue spoofDefault = {nullptr, nullptr, RC_PUBLIC, 0, 0.0, nullptr, 0, nullptr};
static const LimitValue pageDefault = {nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER, 1, 0.5, nullptr,
                                       0,       nullptr};
static const LimitValue reppageDefault = {
    nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER, 1, 0.1, nullptr, 0, nullptr};
static const LimitValue chatDefault = {nullptr, nullptr, RC_PUBLIC, 10, 1.0, nullptr, 0, nullptr};
static const LimitValue repchatDefault = {nullptr, nullptr, RC_PUBLIC, 10,
                                          1.0,     nullptr, 0,         nullptr};
static const LimitValue propdropDefault = {nullptr, nullptr, RC_PUBLIC, 10,
                                           1.0,     nullptr, 0,         nullptr};
static const LimitValue roommsgDefault = {nullptr, nullptr, RC_PUBLIC, 0, 0.2, nullptr, 0, nullptr};
static const LimitValue facechangeDefault = {nullptr, nullptr, RC_PUBLIC, 10,
                                             0.5,     nullptr, 0,         nullptr};
static const LimitValue avatarchangeDefault = {nullptr, nullptr, RC_PUBLIC, 40,
                                               2.0,     nullptr, 0,         nullptr};
static const LimitValue moveDefault = {nullptr, nullptr, RC_PUBLIC, 30, 0.2, nullptr, 0, nullptr};
static const LimitValue slideDefault = {nullptr, nullptr, RC_PUBLIC, 30, 0.2, nullptr, 0, nullptr};
static const LimitValue spotstateDefault = {nullptr, nullptr, RC_PUBLIC, 30,
                                            0.5,     nullptr, 0,         nullptr};
static const LimitValue namechangeDefault = {nullptr, nullptr, RC_PUBLIC, 40,
                                             2.0,     nullptr, 0,         nullptr};
static const LimitValue avatarzoneDefault = {nullptr, nullptr, RC_PUBLIC, 12,
                                             0.0,     nullptr, 0,         nullptr};
static const LimitValue gpageDefault = {nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER, 1, 0.5, nullptr,
                                        0,       nullptr};
static const LimitValue rpageDefault = {nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER, 1, 0.5, nullptr,
                                        0,       nullptr};
static const LimitValue roompageDefault = {
    nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER, 1, 0.5, nullptr, 0, nullptr};
static const LimitValue roomgotoDefault = {
    nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER, 10, 0.1, nullptr, 0, nullptr};
static const LimitValue drawDefault = {nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER, 50, 0.1, nullptr,
                                       0,       nullptr};
static const LimitValue idleDefault = {nullptr, nullptr, RC_PUBLIC, 0, 120.0, nullptr, 0, nullptr};

struct SlotDefinition {
    const char *name;
    const LimitValue *defaultValue;
    sint32 paramMask;
};

static const SlotDefinition slotDefinitions[NBR_LIMITS] = {
    {"zone", &zoneDefault, PM_MAXIMUM},
    {"spoof", &spoofDefault, 0},
    {"page", &pageDefault, PM_MAXIMUM | PM_DECAY},
    {"reppage", &reppageDefault, PM_MAXIMUM | PM_DECAY},
    {"chat", &chatDefault, PM_MAXIMUM | PM_DECAY},
    {"repchat", &repchatDefault, PM_MAXIMUM | PM_DECAY},
    {"propdrop", &propdropDefault, PM_MAXIMUM | PM_DECAY},
    {"roommsg", &roommsgDefault, PM_MAXIMUM | PM_DECAY},
    {"facechange", &facechangeDefault, PM_MAXIMUM | PM_DECAY},
    {"avatarchange", &avatarchangeDefault, PM_MAXIMUM | PM_DECAY},
    {"move", &moveDefault, PM_MAXIMUM | PM_DECAY},
    {"slide", &slideDefault, PM_MAXIMUM | PM_DECAY},
    {"spotstatechange", &spotstateDefault, PM_MAXIMUM | PM_DECAY},
    {"chatgoto", nullptr, PM_STRING | PM_ROOMID},
    {"clearlooseprops", nullptr, PM_MAXIMUM},
    {"nodupavatars", nullptr, 0},
    {"namechange", &namechangeDefault, PM_MAXIMUM | PM_DECAY},
    {"take", nullptr, 0},
    {"dupip", nullptr, PM_MAXIMUM | PM_STRING},
    {"godonly", nullptr, 0},
    {"avatarzone", &avatarzoneDefault, PM_MAXIMUM},
    {"mimick", nullptr, PM_MAXIMUM},
    {"pinx", nullptr, PM_MAXIMUM | PM_DECAY},
    {"newroom", nullptr, PM_MAXIMUM | PM_DECAY},
    {"gpage", &gpageDefault, PM_MAXIMUM | PM_DECAY},
    {"rpage", &rpageDefault, PM_MAXIMUM | PM_DECAY},
    {"roompage", &roompageDefault, PM_MAXIMUM | PM_DECAY},
    {"roomgoto", &roomgotoDefault, PM_MAXIMUM | PM_DECAY},
    {"draw", &drawDefault, PM_MAXIMUM | PM_DECAY},
    {"idle", &idleDefault, PM_MAXIMUM | PM_DECAY},
};

/* Row NBR_LIMITS stays zero: its null name ends a search by name. */
ParameterTable parameterTable[NBR_LIMITS + 1];

/* ---- Slots ------------------------------------------------------------- */

static LimitValue *makeDefault(const LimitValue *value)
{
    LimitValue *copy = (LimitValue *)NewPtr(sizeof(LimitValue));
    if (copy != nullptr)
        *copy = *value;
    return copy;
}

void setParameter(MyState *state, int index, const char *name, const LimitValue *value,
                  sint32 paramMask)
{
    parameterTable[index].name = name;
    parameterTable[index].defaultValue = value;
    parameterTable[index].index = index;
    parameterTable[index].paramMask = paramMask;

    state->limits[index] = nullptr;
    if (value == nullptr)
        return;
    state->limits[index] = makeDefault(value);
    if (state->limits[index] == nullptr)
        FormattedLogMessage(nullptr, "vestrel", "Unable to get memory for LimitValue, init failed");
}

/* Every room's resolved entries go stale at once. */
static void limitsChanged(MyState *state)
{
    state->limitGeneration++;
    if (state->limitGeneration == 0)
        state->limitGeneration = 1;
}

void setDefaultParameters(MyState *state)
{
    limitsChanged(state);
    for (int slot = 0; slot < NBR_LIMITS; slot++) {
        const SlotDefinition *def = &slotDefinitions[slot];
        setParameter(state, slot, def->name, def->defaultValue, def->paramMask);
    }
}

void freeLimitList(LimitValue *first)
{
    while (first != nullptr) {
        LimitValue *entry = first;
        first = entry->next;
        while (entry->roomNumbers != nullptr) {
            RoomNumbers *range = entry->roomNumbers;
            entry->roomNumbers = range->next;
            DisposePtr((Ptr)range);
        }
        if (entry->string != nullptr)
            DisposePtr(entry->string);
        DisposePtr((Ptr)entry);
    }
}

/* ---- Lookup ------------------------------------------------------------ */

static int rangeContains(const LimitValue *entry, sint32 roomNumber)
{
    for (const RoomNumbers *range = entry->roomNumbers; range != nullptr; range = range->next) {
        if (roomNumber >= range->low && roomNumber <= range->high)
            return 1;
    }
    return 0;
}

static sint32 roomClass(MyState *state, ServerRoomRec *room)
{
    return roomClassOf(room, getRoomDat(state, room));
}

/* The entry of the chain that applies in a room (null: the user is in no
 * room): the first, in chain order, that names the room in a range or has
 * the room's class. */
static LimitValue *walkInRoom(MyState *state, LimitValue *first, ServerRoomRec *room)
{
    if (room == nullptr) {
        /* A user in no room meets the first entry with any class bit. */
        for (LimitValue *entry = first; entry != nullptr; entry = entry->next) {
            if (entry->roomsChecked != 0)
                return entry;
        }
        return nullptr;
    }

    sint32 roomNumber = room->room.roomID;
    sint32 cls = roomClass(state, room);
    for (LimitValue *entry = first; entry != nullptr; entry = entry->next) {
        if (rangeContains(entry, roomNumber) || (entry->roomsChecked & cls) != 0)
            return entry;
    }
    return nullptr;
}

LimitValue *walkRoomLimit(MyState *state, LimitValue *first, RoomID roomID)
{
    return walkInRoom(state, first, GetRoom(roomID));
}

/* ---- The lookup index -------------------------------------------------------- */

/* For one slot: the room numbers split into intervals at every range
 * bound, each with the first ranged entry that covers it, and the first
 * entry of each room class. The entry the walk gives is the earlier, in
 * chain order, of the interval's and the class's: two lookups, whatever
 * the length of the chain. */
struct LimitIndex {
    int intervals;
    sint32 *starts;        /* ascending; interval j is starts[j] .. starts[j+1] - 1 */
    int *rangedPos;        /* chain position of the interval's entry; NO_ENTRY: none */
    LimitValue **ranged;   /* that entry */
    int classPos[RC_BITS]; /* per class bit, the first entry that has it */
    LimitValue *byClass[RC_BITS];
    LimitValue *anyClass; /* the first entry with any class bit */
};

#define NO_ENTRY 0x7FFFFFFF
#define ROOM_LOW (-32768) /* the room numbers a RoomID can hold */
#define ROOM_HIGH 32767

static sint32 clampRoom(sint32 n)
{
    return n < ROOM_LOW ? ROOM_LOW : (n > ROOM_HIGH + 1 ? ROOM_HIGH + 1 : n);
}

/* The bit number of a room class that roomClass gives. */
static int classBit(sint32 cls)
{
    switch (cls) {
    case RC_PUBLIC:
        return 0;
    case RC_PRIVATE:
        return 1;
    case RC_MEMBER:
        return 2;
    case RC_ALTMEMBER:
        return 4;
    default:
        return -1;
    }
}

/* The interval holding room number n: the last start at or below it. */
static int intervalOf(const LimitIndex *index, sint32 n)
{
    int lo = 0, hi = index->intervals - 1;
    while (lo < hi) {
        int mid = lo + (hi - lo + 1) / 2;
        if (index->starts[mid] <= n)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

static void freeIndex(LimitIndex *index)
{
    if (index == nullptr)
        return;
    if (index->starts != nullptr)
        DisposePtr((Ptr)index->starts);
    if (index->rangedPos != nullptr)
        DisposePtr((Ptr)index->rangedPos);
    if (index->ranged != nullptr)
        DisposePtr((Ptr)index->ranged);
    DisposePtr((Ptr)index);
}

/* The room numbers a RoomID can hold, one bit each, marked at every
 * interval start, with the count of marks before each word: the starts
 * come out sorted and unique, and a number's interval is one count away
 * (a sort and a binary search per range bound cost a file of thousands of
 * ranged lines more than its reading). ROOM_LOW, always a start, is not
 * marked, so that only the words from the first mark to the last
 * (lowWord..highWord) are cleared and counted: most files name a few
 * hundred rooms of the 65,536. Lives while one index is built. */
#define ROOM_WORDS ((ROOM_HIGH - ROOM_LOW + 1) / 64)
struct StartSet {
    int lowWord, highWord; /* no mark outside them; lowWord > highWord: none */
    int marks;             /* marks in all */
    uint64_t bits[ROOM_WORDS];
    int before[ROOM_WORDS];
};

/* The bit of a start, or -1 for one that needs no mark. */
static int startBit(sint32 n)
{
    if (n <= ROOM_LOW || n > ROOM_HIGH)
        return -1; /* ROOM_LOW is always a start; past the last room none is */
    return (int)(n - ROOM_LOW);
}

static void widenSpan(StartSet *set, sint32 n)
{
    int i = startBit(n);
    if (i < 0)
        return;
    if (i / 64 < set->lowWord)
        set->lowWord = i / 64;
    if (i / 64 > set->highWord)
        set->highWord = i / 64;
}

static void markStart(StartSet *set, sint32 n)
{
    int i = startBit(n);
    if (i >= 0)
        set->bits[i / 64] |= (uint64_t)1 << (i % 64);
}

/* The interval holding room number n: the starts at or below it, less one
 * (ROOM_LOW's, unmarked, and the marks cancel the one). */
static int intervalIn(const StartSet *set, sint32 n)
{
    uint32 i = (uint32)(n - ROOM_LOW);
    int w = (int)(i / 64);
    if (w < set->lowWord)
        return 0;
    if (w > set->highWord)
        return set->marks;
    uint64_t upTo = set->bits[w] & (~(uint64_t)0 >> (63 - i % 64));
    return set->before[w] + __builtin_popcountll(upTo);
}

/* Hands `take` the starts of every range in the chain: its lower bound,
 * and the number after its upper one, clamped to the room numbers. */
static void eachStart(LimitValue *first, StartSet *set, void (*take)(StartSet *, sint32))
{
    for (LimitValue *e = first; e != nullptr; e = e->next) {
        for (RoomNumbers *r = e->roomNumbers; r != nullptr; r = r->next) {
            if (r->low > r->high)
                continue;
            take(set, clampRoom(r->low));
            take(set, clampRoom(r->high >= ROOM_HIGH ? ROOM_HIGH + 1 : r->high + 1));
        }
    }
}

/* Every range bound, clamped to the room numbers, sorted and unique. */
static int collectStarts(LimitValue *first, LimitIndex *index, StartSet *set)
{
    set->lowWord = ROOM_WORDS;
    set->highWord = -1;
    eachStart(first, set, widenSpan);
    for (int w = set->lowWord; w <= set->highWord; w++)
        set->bits[w] = 0;
    eachStart(first, set, markStart);
    int count = 0;
    for (int w = set->lowWord; w <= set->highWord; w++) {
        set->before[w] = count;
        count += __builtin_popcountll(set->bits[w]);
    }
    set->marks = count;
    index->starts = (sint32 *)NewPtr((sint32)(sizeof(sint32) * (size_t)(count + 1)));
    if (index->starts == nullptr)
        return 0;
    int n = 0;
    index->starts[n++] = ROOM_LOW;
    for (int w = set->lowWord; w <= set->highWord; w++) {
        for (uint64_t bits = set->bits[w]; bits != 0; bits &= bits - 1)
            index->starts[n++] = ROOM_LOW + w * 64 + __builtin_ctzll(bits);
    }
    index->intervals = count + 1;
    return 1;
}

/* The first interval at or after j that no entry has taken yet; `next`
 * links taken intervals onwards, shortened on the way. */
static int firstFree(int *next, int j)
{
    int root = j;
    while (next[root] != root)
        root = next[root];
    while (next[j] != root) {
        int up = next[j];
        next[j] = root;
        j = up;
    }
    return root;
}

/* Each interval takes the first ranged entry, in chain order, that covers
 * it; every interval is taken once, so the cost stays near the number of
 * ranges and intervals. */
static int paintRanges(LimitValue *first, LimitIndex *index, const StartSet *set)
{
    int n = index->intervals;
    index->rangedPos = (int *)NewPtr((sint32)(sizeof(int) * (size_t)n));
    index->ranged = (LimitValue **)NewPtrClear((sint32)(sizeof(LimitValue *) * (size_t)n));
    int *next = (int *)NewPtr((sint32)(sizeof(int) * (size_t)(n + 1)));
    if (index->rangedPos == nullptr || index->ranged == nullptr || next == nullptr) {
        if (next != nullptr)
            DisposePtr((Ptr)next);
        return 0;
    }
    for (int j = 0; j < n; j++)
        index->rangedPos[j] = NO_ENTRY;
    for (int j = 0; j <= n; j++)
        next[j] = j; /* next[n] stays: past the last interval */

    int pos = 0;
    for (LimitValue *e = first; e != nullptr; e = e->next, pos++) {
        for (RoomNumbers *r = e->roomNumbers; r != nullptr; r = r->next) {
            if (r->low > r->high || r->high < ROOM_LOW || r->low > ROOM_HIGH)
                continue;
            int a = intervalIn(set, clampRoom(r->low));
            int b = intervalIn(set, r->high > ROOM_HIGH ? ROOM_HIGH : r->high);
            for (int j = firstFree(next, a); j <= b; j = firstFree(next, j)) {
                index->rangedPos[j] = pos;
                index->ranged[j] = e;
                next[j] = j + 1;
            }
        }
    }
    DisposePtr((Ptr)next);
    return 1;
}

static LimitIndex *buildIndex(LimitValue *first)
{
    LimitIndex *index = (LimitIndex *)NewPtrClear(sizeof(LimitIndex));
    if (index == nullptr)
        return nullptr;
    int ranged = 0;
    int pos = 0;
    for (int b = 0; b < RC_BITS; b++)
        index->classPos[b] = NO_ENTRY;
    for (LimitValue *e = first; e != nullptr; e = e->next, pos++) {
        if (e->roomNumbers != nullptr)
            ranged = 1;
        for (int b = 0; b < RC_BITS; b++) {
            if ((e->roomsChecked & (1 << b)) && index->classPos[b] == NO_ENTRY) {
                index->classPos[b] = pos;
                index->byClass[b] = e;
            }
        }
        if (e->roomsChecked != 0 && index->anyClass == nullptr)
            index->anyClass = e;
    }
    if (!ranged)
        return index; /* class entries only: no intervals */
    /* Not cleared: collectStarts clears the words it uses. */
    StartSet *set = (StartSet *)NewPtr(sizeof(StartSet));
    int built =
        set != nullptr && collectStarts(first, index, set) && paintRanges(first, index, set);
    if (set != nullptr)
        DisposePtr((Ptr)set);
    if (!built) {
        freeIndex(index);
        return nullptr;
    }
    return index;
}

/* Every chain gets one, so that a lookup costs two reads whatever the
 * chain holds; the chain's first entry holds it, until the chain changes. */
/* The bytes a line must begin with to be some phrase: strcmpci compares
 * the first bytes lower-cased, so a byte is marked when it lower-cases to
 * the lower-cased first byte of a phrase. */
static void indexPhrases(MyState *state)
{
    memset(state->phraseStart, 0, sizeof state->phraseStart);
    for (const LimitValue *e = state->limits[L_CHATGOTO]; e != nullptr; e = e->next) {
        if (e->string == nullptr)
            continue;
        int first = tolower((unsigned char)e->string[0]);
        for (int b = 0; b < 256; b++) {
            if (tolower(b) == first)
                state->phraseStart[b / 8] |= (unsigned char)(1u << (b % 8));
        }
    }
}

void buildLimitIndexes(MyState *state)
{
    freeLimitIndexes(state);
    for (int slot = 0; slot < NBR_LIMITS; slot++) {
        if (state->limits[slot] != nullptr)
            state->limits[slot]->index = buildIndex(state->limits[slot]);
    }
    indexPhrases(state);
}

void freeLimitIndexes(MyState *state)
{
    limitsChanged(state);
    forgetSpeakerLimits(state);
    for (int slot = 0; slot < NBR_LIMITS; slot++) {
        LimitValue *first = state->limits[slot];
        if (first != nullptr) {
            freeIndex(first->index);
            first->index = nullptr;
        }
    }
}

/* An index, where the chain has one, gives exactly the walk's entry; a
 * chain without one (no memory for it) is walked. `cls` is the room's
 * class. */
static LimitValue *lookupInClass(MyState *state, LimitValue *first, ServerRoomRec *room, sint32 cls)
{
    if (first == nullptr)
        return nullptr;
    const LimitIndex *index = first->index;
    if (index == nullptr)
        return walkInRoom(state, first, room);
    if (room == nullptr)
        return index->anyClass;
    int bit = classBit(cls);
    int classPos = bit >= 0 ? index->classPos[bit] : NO_ENTRY;
    if (index->intervals > 0) {
        int j = intervalOf(index, room->room.roomID);
        if (index->rangedPos[j] < classPos)
            return index->ranged[j];
    }
    return classPos != NO_ENTRY ? index->byClass[bit] : nullptr;
}

static LimitValue *lookupInRoom(MyState *state, LimitValue *first, ServerRoomRec *room)
{
    if (first == nullptr)
        return nullptr;
    return lookupInClass(state, first, room, room != nullptr ? roomClass(state, room) : 0);
}

/* ---- Each room's resolved entries --------------------------------------------- */

void resolveRoomLimits(MyState *state, ServerRoomRec *room, RoomDat *rd, sint32 cls)
{
    RoomLimits *resolved = &rd->limits;
    for (int slot = 0; slot < NBR_LIMITS; slot++)
        resolved->entry[slot] = lookupInClass(state, state->limits[slot], room, cls);
    resolved->generation = state->limitGeneration;
    resolved->roomClass = cls;
    resolved->roomID = room->room.roomID;
}

LimitValue *limitInRoom(MyState *state, int slot, ServerRoomRec *room, RoomDat *rd)
{
    if (room == nullptr || rd == nullptr)
        return lookupInRoom(state, state->limits[slot], room);
    return roomEntries(state, room, rd)[slot];
}

/* Checks the room's entries for the rest of the message while the user
 * is the speaker in his room. */
LimitValue *limitHereSlow(ServerState *serverState, MyState *state, int slot)
{
    ServerUserRec *user = serverState->currentUser;
    ServerRoomRec *room = roomOf(state, user);
    RoomDat *rd = getRoomDat(state, room);
    if (room == nullptr || rd == nullptr)
        return lookupInRoom(state, state->limits[slot], room);
    LimitValue *const *entries = roomEntries(state, room, rd);
    if (isSpeakerInRoom(state, user))
        state->speaker.limits = entries;
    return entries[slot];
}

LimitValue *getRoomLimitInRoom(MyState *state, LimitValue *first, ServerRoomRec *room)
{
    return lookupInRoom(state, first, room);
}

LimitValue *getRoomLimitForRoom(ServerState *serverState, MyState *state, LimitValue *first,
                                RoomID roomID)
{
    (void)serverState;
    return first == nullptr ? nullptr : lookupInRoom(state, first, GetRoom(roomID));
}

LimitValue *getRoomLimit(ServerState *serverState, MyState *state, LimitValue *first)
{
    return first == nullptr ? nullptr
                            : lookupInRoom(state, first, roomOf(state, serverState->currentUser));
}

/* ---- The decaying counter -------------------------------------------------- */

/* The refusal: warned once when the entry warns, and the counter raised
 * no further than maximum plus decay. */
int overLimit(ServerUserRec *user, ActivityHistory *hist, const LimitValue *limit, UserDat *ud,
              int limitNumber, int numActions, const char *type, time_t now)
{
    if ((limit->roomsChecked & RC_WARN) && ud->lastWarning != limitNumber) {
        UserMessage(user, "%s are limited here", type);
        ud->lastWarning = limitNumber;
    }

    /* A refused user's counter never rises above maximum plus decay. */
    int64_t raised = (int64_t)hist->numberRecent + numActions;
    double cap = (double)limit->maximum + limit->decay;
    if ((double)raised > cap)
        hist->numberRecent = clampCount(truncToSint32(cap));
    else
        hist->numberRecent = clampCount(raised);
    hist->lastTime = now;
    return 1;
}
