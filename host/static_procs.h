// The plug-in's entry points as linked into a test or fuzz program.
#pragma once

#include "host.h"
#include "vestrel.h"

inline vh::PluginProcs staticProcs()
{
    vh::PluginProcs procs;
    procs.initialize = initializeServerPlugin;
    procs.shutdown = shutdownServerPlugin;
    procs.userCreation = noteUserCreation;
    procs.userDeletion = noteUserDeletion;
    procs.roomCreation = noteRoomCreation;
    procs.roomDeletion = noteRoomDeletion;
    procs.userRoomEntry = noteUserRoomEntry;
    procs.handleMessage = handleMessage;
    procs.handleTimerEvent = handleTimerEvent;
    return procs;
}
