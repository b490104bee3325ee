/* The server's own records as plug-ins see them, and the services that act
 * on users, rooms and clients. */
#ifndef S_SERVERPUBLIC_H
#define S_SERVERPUBLIC_H

#include <stddef.h>
#include <time.h>

#include "local.h"
#include "maccompat.h"
#include "m-assets.h"
#include "m-events.h"
#include "m-protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ServerUserRec.flags */
#define UF_Wizard 0x0001
#define UF_God 0x0002
#define UF_LogonComplete 0x0008
#define UF_Pinned 0x0100
#define UF_Hidden 0x0200

#define UA_Hide 0x1 /* UserActionRec.actionFlags: hide the owner from target */

#define GUEST_CRC 0x5905F923UL

/* Kill reasons for ScheduleUserKill */
#define K_LoggedOff 1
#define K_Verbose 16

typedef struct NetAddress {
    IPAddress ipAddress;
    uint16 port;
} NetAddress;

typedef struct UserActionRec {
    struct UserActionRec *nextRec;
    UserID target;
    uint32 actionFlags;
} UserActionRec;

typedef struct ServerRoomRec ServerRoomRec;

typedef struct ServerUserRec {
    struct ServerUserRec *nextUser;
    NetAddress netAddress;
    uint32 crc;
    uint32 counter;
    time_t lastActive;
    time_t signonTime;
    int nbrFloodEvents;
    uint16 flags;
    UserActionRec *actionList;
    UserID lastESPsender;
    ServerRoomRec *lastOwnedRoom;
    int nbrFailedPasswordAttempts;
    uint32 puidCRC;
    RoomID desiredRoom;
    int authAttempts;
    uint32 puidCtr;
    UserRec user;
    void *hostPrivate; /* the server's own; plug-ins never touch it */
} ServerUserRec;

struct ServerRoomRec {
    ServerRoomRec *nextRoom;
    UserID *occupants; /* maxPeoplePerRoom places; 0 is empty */
    UserID lastPainter;
    int maxOccupancy;
    ClientID memberOwner; /* owner's counter; 0 = not a member room */
    char roomPassword[32];
    uint32 varBufAlloc;
    unsigned char *varBuf;
    RoomRec room;
    void *hostPrivate; /* the server's own; plug-ins never touch it */
};

typedef struct ServerState {
    ServerUserRec *currentUser;
    ServerRoomRec *roomList;
    ServerUserRec *userList;
    int maxPeoplePerRoom;
} ServerState;

/* Where a client message goes: one user's client, or everyone in his room. */
typedef struct MsgDestination {
    sint32 kind; /* DEST_USER or DEST_USERROOM */
    ServerUserRec *user;
} MsgDestination;

#define DEST_USER 1
#define DEST_USERROOM 2

/* sendMsgNavError codes */
#define SE_RoomUnknown 1

/* The place `offset` bytes into the room's variable buffer, or null when the
 * offset is 0, greater than the buffer's allocated size (compared unsigned,
 * so a negative offset is refused too) or not a multiple of `align`. Only
 * the start is checked: a reader that needs a whole record inside the
 * buffer checks its end itself. */
static inline void *getInVarBuf(ServerRoomRec *room, Offset offset, int align)
{
    uint32 at = (uint32)(sint32)offset;
    if (offset == 0 || at > room->varBufAlloc || align <= 0 || at % (uint32)align != 0)
        return NULL;
    return room->varBuf + at;
}

/* Lookup */
ServerUserRec *GetServerUser(UserID id);
ServerUserRec *GetServerUserByName(const char *name); /* C string, any case */
ServerUserRec *GetServerUserByCounter(ClientID counter);
ServerRoomRec *GetRoom(RoomID id);
int UserRank(ServerUserRec *user); /* 0 guest, 1 member, 2 wizard, 3 god */

/* Text, printf-style */
void UserMessage(ServerUserRec *user, const char *fmt, ...);
void UserPrivateMessage(ServerUserRec *user, const char *fmt, ...);
void RoomMessage(ServerRoomRec *room, const char *fmt, ...);
void GlobalMessage(const char *fmt, ...);
void WizGlobalMessage(const char *fmt, ...);
void GodGlobalMessage(const char *fmt, ...);
void WizRoomMessage(ServerRoomRec *room, const char *fmt, ...);
void WizNeighborMessage(ServerUserRec *user, const char *fmt, ...);
void FormattedLogMessage(ServerUserRec *user, const char *tag, const char *fmt, ...);

/* Client updates */
MsgDestination toUser(ServerUserRec *user);
MsgDestination toUserRoom(ServerUserRec *user);
void sendMsgUserDesc(MsgDestination dest, ServerUserRec *user, sint16 face, sint16 color,
                     sint32 nbrProps, const AssetSpec *props);
void sendMsgUserMove(MsgDestination dest, ServerUserRec *user, Point pos);
void sendMsgUserName(MsgDestination dest, ServerUserRec *user, const unsigned char *name);
void sendMsgUserProp(MsgDestination dest, ServerUserRec *user, sint32 nbrProps,
                     const AssetSpec *props);
void sendMsgDraw(MsgDestination dest, const DrawRecord *draw);
void sendMsgNavError(MsgDestination dest, sint32 code);

/* Changes applied in the user's room */
void ChangeUserRoom(ServerUserRec *user, RoomID room, Boolean force);
void ChangeUserDesc(ServerUserRec *user, sint16 color, sint16 face, sint32 nbrProps,
                    const AssetSpec *props);
void ChangeUserFace(ServerUserRec *user, sint16 face);
void ChangeUserColor(ServerUserRec *user, sint16 color);
void UpdateUserPosition(ServerUserRec *user, Point pos, Boolean tellClients);
void AddDrawCommand(ServerUserRec *user, const DrawRecord *draw);
void DeleteLooseProp(ServerUserRec *user, sint32 propNbr); /* -1: all */
void ScheduleUserKill(ServerUserRec *user, sint16 reason, const char *text, int flags);
void GenerateListOfAllUsers(ServerUserRec *user);

/* Enciphered chat and identity keys */
void DecryptCString(const unsigned char *src, char *dst, int count, int flags);
/* The substitute host's key texts are at most this many bytes, NUL
 * included; a plug-in has no such bound from a real server. */
#define WIZKEY_MAX 64
void SeedToWizKey(ServerUserRec *user, char *dst, int selector);

#ifdef __cplusplus
}
#endif

#endif
