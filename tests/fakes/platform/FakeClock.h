#pragma once

#include "platform/Clock.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// The clock of the tests. Its timers move only when the test says so: advance() fires every timer
// that falls due on the way, in order of their deadlines (and of their starts for equal
// deadlines). Its waits (sleep) are recorded and end without spending the time: on the next turn
// of the event loop, or, with holdWaits(true), only when release() ends them one at a time (or
// all), so a test can look at the state while the code under test is waiting. now() starts at a
// fixed date and moves with advance().
class FakeClock final
    : public QObject
    , public Clock
{
    Q_OBJECT
public:
    FakeClock();
    ~FakeClock() override;

    static std::shared_ptr<FakeClock> create() { return std::make_shared<FakeClock>(); }

    std::unique_ptr<ClockTimer> createTimer(std::function<void()> onTimeout) override;
    QCoro::Task<bool> sleep(std::chrono::milliseconds duration, CancelToken cancel) override;
    QDateTime now() const override;
    void setNow(const QDateTime &now);

    // ---- timers
    void advance(std::chrono::milliseconds by);
    // Time advanced since the clock was made.
    std::chrono::milliseconds elapsed() const { return m_elapsed; }
    // Time until the earliest running timer fires; nothing when none runs.
    std::optional<std::chrono::milliseconds> nextTimeout() const;
    int runningTimers() const;

    // ---- waits
    // Every requested wait, in request order.
    QList<std::chrono::milliseconds> waits() const { return m_waits; }
    void clearWaits() { m_waits.clear(); }
    void holdWaits(bool hold);
    int pendingWaits() const { return int(m_queue.size()); }
    // Ends the oldest pending wait (or all); returns how many ended.
    int release(int count = 1);
    int releaseAll() { return release(1 << 30); }

signals:
    void waitRequested(std::chrono::milliseconds duration);
    void released();

private:
    class Timer;
    friend class Timer;

    std::vector<Timer *> m_timers;
    std::chrono::milliseconds m_elapsed {0};
    quint64 m_sequence = 0;
    QDateTime m_start;

    QList<std::chrono::milliseconds> m_waits;
    bool m_hold = false;
    QList<quint64> m_queue;
    QSet<quint64> m_released;
    quint64 m_nextTicket = 0;
};
