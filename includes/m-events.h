/* Client event codes: four characters, the first in the most significant
 * byte, compared as 32-bit values ("talk" is 0x74616C6B). */
#ifndef M_EVENTS_H
#define M_EVENTS_H

#include "local.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MSG_TALK 0x74616C6BUL           /* 'talk' NUL-terminated text */
#define MSG_GMSG 0x676D7367UL           /* 'gmsg' global message */
#define MSG_RMSG 0x726D7367UL           /* 'rmsg' room message */
#define MSG_SMSG 0x736D7367UL           /* 'smsg' page to the operators */
#define MSG_WHISPER 0x77686973UL        /* 'whis' target, then text */
#define MSG_XTALK 0x78746C6BUL          /* 'xtlk' enciphered talk */
#define MSG_XWHISPER 0x78776973UL       /* 'xwis' enciphered whisper */
#define MSG_ROOMGOTO 0x6E617652UL       /* 'navR' room change request */
#define MSG_USERMOVE 0x754C6F63UL       /* 'uLoc' new position */
#define MSG_DRAW 0x64726177UL           /* 'draw' DrawRecord */
#define MSG_USERCOLOR 0x75737243UL      /* 'usrC' colour number */
#define MSG_USERFACE 0x75737246UL       /* 'usrF' face number */
#define MSG_USERDESC 0x75737244UL       /* 'usrD' face, colour, props */
#define MSG_USERPROP 0x75737250UL       /* 'usrP' props */
#define MSG_USERNAME 0x7573724EUL       /* 'usrN' length-prefixed name */
#define MSG_PROPNEW 0x6E507270UL        /* 'nPrp' new loose prop */
#define MSG_PROPMOVE 0x6D507270UL       /* 'mPrp' move loose prop */
#define MSG_PROPDEL 0x64507270UL        /* 'dPrp' delete loose prop(s) */
#define MSG_SPOTSTATE 0x73537461UL      /* 'sSta' spot state change */
#define MSG_DOORLOCK 0x6C6F636BUL       /* 'lock' */
#define MSG_DOORUNLOCK 0x756E6C6FUL     /* 'unlo' */
#define MSG_LOGON 0x72656769UL          /* 'regi' logon record */
#define MSG_LISTOFALLUSERS 0x754C7374UL /* 'uLst' */
#define MSG_LISTOFALLROOMS 0x724C7374UL /* 'rLst' */
#define MSG_SUPERUSER 0x73757372UL      /* 'susr' operator privileges */
#define MSG_SERVERDOWN 0x646F776EUL     /* 'down' */
#define MSG_ROOMSETDESC 0x73526F6DUL    /* 'sRom' */
#define MSG_PING 0x70696E67UL           /* 'ping' */
#define MSG_PONG 0x706F6E67UL           /* 'pong' */

/* Drawing commands: the low byte of DrawRecord.drawCmd. */
#define DC_Path 0
#define DC_Shape 1
#define DC_Text 2
#define DC_Detonate 3 /* clear the room's drawings */
#define DC_Delete 4   /* remove the last drawing */
#define DC_Ellipse 5

/* Logon record ('regi') layout: at least this many bytes. */
#define LOGON_RECORD_SIZE 128
#define LOGON_NAME_OFFSET 8      /* Str31 user name */
#define LOGON_AUXFLAGS_OFFSET 72 /* uint32 auxFlags */

#ifdef __cplusplus
}
#endif

#endif
