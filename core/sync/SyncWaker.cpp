#include "core/sync/SyncWaker.h"

#include <utility>

void SyncWaker::notify()
{
    m_pending = true;
    if (!m_handle || m_scheduled)
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(this, &SyncWaker::wake, Qt::QueuedConnection);
}

void SyncWaker::wake()
{
    m_scheduled = false;
    if (!m_handle || !m_pending)
        return;
    m_pending = false;
    std::exchange(m_handle, {}).resume();
}

SyncWaker::Awaiter::~Awaiter()
{
    if (m_waker && m_handle && m_waker->m_handle == m_handle)
        m_waker->m_handle = {};
}

bool SyncWaker::Awaiter::await_ready() noexcept
{
    if (!m_waker)
        return true;
    if (m_waker->m_pending) {
        m_waker->m_pending = false;
        return true;
    }
    return false;
}

void SyncWaker::Awaiter::await_suspend(std::coroutine_handle<> handle) noexcept
{
    m_handle = handle;
    m_waker->m_handle = handle;
}
