// Every host header compiles as C++, and the C translation agrees.
#include "local.h"
#include "maccompat.h"
#include "m-assets.h"
#include "m-events.h"
#include "m-protocol.h"
#include "s-serverpublic.h"
#include "s-pluginapi.h"

#include <cstddef>

static_assert(sizeof(ClientMsg) == CLIENT_MSG_HEADER);
static_assert(offsetof(ClientMsg, msg) == 12);
static_assert(offsetof(Point, v) == 0 && offsetof(Point, h) == 2);
static_assert(offsetof(DrawRecord, drawCmd) == 4);
static_assert(sizeof(LPropRec) == 24);

extern "C" int headers_c_compiled(void);

int main()
{
    return headers_c_compiled() == 1 ? 0 : 1;
}
