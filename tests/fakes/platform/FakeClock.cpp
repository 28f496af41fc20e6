#include "fakes/platform/FakeClock.h"

#include "platform/SignalWait.h"

#include <QTimer>

#include <algorithm>

class FakeClock::Timer final : public ClockTimer
{
public:
    Timer(FakeClock *clock, std::function<void()> onTimeout)
        : m_clock(clock)
        , m_onTimeout(std::move(onTimeout))
    {
        m_clock->m_timers.push_back(this);
    }
    ~Timer() override
    {
        if (m_clock)
            std::erase(m_clock->m_timers, this);
    }
    void start(std::chrono::milliseconds interval) override
    {
        m_active = true;
        m_deadline = m_clock->m_elapsed + std::max(interval, std::chrono::milliseconds(0));
        m_sequence = ++m_clock->m_sequence;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

    FakeClock *m_clock;
    std::function<void()> m_onTimeout;
    std::chrono::milliseconds m_deadline {0};
    quint64 m_sequence = 0;
    bool m_active = false;
};

FakeClock::FakeClock()
    : m_start(QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC))
{
}

FakeClock::~FakeClock()
{
    for (Timer *timer : m_timers)
        timer->m_clock = nullptr;
}

std::unique_ptr<ClockTimer> FakeClock::createTimer(std::function<void()> onTimeout)
{
    return std::make_unique<Timer>(this, std::move(onTimeout));
}

QDateTime FakeClock::now() const
{
    return m_start.addMSecs(m_elapsed.count());
}

void FakeClock::setNow(const QDateTime &now)
{
    m_start = now.addMSecs(-m_elapsed.count());
}

void FakeClock::advance(std::chrono::milliseconds by)
{
    const auto target = m_elapsed + by;
    for (;;) {
        Timer *due = nullptr;
        for (Timer *timer : m_timers) {
            if (!timer->m_active || timer->m_deadline > target)
                continue;
            if (!due || timer->m_deadline < due->m_deadline
                || (timer->m_deadline == due->m_deadline && timer->m_sequence < due->m_sequence))
                due = timer;
        }
        if (!due)
            break;
        m_elapsed = due->m_deadline;
        due->m_active = false;
        // The callback may destroy its own timer: take what it needs first.
        const auto callback = due->m_onTimeout;
        callback();
    }
    m_elapsed = target;
}

std::optional<std::chrono::milliseconds> FakeClock::nextTimeout() const
{
    std::optional<std::chrono::milliseconds> next;
    for (const Timer *timer : m_timers) {
        if (timer->m_active && (!next || timer->m_deadline - m_elapsed < *next))
            next = timer->m_deadline - m_elapsed;
    }
    return next;
}

int FakeClock::runningTimers() const
{
    return int(std::count_if(m_timers.begin(), m_timers.end(),
                             [](const Timer *t) { return t->m_active; }));
}

void FakeClock::holdWaits(bool hold)
{
    m_hold = hold;
    if (!hold)
        releaseAll();
}

int FakeClock::release(int count)
{
    const int n = std::min<int>(count, int(m_queue.size()));
    for (int i = 0; i < n; ++i)
        m_released.insert(m_queue.takeFirst());
    if (n > 0)
        emit released();
    return n;
}

QCoro::Task<bool> FakeClock::sleep(std::chrono::milliseconds duration, CancelToken cancel)
{
    m_waits.append(duration);
    emit waitRequested(duration);
    if (cancel.isCancelled())
        co_return false;
    if (!m_hold) {
        // The next turn of the event loop, whatever the timers of this clock do.
        QTimer turn;
        turn.setSingleShot(true);
        turn.start(0);
        co_await SignalWait(&turn, &QTimer::timeout)
            .orOn(cancel.notifier(), &CancelNotifier::cancelled);
        co_return !cancel.isCancelled();
    }
    const quint64 ticket = ++m_nextTicket;
    m_queue.append(ticket);
    while (!m_released.contains(ticket) && !cancel.isCancelled()) {
        co_await SignalWait(this, &FakeClock::released)
            .orOn(cancel.notifier(), &CancelNotifier::cancelled);
    }
    if (!m_released.remove(ticket))
        m_queue.removeOne(ticket); // cancelled while held
    co_return !cancel.isCancelled();
}
