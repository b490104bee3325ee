/* Every host header compiles as C. */
#include "local.h"
#include "maccompat.h"
#include "m-assets.h"
#include "m-events.h"
#include "m-protocol.h"
#include "s-serverpublic.h"
#include "s-pluginapi.h"

_Static_assert(sizeof(ClientMsg) == CLIENT_MSG_HEADER, "client message header is 12 bytes");
_Static_assert(sizeof(Point) == 4, "a point is two 16-bit values");
_Static_assert(sizeof(AssetSpec) == 8, "an asset spec is id and crc");
_Static_assert(sizeof(LPropRec) == 24, "loose prop record");
_Static_assert(sizeof(DrawRecord) == 10, "draw record");
_Static_assert(sizeof(Str31) == 32, "Str31 is 32 bytes");

int headers_c_compiled(void) { return MSG_TALK == 0x74616C6BUL; }
