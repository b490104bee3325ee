// The substitute Corvex host: a small in-process chat server that loads a
// plug-in, keeps users and rooms, a virtual clock, timers and a delivery
// queue, and prints one transcript line for every visible effect. Host is
// one class; each group of its members names the file that holds it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "s-pluginapi.h"

namespace vh
{

// The virtual clock that the process-wide time() answers (vclock.cpp).
time_t clockNow();
void setClock(time_t t);
// Local calendar time to seconds, as mktime reads it.
time_t localTime(int year, int month, int day, int hour, int minute, int second);

// The reversible cipher of enciphered chat (client.cpp).
std::vector<uint8_t> encipher(const std::string &plain);

// Client message bytes: header then payload, kept word-aligned (client.cpp).
class Message
{
  public:
    Message(uint32_t eventType, const std::vector<uint8_t> &payload, int32_t refNum = 0);
    ClientMsg *get() { return reinterpret_cast<ClientMsg *>(words_.data()); }

  private:
    std::vector<uint32_t> words_;
};

struct PluginProcs {
    InitializeServerPluginProc initialize = nullptr;
    ShutdownServerPluginProc shutdown = nullptr;
    NoteUserProc userCreation = nullptr;
    NoteUserProc userDeletion = nullptr;
    NoteRoomProc roomCreation = nullptr;
    NoteRoomProc roomDeletion = nullptr;
    NoteUserRoomEntryProc userRoomEntry = nullptr;
    HandleMessageProc handleMessage = nullptr;
    HandleTimerEventProc handleTimerEvent = nullptr;
};

struct UserOptions {
    std::string handle;
    int rank = 1;               // 0 guest, 1 member, 2 wizard, 3 god
    std::optional<uint32_t> ip; // a.b.c.d packed as (a<<24)|(b<<16)|(c<<8)|d
    std::optional<uint32_t> counter, crc, puid;
    RoomID room = 0;
    int x = 0, y = 0;
    bool hidden = false;
    uint32_t clientType = 0; // the logon record's auxFlags
    std::optional<std::string> logonName;
    int logonDelay = 0; // seconds before counter, crc and the logon flag arrive
};

struct RoomOptions {
    std::optional<std::string> name = {};
    std::optional<bool> isPrivate = {}, closed = {}, operatorsOnly = {}, noLooseProps = {};
    std::optional<std::string> password = {};
    std::optional<int> drawings = {}, lenVars = {}, maxOccupancy = {};
};

class Host
{
  public:
    // Life (host.cpp). Several hosts may live at once after allowSeveral();
    // the services act on the one made current last (the newest, until
    // another is).
    Host();
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;
    static Host *current() { return current_; }
    static void allowSeveral();
    void makeCurrent();

    // The plug-in (host.cpp). load/attach initialise it with args {name, paramFile}.
    bool loadPlugin(const std::string &path, const std::string &paramFile);
    bool attachPlugin(const PluginProcs &procs, const std::string &paramFile);
    bool pluginRunning() const { return running_; }
    void *pluginData() const { return pluginDat_; }
    const PluginProcs &procs() const { return procs_; }
    void shutdown();

    // The world: rooms and their slots (rooms.cpp).
    ServerState *state() { return &state_; }
    ServerRoomRec *createRoom(RoomID id, const std::string &name);
    void changeRoom(RoomID id, const RoomOptions &options);
    void setRoomOwner(RoomID id, ServerUserRec *owner); // null: no member room
    void deleteRoom(RoomID id);
    ServerRoomRec *room(RoomID id) const;
    void clearLooseProps(RoomID id);
    // False, with a transcript line, when the room's buffer has no space.
    bool addLooseProp(RoomID id, AssetSpec asset, Point loc);
    void setSlotSize(bool user, int32_t size);
    void *slotOf(ServerUserRec *user);
    void *slotOf(ServerRoomRec *room);

