/* Paging commands: users page the owners, the operators of their room or
 * the owner of their member room; operators answer with er, anybody answers
 * a private message with respond. */
#include <string.h>

#include "vestrel.h"

static int isPageGagged(MyState *state, ServerUserRec *user)
{
    UserDat *ud = getUserDat(state, user);
    if (ud == nullptr || !(ud->flags & UD_PAGEGAG))
        return 0;
    UserMessage(user, "Sorry, you've been pagegagged.");
    return 1;
}

/* 1 when the page is over the limit of its slot (checkLimit has spoken). */
static int tooManyPages(ServerState *serverState, MyState *state, ServerUserRec *user, int slot,
                        ActivityHistory UserDat::*history, const char *type)
{
    UserDat *ud = getUserDat(state, user);
    LimitValue *entry = getRoomLimit(serverState, state, state->limits[slot]);
    if (ud == nullptr || entry == nullptr)
        return 0;
    return checkLimit(serverState, state, &(ud->*history), entry, ud, slot, 1, type);
}

/* Response texts from the parameter file go out as text, not as formats. */
static void respondWith(ServerUserRec *user, const char *text)
{
    if (text != nullptr)
        UserMessage(user, "%s", text);
}

static int tooShort(const char *text, int minimum)
{
    return (long)strlen(text) < (long)minimum;
}

/* The page's text and its sender's name go into the operators' notices. */
static void pageTexts(char *name, ServerUserRec *user, char *cp)
{
    getCUserName(name, user);
    blankControls(name);
    blankControls(cp);
}

int do_gpage(CMD_PARAMS)
{
    char name[USER_NAME_SIZE];
    pageTexts(name, user, cp);
    int rank = UserRank(user);
    if (rank >= 3) {
        GodGlobalMessage("Owner Page from %s: %s", name, cp);
        return 1;
    }
    if (isPageGagged(state, user))
        return 1;
    if (rank < 2 && tooShort(cp, state->gpageLengthLimit)) {
        UserMessage(user, "Your gpage was not accepted because there wasn't enough information. "
                          "Please page again with a more detailed message.");
        return 1;
    }
    if (tooManyPages(serverState, state, user, L_GPAGE, &UserDat::gpage, "GPage Messages"))
        return 1;

    ServerRoomRec *room = userRoom;
    if (room == nullptr)
        return 1;
    char roomName[ROOM_NAME_SIZE];
    getRoomName(roomName, room);
    blankControls(roomName);
    UserMessage(user, "The owners have been paged");
    GodGlobalMessage("Owner Page from %s in %s (%d): %s", name, roomName, (int)room->room.roomID,
                     cp);
    respondWith(user, state->gpageResponse);
    return 1;
}

int do_roompage(CMD_PARAMS)
{
    char name[USER_NAME_SIZE];
    pageTexts(name, user, cp);
    if (UserRank(user) >= 2) {
        WizRoomMessage(userRoom, "Room Page from %s: %s", name, cp);
        return 1;
    }
    if (isPageGagged(state, user))
        return 1;
    if (tooShort(cp, state->pageLengthLimit)) {
        UserMessage(user, "Your room page was not accepted because there wasn't enough "
                          "information. Please page again with a more detailed message.");
        return 1;
    }
    if (tooManyPages(serverState, state, user, L_ROOMPAGE, &UserDat::roompage,
                     "Room Page Messages"))
        return 1;

    ServerRoomRec *room = userRoom;
    if (room == nullptr)
        return 1;
    respondWith(user, state->gpageResponse);
    UserMessage(user, "The operators in this room have been paged");
    respondWith(user, state->pageResponse);
    WizRoomMessage(room, "Room Page from %s: %s", name, cp);
    return 1;
}

/* The limit comes first: a flood of rpages is refused even in a public
 * room. */
int do_rpage(CMD_PARAMS)
{
    if (tooManyPages(serverState, state, user, L_RPAGE, &UserDat::rpage, "RPage Messages"))
        return 1;
    ServerRoomRec *room = userRoom;
    if (room == nullptr) {
        UserMessage(user, "Room info not available");
        return 1;
    }
    if (room->memberOwner == 0) {
        UserMessage(user, "Sorry - this is a public room");
        return 1;
    }
    if (isPageGagged(state, user))
        return 1;

    ServerUserRec *owner = findRoomOwner(serverState, room);
    if (owner == nullptr) {
        if (ownerAwayTooLong(state, room))
            UserMessage(user, "Room is unowned, use `rtake to become the owner");
        else
            UserMessage(user, "Room owner is not available");
        return 1;
    }
    char name[USER_NAME_SIZE];
    pageTexts(name, user, cp);
    UserMessage(owner, "RPage from %s: %s", name, cp);
    owner->lastESPsender = user->user.userID; /* his respond answers the pager */
    UserMessage(user, "The member room owner has been paged.");
    return 1;
}

/* Only a sender in the speaker's own room is answered here; the host's
 * respond reaches the others. The reply is a whisper to him, and meets the
 * rules a whisper would: one whisper received is no channel round the gag,
 * the spoof rule or the chat limit. */
int do_respond(CMD_PARAMS)
{
    if (user->lastESPsender == 0)
        return 0;
    ServerUserRec *sender = GetServerUser(user->lastESPsender);
    ServerRoomRec *room = getUserRoom(sender);
    if (sender == nullptr || room == nullptr || room->room.roomID != user->user.roomID)
        return 0;
    if (chatRefused(cp, serverState, state))
        return 1;
    char senderName[USER_NAME_SIZE];
    char name[USER_NAME_SIZE];
    getCUserName(senderName, sender);
    pageTexts(name, user, cp);
    UserPrivateMessage(user, "Message to %s: %s", senderName, cp);
    UserPrivateMessage(sender, "Message from %s: %s", name, cp);
    sender->lastESPsender = user->user.userID; /* his respond answers this reply */
    return 1;
}

/* The plug-in answers er only where the host would keep the operator out:
 * a closed or passworded member room, with operators let into those. */
int do_er(CMD_PARAMS)
{
    if (state->wizInMemberRooms == 0)
        return 0;
    ServerRoomRec *room = GetRoom(state->lastUserPageRoom);
    if (room == nullptr || room->memberOwner == 0)
        return 0;
    if (!(room->room.roomFlags & RF_Closed) && room->roomPassword[0] == '\0')
        return 0;

    char name[USER_NAME_SIZE];
    char pager[PAGE_NAME_SIZE];
    getCUserName(name, user);
    snprintf(pager, sizeof pager, "%s", state->lastUserPageName);
    blankControls(name);
    blankControls(pager);
    WizNeighborMessage(user, "Page from System: %s has responded to %s's page via `er", name,
                       pager);
    clearDataForRoomChange(serverState, state, user);
    ChangeUserRoom(user, room->room.roomID, 1);
    return 1;
}
