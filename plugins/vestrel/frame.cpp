/* The plug-in frame: entry points for start, shutdown and the users and
 * rooms the host reports, and the routines the other files share. */
#include <string.h>

#include "vestrel.h"

/* Allocates a timer event and hands it to the host; a scheduler that
 * cannot get memory goes on without it. */
int scheduleAction(MyState *state, UserID userID, int action, sint32 delay)
{
    TimerEvent *event = (TimerEvent *)NewPtrClear(sizeof(TimerEvent));
    if (event == nullptr)
        return 0;
    event->userID = userID;
    event->action = action;
    event->param = nullptr;
    scheduleTimerEvent(state->myPluginID, event, delay);
    return 1;
}

/* ---- Owned texts ----------------------------------------------------------- */

char *copyText(const char *text)
{
    size_t n = strlen(text);
    char *copy = NewPtr((sint32)(n + 1));
    if (copy != nullptr)
        memcpy(copy, text, n + 1);
    return copy;
}

void freeText(char **text)
{
    if (*text != nullptr)
        DisposePtr(*text);
    *text = nullptr;
}

/* A remembered line's block holds REMEMBER_MIN bytes, or the line and its
 * NUL when longer, so its size follows from what it holds: a new line that
 * fits is copied in place, and the chat path allocates nothing once a
 * user's block exists. Only rememberText, rememberLine and freeText touch
 * such fields. */
static size_t rememberedSize(const char *text)
{
    size_t n = strlen(text) + 1;
    return n > REMEMBER_MIN ? n : REMEMBER_MIN;
}

void rememberText(char **field, const char *text)
{
    rememberLine(field, text, strlen(text));
}

void rememberLongLine(char **field, const char *text, size_t length)
{
    size_t n = length + 1;
    if (*field != nullptr && (n <= REMEMBER_MIN || n <= rememberedSize(*field))) {
        memmove(*field, text, n);
        return;
    }
    freeText(field);
    *field = NewPtr((sint32)(n > REMEMBER_MIN ? n : REMEMBER_MIN));
    if (*field != nullptr)
        memcpy(*field, text, n);
}

/* ---- Shared routines --------------------------------------------------- */

/* Undoes a refused change in the sender's own client by telling it what the
 * server holds for him. */
void resetUser(ServerState *serverState, MyState *state)
{
    (void)state;
    ServerUserRec *u = serverState->currentUser;
    if (u == nullptr)
        return;
    sendMsgUserDesc(toUser(u), u, u->user.faceNbr, u->user.colorNbr, u->user.nbrProps,
                    u->user.propSpec);
    sendMsgUserMove(toUser(u), u, u->user.roomPos);
    sendMsgUserName(toUser(u), u, u->user.name);
}

/* The pin costume, alone, shown to everyone in the user's room. */
void dressInPin(ServerUserRec *user)
{
    static const AssetSpec pin = {PIN_PROP_ID, 0};
    user->user.nbrProps = 1;
    user->user.propSpec[0] = pin;
    sendMsgUserProp(toUserRoom(user), user, 1, &pin);
}

/* What a member room held him with goes when he leaves it: the pin
 * costume comes off (the next room sees him without it) and the gags and
 * holds go; the global gags stay with the user. */
void dropRoomSanctions(ServerUserRec *user, UserDat *ud)
{
    if (ud->flags & UD_RPIN)
        user->user.nbrProps = 0;
    ud->flags &= ~UD_ROOMSANCTIONS;
}

/* The same for a user who is seen already: the costume comes off in the
 * sight of his room. */
void dropRoomSanctionsInSight(ServerUserRec *user, UserDat *ud)
{
    int costume = (ud->flags & UD_RPIN) && user->user.nbrProps != 0;
    dropRoomSanctions(user, ud);
    if (costume)
        sendMsgUserProp(toUserRoom(user), user, 0, nullptr);
}

void clearDataForRoomChange(ServerState *serverState, MyState *state, ServerUserRec *user)
{
    (void)serverState;
    UserDat *ud = getUserDat(state, user);
    if (ud == nullptr)
        return;

    memset(&ud->move, 0, sizeof ud->move);
    memset(&ud->slide, 0, sizeof ud->slide);
    ud->lastWarning = -1;
    ud->lastClientPos.v = -5;
    ud->lastClientPos.h = -5;

    dropRoomSanctions(user, ud);

    /* Delay 0: runs once the host has moved him into the new room. */
    scheduleAction(state, user->user.userID, TA_ROOMENTRY, 0);
}

