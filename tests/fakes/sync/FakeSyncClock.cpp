#include "fakes/sync/FakeSyncClock.h"

#include "core/sync/SyncWaker.h"

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

QCoro::Task<bool> FakeSyncClock::sleep(double seconds, CancelToken cancel)
{
    m_waits.append(seconds);
    emit waitRequested(seconds);
    if (cancel.isCancelled())
        co_return false;
    SyncWaker waker;
    cancel.onCancel(&waker, [&waker] { waker.notify(); });
    if (!m_hold) {
        QTimer::singleShot(0, &waker, &SyncWaker::notify);
        co_await waker.wait();
        co_return !cancel.isCancelled();
    }
    const quint64 ticket = ++m_nextTicket;
    m_queue.append(ticket);
    connect(this, &FakeSyncClock::released, &waker, [&waker, this, ticket] {
        if (m_released.contains(ticket))
            waker.notify();
    });
    while (!m_released.contains(ticket) && !cancel.isCancelled())
        co_await waker.wait();
    if (!m_released.remove(ticket))
        m_queue.removeOne(ticket); // cancelled while held
    co_return !cancel.isCancelled();
}
