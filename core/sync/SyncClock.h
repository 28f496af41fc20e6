#pragma once

#include "core/sync/CancelToken.h"

#include <QDateTime>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>

// Performs the waits of the sync core. The real clock uses timers; tests inject one that records
// the requested waits and finishes them without spending the time.
class SyncClock
{
public:
    virtual ~SyncClock() = default;

    // Waits the given number of seconds (negative or NaN counts as 0). Returns false when the
    // wait ended because the token was cancelled.
    virtual QCoro::Task<bool> sleep(double seconds, CancelToken cancel) = 0;

    virtual QDateTime now() const { return QDateTime::currentDateTimeUtc(); }

    static std::shared_ptr<SyncClock> system();

    // Seconds as timer milliseconds: negative and NaN become 0, huge values are capped.
    static std::chrono::milliseconds toMilliseconds(double seconds);
};
