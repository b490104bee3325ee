// Time: the plug-in's timers on the virtual clock, and advance, which runs
// the clock forward firing the timers and completing late logons in time
// order. An event scheduled is the host's until it fires and goes back to
// the plug-in, or until the plug-in stops and the host frees it.
#include <algorithm>

#include "host_internal.h"

namespace vh
{

void Host::scheduleTimer(void *event, int32_t seconds)
{
    if (seconds <= 0) {
        QueueItem item;
        item.kind = QueueItem::Timer;
        item.event = event;
        queue_.push_back(std::move(item));
        return;
    }
    timers_[{clockNow() + seconds, timerSeq_++}] = event;
}

void Host::fireTimer(void *event)
{
    if (!running_) {
        disposePtr(event);
        return;
    }
    state_.currentUser = nullptr;
    procs_.handleTimerEvent(&state_, pluginDat_, event);
}

void *Host::takeTimer()
{
    if (timers_.empty())
        return nullptr;
    void *event = timers_.begin()->second;
    timers_.erase(timers_.begin());
    return event;
}

std::vector<void *> Host::pendingEvents() const
{
    std::vector<void *> out;
    for (const auto &item : queue_) {
        if (item.kind == QueueItem::Timer)
            out.push_back(item.event);
    }
    for (const auto &[key, event] : timers_)
        out.push_back(event);
    return out;
}

// Timers and late logon data fall due in time order; logon data first when
// both are due in the same second.
void Host::advance(long seconds)
{
    time_t target = clockNow() + std::max(seconds, 0L);
    for (;;) {
        time_t timerDue = timers_.empty() ? target + 1 : std::get<0>(timers_.begin()->first);
        time_t logonDue = lateLogons_.empty() ? target + 1 : lateLogons_.begin()->first;
        time_t due = std::min(timerDue, logonDue);
        if (due > target)
            break;
        setClock(std::max(due, clockNow()));
        if (logonDue <= timerDue) {
            UserID id = lateLogons_.begin()->second;
            lateLogons_.erase(lateLogons_.begin());
            completeLogon(id);
        } else {
            void *event = timers_.begin()->second;
            timers_.erase(timers_.begin());
            fireTimer(event);
        }
        drain();
    }
    setClock(target);
}

} // namespace vh
