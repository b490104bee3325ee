/* Protocol records: users, rooms, loose props, drawings and the client
 * message as it travels between server and plug-ins. */
#ifndef M_PROTOCOL_H
#define M_PROTOCOL_H

#include "local.h"
#include "maccompat.h"
#include "m-assets.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32 UserID; /* 0 means nobody */
typedef sint16 RoomID;
typedef uint32 ClientID;  /* a user's counter */
typedef sint16 Offset;    /* bytes from the start of a room's varBuf; 0 = none */
typedef uint32 IPAddress; /* network byte order: first octet at the lowest address */

typedef struct UserRec {
    UserID userID;
    Point roomPos;
    AssetSpec propSpec[MaxUserProps];
    RoomID roomID;
    sint16 faceNbr;  /* 0..15 */
    sint16 colorNbr; /* 0..15 */
    uint16 nbrProps; /* valid entries of propSpec */
    Str31 name;
} UserRec;

/* roomFlags bits */
#define RF_Private 0x0002
#define RF_Closed 0x0008
#define RF_WizardsOnly 0x0080
#define RF_NoLooseProps 0x0200

typedef struct RoomRec {
    uint32 roomFlags;
    RoomID roomID;
    Offset roomNameOfst; /* length-prefixed name in varBuf */
    uint16 nbrHotspots;
    uint16 nbrPictures;
    uint16 nbrDrawCmds;
    uint16 nbrPeople;
    uint16 nbrLProps;
    Offset firstLProp;
    Offset lenVars; /* bytes of varBuf in use */
} RoomRec;

typedef struct LinkRec {
    Offset nextOfst;
    sint16 reserved;
} LinkRec;

typedef struct LPropRec {
    LinkRec link;
    AssetSpec propSpec;
    uint32 flags;
    sint32 refCon;
    Point loc;
} LPropRec;

typedef struct DrawRecord {
    LinkRec link;
    sint16 drawCmd; /* low byte: DC_Path .. DC_Ellipse */
    uint16 cmdLength;
    Offset dataOfst;
} DrawRecord;

/* A client message: 12-byte header, then `length` payload bytes. */
typedef struct ClientMsg {
    uint32 eventType;
    uint32 length;
    sint32 refNum;
    unsigned char msg[];
} ClientMsg;

#define CLIENT_MSG_HEADER 12

#ifdef __cplusplus
}
#endif

#endif
