// Delivery: a message from a client goes to the plug-in to be screened, and
// the server applies what the plug-in lets through. Messages and kills the
// plug-in hands over during a call wait in the queue until the call is
// over, and drain runs them. A message handed over is the host's from then
// on: drain frees it, delivered or not.
#include <algorithm>
#include <cstring>

#include "host_internal.h"

namespace vh
{

namespace
{

// Text of a payload up to its NUL, never past `length`.
std::string payloadText(const ClientMsg *msg, size_t from)
{
    if (msg->length <= from)
        return "";
    const char *p = reinterpret_cast<const char *>(msg->msg) + from;
    size_t n = strnlen(p, msg->length - from);
    return std::string(p, n);
}

template <typename T> bool readAt(const ClientMsg *msg, size_t at, T &out)
{
    if (msg->length < at + sizeof(T))
        return false;
    std::memcpy(&out, msg->msg + at, sizeof(T));
    return true;
}

std::string killReason(int reason)
{
    switch (reason) {
    case K_LoggedOff:
        return "logged off";
    case K_Verbose:
        return "killed";
    default:
        return "kill " + std::to_string(reason);
    }
}

} // namespace

// ---- Messages -------------------------------------------------------------

void Host::send(ServerUserRec *user, uint32_t eventType, const std::vector<uint8_t> &payload)
{
    if (hostUser(user) == nullptr)
        return;
    user->lastActive = clockNow();
    Message m(eventType, payload, static_cast<int32_t>(user->user.userID));
    process(user, m.get(), true);
    drain();
}

void Host::sendWithoutUser(uint32_t eventType, const std::vector<uint8_t> &payload)
{
    Message m(eventType, payload);
    process(nullptr, m.get(), true);
    drain();
}

void Host::process(ServerUserRec *user, ClientMsg *msg, bool screen)
{
    busy_++;
    ClientMsg *out = msg;
    state_.currentUser = user;
    if (screen && running_)
        out = procs_.handleMessage(&state_, pluginDat_, msg);
    if (out == nullptr) {
        emit("dropped " + eventCode(msg->eventType) + " from " +
             (user != nullptr ? handleOf(user) : std::string("nobody")));
    } else if (user != nullptr && hostUser(user) != nullptr) {
        apply(user, out);
    }
    state_.currentUser = nullptr;
    busy_--;
}

void Host::applyChat(ServerUserRec *user, const std::string &text)
{
    if (!text.empty() && (text[0] == '`' || text[0] == '\'')) {
        hostCommand(user, text, nullptr);
        return;
    }
    emit(handleOf(user) + " says: " + printable(text));
}

void Host::applyLogon(ServerUserRec *user, ClientMsg *msg)
{
    if (msg->length < LOGON_NAME_OFFSET + 32)
        return;
    setUserName(user, msg->msg + LOGON_NAME_OFFSET);
    emit(handleOf(user) + " logs on as " + printable(pascalToString(user->user.name, 31)));
}

void Host::applyLooseProp(ServerUserRec *user, ClientMsg *msg)
{
    HostRoom *r = hostRoom(room(user->user.roomID));
    if (r == nullptr)
        return;
    std::string where = "room " + std::to_string(r->rec.room.roomID) + ": ";
    if (msg->eventType == MSG_PROPNEW) {
        AssetSpec asset;
        Point loc;
        if (!readAt(msg, 0, asset) || !readAt(msg, 8, loc))
            return;
        if (r->rec.room.roomFlags & RF_NoLooseProps)
            return;
        LPropRec p{};
        p.propSpec = asset;
        p.loc = loc;
        if (static_cast<size_t>(r->rec.room.lenVars) + sizeof p * 2 > kVarBufSize ||
            laidOutBytes(r, 1) > kVarBufSize)
            return;
        r->props.insert(r->props.begin(), p);
        emit(where + handleOf(user) + " drops prop " + std::to_string(asset.id) + " at " +
             std::to_string(loc.h) + " " + std::to_string(loc.v));
    } else if (msg->eventType == MSG_PROPMOVE) {
        int32_t n;
        Point loc;
        if (!readAt(msg, 0, n) || !readAt(msg, 4, loc))
            return;
        if (n < 0 || static_cast<size_t>(n) >= r->props.size())
            return;
        r->props[n].loc = loc;
        emit(where + handleOf(user) + " moves loose prop " + std::to_string(n) + " to " +
             std::to_string(loc.h) + " " + std::to_string(loc.v));
    } else {
        int32_t n;
        if (!readAt(msg, 0, n))
            return;
        deleteLooseProps(user, n);
        return;
    }
    layoutRoom(r);
}

// What the server does with a message that the plug-in let through.
// An operator's pin holds a user (not another operator) where he is and
// as he is: he does not walk, leave the room or change his props.
static bool heldByPin(uint32_t eventType)
{
    return eventType == MSG_ROOMGOTO || eventType == MSG_USERMOVE || eventType == MSG_USERDESC ||
           eventType == MSG_USERPROP;
}

void Host::apply(ServerUserRec *user, ClientMsg *msg)
{
    const std::string who = handleOf(user);
    if ((user->flags & UF_Pinned) && rankOf(user) < 2 && heldByPin(msg->eventType)) {
        emit("host: " + who + " is pinned");
        if (msg->eventType == MSG_ROOMGOTO)
            sendMsgNavError(toUser(user), SE_RoomUnknown);
        return;
    }
    switch (msg->eventType) {
    case MSG_TALK:
        applyChat(user, payloadText(msg, 0));
        return;
    case MSG_XTALK: {
        uint16_t len;
        if (!readAt(msg, 0, len) || len < 3 || msg->length < len)
            return;
        std::string plain(len - 3u, '\0');
        DecryptCString(msg->msg + 2, plain.data(), len - 3, 0);
        applyChat(user, plain.substr(0, strnlen(plain.c_str(), plain.size())));
        return;
    }
    case MSG_WHISPER:
    case MSG_XWHISPER: {
        UserID target;
        if (!readAt(msg, 0, target))
            return;
        std::string text;
        if (msg->eventType == MSG_WHISPER) {
            text = payloadText(msg, 4);
        } else {
            uint16_t len;
            if (!readAt(msg, 4, len) || len < 3 || msg->length < len + 4u)
                return;
            std::string plain(len - 3u, '\0');
            DecryptCString(msg->msg + 6, plain.data(), len - 3, 0);
            text = plain.substr(0, strnlen(plain.c_str(), plain.size()));
        }
        ServerUserRec *to = userById(target);
        if (to == nullptr) {
            emit("host: whisper from " + who + " to nobody");
            return;
        }
        if (!text.empty() && (text[0] == '`' || text[0] == '\'')) {
            hostCommand(user, text, to);
            return;
        }
        to->lastESPsender = user->user.userID;
        emit(who + " whispers to " + handleOf(to) + ": " + printable(text));
        return;
    }
    case MSG_GMSG:
        emit(who + " to all: " + printable(payloadText(msg, 0)));
        return;
    case MSG_RMSG:
        emit(who + " to room " + std::to_string(user->user.roomID) + ": " +
             printable(payloadText(msg, 0)));
        return;
    case MSG_SMSG:
        lastPageRoom_ = user->user.roomID;
        emit("wizards: Page from " + printable(pascalToString(user->user.name, 31)) + ": " +
             printable(payloadText(msg, 0)));
        return;
    case MSG_ROOMGOTO: {
        RoomID id;
        if (readAt(msg, 0, id))
            changeUserRoom(user, id, false);
        return;
    }
    case MSG_USERMOVE: {
        Point p;
        if (readAt(msg, 0, p))
            setPosition(user, p);
        return;
    }
    case MSG_USERFACE: {
        sint16 face;
        if (readAt(msg, 0, face))
            ChangeUserFace(user, face);
        return;
    }
    case MSG_USERCOLOR: {
        sint16 color;
        if (readAt(msg, 0, color))
            ChangeUserColor(user, color);
        return;
    }
    case MSG_USERDESC:
    case MSG_USERPROP: {
        size_t at = msg->eventType == MSG_USERDESC ? 4 : 0;
        int32_t n;
        if (!readAt(msg, at, n) || n < 0 || n > MaxUserProps ||
            msg->length < at + 4 + 8u * static_cast<uint32_t>(n))
            return;
        std::vector<AssetSpec> props(static_cast<size_t>(n));
        if (n > 0)
            std::memcpy(props.data(), msg->msg + at + 4, 8u * static_cast<uint32_t>(n));
        if (msg->eventType == MSG_USERDESC) {
            sint16 face = 0, color = 0;
            readAt(msg, 0, face);
            readAt(msg, 2, color);
            ChangeUserDesc(user, color, face, n, props.data());
        } else {
            setProps(user, n, props.data());
            emit(who + " wears " + propList(n, props.data()));
        }
        return;
    }
    case MSG_USERNAME: {
        if (msg->length < 1)
            return;
        unsigned char pname[32] = {0};
        size_t n = std::min<size_t>({msg->msg[0], msg->length - 1, 31});
        pname[0] = static_cast<unsigned char>(n);
        std::memcpy(pname + 1, msg->msg + 1, n);
        setUserName(user, pname);
        emit(who + " changes name to " + printable(pascalToString(pname, 31)));
        return;
    }
    case MSG_PROPNEW:
    case MSG_PROPMOVE:
    case MSG_PROPDEL:
        applyLooseProp(user, msg);
        return;
    case MSG_DRAW: {
        if (msg->length < sizeof(DrawRecord))
            return;
        addDrawing(user, msg->msg[4], static_cast<int>(msg->length - sizeof(DrawRecord)));
        return;
    }
    case MSG_LOGON:
        applyLogon(user, msg);
        return;
    case MSG_LISTOFALLUSERS:
        listUsers(user);
        return;
    case MSG_LISTOFALLROOMS: {
        std::string line = who + " <- rooms";
        for (ServerRoomRec *r = state_.roomList; r != nullptr; r = r->nextRoom)
            line += " " + std::to_string(r->room.roomID);
        emit(line);
        return;
    }
    case MSG_SUPERUSER:
        emit(who + " asks for operator privileges");
        return;
    default:
        emit(who + " sends " + eventCode(msg->eventType));
        return;
    }
}

// ---- The queue of work after a call ---------------------------------------------

void Host::deliver(ClientMsg *msg, ServerUserRec *user, bool screen)
{
    QueueItem item;
    item.kind = QueueItem::Deliver;
    item.user = user != nullptr ? user->user.userID : 0;
    item.msg = msg;
    item.screen = screen;
    queue_.push_back(std::move(item));
}

void Host::scheduleKill(ServerUserRec *user, int reason, const char *text)
{
    if (user == nullptr)
        return;
    QueueItem item;
    item.kind = QueueItem::Kill;
    item.user = user->user.userID;
    item.reason = reason;
    item.text = text != nullptr ? text : "";
    queue_.push_back(std::move(item));
}

// Work queued during a call waits until the call is over: a room created
// or deleted inside a command does not run the queue in the middle of it.
void Host::drain()
{
    if (busy_ > 0)
        return;
    busy_++;
    while (!queue_.empty()) {
        QueueItem item = std::move(queue_.front());
        queue_.pop_front();
        switch (item.kind) {
        case QueueItem::Deliver: {
            ServerUserRec *u = userById(item.user);
            if (u != nullptr)
                process(u, item.msg, item.screen);
            disposePtr(item.msg);
            break;
        }
        case QueueItem::Kill:
            if (ServerUserRec *u = userById(item.user)) {
                std::string reason = killReason(item.reason);
                if (!item.text.empty())
                    reason += ": " + item.text;
                disconnect(u, reason);
            }
            break;
        case QueueItem::Timer:
            fireTimer(item.event);
            break;
        }
    }
    busy_--;
}

} // namespace vh
