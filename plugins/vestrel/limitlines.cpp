/* Limit lines: the entry a line adds to its limit slot, with its maximum,
 * decay or text, the room classes and room-number ranges it applies to,
 * and the order of each slot's chain once the file is read (ranged entries
 * first). The entries and their ranges are host memory that the slot's
 * chain in MyState owns; limits.cpp looks them up and indexes them, and
 * freeLimits (frame.cpp) lets them go before the next load. */
#include <ctype.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "vestrel.h"

/* Ranged entries first, the last such line of the file first; then the
 * others in file order. The list as built holds the lines in reverse. */
void sortTypeLimits(ServerUserRec *user, MyState *state)
{
    (void)user;
    for (int slot = 0; slot < NBR_LIMITS; slot++) {
        LimitValue *ranged = nullptr;
        LimitValue **rangedTail = &ranged;
        LimitValue *others = nullptr;
        LimitValue *entry = state->limits[slot];
        while (entry != nullptr) {
            LimitValue *next = entry->next;
            if (entry->roomNumbers != nullptr) {
                entry->next = nullptr;
                *rangedTail = entry;
                rangedTail = &entry->next;
            } else {
                entry->next = others;
                others = entry;
            }
            entry = next;
        }
        *rangedTail = others;
        state->limits[slot] = ranged;
    }
}

/* ---- Limit lines ------------------------------------------------------------ */

/* Only names that begin with the word's letter and have its length are
 * compared (the names are in lower case). */
int findParameter(const char *word)
{
    size_t n = (size_t)wordLength(word);
    int first = tolower((unsigned char)word[0]);
    for (int i = 0; i < NBR_LIMITS && parameterTable[i].name != nullptr; i++) {
        const char *name = parameterTable[i].name;
        if (name[0] == first && strlen(name) == n && wordCmp(word, name) == 0)
            return i;
    }
    return -1;
}

/* strtol clamped to what 32 bits can hold before the unsigned store, so
 * -1 still means unlimited and a huge number is unlimited, never wrapped. */
static uint32 readMaximum(char *p, char **end)
{
    long value = strtol(p, end, 10);
    if (value > (long)UINT32_MAX)
        return LIMIT_UNLIMITED;
    if (value < (long)INT32_MIN)
        value = INT32_MIN;
    return (uint32)value;
}

/* A decay that is not a number counts as none. */
static double readDecay(char *p, char **end)
{
    double value = strtod(p, end);
    return isnan(value) ? 0.0 : value;
}

static int isRangeWord(const char *word)
{
    return word[0] == 'r' && word[1] == 'm';
}

static int addRange(LimitValue *limit, const char *word)
{
    RoomNumbers *range = (RoomNumbers *)NewPtrClear(sizeof(RoomNumbers));
    if (range == nullptr)
        return 0;
    char *p = nullptr;
    range->low = range->high = strtoInt(word + 2, &p);
    if (*p == '-')
        range->high = strtoInt(p + 1, nullptr);
    range->next = limit->roomNumbers;
    limit->roomNumbers = range;
    return 1;
}

int isWhereCheckedOK(MyState *state, ServerUserRec *user, char *line, int lineno, char *typeList,
                     LimitValue *limit)
{
    /* Only words of the same length are compared. */
    static const struct {
        const char *word;
        int length;
        sint32 bits;
    } classWords[] = {
        {"all", 3, RC_ALL},
        {"public", 6, RC_PUBLIC},
        {"private", 7, RC_PRIVATE},
        {"member", 6, RC_MEMBER},
        {"limbo", 5, RC_LIMBO},
        {"warn", 4, RC_WARN},
        {"altmember", 9, RC_ALTMEMBER},
    };
    sint32 set = 0;
    for (char *word = skipBlanks(typeList); word != nullptr && *word != '\0';
         word = nextWord(word)) {
        int n = wordLength(word);
        int known = 0;
        for (const auto &c : classWords) {
            if (c.length == n && wordCmp(word, c.word) == 0) {
                set |= c.bits;
                if (c.bits == RC_ALTMEMBER)
                    state->altMemberActive = 1;
                known = 1;
            }
        }
        if ((n == 7 && wordCmp(word, "nowhere") == 0) || (n == 3 && wordCmp(word, "off") == 0)) {
            set = 0;
            known = 1;
        }
        if (!known && isRangeWord(word)) {
            if (addRange(limit, word) == 0)
                return 0;
            known = 1;
        }
        if (!known) {
            char msg[64];
            snprintf(msg, sizeof msg, "Unrecognized room type \"%.*s\", ignored",
                     wordLength(word) < 29 ? wordLength(word) : 29, word);
            fileContentError(state, user, line, lineno, msg);
        }
    }
    limit->roomsChecked = set;
    return 1;
}

static void freeEntry(LimitValue *limit)
{
    limit->next = nullptr;
    freeLimitList(limit);
}

int buildLimitValue(MyState *state, ServerUserRec *user, char *lp, int lineno, char *line)
{
    LimitValue *limit = (LimitValue *)NewPtrClear(sizeof(LimitValue));
    if (limit == nullptr) {
        FormattedLogMessage(nullptr, "vestrel", "Unable to get memory for LimitValue, load failed");
        if (user != nullptr)
            UserPrivateMessage(user, "Unable to get memory for LimitValue, load failed");
        return 0;
    }

    int index = findParameter(lp);
    if (index < 0) {
        freeEntry(limit);
        fileContentError(state, user, line, lineno, "unrecognizable parameter name, ignored");
        return 1;
    }
    const ParameterTable *row = &parameterTable[index];
    sint32 mask = row->paramMask;
    char *p = skipBlanks(lp + wordLength(lp));
    char msg[80];

    if (*p == '\0') {
        if (row->defaultValue == nullptr) {
            snprintf(msg, sizeof msg, "No %s data specified, entry ignored", row->name);
            fileContentError(state, user, line, lineno, msg);
            freeEntry(limit);
            return 1;
        }
        snprintf(msg, sizeof msg, "No %s data specified, default used", row->name);
        fileContentError(state, user, line, lineno, msg);
        limit->maximum = row->defaultValue->maximum;
        limit->decay = row->defaultValue->decay;
        limit->roomsChecked = row->defaultValue->roomsChecked;
        limit->string = nullptr; /* no built-in default carries a text */
    } else {
        if (mask & PM_MAXIMUM)
            limit->maximum = readMaximum(p, &p);
        if (mask & PM_ROOMID) {
            p = skipBlanks(p);
            if (wordCmp(p, "currentroom") == 0) {
                limit->maximum = 0;
                p += wordLength(p);
            } else {
                limit->maximum = readMaximum(p, &p);
            }
        }
        if (mask & PM_DECAY)
            limit->decay = readDecay(p, &p);
        if (mask & PM_STRING) {
            p = skipBlanks(p);
            if (*p != '\0')
                limit->string = copyText(p);
        } else if (isWhereCheckedOK(state, user, line, lineno, p, limit) == 0) {
            FormattedLogMessage(nullptr, "vestrel",
                                "Unable to get memory for RoomNumber, load failed");
            if (user != nullptr)
                UserPrivateMessage(user, "Unable to get memory for RoomNumber, load failed");
            freeEntry(limit);
            return 0;
        }
    }

    limit->line = lineno;
    limit->next = state->limits[index];
    state->limits[index] = limit;
    return 1;
}
