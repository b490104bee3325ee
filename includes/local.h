/* Scalar types shared by the server and its plug-ins. */
#ifndef LOCAL_H
#define LOCAL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int16_t sint16;
typedef uint16_t uint16;
typedef int32_t sint32;
typedef uint32_t uint32;
typedef int8_t sint8;
typedef uint8_t uint8;

typedef sint16 Boolean; /* 0 = false */

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifdef __cplusplus
}
#endif

#endif