void logMessage(ServerUserRec *user, const char *message, int toServer)
{
    if (toServer)
        FormattedLogMessage(user, "vestrel", "%s", message);
    if (user != nullptr)
        UserPrivateMessage(user, "; %s", message);
}

/* cstring holds at least USER_NAME_SIZE bytes. */
void getCUserName(char *cstring, const ServerUserRec *user)
{
    memcpy(cstring, user->user.name, USER_NAME_SIZE);
    if ((unsigned char)cstring[0] > USER_NAME_SIZE - 1)
        cstring[0] = (char)(USER_NAME_SIZE - 1);
    PtoCstr((unsigned char *)cstring);
}

/* The address is stored in network order: the first octet is the byte at
 * the lowest address, whatever the machine's byte order. */
void getUserIP(char *ipstr, const ServerUserRec *user)
{
    const unsigned char *octet = (const unsigned char *)&user->netAddress.ipAddress;
    snprintf(ipstr, IP_TEXT_SIZE, "%d.%d.%d.%d", octet[0], octet[1], octet[2], octet[3]);
}

/* The room's name from its variable buffer: at most 31 characters, and a
 * longer one is shown as "room name too long". */
void getRoomName(char *cstring, ServerRoomRec *room)
{
    cstring[0] = '\0';
    const unsigned char *p =
        room != nullptr ? (const unsigned char *)varBufRecord(room, room->room.roomNameOfst, 1, 1)
                        : nullptr;
    if (p == nullptr)
        return;
    size_t n = p[0];
    if (n > ROOM_NAME_SIZE - 1) {
        snprintf(cstring, ROOM_NAME_SIZE, "%s", "room name too long");
        return;
    }
    if (varBufRecord(room, room->room.roomNameOfst, 1, (uint32)n + 1) == nullptr)
        return;
    memcpy(cstring, p + 1, n);
    cstring[n] = '\0';
}

/* A user's text in a notice or a log line: a control byte there would
 * start a line of its own, or end one, so every one becomes a blank. */
void blankControls(char *text)
{
    for (; *text != '\0'; text++) {
        if ((unsigned char)*text < 0x20 || *text == 0x7F)
            *text = ' ';
    }
}

/* A user's text in a braced field of a log line: a brace would close the
 * field and open a forged one, so braces become parentheses. */
void logField(char *text)
{
    blankControls(text);
    for (; *text != '\0'; text++) {
        if (*text == '{')
            *text = '(';
        else if (*text == '}')
            *text = ')';
    }
}

/* Appends src to the NUL-terminated text in buf, never past size bytes. */
static void appendText(char *buf, size_t size, const char *src)
{
    size_t used = strnlen(buf, size);
    if (used + 1 >= size)
        return;
    snprintf(buf + used, size - used, "%s", src);
}

/* The host appends the key text at the end of the line, with no bound of
 * ours: it must keep each key text within 111 bytes, so that the widest
 * address ("255.255.255.255 "), both keys, their blank and the NUL fit the
 * 240-byte line. The name, ours, is cut to what room is left. */
static void appendWizKey(char *buf, size_t size, ServerUserRec *target, int selector)
{
    size_t used = strnlen(buf, size);
    if (used + 1 >= size)
        return;
    SeedToWizKey(target, buf + used, selector);
}

void makeServerActionLog(ServerState *serverState, MyState *state, ServerUserRec *actor,
                         const char *action, ServerUserRec *target)
{
    (void)serverState;
    (void)state;
    char text[ACTION_LOG_SIZE];
    char ip[IP_TEXT_SIZE];
    char name[USER_NAME_SIZE];

    getUserIP(ip, target);
    getCUserName(name, target);
    blankControls(name);
    snprintf(text, sizeof text, "%s ", ip);
    appendWizKey(text, sizeof text, target, 1);
    appendText(text, sizeof text, " ");
    appendWizKey(text, sizeof text, target, 0);
    appendText(text, sizeof text, " \"");
    appendText(text, sizeof text, name);
    appendText(text, sizeof text, "\"");
    FormattedLogMessage(actor, action, "%s", text);
}

