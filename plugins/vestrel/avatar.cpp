/* Avatar, face and prop rules: face, colour and spot-state limits,
 * avatar changes and duplicate avatars, and loose props piled within the
 * prop zone. Shared with the command handlers and the timers. */
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "vestrel.h"

/* ---- Avatar, face and prop rules ------------------------------------------- */

int faceComingTooFast(ServerState *serverState, MyState *state)
{
    ServerUserRec *user = serverState->currentUser;
    UserDat *ud = getUserDat(state, user);
    if (isOperator(user) || ud == nullptr)
        return 0;
    return countAgainst(serverState, state, ud, L_FACECHANGE, &ud->faceChange, 1, "Face changes");
}

int spotStateComingTooFast(ServerState *serverState, MyState *state)
{
    UserDat *ud = getUserDat(state, serverState->currentUser);
    if (ud == nullptr)
        return 0;
    return countAgainst(serverState, state, ud, L_SPOTSTATECHANGE, &ud->spotStateChange, 1,
                        "Spot state changes");
}

/* An exchange sort by id: small, and never more than nine records. */
void copyAndSortProps(const AssetSpec *input, AssetSpec *output, int count)
{
    if (count < 1)
        return;
    memcpy(output, input, sizeof(AssetSpec) * (size_t)count);
    for (int p = 0; p < count - 1; p++) {
        for (int j = p + 1; j < count; j++) {
            if (output[j].id < output[p].id) {
                AssetSpec swap = output[p];
                output[p] = output[j];
                output[j] = swap;
            }
        }
    }
}

/* Two lists of the same props in any order have the same sum and the same
 * exclusive or of their ids: a cheap test that spares the sort of every
 * occupant whose props differ, which is nearly all of them. */
struct PropsKey {
    uint32 sum, bits;
};

static PropsKey propsKey(const AssetSpec *props, int count)
{
    PropsKey key = {0, 0};
    for (int i = 0; i < count; i++) {
        key.sum += (uint32)props[i].id;
        key.bits ^= (uint32)props[i].id;
    }
    return key;
}

/* 1 when the other user wears the props `mine` (sorted; keyed `myKey`) in
 * any order. */
static int wearsTheSame(const ServerUserRec *other, int nbrProps, const AssetSpec *mine,
                        PropsKey myKey)
{
    if (other->user.nbrProps != nbrProps)
        return 0;
    if (nbrProps <= 0)
        return 1; /* two users without props look alike */
    PropsKey key = propsKey(other->user.propSpec, nbrProps);
    if (key.sum != myKey.sum || key.bits != myKey.bits)
        return 0;
    AssetSpec theirs[MaxUserProps];
    copyAndSortProps(other->user.propSpec, theirs, nbrProps);
    for (int j = 0; j < nbrProps; j++) {
        if (mine[j].id != theirs[j].id)
            return 0;
    }
    return 1;
}

int isThereADuplicateAvatar(ServerState *serverState, MyState *state, ServerRoomRec *room,
                            ServerUserRec *ignoreuser, int nbrProps, const AssetSpec *props)
{
    (void)state;
    if (nbrProps > MaxUserProps)
        return 1;
    AssetSpec mine[MaxUserProps];
    copyAndSortProps(props, mine, nbrProps);
    PropsKey myKey = propsKey(props, nbrProps);

    /* An operator looks like nobody, once there is somebody to look like. */
    ServerUserRec *others[GATHER_PLACES];
    UserID self = ignoreuser != nullptr ? ignoreuser->user.userID : 0;
    int places = serverState->maxPeoplePerRoom;
    int first = 1;
    for (int from = 0; from < places; from += GATHER_PLACES) {
        int to = places - from > GATHER_PLACES ? from + GATHER_PLACES : places;
        int n = gatherOccupants(room, from, to, self, others);
        if (n > 0 && first && isOperator(serverState->currentUser))
            return 0;
        first = first && n == 0;
        for (int k = 0; k < n; k++) {
            if (wearsTheSame(others[k], nbrProps, mine, myKey))
                return 1;
        }
    }
    return 0;
}

