// The privilege oracle of the command fuzzer: what a line typed by a user
// below the operators' rank may change, and what it may never change.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "world.h"

namespace fuzz
{

// What the oracle compares of one user.
struct UserState {
    std::string name;
    RoomID room;
    Point pos;
    std::vector<AssetSpec> props;
    sint16 face, color;
    int roomBits;               // what a member room holds him with
    int globalBits;             // the operators' gags
    uint16 pinned;              // the operators' pin
    std::vector<long> counters; // his movement counters, warning and last place
    bool loggedOn;              // his logon data have all arrived
};

// What the oracle compares of one room.
struct RoomState {
    ClientID owner;
    uint32_t roomFlags;
    int switches;
    std::vector<std::vector<int>> banList; // flags and identities, newest first
    std::string lastChat;                  // what the mimicry rule remembers
    UserID lastSpeaker = 0;
};

struct Snapshot {
    std::map<std::string, UserState> users;
    std::map<RoomID, RoomState> rooms;
    std::set<RoomID> takeable; // member rooms whose owner has been away long enough
    RoomID ownRoom = -1;       // the member room the speaker owns
    bool chatSpent = false;    // the speaker's chat limit refuses his next line
    bool chatLimited = false;  // a chat limit applies to him where he is
    time_t at = 0;             // when he spoke
    std::string lastChat;      // the last line his chat counted
    size_t transcriptAt = 0;
    size_t lineAt = 0, answeredAt = 0; // the answers to the line itself
    size_t notices = 0, controlTexts = 0, roomMessages = 0;
};

// The world as a line of `speaker` finds it.
Snapshot snapshot(World &w, ServerUserRec *speaker);

// The sanctions a room's ban list holds for a user, worked out afresh: the
// union of every entry that matches him by an identity he has (0 is none),
// nothing for the room's owner and the operators.
int expectedSanctions(World &w, ServerUserRec *u, ServerRoomRec *room);

// Checks what holds after every record, and aborts naming `what`:
// - the plug-in finds every user's sanctions in every room as worked out
//   afresh;
// - a user below the operators' rank who changed rooms, came, or whose
//   logon data arrived, stands in no room that has kicked him (the entrance aside),
//   and bears no sanction his room does not hold for him.
void checkWorld(World &w, const std::string &what, const Snapshot &before);

// Checks what a line of `speaker` (rank 0 or 1) did between `before` and
// now, and aborts with the line on a violation (checkWorld, and):
// - no notice to the operators and no operator's log line;
// - nobody's name, face, colour, connection, or operators' gags and pins
//   change;
// - outside the member room the speaker owns, nobody's room, place, props,
//   room sanctions or movement counters change; no room but his own changes its switches or
//   ban list, or goes; a room changes owner only to him, by a take that
//   the owner's absence allows, or, his own, to a member; a room made is a
//   member's;
// - the speaker gets into no room whose entry check refuses him, sheds
//   none of his room sanctions while he stays in the room, and while an
//   operator's pin holds him stays where and as he is;
// - no notice, room message or log line of the plug-in holds a control
//   byte;
// - an announcement or reply of his that reaches anybody counts against
//   his chat limit, and gagged in his room or past his chat limit, none
//   reaches anybody;
// - a user hidden from him is answered, when he names him or whispers a
//   command to him, as a user who is not there, and no answer to him names
//   a hidden user in a spelling he did not type (rwho, rtake and rpage,
//   which show a member room's owner, and respond, which names the user
//   who wrote to him, aside).
// `to` is the user he whispered the line to, or null.
void checkLine(World &w, ServerUserRec *speaker, ServerUserRec *to, const std::string &line,
               const Snapshot &before);

// After a user below the operators' rank renamed himself: the name he
// took finds him, and nobody else.
void checkName(World &w, ServerUserRec *user, const std::string &name, const Snapshot &before);

} // namespace fuzz