/* The message goes through screening and the command interpreter like a
 * line the user typed; the host keeps it. */
void generateChat(ServerState *serverState, MyState *state, ServerUserRec *user, const char *text,
                  UserID target)
{
    (void)serverState;
    size_t textLen = strlen(text);
    size_t payload = textLen + 1 + (target != 0 ? 4 : 0);
    ClientMsg *msg = (ClientMsg *)NewPtrClear((sint32)(CLIENT_MSG_HEADER + payload));
    if (msg == nullptr)
        return;

    msg->eventType = target != 0 ? MSG_WHISPER : MSG_TALK;
    msg->length = (uint32)payload;
    msg->refNum = (sint32)user->user.userID;
    unsigned char *p = msg->msg;
    if (target != 0) {
        memcpy(p, &target, 4);
        p += 4;
    }
    memcpy(p, text, textLen + 1);
    deliverMessageNormal(state->myPluginID, msg, user);
}

void generateGotoRoom(ServerState *serverState, MyState *state, ServerUserRec *user, RoomID roomID)
{
    (void)serverState;
    ClientMsg *msg = (ClientMsg *)NewPtrClear(CLIENT_MSG_HEADER + sizeof(RoomID));
    if (msg == nullptr)
        return;
    msg->eventType = MSG_ROOMGOTO;
    msg->length = sizeof(RoomID);
    msg->refNum = 0;
    memcpy(msg->msg, &roomID, sizeof roomID);
    deliverMessageNormal(state->myPluginID, msg, user);
}

/* ---- Releasing the configuration ----------------------------------------- */

/* Cancelled announcements keep their timer event pending; the event frees
 * itself when it next fires and finds no announcement. */
void freeLimits(MyState *state)
{
    while (state->autoannounce != nullptr) {
        AutoAnnounce *aa = state->autoannounce;
        state->autoannounce = aa->next;
        if (aa->event != nullptr)
            aa->event->param = nullptr;
        DisposePtr((Ptr)aa);
    }
    while (state->setranks != nullptr) {
        StringList *node = state->setranks;
        state->setranks = node->next;
        DisposePtr((Ptr)node);
    }
    freeLimitIndexes(state);
    for (int slot = 0; slot < NBR_LIMITS; slot++) {
        freeLimitList(state->limits[slot]);
        state->limits[slot] = nullptr;
    }
}

static void freeStorage(MyState *state)
{
    freeLimits(state);
    freeText(&state->mRoomBG);
    freeText(&state->pageResponse);
    freeText(&state->gpageResponse);
    DisposePtr((Ptr)state);
}

/* ---- Entry points ------------------------------------------------------ */

AnyType initializeServerPlugin(PluginID pluginID, int argc, char **argv)
{
    MyState *state = (MyState *)NewPtrClear(sizeof(MyState));
    if (state == nullptr) {
        FormattedLogMessage(nullptr, "DISASTER: ", "Unable to allocate storage for vestrel plugin");
        return nullptr;
    }

    state->myPluginID = pluginID;
    state->argc = argc;
    state->argv = argv;
    state->guestWiz = 1;
    state->rTakeDelay = -1;
    state->mroomdiscipline = -1;
    state->lastUserPageRoom = -1;

    rememberBuiltinRanks();
    setDefaultParameters(state); /* walked, unindexed: the first load replaces them */
    setPluginUserInfoSize(pluginID, sizeof(UserDat));
    setPluginRoomInfoSize(pluginID, sizeof(RoomDat));
    FormattedLogMessage(nullptr, "vestrel", "vestrel version %s", VESTREL_VERSION);

    if (loadParameterFile(state, nullptr) == 0) {
        FormattedLogMessage(nullptr, "vestrel", "*** vestrel initialization failed ***");
        freeStorage(state);
        return nullptr;
    }
    return state;
}

void shutdownServerPlugin(ServerState *serverState, AnyType pluginDat)
{
    (void)serverState;
    if (pluginDat != nullptr)
        freeStorage((MyState *)pluginDat);
}