    // The world: users, and what the services change of them (users.cpp).
    ServerUserRec *connect(const UserOptions &options);
    void disconnect(ServerUserRec *user, const std::string &reason = "");
    void liftBans(); // every address an operator's banip refused
    ServerUserRec *user(const std::string &handle) const;
    ServerUserRec *userById(UserID id) const;
    ServerUserRec *userByName(const char *name) const;
    ServerUserRec *userByCounter(ClientID counter) const;
    std::string handleOf(const ServerUserRec *user) const;
    int rankOf(const ServerUserRec *user) const;
    void setRank(ServerUserRec *user, int rank);
    void changeUserRoom(ServerUserRec *user, RoomID id, bool force);
    void setUserName(ServerUserRec *user, const unsigned char *pname);
    void setProps(ServerUserRec *user, int32_t n, const AssetSpec *props);
    void setPosition(ServerUserRec *user, Point p);
    void addDrawing(ServerUserRec *user, int cmd, int bytes);
    void deleteLooseProps(ServerUserRec *user, int32_t n);
    void listUsers(ServerUserRec *user);
    std::string destName(MsgDestination dest) const;
    // Handles of the operators a message reaches: gods (minRank 3) or
    // wizards and gods, in one room (or anywhere when room is null),
    // leaving out `except`.
    std::string operatorsIn(int minRank, const ServerRoomRec *room,
                            const ServerUserRec *except = nullptr) const;

    // Delivery (delivery.cpp): a message from a user's client, screened by
    // the plug-in, then applied; what the plug-in hands over waits in the
    // queue until the call is over.
    void send(ServerUserRec *user, uint32_t eventType, const std::vector<uint8_t> &payload);
    // A message while the server has no current user (from a connection
    // that is not yet a user).
    void sendWithoutUser(uint32_t eventType, const std::vector<uint8_t> &payload);
    void deliver(ClientMsg *msg, ServerUserRec *user, bool screen);
    void scheduleKill(ServerUserRec *user, int reason, const char *text);
    // Runs what the last call left in the queue (the host does this itself
    // after every call it makes).
    void flush() { drain(); }

    // Typed messages, one per client event (client.cpp; positions are x, y).
    void say(ServerUserRec *user, const std::string &text);
    void whisper(ServerUserRec *user, ServerUserRec *target, const std::string &text);
    void xsay(ServerUserRec *user, const std::string &text);
    void xwhisper(ServerUserRec *user, ServerUserRec *target, const std::string &text);
    void globalMessage(ServerUserRec *user, const std::string &text);
    void roomMessage(ServerUserRec *user, const std::string &text);
    void page(ServerUserRec *user, const std::string &text);
    void gotoRoom(ServerUserRec *user, RoomID id);
    void moveTo(ServerUserRec *user, int x, int y);
    void face(ServerUserRec *user, int face);
    void color(ServerUserRec *user, int color);
    void props(ServerUserRec *user, const std::vector<AssetSpec> &props);
    void desc(ServerUserRec *user, int face, int color, const std::vector<AssetSpec> &props);
    void rename(ServerUserRec *user, const std::string &name);
    void dropProp(ServerUserRec *user, AssetSpec asset, int x, int y);
    void moveProp(ServerUserRec *user, int32_t number, int x, int y);
    void deleteProp(ServerUserRec *user, int32_t number); // -1: all
    void draw(ServerUserRec *user, int command, size_t bytes = 10);

    // Time: the timers on the virtual clock (timers.cpp).
    void scheduleTimer(void *event, int32_t seconds);
    void advance(long seconds);
    size_t pendingTimers() const { return timers_.size(); }
    // Timer events waiting, in the order they will fire.
    std::vector<void *> pendingEvents() const;
    // Takes the next timer event out of the host's keeping (null when none
    // is waiting): a benchmark hands it to handleTimerEvent itself.
    void *takeTimer();

    // The allocator (alloc.cpp).
    void *newPtr(int32_t size, bool clear);
    void disposePtr(void *p);
    size_t liveBlocks() const { return lean_ ? leanBlocks_ : blocks_.size(); }
    // A lean allocator only counts its blocks: it cannot tell a foreign
    // free, nor free what is left when the host goes. For benchmarks; set
    // it before the plug-in starts.
    void setLeanAllocator(bool lean) { lean_ = lean; }
    int badFrees() const { return badFrees_; }
    // Fail the nth allocation from now (1 = the next), and with `onlyThat`
    // false every one after it too; 0 turns failures off.
    void failAllocation(uint64_t n, bool onlyThat);
    uint64_t allocationCalls() const { return allocCalls_; }

