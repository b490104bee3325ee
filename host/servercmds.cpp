// The server's own commands: a chat line or a whisper beginning with a
// backtick or an apostrophe that the plug-in let through is the server's
// command of that word (page, kill, banip, comment, the member-room
// commands, er, respond), taken in the short forms the plug-in's command
// table takes. They change the world through rooms.cpp and users.cpp.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "host_internal.h"

namespace vh
{

// The member room this user owns: his lastOwnedRoom while it is still his.
ServerRoomRec *Host::ownedRoom(ServerUserRec *user) const
{
    ServerRoomRec *r = user->lastOwnedRoom;
    if (r == nullptr || hostRoom(r) == nullptr || r->memberOwner != user->counter)
        return nullptr;
    return r;
}

// The server's member-room commands: a member has one room of his own;
// its owner (or an operator in it) deletes, hands over, kicks out of and
// sets up the room.
void Host::memberRoomCommand(ServerUserRec *user, const std::string &word, const std::string &arg,
                             ServerUserRec *target)
{
    const std::string who = handleOf(user);
    ServerRoomRec *here = room(user->user.roomID);
    ServerRoomRec *r = ownedRoom(user);
    if (r == nullptr && rankOf(user) >= 2 && here != nullptr && here->memberOwner != 0 &&
        word != "newroom" && word != "rdelete")
        r = here; // an operator acts in the member room he is in
    if (word == "newroom") {
        if (r != nullptr) {
            UserMessage(user, "You already own a room");
            return;
        }
        RoomID id = 1000;
        while (room(id) != nullptr)
            id++;
        std::string name = pascalToString(user->user.name, 31);
        ServerRoomRec *created = createRoom(id, arg.empty() ? name + "'s room" : arg);
        setRoomOwner(id, user);
        emit(who + " creates room " + std::to_string(created->room.roomID));
        changeUserRoom(user, id, true);
        return;
    }
    if (r == nullptr) {
        UserMessage(user, "You own no room");
        return;
    }
    const std::string where = "room " + std::to_string(r->room.roomID) + ": ";
    if (word == "rdelete") {
        deleteRoom(r->room.roomID);
        return;
    }
    if (word == "rscripts" || word == "rpaint" || word == "rpicture") {
        static const std::map<std::string, std::string> what = {
            {"rscripts", "scripts"}, {"rpaint", "painting"}, {"rpicture", "picture"}};
        emit(where + what.at(word) + " " + (arg.empty() ? "?" : printable(arg)) + " (by " + who +
             ")");
        return;
    }
    ServerUserRec *other = target != nullptr ? target : userByName(arg.c_str());
    if (other == nullptr) {
        UserMessage(user, "%s: no such user", word.c_str());
        return;
    }
    if (word == "rowner") {
        r->memberOwner = other->counter;
        other->lastOwnedRoom = r;
        emit(handleOf(other) + " owns room " + std::to_string(r->room.roomID));
    } else if (word == "rkick") {
        emit(where + handleOf(other) + " is kicked out by " + who);
        if (other->user.roomID == r->room.roomID)
            changeUserRoom(other, 0, true);
    } else {
        emit(where + handleOf(other) + " may come back (by " + who + ")");
    }
}

// The server's commands that the plug-in's command table holds as well. To
// the user each is one command, so the server takes the short forms the
// plug-in takes: at least `minimum` letters of the word.
namespace
{
struct ShortForm {
    const char *word;
    size_t minimum;
};
constexpr ShortForm kShortForms[] = {{"er", 2},    {"newroom", 2}, {"rdelete", 7}, {"respond", 2},
                                     {"rkick", 2}, {"rowner", 6},  {"runkick", 4}};
} // namespace

std::string serverCommandWord(const std::string &typed)
{
    std::string word = lower(typed);
    for (const ShortForm &f : kShortForms) {
        std::string_view full(f.word);
        if (word.size() >= f.minimum && word.size() <= full.size() && full.starts_with(word))
            return f.word;
    }
    return word;
}

// The server's own log line, as the log service writes the plug-in's.
void Host::serverLog(ServerUserRec *user, const std::string &tag, const std::string &text)
{
    emit("log [" + tag + "] " + handleOf(user) + ": " + text);
}

// A chat line that begins with a backtick or an apostrophe and that the
// plug-in let through: the server's own command of that word, if it has one.
void Host::hostCommand(ServerUserRec *user, const std::string &line, ServerUserRec *target)
{
    std::string body = line.substr(1);
    size_t blank = body.find_first_of(" \t");
    std::string word = serverCommandWord(body.substr(0, blank));
    std::string arg;
    if (blank != std::string::npos) {
        size_t start = body.find_first_not_of(" \t", blank);
        if (start != std::string::npos)
            arg = body.substr(start);
    }
    const std::string who = handleOf(user);
    const bool op = rankOf(user) >= 2;
    const std::string name = pascalToString(user->user.name, 31);

    if (word == "page") {
        lastPageRoom_ = user->user.roomID;
        emit("wizards: Page from " + printable(name) + ": " + printable(arg));
    } else if (word == "help") {
        UserPrivateMessage(user, "Server commands: page help kill banip comment newroom rdelete "
                                 "rowner rkick runkick rscripts rpaint rpicture er respond");
    } else if (word == "kill") {
        if (!op || target == nullptr) {
            UserMessage(user, "kill must be whispered by an operator");
            return;
        }
        serverLog(user, "kill", handleOf(target));
        scheduleKill(target, K_Verbose, arg.empty() ? "killed by an operator" : arg.c_str());
    } else if (word == "banip") {
        unsigned a, b, c, d;
        char extra;
        if (!op || std::sscanf(arg.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 ||
            a > 255 || b > 255 || c > 255 || d > 255) {
            UserMessage(user, "usage: banip <a.b.c.d> (operators only)");
            return;
        }
        unsigned char octets[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                   static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
        uint32_t ip;
        std::memcpy(&ip, octets, 4);
        if (std::find(bannedIps_.begin(), bannedIps_.end(), ip) == bannedIps_.end())
            bannedIps_.push_back(ip); // once: a repeated ban must not grow the list
        serverLog(user, "banip", ipText(ip));
    } else if (word == "comment") {
        serverLog(user, "comment", arg);
    } else if (word == "newroom" || word == "rdelete" || word == "rowner" || word == "rkick" ||
               word == "runkick" || word == "rscripts" || word == "rpaint" || word == "rpicture") {
        memberRoomCommand(user, word, arg, target);
    } else if (word == "er") {
        if (!op || lastPageRoom_ < 0 || room(lastPageRoom_) == nullptr) {
            UserMessage(user, "No page to respond to");
            return;
        }
        changeUserRoom(user, lastPageRoom_, false);
    } else if (word == "respond") {
        ServerUserRec *to = userById(user->lastESPsender);
        if (to == nullptr) {
            UserMessage(user, "Nobody to respond to");
            return;
        }
        to->lastESPsender = user->user.userID;
        emit(who + " whispers to " + handleOf(to) + ": " + printable(arg));
    } else {
        emit(who + " says: " + printable(line));
    }
}

} // namespace vh