void noteUserCreation(ServerState *serverState, AnyType pluginDat, ServerUserRec *user)
{
    (void)serverState;
    MyState *state = (MyState *)pluginDat;
    if (state == nullptr || user == nullptr)
        return;

    UserDat *ud = getUserDat(state, user);
    if (ud != nullptr) {
        /* No chat, every history empty, idle and room fields 0. */
        memset(ud, 0, sizeof *ud);
        ud->lastWarning = -1;
        ud->lastClientPos.v = -5;
        ud->lastClientPos.h = -5;
    }

    UserID id = user->user.userID;
    if (state->wizInMemberRooms)
        scheduleAction(state, id, TA_WIZNOTICE, 1);
    scheduleAction(state, id, TA_ROOMENTRY, 1);
    scheduleAction(state, id, TA_LOGON, 1);
}

void noteUserDeletion(ServerState *serverState, AnyType pluginDat, ServerUserRec *user)
{
    MyState *state = (MyState *)pluginDat;
    if (state == nullptr || user == nullptr)
        return;

    UserDat *ud = getUserDat(state, user);
    if (ud != nullptr)
        freeText(&ud->lastChat);
    if (state->speaker.user == user)
        endSpeaker(state);

    for (ServerRoomRec *room = serverState->roomList; room != nullptr; room = room->nextRoom) {
        if (!isOwnerByCounter(user, room))
            continue;
        RoomDat *rd = getRoomDat(state, room);
        if (rd != nullptr)
            rd->ownerLogoffTime = time(nullptr);
        break;
    }
}

void noteRoomCreation(ServerState *serverState, AnyType pluginDat, ServerRoomRec *room)
{
    (void)serverState;
    RoomDat *rd = getRoomDat((MyState *)pluginDat, room);
    if (rd != nullptr)
        memset(rd, 0, sizeof *rd);
}

/* However a member room goes (rdelete from inside or out, with or without
 * an argument, or the host's own doing), what it held its visitors with
 * goes with it. The host may have moved them out already, and shown them
 * in the pin costume elsewhere, so taking it off is shown where they are. */
static void freeRoomSanctions(ServerState *serverState, MyState *state, const ServerRoomRec *room)
{
    if (state == nullptr || serverState == nullptr)
        return;
    for (ServerUserRec *u = serverState->userList; u != nullptr; u = u->nextUser) {
        UserDat *ud = getUserDat(state, u);
        if (ud == nullptr || !(ud->flags & UD_ROOMSANCTIONS) ||
            ud->sanctionRoom != room->room.roomID)
            continue;
        dropRoomSanctionsInSight(u, ud);
    }
}

void noteRoomDeletion(ServerState *serverState, AnyType pluginDat, ServerRoomRec *room)
{
    MyState *state = (MyState *)pluginDat;
    if (state != nullptr && state->speaker.room == room) {
        state->speaker.room = nullptr;
        state->speaker.rd = nullptr;
        state->speaker.limits = nullptr;
    }
    freeRoomSanctions(serverState, state, room);
    RoomDat *rd = getRoomDat(state, room);
    if (rd == nullptr)
        return;
    freeText(&rd->lastChat);
    while (rd->badActorList != nullptr) {
        RoomBadActor *entry = rd->badActorList;
        rd->badActorList = entry->next;
        DisposePtr((Ptr)entry);
    }
}

/* The room's sanctions hold from the moment he is in it: the room-entry
 * action of a logon comes a second later, and a client says much in a
 * second. A delay of 0 runs before the server reads his next message. */
void noteUserRoomEntry(ServerState *serverState, AnyType pluginDat, ServerUserRec *user,
                       ServerRoomRec *room)
{
    (void)serverState;
    MyState *state = (MyState *)pluginDat;
    if (state == nullptr || user == nullptr || room == nullptr)
        return;
    UserDat *ud = getUserDat(state, user);
    if (ud == nullptr)
        return;
    /* Moved by the server itself (into a room he has just made, say), he
     * leaves the last room's sanctions behind as on any move; he is seen
     * here already, so the costume comes off in sight. */
    if ((ud->flags & UD_ROOMSANCTIONS) && ud->sanctionRoom != room->room.roomID)
        dropRoomSanctionsInSight(user, ud);
    if (getUserSanctions(state, user, room, ud) != 0)
        scheduleAction(state, user->user.userID, TA_SANCTIONS, 0);
}
