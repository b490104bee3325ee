/* The plug-in interface: the entry points a plug-in exports and the
 * services the server offers plug-ins in particular. */
#ifndef S_PLUGINAPI_H
#define S_PLUGINAPI_H

#include "s-serverpublic.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int PluginID;
typedef void *AnyType;

/* Per-user and per-room slots of the sizes asked for at start, zeroed at
 * creation and alive until the deletion callback returns. */
void setPluginUserInfoSize(PluginID id, sint32 size);
void setPluginRoomInfoSize(PluginID id, sint32 size);
void *getPluginUserInfo(PluginID id, ServerUserRec *user);
void *getPluginRoomInfo(PluginID id, ServerRoomRec *room);

/* Messages built by the plug-in; the server keeps and frees them. Normal
 * delivery passes through the plug-ins again, direct delivery does not. */
void deliverMessageNormal(PluginID id, ClientMsg *msg, ServerUserRec *user);
void deliverMessageDirect(PluginID id, ClientMsg *msg, ServerUserRec *user);

/* handleTimerEvent gets `event` back after `seconds` (negative counts as 0);
 * the plug-in owns the event again from then on. */
void scheduleTimerEvent(PluginID id, AnyType event, sint32 seconds);

/* Entry points */
typedef AnyType (*InitializeServerPluginProc)(PluginID id, int argc, char **argv);
typedef void (*ShutdownServerPluginProc)(ServerState *ss, AnyType pluginDat);
typedef void (*NoteUserProc)(ServerState *ss, AnyType pluginDat, ServerUserRec *user);
typedef void (*NoteRoomProc)(ServerState *ss, AnyType pluginDat, ServerRoomRec *room);
typedef void (*NoteUserRoomEntryProc)(ServerState *ss, AnyType pluginDat, ServerUserRec *user,
                                      ServerRoomRec *room);
typedef ClientMsg *(*HandleMessageProc)(ServerState *ss, AnyType pluginDat, ClientMsg *msg);
typedef void (*HandleTimerEventProc)(ServerState *ss, AnyType pluginDat, AnyType timerDat);

/* A plug-in built with hidden visibility exports exactly these. */
#if defined(__GNUC__)
#define PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define PLUGIN_EXPORT
#endif

PLUGIN_EXPORT AnyType initializeServerPlugin(PluginID id, int argc, char **argv);
PLUGIN_EXPORT void shutdownServerPlugin(ServerState *ss, AnyType pluginDat);
PLUGIN_EXPORT void noteUserCreation(ServerState *ss, AnyType pluginDat, ServerUserRec *user);
PLUGIN_EXPORT void noteUserDeletion(ServerState *ss, AnyType pluginDat, ServerUserRec *user);
PLUGIN_EXPORT void noteRoomCreation(ServerState *ss, AnyType pluginDat, ServerRoomRec *room);
PLUGIN_EXPORT void noteRoomDeletion(ServerState *ss, AnyType pluginDat, ServerRoomRec *room);
PLUGIN_EXPORT void noteUserRoomEntry(ServerState *ss, AnyType pluginDat, ServerUserRec *user,
                                     ServerRoomRec *room);
PLUGIN_EXPORT ClientMsg *handleMessage(ServerState *ss, AnyType pluginDat, ClientMsg *msg);
PLUGIN_EXPORT void handleTimerEvent(ServerState *ss, AnyType pluginDat, AnyType timerDat);

#ifdef __cplusplus
}
#endif

#endif
