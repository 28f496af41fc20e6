#include "fakes/live/ManualLiveClock.h"

#include <algorithm>

class ManualLiveClock::Timer final : public ClockTimer
{
public:
    Timer(ManualLiveClock *clock, std::function<void()> onTimeout)
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
        m_deadline = m_clock->m_now + std::max(interval, std::chrono::milliseconds(0));
        m_sequence = ++m_clock->m_sequence;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

    ManualLiveClock *m_clock;
    std::function<void()> m_onTimeout;
    std::chrono::milliseconds m_deadline {0};
    quint64 m_sequence = 0;
    bool m_active = false;
};

ManualLiveClock::~ManualLiveClock()
{
    for (Timer *timer : m_timers)
        timer->m_clock = nullptr;
}

std::unique_ptr<ClockTimer> ManualLiveClock::createTimer(std::function<void()> onTimeout)
{
    return std::make_unique<Timer>(this, std::move(onTimeout));
}

QDateTime ManualLiveClock::now() const
{
    return QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC).addMSecs(m_now.count());
}

void ManualLiveClock::advance(std::chrono::milliseconds by)
{
    const auto target = m_now + by;
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
        m_now = due->m_deadline;
        due->m_active = false;
        // The callback may destroy its own timer: take what it needs first.
        const auto callback = due->m_onTimeout;
        callback();
    }
    m_now = target;
}

std::optional<std::chrono::milliseconds> ManualLiveClock::nextTimeout() const
{
    std::optional<std::chrono::milliseconds> next;
    for (const Timer *timer : m_timers) {
        if (timer->m_active && (!next || timer->m_deadline - m_now < *next))
            next = timer->m_deadline - m_now;
    }
    return next;
}

int ManualLiveClock::runningTimers() const
{
    return int(std::count_if(m_timers.begin(), m_timers.end(),
                             [](const Timer *t) { return t->m_active; }));
}
