/* Timer events: actions the plug-in schedules through the host. Each
 * action finds its user again by id; a user who has gone is skipped. */
#include <math.h>

#include "vestrel.h"

#define ANNOUNCE_INTERVAL 86400 /* seconds: every day at the same time */
#define IDLE_INTERVAL 60        /* seconds between idle scans */

/* The room an idle entry sends users to; 0 when its decay names no room
 * that a RoomID can hold (not a number, or far out of range). */
static int idleRoom(double decay, RoomID *room)
{
    if (!(decay > -32769.0 && decay < 32768.0))
        return 0;
    *room = (RoomID)decay;
    return 1;
}

int CheckUserIdle(ServerState *serverState, MyState *state)
{
    if (serverState == nullptr || state == nullptr)
        return 0;
    time_t now = time(nullptr);
    for (ServerUserRec *user = serverState->userList; user != nullptr; user = user->nextUser) {
        UserDat *ud = getUserDat(state, user);
        if (isOperator(user) || ud == nullptr)
            continue;
        LimitValue *e =
            getRoomLimitForRoom(serverState, state, state->limits[L_IDLE], user->user.roomID);
        if (e == nullptr || ud->idle <= 0 || e->maximum == 0)
            continue;
        if (difftime(now, ud->idle) / 60 < (double)e->maximum)
            continue;
        if ((double)user->user.roomID == e->decay)
            continue;
        RoomID room = 0;
        if (idleRoom(e->decay, &room) == 0)
            continue;
        generateGotoRoom(serverState, state, user, room);
        UserMessage(user, "You have been sent to the Idle Room for being idle");
        FormattedLogMessage(user, "vestrel", "Displaying Idlers info..");
    }
    return 1;
}

/* A cancelled announcement (reload or shutdown) frees its own event. */
static void announce(MyState *state, TimerEvent *event)
{
    AutoAnnounce *aa = (AutoAnnounce *)event->param;
    if (aa == nullptr) {
        DisposePtr((Ptr)event);
        return;
    }
    GlobalMessage("%s", aa->message);
    scheduleTimerEvent(state->myPluginID, event, ANNOUNCE_INTERVAL);
}

/* The response is sent as text: a % in it is no format directive. */
static void pageResponse(MyState *state, TimerEvent *event)
{
    ServerUserRec *user = GetServerUser(event->userID);
    if (user != nullptr && state->pageResponse != nullptr)
        UserMessage(user, "%s", state->pageResponse);
    DisposePtr((Ptr)event);
}

void handleTimerEvent(ServerState *serverState, AnyType pluginDat, AnyType timerDat)
{
    MyState *state = (MyState *)pluginDat;
    TimerEvent *event = (TimerEvent *)timerDat;
    if (event == nullptr)
        return;
    if (state == nullptr) {
        DisposePtr((Ptr)event);
        return;
    }

    switch (event->action) {
    case TA_AUTOANNOUNCE:
        announce(state, event);
        return;
    case TA_PAGERESPONSE:
        pageResponse(state, event);
        return;
    case TA_IDLE:
        CheckUserIdle(serverState, state);
        scheduleTimerEvent(state->myPluginID, event, IDLE_INTERVAL);
        return;
    default:
        DisposePtr((Ptr)event);
        return;
    }
}
