#pragma once

#include "platform/Clock.h"

#include <QList>
#include <QObject>
#include <QSet>

#include <chrono>
#include <memory>

// A clock for tests: records the length of every wait the sync core asks for and finishes the
// waits without spending the time. In the default mode a wait ends on the next turn of the event
// loop; with holdWaits(true) the waits stay pending until release() ends them one at a time (or
// all), so a test can look at the state while the code under test is waiting.
class FakeSyncClock
    : public QObject
    , public Clock
{
    Q_OBJECT
public:
    FakeSyncClock();

    static std::shared_ptr<FakeSyncClock> create() { return std::make_shared<FakeSyncClock>(); }

    QCoro::Task<bool> sleep(std::chrono::milliseconds duration, CancelToken cancel) override;
    QDateTime now() const override { return m_now; }

    // Every requested wait, in request order.
    QList<std::chrono::milliseconds> waits() const { return m_waits; }
    void clearWaits() { m_waits.clear(); }

    void holdWaits(bool hold);
    int pendingWaits() const { return int(m_queue.size()); }
    // Ends the oldest pending wait (or all); returns how many ended.
    int release(int count = 1);
    int releaseAll() { return release(1 << 30); }

    void setNow(const QDateTime &now) { m_now = now; }

signals:
    void waitRequested(std::chrono::milliseconds duration);
    void released();

private:
    QList<std::chrono::milliseconds> m_waits;
    bool m_hold = false;
    QList<quint64> m_queue;
    QSet<quint64> m_released;
    quint64 m_nextTicket = 0;
    QDateTime m_now;
};