    // The transcript (host.cpp).
    const std::vector<std::string> &transcript() const { return transcript_; }
    // Notices the plug-in sent to the operators (WizGlobalMessage and
    // WizNeighborMessage), counted apart from the host's own pages.
    size_t operatorNotices() const { return operatorNotices_; }
    void countOperatorNotice() { operatorNotices_++; }
    // Notices, room messages and log lines of the plug-in's that held a
    // control byte (a line break from a user's text splits or forges a
    // line there); the host's own lines are not counted.
    size_t controlTexts() const { return controlTexts_; }
    void countControlText() { controlTexts_++; }
    // Messages the plug-in sent to a room (RoomMessage).
    size_t roomMessages() const { return roomMessages_; }
    void countRoomMessage() { roomMessages_++; }
    void clearTranscript() { transcript_.clear(); }
    std::function<void(const std::string &)> echo;
    void emit(const std::string &line);
    // A quiet host keeps no transcript (the texts are still formatted, so
    // that every argument the plug-in passes is read): for fuzzing and
    // benchmarks.
    void setQuiet(bool quiet) { quiet_ = quiet; }
    bool quiet() const { return quiet_; }

  private:
    // The plug-in.
    void startPlugin(const std::string &name, const std::string &paramFile);
    void freePending();
    void *dl_ = nullptr;
    PluginProcs procs_;
    void *pluginDat_ = nullptr;
    bool running_ = false;
    std::vector<std::string> args_;
    std::vector<char *> argv_;

    // The world: the records the host keeps beside each C record it hands
    // out (whose hostPrivate, its last field, points back at it), and their
    // indexes. The plug-in's slot comes right after the C record, so that
    // finding it reads the line the record ends in; they are here, not in
    // host_internal.h, for the inline lookups below.
    struct HostUser {
        ServerUserRec rec{};
        std::vector<unsigned char> slot;
        int rank = 1;
        std::string handle;
        std::string nameKey;                   // lower-cased name, as indexed in byName_
        uint32_t lateCounter = 0, lateCrc = 0; // logon data that arrive late
    };
    struct HostRoom {
        ServerRoomRec rec{};
        std::vector<unsigned char> slot;
        std::string name;
        std::vector<unsigned char> varBuf;
        std::vector<UserID> occupants;
        std::vector<LPropRec> props;
        std::vector<int> drawings; // payload bytes of each drawing
        int extraVars = 0;         // lenVars set by hand beyond the laid-out bytes
        size_t laidOut = 0;        // bytes of varBuf the last layout wrote
    };
    HostUser *hostUser(const ServerUserRec *user) const;
    HostRoom *hostRoom(const ServerRoomRec *room) const;
    void layoutRoom(HostRoom *room);
    static size_t laidOutBytes(const HostRoom *room, size_t extraProps);
    bool enterRoom(ServerUserRec *user, ServerRoomRec *room);
    void leaveRoom(ServerUserRec *user);
    void completeLogon(UserID id);
    static inline Host *current_ = nullptr;
    ServerState state_{};
    ServerUserRec **userTail_ = &state_.userList;
    ServerRoomRec **roomTail_ = &state_.roomList;
    std::unordered_map<UserID, std::unique_ptr<HostUser>> users_;
    std::unordered_map<RoomID, std::unique_ptr<HostRoom>> rooms_;
    // Direct lookups by number, as a real server indexes its tables. The
    // room table comes zeroed from calloc, so a host that uses few rooms
    // touches few of its pages; a host that goes leaves its table, cleared,
    // to the next (rooms.cpp), since a fuzzer makes a host per input and a
    // fresh table is a mapping of its own.
    struct RoomTable {
        static HostRoom **take();
        void operator()(HostRoom **table) const;
    };
    std::vector<HostUser *> userById_;
    std::unique_ptr<HostRoom *[], RoomTable> roomById_ { RoomTable::take() };
    std::unordered_map<const ServerUserRec *, HostUser *> userIndex_;
    std::unordered_map<const ServerRoomRec *, HostRoom *> roomIndex_;
    std::unordered_map<std::string, HostUser *> byHandle_;
    std::unordered_multimap<std::string, HostUser *> byName_;
    std::unordered_multimap<ClientID, HostUser *> byCounter_; // guests may share a counter
    void eraseCounter(ClientID counter, HostUser *u);
    UserID nextUserId_ = 1;
    uint32_t nextIdentity_ = 1;
    int32_t userSlotSize_ = 0, roomSlotSize_ = 0;

