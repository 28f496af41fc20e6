#include "platform/Clock.h"

#include "platform/AsyncQueue.h"

#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

class QtTimer final : public ClockTimer
{
public:
    explicit QtTimer(std::function<void()> onTimeout)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, std::move(onTimeout));
    }
    void start(std::chrono::milliseconds interval) override
    {
        m_timer.start(Clock::intervalMs(interval));
    }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

} // namespace

ClockTimer::~ClockTimer() = default;
Clock::~Clock() = default;

std::unique_ptr<ClockTimer> Clock::createTimer(std::function<void()> onTimeout)
{
    return std::make_unique<QtTimer>(std::move(onTimeout));
}

QCoro::Task<bool> Clock::sleep(std::chrono::milliseconds duration, CancelToken cancel)
{
    if (cancel.isCancelled())
        co_return false;
    AsyncQueue<bool> woken;
    const auto wake = woken.pusher();
    const std::unique_ptr<ClockTimer> timer = createTimer([wake] { wake(true); });
    QObject context;
    cancel.onCancel(&context, [wake] { wake(false); });
    timer->start(duration);
    co_await woken.next();
    co_return !cancel.isCancelled();
}

QDateTime Clock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

void Clock::singleShot(std::chrono::milliseconds delay, QObject *context, std::function<void()> fn)
{
    // The timer lives in a child of the context, so the context going takes it along.
    auto *holder = new QObject(context);
    auto timer = std::make_shared<std::unique_ptr<ClockTimer>>();
    *timer = createTimer([holder, fn = std::move(fn)] {
        holder->deleteLater(); // and with it the timer
        fn();
    });
    QObject::connect(holder, &QObject::destroyed, [timer] { timer->reset(); });
    (*timer)->start(delay);
}

int Clock::intervalMs(std::chrono::milliseconds duration)
{
    // QTimer and the network timeouts take an int; no wait of this program is that long.
    constexpr auto cap = std::numeric_limits<int>::max();
    return int(std::clamp<std::chrono::milliseconds::rep>(duration.count(), 0, cap));
}
