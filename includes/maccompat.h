/* Classic toolbox types and the host's memory and string services. */
#ifndef MACCOMPAT_H
#define MACCOMPAT_H

#include "local.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef char *Ptr;
typedef unsigned char *StringPtr;

/* Length-prefixed strings: a length byte, then the characters, no terminator. */
typedef unsigned char Str31[32];
typedef unsigned char Str63[64];
typedef unsigned char Str255[256];

/* Room coordinates in pixels; v (vertical) comes first. */
typedef struct Point {
    sint16 v;
    sint16 h;
} Point;

/* Host allocator: a block or null; NewPtrClear zeroes the block. */
Ptr NewPtr(sint32 byteCount);
Ptr NewPtrClear(sint32 byteCount);
void DisposePtr(Ptr p);

/* Conversions between C and length-prefixed strings, in place. */
void CtoPstr(char *s);
void PtoCstr(unsigned char *s);

#ifdef __cplusplus
}
#endif

#endif
