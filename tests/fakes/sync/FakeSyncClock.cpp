#include "fakes/sync/FakeSyncClock.h"

#include "platform/SignalWait.h"

#include <QTimer>

FakeSyncClock::FakeSyncClock()
    : m_now(QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC))
{
}

void FakeSyncClock::holdWaits(bool hold)
{
    m_hold = hold;
    if (!hold)
        releaseAll();
}

int FakeSyncClock::release(int count)
{
    const int n = std::min<int>(count, int(m_queue.size()));
    for (int i = 0; i < n; ++i)
        m_released.insert(m_queue.takeFirst());
    if (n > 0)
        emit released();
    return n;
}

QCoro::Task<bool> FakeSyncClock::sleep(std::chrono::milliseconds duration, CancelToken cancel)
{
    m_waits.append(duration);
    emit waitRequested(duration);
    if (cancel.isCancelled())
        co_return false;
    if (!m_hold) {
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
        co_await SignalWait(this, &FakeSyncClock::released)
            .orOn(cancel.notifier(), &CancelNotifier::cancelled);
    }
    if (!m_released.remove(ticket))
        m_queue.removeOne(ticket); // cancelled while held
    co_return !cancel.isCancelled();
}
