#include "core/sync/SyncClock.h"

#include "core/sync/SyncTiming.h"
#include "core/sync/SyncWaker.h"

#include <QTimer>

#include <cmath>

namespace {

class SystemClock final : public SyncClock
{
public:
    QCoro::Task<bool> sleep(double seconds, CancelToken cancel) override
    {
        if (cancel.isCancelled())
            co_return false;
        SyncWaker waker;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &waker, &SyncWaker::notify);
        cancel.onCancel(&waker, [&waker] { waker.notify(); });
        timer.start(toMilliseconds(seconds));
        co_await waker.wait();
        co_return !cancel.isCancelled();
    }
};

} // namespace

std::shared_ptr<SyncClock> SyncClock::system()
{
    static const std::shared_ptr<SyncClock> clock = std::make_shared<SystemClock>();
    return clock;
}

std::chrono::milliseconds SyncClock::toMilliseconds(double seconds)
{
    if (!(seconds > 0)) // also NaN
        return std::chrono::milliseconds(0);
    const double ms = std::ceil(seconds * 1000.0);
    // QTimer takes an int interval; a longer wait is not needed by anything.
    constexpr double cap = 2147483647.0;
    return std::chrono::milliseconds(qint64(std::min(ms, cap)));
}

SyncClock &SyncTiming::effectiveClock() const
{
    return clock ? *clock : *SyncClock::system();
}
