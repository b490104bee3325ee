/* The parameter file: read at start and on "`vestrel reload". */
#include <errno.h>
#include <string.h>

#include "vestrel.h"

int loadParameterFile(MyState *state, ServerUserRec *user)
{
    if (state->argc < 2) {
        FormattedLogMessage(user, "vestrel", "Usage: ../bin/vestrel.so parameter-file");
        return 0;
    }

    const char *path = state->argv[1];
    FILE *file = fopen(path, "r");
    if (file == nullptr) {
        int e = errno;
        FormattedLogMessage(user, "vestrel", "Open failed %s, errno=%d, on file %s", strerror(e), e,
                            path);
        if (user != nullptr)
            UserPrivateMessage(user, "Open failed %s, errno=%d, on file %s", strerror(e), e, path);
        return 0;
    }

    freeLimits(state);
    fclose(file);
    return 1;
}
