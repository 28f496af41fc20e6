#include "core/live/LiveSyncClock.h"

#include <QTimer>

namespace {

class QtTimer final : public LiveSyncTimer
{
public:
    explicit QtTimer(std::function<void()> onTimeout)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, std::move(onTimeout));
    }
    void start(std::chrono::milliseconds interval) override { m_timer.start(interval); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

class QtClock final : public LiveSyncClock
{
public:
    std::unique_ptr<LiveSyncTimer> createTimer(std::function<void()> onTimeout) override
    {
        return std::make_unique<QtTimer>(std::move(onTimeout));
    }
};

} // namespace

LiveSyncTimer::~LiveSyncTimer() = default;
LiveSyncClock::~LiveSyncClock() = default;

LiveSyncClock &LiveSyncClock::system()
{
    static auto *clock = new QtClock;
    return *clock;
}
