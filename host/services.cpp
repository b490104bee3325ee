// The C services the host offers a plug-in, each a thin call into the
// current Host. Text services print one transcript line each.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "host.h"

using vh::Host;

namespace
{

Host &host()
{
    return *Host::current();
}

// One pass for the texts that fit a line buffer, which is nearly all.
std::string vformat(const char *fmt, va_list ap)
{
    char line[512];
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(line, sizeof line, fmt, copy);
    va_end(copy);
    if (n <= 0)
        return "";
    if (static_cast<size_t>(n) < sizeof line)
        return std::string(line, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
    return out;
}

// Formats the text (so every argument is read, even by a quiet host),
// then returns from the service when there is no transcript to write.
#define FORMAT_TEXT(fmt, text)                                                                     \
    std::string text;                                                                              \
    bool text##HasControl = false;                                                                 \
    do {                                                                                           \
        (void)text##HasControl;                                                                    \
        va_list ap;                                                                                \
        va_start(ap, fmt);                                                                         \
        if (host().quiet()) {                                                                      \
            char discard[512];                                                                     \
            std::vsnprintf(discard, sizeof discard, fmt, ap);                                      \
            va_end(ap);                                                                            \
            return;                                                                                \
        }                                                                                          \
        text = vformat(fmt, ap);                                                                   \
        va_end(ap);                                                                                \
        text##HasControl = vh::hasControl(text);                                                   \
        text = vh::printable(text);                                                                \
    } while (0)

std::string roomLabel(ServerRoomRec *room)
{
    return room == nullptr ? "room ?" : "room " + std::to_string(room->room.roomID);
}

std::string pointText(Point p)
{
    return std::to_string(p.h) + " " + std::to_string(p.v);
}

} // namespace

extern "C" {

// ---- Slots, lookup, ranks ------------------------------------------------

void setPluginUserInfoSize(PluginID, sint32 size)
{
    host().setSlotSize(true, size);
}
void setPluginRoomInfoSize(PluginID, sint32 size)
{
    host().setSlotSize(false, size);
}
void *getPluginUserInfo(PluginID, ServerUserRec *user)
{
    return host().slotOf(user);
}
void *getPluginRoomInfo(PluginID, ServerRoomRec *room)
{
    return host().slotOf(room);
}

ServerUserRec *GetServerUser(UserID id)
{
    return host().userById(id);
}
ServerUserRec *GetServerUserByName(const char *name)
{
    return name == nullptr ? nullptr : host().userByName(name);
}
ServerUserRec *GetServerUserByCounter(ClientID counter)
{
    return host().userByCounter(counter);
}
ServerRoomRec *GetRoom(RoomID id)
{
    return host().room(id);
}
int UserRank(ServerUserRec *user)
{
    return user == nullptr ? 0 : host().rankOf(user);
}

// ---- Text ------------------------------------------------------------------

void UserMessage(ServerUserRec *user, const char *fmt, ...)
{
    FORMAT_TEXT(fmt, text);
    host().emit(host().handleOf(user) + ": " + text);
}

void UserPrivateMessage(ServerUserRec *user, const char *fmt, ...)
{
    FORMAT_TEXT(fmt, text);
    host().emit(host().handleOf(user) + " (private): " + text);
}

void RoomMessage(ServerRoomRec *room, const char *fmt, ...)
{
    host().countRoomMessage();
    FORMAT_TEXT(fmt, text);
    if (textHasControl)
        host().countControlText();
    host().emit(roomLabel(room) + ": " + text);
}

void GlobalMessage(const char *fmt, ...)
{
    FORMAT_TEXT(fmt, text);
    host().emit("all: " + text);
}

void WizGlobalMessage(const char *fmt, ...)
{
    host().countOperatorNotice();
    FORMAT_TEXT(fmt, text);
    if (textHasControl)
        host().countControlText();
    host().emit("wizards: " + text);
}

// The operator messages name who receives them.
void GodGlobalMessage(const char *fmt, ...)
{
    FORMAT_TEXT(fmt, text);
    if (textHasControl)
        host().countControlText();
    host().emit("gods " + host().operatorsIn(3, nullptr) + ": " + text);
}

void WizRoomMessage(ServerRoomRec *room, const char *fmt, ...)
{
    FORMAT_TEXT(fmt, text);
    if (textHasControl)
        host().countControlText();
    std::string to = room != nullptr ? host().operatorsIn(2, room) : "[]";
    host().emit("wizards in " + roomLabel(room) + " " + to + ": " + text);
}

// The operators near a user are those in his room.
void WizNeighborMessage(ServerUserRec *user, const char *fmt, ...)
{
    host().countOperatorNotice();
    FORMAT_TEXT(fmt, text);
    if (textHasControl)
        host().countControlText();
    ServerRoomRec *room = user != nullptr ? host().room(user->user.roomID) : nullptr;
    std::string to = room != nullptr ? host().operatorsIn(2, room, user) : "[]";
    host().emit("wizards near " + host().handleOf(user) + " " + to + ": " + text);
}

void FormattedLogMessage(ServerUserRec *user, const char *tag, const char *fmt, ...)
{
    FORMAT_TEXT(fmt, text);
    if (textHasControl)
        host().countControlText();
    std::string head = "log [" + std::string(tag != nullptr ? tag : "") + "]";
    if (user != nullptr)
        head += " " + host().handleOf(user);
    host().emit(head + ": " + text);
}

// ---- Client updates ------------------------------------------------------

MsgDestination toUser(ServerUserRec *user)
{
    return MsgDestination{DEST_USER, user};
}
MsgDestination toUserRoom(ServerUserRec *user)
{
    return MsgDestination{DEST_USERROOM, user};
}

void sendMsgUserDesc(MsgDestination dest, ServerUserRec *user, sint16 face, sint16 color,
                     sint32 nbrProps, const AssetSpec *props)
{
    host().emit(host().destName(dest) + " <- desc " + host().handleOf(user) + " face " +
                std::to_string(face) + " color " + std::to_string(color) + " props " +
                vh::propList(nbrProps, props));
}

void sendMsgUserMove(MsgDestination dest, ServerUserRec *user, Point pos)
{
    host().emit(host().destName(dest) + " <- move " + host().handleOf(user) + " " + pointText(pos));
}

void sendMsgUserName(MsgDestination dest, ServerUserRec *user, const unsigned char *name)
{
    size_t n = std::min<size_t>(name[0], 31);
    std::string text(reinterpret_cast<const char *>(name + 1), n);
    host().emit(host().destName(dest) + " <- name " + host().handleOf(user) + " " +
                vh::printable(text));
}

void sendMsgUserProp(MsgDestination dest, ServerUserRec *user, sint32 nbrProps,
                     const AssetSpec *props)
{
    host().emit(host().destName(dest) + " <- props " + host().handleOf(user) + " " +
                vh::propList(nbrProps, props));
}

void sendMsgDraw(MsgDestination dest, const DrawRecord *draw)
{
    host().emit(host().destName(dest) + " <- draw " + std::to_string(draw->drawCmd & 0xFF));
}

void sendMsgNavError(MsgDestination dest, sint32 code)
{
    host().emit(host().destName(dest) + " <- nav error " + std::to_string(code));
}

// ---- Changes ---------------------------------------------------------------

void ChangeUserRoom(ServerUserRec *user, RoomID room, Boolean force)
{
    if (force != 0)
        host().emit(host().handleOf(user) + " is let into room " + std::to_string(room) +
                    " (closed or passworded or not)");
    host().changeUserRoom(user, room, force != 0);
}

void ChangeUserDesc(ServerUserRec *user, sint16 color, sint16 face, sint32 nbrProps,
                    const AssetSpec *props)
{
    user->user.faceNbr = face;
    user->user.colorNbr = color;
    host().setProps(user, nbrProps, props);
    host().emit(host().handleOf(user) + " changes desc face " + std::to_string(face) + " color " +
                std::to_string(color) + " props " +
                vh::propList(user->user.nbrProps, user->user.propSpec));
}

void ChangeUserFace(ServerUserRec *user, sint16 face)
{
    user->user.faceNbr = face;
    host().emit(host().handleOf(user) + " changes face to " + std::to_string(face));
}

void ChangeUserColor(ServerUserRec *user, sint16 color)
{
    user->user.colorNbr = color;
    host().emit(host().handleOf(user) + " changes color to " + std::to_string(color));
}

void UpdateUserPosition(ServerUserRec *user, Point pos, Boolean)
{
    host().setPosition(user, pos);
}

void AddDrawCommand(ServerUserRec *user, const DrawRecord *draw)
{
    host().addDrawing(user, draw->drawCmd & 0xFF, draw->cmdLength);
}

void DeleteLooseProp(ServerUserRec *user, sint32 propNbr)
{
    host().deleteLooseProps(user, propNbr);
}

void ScheduleUserKill(ServerUserRec *user, sint16 reason, const char *text, int)
{
    host().scheduleKill(user, reason, text);
}

void GenerateListOfAllUsers(ServerUserRec *user)
{
    host().listUsers(user);
}

// ---- Delivery and timers ---------------------------------------------------

void deliverMessageNormal(PluginID, ClientMsg *msg, ServerUserRec *user)
{
    host().deliver(msg, user, true);
}

void deliverMessageDirect(PluginID, ClientMsg *msg, ServerUserRec *user)
{
    host().deliver(msg, user, false);
}

void scheduleTimerEvent(PluginID, AnyType event, sint32 seconds)
{
    host().scheduleTimer(event, seconds);
}

// ---- Strings -------------------------------------------------------------------

void DecryptCString(const unsigned char *src, char *dst, int count, int)
{
    for (int i = 0; i < count; i++)
        dst[i] = static_cast<char>(src[i] ^ static_cast<unsigned char>(0xA5 + 0x1F * i));
}

void SeedToWizKey(ServerUserRec *user, char *dst, int selector)
{
    uint32_t seed = selector != 0 ? (user->crc ^ user->counter) : user->puidCtr;
    std::snprintf(dst, WIZKEY_MAX, "K%d-%08X", selector != 0 ? 1 : 0, seed);
}

void CtoPstr(char *s)
{
    size_t n = std::min<size_t>(std::strlen(s), 255);
    std::memmove(s + 1, s, n);
    s[0] = static_cast<char>(n);
}

void PtoCstr(unsigned char *s)
{
    size_t n = s[0];
    std::memmove(s, s + 1, n);
    s[n] = 0;
}

// ---- Memory --------------------------------------------------------------------

Ptr NewPtr(sint32 byteCount)
{
    return static_cast<Ptr>(host().newPtr(byteCount, false));
}
Ptr NewPtrClear(sint32 byteCount)
{
    return static_cast<Ptr>(host().newPtr(byteCount, true));
}
void DisposePtr(Ptr p)
{
    host().disposePtr(p);
}

} // extern "C"