/* Each prop that changes place counts: A B C to A B C D counts 1, to B A
 * counts 2, to nothing counts 1. */
static int avatarActions(const ServerUserRec *user, int nbrProps, const AssetSpec *props)
{
    int k = nbrProps < user->user.nbrProps ? nbrProps : user->user.nbrProps;
    int actions = nbrProps;
    for (int j = 0; j < k; j++) {
        if (props[j].id == user->user.propSpec[j].id)
            actions--;
    }
    return actions < 1 ? 1 : actions;
}

int avatarComingTooFast(ServerState *serverState, MyState *state, int nbrProps,
                        const AssetSpec *props)
{
    ServerUserRec *user = serverState->currentUser;
    UserDat *ud = getUserDat(state, user);
    if (ud == nullptr || isOperator(user))
        return 0;
    if (ud->flags & (UD_RPIN | UD_RPROPGAG))
        return 1;

    if (countAgainst(serverState, state, ud, L_AVATARCHANGE, &ud->avatarChange,
                     avatarActions(user, nbrProps, props), "Avatar changes"))
        return 1;
    if (nbrProps == 0)
        return 0;
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr)
        return 0;

    LimitValue *rule = limitHere(serverState, state, L_NODUPAVATARS);
    if (rule == nullptr) {
        RoomDat *rd = getRoomDat(state, room);
        if (rd == nullptr || !(rd->flags & RD_RNODUPAVATARS) || isOwnerByCounter(user, room))
            return 0;
    }
    if (isThereADuplicateAvatar(serverState, state, room, user, nbrProps, props) == 0)
        return 0;
    if (rule != nullptr && !(rule->roomsChecked & RC_WARN))
        return 1;
    warnOnce(user, ud, L_NODUPAVATARS,
             "You aren't permitted to wear the same avatar as someone else here");
    return 1;
}

/* The loose prop at `offset`, or null when the offset is none, not a
 * multiple of 4, or the record would leave the buffer. */
LPropRec *loosePropAt(ServerRoomRec *room, Offset offset)
{
    return (LPropRec *)varBufRecord(room, offset, 4, sizeof(LPropRec));
}

/* The first of the room's loose props but `skip` that is the asset `id`
 * within `zone` of `loc`, or null. Walks at most nbrLProps records, so a
 * cycle of offsets ends too. */
static const LPropRec *propWithin(ServerRoomRec *room, const LPropRec *skip, AssetID id, Point loc,
                                  uint32 zone)
{
    int count = room->room.nbrLProps;
    LPropRec *prop = loosePropAt(room, room->room.firstLProp);
    for (int n = 0; prop != nullptr && n < count; n++) {
        if (prop != skip && prop->propSpec.id == id && withinZone(loc, prop->loc, zone))
            return prop;
        if (prop->link.nextOfst == 0)
            break;
        prop = loosePropAt(room, prop->link.nextOfst);
    }
    return nullptr;
}

int anotherPropAlreadyAt(ServerState *serverState, MyState *state, LPropRec *roomprop,
                         AssetSpec propSpec, Point loc)
{
    ServerUserRec *user = serverState->currentUser;
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr)
        return 1;
    if (isOperator(user))
        return 0;
    LimitValue *entry = limitHere(serverState, state, L_ZONE);
    if (entry == nullptr || room->room.nbrLProps == 0)
        return 0;

    if (propWithin(room, roomprop, propSpec.id, loc, entry->maximum) == nullptr)
        return 0;
    if (entry->roomsChecked & RC_WARN)
        warnOnce(user, getUserDat(state, user), L_ZONE, "Duplicate props are limited here");
    return 1;
}

/* Loose prop number `number` of the user's room, or null. */
LPropRec *findPropInRoom(ServerUserRec *user, sint32 number)
{
    ServerRoomRec *room = getUserRoom(user);
    if (room == nullptr || room->room.nbrLProps == 0 || number < 0 ||
        number >= room->room.nbrLProps)
        return nullptr;
    LPropRec *prop = loosePropAt(room, room->room.firstLProp);
    for (sint32 n = 0; prop != nullptr && n < number; n++)
        prop = loosePropAt(room, prop->link.nextOfst);
    return prop;
}
