/* Asset identification: props are the parts an avatar is made of. */
#ifndef M_ASSETS_H
#define M_ASSETS_H

#include "local.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef sint32 AssetID;

typedef struct AssetSpec {
    AssetID id;
    uint32 crc;
} AssetSpec;

#define MaxUserProps 9

#ifdef __cplusplus
}
#endif

#endif
