/* The reference plug-ins a plug-in's cost is measured against, one source
 * for three modules. null: the nine entry points, doing nothing; every
 * message goes on. touch (TOUCH_PLUGIN): reads every payload byte once.
 * floor (FLOOR_PLUGIN): the least any per-user rate limiter must do. */
#include <string.h>
#include <time.h>

#include "s-pluginapi.h"

static int g_state;
static PluginID g_id;

#ifdef FLOOR_PLUGIN
/* The per-user block: one decaying counter and the previous line. */
enum { FLOOR_BLOCK = 256, FLOOR_LINE = FLOOR_BLOCK - 16 };
typedef struct FloorUser {
    time_t lastTime;
    double count;
    char line[FLOOR_LINE];
} FloorUser;
#endif

AnyType initializeServerPlugin(PluginID id, int argc, char **argv)
{
    (void)argc;
    (void)argv;
    g_id = id;
#ifdef FLOOR_PLUGIN
    setPluginUserInfoSize(id, FLOOR_BLOCK);
#endif
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
#elif defined(FLOOR_PLUGIN)
/* One counter for every message, forgiving one a second and refusing past
 * a maximum the bench never reaches; a chat line is compared with the
 * sender's previous one and remembered. Repeats are counted, not refused,
 * since the bench's members say the same help line in every round. */
static volatile unsigned g_repeats;

ClientMsg *handleMessage(ServerState *ss, AnyType pluginDat, ClientMsg *msg)
{
    (void)pluginDat;
    FloorUser *fu = (FloorUser *)getPluginUserInfo(g_id, ss->currentUser);
    if (fu == NULL)
        return msg;
    time_t now = time(NULL);
    double count = fu->count - difftime(now, fu->lastTime) * 1.0;
    if (count < 0)
        count = 0;
    if (count >= 1e9)
        return NULL;
    fu->count = count + 1;
    fu->lastTime = now;

    const char *text = NULL;
    size_t room = 0;
    if (msg->eventType == MSG_TALK) {
        text = (const char *)msg->msg;
        room = msg->length;
    } else if (msg->eventType == MSG_WHISPER && msg->length > 4) {
        text = (const char *)msg->msg + 4;
        room = msg->length - 4;
    }
    if (text == NULL)
        return msg;
    size_t n = strnlen(text, room < FLOOR_LINE - 1 ? room : FLOOR_LINE - 1);
    if (fu->line[n] == '\0' && memcmp(fu->line, text, n) == 0)
        g_repeats = g_repeats + 1;
    memcpy(fu->line, text, n);
    fu->line[n] = '\0';
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
