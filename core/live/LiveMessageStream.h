#pragma once

#include "core/live/LiveSyncMessage.h"

#include <QCoro/QCoroAsyncGenerator>

#include <coroutine>
#include <deque>
#include <memory>

// The unbounded queue behind a client's message stream. The client pushes received messages;
// one consumer iterates the generator. A waiting consumer is resumed from the event loop, never
// from inside the client's own call stack, so a consumer may drop the client while handling a
// message.
class LiveMessageStream : public std::enable_shared_from_this<LiveMessageStream>
{
public:
    void push(LiveSyncMessage message);
    // Ends the stream; messages not yet taken are dropped.
    void finish();
    bool isFinished() const { return m_finished; }

    static QCoro::AsyncGenerator<LiveSyncMessage>
    generate(std::shared_ptr<LiveMessageStream> stream);

private:
    struct Wait
    {
        LiveMessageStream *stream;
        bool await_ready() const noexcept;
        void await_suspend(std::coroutine_handle<> handle) noexcept;
        void await_resume() const noexcept { }
        ~Wait();
    };

    void wakeLater();

    std::deque<LiveSyncMessage> m_queue;
    bool m_finished = false;
    bool m_wakeQueued = false;
    std::coroutine_handle<> m_waiter;
};
