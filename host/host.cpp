// The substitute host's life and its plug-in: the one current host, loading
// and starting the plug-in, shutting it down, and freeing what it handed
// over that will never be acted on. The host owns the module it loaded and
// the arguments it passed; the plug-in's data stays the plug-in's. The rest
// of the Host is in a file per concern: rooms.cpp and users.cpp (the world),
// delivery.cpp, timers.cpp, alloc.cpp and servercmds.cpp.
#include "host_internal.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace vh
{

namespace
{

bool g_several = false; // a benchmark keeps several worlds, one current at a time
constexpr PluginID kPluginID = 1;

} // namespace

// ---- Life ---------------------------------------------------------------

Host::Host()
{
    if (current_ != nullptr && !g_several) {
        std::fprintf(stderr, "host: only one host at a time\n");
        std::abort();
    }
    current_ = this;
    state_.maxPeoplePerRoom = kMaxPeoplePerRoom;
    setClock(localTime(2026, 1, 5, 9, 0, 0));
    createRoom(0, "Entrance");
}

Host::~Host()
{
    current_ = this; // the plug-in's last calls are this host's
    if (running_)
        shutdown();
    freePending();
    if (dl_ != nullptr)
        dlclose(dl_);
    for (auto &[p, size] : blocks_)
        std::free(p);
    for (auto &[id, r] : rooms_)
        roomById_[static_cast<uint16_t>(id)] = nullptr; // the table goes to the next host
    current_ = nullptr;
}

void Host::allowSeveral()
{
    g_several = true;
}

void Host::makeCurrent()
{
    current_ = this;
}

void Host::emit(const std::string &line)
{
    if (quiet_)
        return;
    transcript_.push_back(line);
    if (echo)
        echo(line);
}

// ---- Plug-in --------------------------------------------------------------

bool Host::loadPlugin(const std::string &path, const std::string &paramFile)
{
    dl_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dl_ == nullptr) {
        emit(std::string("host: cannot load plug-in: ") + dlerror());
        return false;
    }
    struct Entry {
        const char *name;
        void **slot;
    } entries[] = {
        {"initializeServerPlugin", reinterpret_cast<void **>(&procs_.initialize)},
        {"shutdownServerPlugin", reinterpret_cast<void **>(&procs_.shutdown)},
        {"noteUserCreation", reinterpret_cast<void **>(&procs_.userCreation)},
        {"noteUserDeletion", reinterpret_cast<void **>(&procs_.userDeletion)},
        {"noteRoomCreation", reinterpret_cast<void **>(&procs_.roomCreation)},
        {"noteRoomDeletion", reinterpret_cast<void **>(&procs_.roomDeletion)},
        {"noteUserRoomEntry", reinterpret_cast<void **>(&procs_.userRoomEntry)},
        {"handleMessage", reinterpret_cast<void **>(&procs_.handleMessage)},
        {"handleTimerEvent", reinterpret_cast<void **>(&procs_.handleTimerEvent)},
    };
    for (auto &e : entries) {
        *e.slot = dlsym(dl_, e.name);
        if (*e.slot == nullptr) {
            emit(std::string("host: plug-in lacks entry point ") + e.name);
            procs_ = PluginProcs{};
            return false;
        }
    }
    std::string name = path.substr(path.find_last_of('/') + 1);
    startPlugin(name, paramFile);
    return running_;
}

bool Host::attachPlugin(const PluginProcs &procs, const std::string &paramFile)
{
    procs_ = procs;
    startPlugin("vestrel.so", paramFile);
    return running_;
}

void Host::startPlugin(const std::string &name, const std::string &paramFile)
{
    args_ = {name, paramFile};
    argv_.clear();
    for (auto &a : args_)
        argv_.push_back(a.data());
    argv_.push_back(nullptr);

    pluginDat_ = procs_.initialize(kPluginID, 2, argv_.data());
    if (pluginDat_ == nullptr) {
        // Nothing it scheduled is ever delivered to a plug-in that did not
        // start: its events are freed now, not when they fall due.
        emit("host: plug-in failed to start");
        freePending();
        return;
    }
    running_ = true;
    // Rooms and users that were there before the plug-in hear of it now.
    for (ServerRoomRec *r = state_.roomList; r != nullptr; r = r->nextRoom)
        procs_.roomCreation(&state_, pluginDat_, r);
    for (ServerUserRec *u = state_.userList; u != nullptr; u = u->nextUser)
        procs_.userCreation(&state_, pluginDat_, u);
    drain();
}

void Host::shutdown()
{
    if (!running_)
        return;
    state_.currentUser = nullptr;
    for (ServerUserRec *u = state_.userList; u != nullptr; u = u->nextUser)
        procs_.userDeletion(&state_, pluginDat_, u);
    for (ServerRoomRec *r = state_.roomList; r != nullptr; r = r->nextRoom)
        procs_.roomDeletion(&state_, pluginDat_, r);
    procs_.shutdown(&state_, pluginDat_);
    running_ = false;
    pluginDat_ = nullptr;
    freePending();
}

// Events and messages the plug-in handed over that will never be acted on.
void Host::freePending()
{
    for (auto &[key, event] : timers_)
        disposePtr(event);
    timers_.clear();
    for (auto &item : queue_) {
        if (item.kind == QueueItem::Timer)
            disposePtr(item.event);
        if (item.kind == QueueItem::Deliver && item.msg != nullptr)
            disposePtr(item.msg);
    }
    queue_.clear();
}

} // namespace vh
