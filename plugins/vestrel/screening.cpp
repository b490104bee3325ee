/* Message screening: every client message passes through handleMessage
 * before the host acts on it. */
#include "vestrel.h"

/* Records when the user last did something, for the idle check; only while
 * an idle limit applies in his room. */
static void updateIdleTime(ServerState *serverState, MyState *state, ClientMsg *message)
{
    uint32 type = message->eventType;
    if (type == MSG_PONG || type == MSG_PING || type == MSG_LOGON)
        return;
    ServerUserRec *user = serverState->currentUser;
    if (user == nullptr || isOperator(user))
        return;
    UserDat *ud = getUserDat(state, user);
    if (ud == nullptr)
        return;
    ud->idle = -1;
    if (getRoomLimit(serverState, state, state->limits[L_IDLE]) != nullptr)
        ud->idle = time(nullptr);
}

ClientMsg *handleMessage(ServerState *serverState, AnyType pluginDat, ClientMsg *message)
{
    if (serverState->currentUser == nullptr)
        FormattedLogMessage(nullptr, "vestrel", "No user for message type %.4s",
                            (const char *)message);
    MyState *state = (MyState *)pluginDat;
    if (state == nullptr)
        return message;

    updateIdleTime(serverState, state, message);
    return message;
}
