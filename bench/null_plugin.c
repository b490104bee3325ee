/* The null plug-in: the nine entry points, doing nothing; every message
 * goes on. The floor a plug-in's cost is measured from. */
#include "s-pluginapi.h"

static int g_state;

AnyType initializeServerPlugin(PluginID id, int argc, char **argv)
{
    (void)id;
    (void)argc;
    (void)argv;
    return &g_state;
}

void shutdownServerPlugin(ServerState *ss, AnyType pluginDat)
{
    (void)ss;
    (void)pluginDat;
}

void noteUserCreation(ServerState *ss, AnyType pluginDat, ServerUserRec *user)
{
    (void)ss;
    (void)pluginDat;
    (void)user;
}

void noteUserDeletion(ServerState *ss, AnyType pluginDat, ServerUserRec *user)
{
    (void)ss;
    (void)pluginDat;
    (void)user;
}

void noteRoomCreation(ServerState *ss, AnyType pluginDat, ServerRoomRec *room)
{
    (void)ss;
    (void)pluginDat;
    (void)room;
}

void noteRoomDeletion(ServerState *ss, AnyType pluginDat, ServerRoomRec *room)
{
    (void)ss;
    (void)pluginDat;
    (void)room;
}

void noteUserRoomEntry(ServerState *ss, AnyType pluginDat, ServerUserRec *user, ServerRoomRec *room)
{
    (void)ss;
    (void)pluginDat;
    (void)user;
    (void)room;
}

#ifdef TOUCH_PLUGIN
/* The touch plug-in reads every payload byte once: the cost of looking
 * at a message at all. */
static volatile unsigned g_sum;

ClientMsg *handleMessage(ServerState *ss, AnyType pluginDat, ClientMsg *msg)
{
    (void)ss;
    (void)pluginDat;
    unsigned sum = 0;
    for (uint32 i = 0; i < msg->length; i++)
        sum += msg->msg[i];
    g_sum = sum;
    return msg;
}
#else
ClientMsg *handleMessage(ServerState *ss, AnyType pluginDat, ClientMsg *msg)
{
    (void)ss;
    (void)pluginDat;
    return msg;
}
#endif

void handleTimerEvent(ServerState *ss, AnyType pluginDat, AnyType timerDat)
{
    (void)ss;
    (void)pluginDat;
    DisposePtr((Ptr)timerDat);
}
