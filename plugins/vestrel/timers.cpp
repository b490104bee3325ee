/* Timer events: actions the plug-in schedules through the host. */
#include "vestrel.h"

void handleTimerEvent(ServerState *serverState, AnyType pluginDat, AnyType timerDat)
{
    (void)serverState;
    (void)pluginDat;
    TimerEvent *event = (TimerEvent *)timerDat;
    if (event == nullptr)
        return;
    DisposePtr((Ptr)event);
}
