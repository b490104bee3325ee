/* Activity limits: the thirty limit slots with their built-in defaults, the
 * lookup of the entry that applies in a room, and the decaying counter. */
#include <math.h>
#include <stdint.h>
#include <string.h>

#include "vestrel.h"

#define RC_PUBLIC_PRIVATE_MEMBER (RC_PUBLIC | RC_PRIVATE | RC_MEMBER)

/* Built-in defaults: roomsChecked, maximum, decay. They have no ranges and
 * no text, so copies may share those (null) pointers. */
static const LimitValue zoneDefault = {nullptr, nullptr, RC_PUBLIC, 12, 0.0, nullptr};
static const LimitValue spoofDefault = {nullptr, nullptr, RC_PUBLIC, 0, 0.0, nullptr};
static const LimitValue pageDefault = {nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER, 1, 0.5, nullptr};
static const LimitValue reppageDefault = {nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER,
                                          1,       0.1,     nullptr};
static const LimitValue chatDefault = {nullptr, nullptr, RC_PUBLIC, 10, 1.0, nullptr};
static const LimitValue repchatDefault = {nullptr, nullptr, RC_PUBLIC, 10, 1.0, nullptr};
static const LimitValue propdropDefault = {nullptr, nullptr, RC_PUBLIC, 10, 1.0, nullptr};
static const LimitValue roommsgDefault = {nullptr, nullptr, RC_PUBLIC, 0, 0.2, nullptr};
static const LimitValue facechangeDefault = {nullptr, nullptr, RC_PUBLIC, 10, 0.5, nullptr};
static const LimitValue avatarchangeDefault = {nullptr, nullptr, RC_PUBLIC, 40, 2.0, nullptr};
static const LimitValue moveDefault = {nullptr, nullptr, RC_PUBLIC, 30, 0.2, nullptr};
static const LimitValue slideDefault = {nullptr, nullptr, RC_PUBLIC, 30, 0.2, nullptr};
static const LimitValue spotstateDefault = {nullptr, nullptr, RC_PUBLIC, 30, 0.5, nullptr};
static const LimitValue namechangeDefault = {nullptr, nullptr, RC_PUBLIC, 40, 2.0, nullptr};
static const LimitValue avatarzoneDefault = {nullptr, nullptr, RC_PUBLIC, 12, 0.0, nullptr};
static const LimitValue gpageDefault = {nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER,
                                        1,       0.5,     nullptr};
static const LimitValue rpageDefault = {nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER,
                                        1,       0.5,     nullptr};
static const LimitValue roompageDefault = {nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER,
                                           1,       0.5,     nullptr};
static const LimitValue roomgotoDefault = {nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER,
                                           10,      0.1,     nullptr};
static const LimitValue drawDefault = {nullptr, nullptr, RC_PUBLIC_PRIVATE_MEMBER,
                                       50,      0.1,     nullptr};
static const LimitValue idleDefault = {nullptr, nullptr, RC_PUBLIC, 0, 120.0, nullptr};

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

void setDefaultParameters(MyState *state)
{
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

/* The class bit an entry needs to apply in this room. A member room's
 * owner chooses between the member and the alternate member limits. */
static sint32 roomClass(MyState *state, ServerRoomRec *room)
{
    if (room->memberOwner != 0) {
        RoomDat *rd = getRoomDat(state, room);
        if (rd != nullptr && (rd->flags & RD_RLIMIT))
            return RC_ALTMEMBER;
        return RC_MEMBER;
    }
    if (room->room.roomFlags & RF_Private)
        return RC_PRIVATE;
    return RC_PUBLIC;
}

LimitValue *getRoomLimitForRoom(ServerState *serverState, MyState *state, LimitValue *first,
                                RoomID roomID)
{
    (void)serverState;
    if (first == nullptr)
        return nullptr;

    ServerRoomRec *room = GetRoom(roomID);
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

LimitValue *getRoomLimit(ServerState *serverState, MyState *state, LimitValue *first)
{
    return getRoomLimitForRoom(serverState, state, first, serverState->currentUser->user.roomID);
}

/* ---- The decaying counter -------------------------------------------------- */

/* Truncates toward zero into 32 bits; out-of-range values saturate and a
 * NaN counts as nothing, so no conversion is ever undefined. */
static sint32 truncToSint32(double value)
{
    if (isnan(value))
        return 0;
    if (value >= (double)INT32_MAX)
        return INT32_MAX;
    if (value <= (double)INT32_MIN)
        return INT32_MIN;
    return (sint32)value;
}

static sint32 clampCount(int64_t count)
{
    if (count < 0)
        return 0;
    if (count > INT32_MAX)
        return INT32_MAX;
    return (sint32)count;
}

int checkLimit(ServerState *serverState, MyState *state, ActivityHistory *hist,
               const LimitValue *limit, UserDat *ud, int limitNumber, int numActions,
               const char *type)
{
    (void)state;
    time_t now = time(nullptr);
    ServerUserRec *user = serverState->currentUser;

    if (UserRank(user) >= 2)
        return 0;
    if (limit->maximum == LIMIT_UNLIMITED)
        return 0;

    sint32 forgiven = truncToSint32(difftime(now, hist->lastTime) * limit->decay);
    sint32 count = clampCount((int64_t)hist->numberRecent - forgiven);
    hist->numberRecent = count;

    if ((uint32)count < limit->maximum) {
        hist->lastTime = now;
        hist->numberRecent = clampCount((int64_t)count + numActions);
        return 0;
    }

    if ((limit->roomsChecked & RC_WARN) && ud->lastWarning != limitNumber) {
        UserMessage(user, "%s are limited here", type);
        ud->lastWarning = limitNumber;
    }

    /* A refused user's counter never rises above maximum plus decay. */
    int64_t raised = (int64_t)count + numActions;
    double cap = (double)limit->maximum + limit->decay;
    if ((double)raised > cap)
        hist->numberRecent = clampCount(truncToSint32(cap));
    else
        hist->numberRecent = clampCount(raised);
    hist->lastTime = now;
    return 1;
}
