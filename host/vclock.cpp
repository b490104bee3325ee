// The virtual clock. time() is defined here so that, linked into a host
// executable and exported from it, every caller in the process (the plug-in
// included) reads the host's clock and nothing depends on the real one.
#include <ctime>

#include "host.h"

namespace vh
{

namespace
{
time_t g_now = 0;
}

time_t clockNow()
{
    return g_now;
}
void setClock(time_t t)
{
    g_now = t;
}

time_t localTime(int year, int month, int day, int hour, int minute, int second)
{
    struct tm tm {
    };
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

} // namespace vh

extern "C" time_t time(time_t *out)
{
    time_t now = vh::clockNow();
    if (out != nullptr)
        *out = now;
    return now;
}
