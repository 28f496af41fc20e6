#include "core/live/LiveMessageStream.h"

#include <QCoreApplication>
#include <QMetaObject>

void LiveMessageStream::push(LiveSyncMessage message)
{
    if (m_finished)
        return;
    m_queue.push_back(std::move(message));
    wakeLater();
}

void LiveMessageStream::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_queue.clear();
    wakeLater();
}

void LiveMessageStream::wakeLater()
{
    if (!m_waiter || m_wakeQueued)
        return;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return; // no event loop to resume from: the consumer stays where it is
    m_wakeQueued = true;
    QMetaObject::invokeMethod(
        app,
        [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self)
                return;
            self->m_wakeQueued = false;
            if (auto waiter = std::exchange(self->m_waiter, {}))
                waiter.resume();
        },
        Qt::QueuedConnection);
}

bool LiveMessageStream::Wait::await_ready() const noexcept
{
    return !stream->m_queue.empty() || stream->m_finished;
}

void LiveMessageStream::Wait::await_suspend(std::coroutine_handle<> handle) noexcept
{
    stream->m_waiter = handle;
}

LiveMessageStream::Wait::~Wait()
{
    // A generator destroyed while it waits must not be resumed later.
    stream->m_waiter = {};
}

QCoro::AsyncGenerator<LiveSyncMessage>
LiveMessageStream::generate(std::shared_ptr<LiveMessageStream> stream)
{
    for (;;) {
        while (!stream->m_queue.empty()) {
            LiveSyncMessage message = std::move(stream->m_queue.front());
            stream->m_queue.pop_front();
            co_yield message;
        }
        if (stream->m_finished)
            co_return;
        co_await Wait {stream.get()};
    }
}