    // Delivery.
    struct QueueItem {
        enum Kind { Deliver, Kill, Timer } kind = Deliver;
        UserID user = 0;
        ClientMsg *msg = nullptr;
        bool screen = true;
        int reason = 0;
        std::string text;
        void *event = nullptr;
    };
    void process(ServerUserRec *user, ClientMsg *msg, bool screen);
    void apply(ServerUserRec *user, ClientMsg *msg);
    void applyChat(ServerUserRec *user, const std::string &text);
    void applyLogon(ServerUserRec *user, ClientMsg *msg);
    void applyLooseProp(ServerUserRec *user, ClientMsg *msg);
    void drain();
    std::deque<QueueItem> queue_;
    int busy_ = 0; // inside a call, or running the queue

    // Time.
    void fireTimer(void *event);
    std::map<std::tuple<time_t, uint64_t>, void *> timers_;
    uint64_t timerSeq_ = 0;
    std::multimap<time_t, UserID> lateLogons_; // logon data still to arrive

    // The server's own commands (servercmds.cpp).
    void hostCommand(ServerUserRec *user, const std::string &line, ServerUserRec *target);
    void serverLog(ServerUserRec *user, const std::string &tag, const std::string &text);
    void memberRoomCommand(ServerUserRec *user, const std::string &word, const std::string &arg,
                           ServerUserRec *target);
    ServerRoomRec *ownedRoom(ServerUserRec *user) const;
    std::vector<uint32_t> bannedIps_;
    RoomID lastPageRoom_ = -1;

    // The allocator.
    std::unordered_map<void *, size_t> blocks_;
    bool lean_ = false;
    size_t leanBlocks_ = 0;
    uint64_t allocCalls_ = 0, failAt_ = 0;
    bool failOnlyThat_ = false;
    int badFrees_ = 0;

    // The transcript.
    std::vector<std::string> transcript_;
    size_t operatorNotices_ = 0;
    size_t controlTexts_ = 0;
    size_t roomMessages_ = 0;
    bool quiet_ = false;
};

// ---- The lookups a server answers at once --------------------------------
// Inline, as a real server's are a load or two: the plug-in asks them on
// every message.

inline ServerUserRec *Host::userById(UserID id) const
{
    HostUser *u = id < userById_.size() ? userById_[id] : nullptr;
    return u == nullptr ? nullptr : &u->rec;
}

inline ServerRoomRec *Host::room(RoomID id) const
{
    HostRoom *r = roomById_[static_cast<uint16_t>(id)];
    return r == nullptr ? nullptr : &r->rec;
}

inline int Host::rankOf(const ServerUserRec *user) const
{
    HostUser *u = user != nullptr ? static_cast<HostUser *>(user->hostPrivate) : nullptr;
    return u == nullptr ? 0 : u->rank;
}

// The slot lives beside the host's record: no lookup, as a real host
// keeps it.
inline void *Host::slotOf(ServerUserRec *user)
{
    HostUser *u = user != nullptr ? static_cast<HostUser *>(user->hostPrivate) : nullptr;
    return (u == nullptr || u->slot.empty()) ? nullptr : u->slot.data();
}

inline void *Host::slotOf(ServerRoomRec *room)
{
    HostRoom *r = room != nullptr ? static_cast<HostRoom *>(room->hostPrivate) : nullptr;
    return (r == nullptr || r->slot.empty()) ? nullptr : r->slot.data();
}

// Text as the transcript prints it (text.cpp): every byte that is not
// printable ASCII (control bytes, DEL, 0x80 to 0xFF) as \xHH.
std::string printable(const std::string &text);
// Whether the text holds a control byte (below 0x20, or 0x7F).
bool hasControl(const std::string &text);
std::string propList(int32_t n, const AssetSpec *props);
// The server's own command that a typed word names (servercmds.cpp): the
// word itself, or the command it abbreviates far enough where the plug-in's
// table has the command too.
std::string serverCommandWord(const std::string &typed);
std::string eventCode(uint32_t eventType);

} // namespace vh
