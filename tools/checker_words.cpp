// A rate limit in plain words, worked out from the counter's arithmetic as
// the plug-in does it: time in whole seconds, forgiveness truncated at every
// check (allowed or refused), and a refused user's counter capped at the
// maximum plus the decay.
#include <cmath>
#include <cstdio>

#include "checker.h"

namespace check
{
namespace
{

std::string number(double value)
{
    char text[32];
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "about %.1f", value);
    return text;
}

// "12 a minute", "about 8.6 a minute", "2 an hour": the sustained pace in
// the unit that keeps it readable.
std::string perTime(double perSecond)
{
    if (perSecond * 60 >= 1)
        return number(perSecond * 60) + " a minute";
    if (perSecond * 3600 >= 1)
        return number(perSecond * 3600) + " an hour";
    return number(perSecond * 86400) + " a day";
}

} // namespace

long secondsPerUnit(double decay)
{
    if (!(decay > 0))
        return 0;
    double guess = std::ceil(1 / decay);
    if (guess > 1e12)
        return 0;
    long s = guess < 1 ? 1 : (long)guess;
    while (s > 1 && (long)((double)(s - 1) * decay) >= 1)
        s--;
    while ((long)((double)s * decay) < 1)
        s++;
    return s;
}

std::string limitInWords(const LimitValue *e)
{
    if (e->maximum == LIMIT_UNLIMITED)
        return "unlimited";
    if (e->maximum == 0)
        return "every one is refused";
    std::string burst = "at most " + std::to_string(e->maximum) + " in a burst";
    long wait = secondsPerUnit(e->decay);
    if (wait == 0)
        return "at most " + std::to_string(e->maximum) +
               " in all: nothing is ever forgiven, so every later one is refused";
    if (wait == 1) {
        long each = e->decay < 1e15 ? (long)e->decay : (long)1e15;
        std::string text = burst + "; then " + std::to_string(each) + " more every second (" +
                           perTime((double)each) + ")";
        if (e->decay != std::floor(e->decay))
            text += ", more after longer pauses";
        return text + "; a refused attempt still counts, up to " + std::to_string(each) +
               " beyond the maximum";
    }
    return burst + "; then one more every " + std::to_string(wait) + " s of quiet (" +
           perTime(1.0 / (double)wait) + "); a retry sooner forgives nothing and restarts the wait";
}

} // namespace check
