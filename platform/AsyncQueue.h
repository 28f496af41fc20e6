#pragma once

#include "platform/PostOnce.h"

#include <QCoreApplication>
#include <QList>

#include <qcoro/qcoroasyncgenerator.h>

#include <coroutine>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

// Where a consumer waiting on an AsyncQueue resumes.
enum class AsyncResume {
    // From the event loop, never inside the producer's call: the consumer may then destroy the
    // producer. The default.
    fromEventLoop,
    // Inside push() or finish(), for answers whose caller expects the work done when it returns.
    immediately,
};

// An unbounded queue between one producer and one consumer coroutine: the producer never waits.
//
//     AsyncQueue<Chunk> queue;                 // producer side: push(), finish()
//     while (auto chunk = co_await queue.next()) { … }   // consumer side
//     // or: for the generator, co_await queue.items().begin() …
//
// finish() ends the stream after what is queued; clear() drops what is queued. Destroying the
// queue ends it at once: queued items are dropped and a waiting consumer resumes with nothing.
// Main thread only (the event-loop wake goes through the application object).
template<typename T> class AsyncQueue
{
    struct State
    {
        std::deque<T> items;
        bool finished = false;
        std::unique_ptr<PostOnce> wakeLater; // made at the first wake from the event loop
        AsyncResume resume = AsyncResume::fromEventLoop;
        std::coroutine_handle<> waiter;

        bool isReady() const { return !items.empty() || finished; }

        void wake(const std::shared_ptr<State> &self)
        {
            if (!waiter || !isReady())
                return;
            if (resume == AsyncResume::immediately) {
                std::exchange(waiter, {}).resume();
                return;
            }
            if (!wakeLater) {
                QCoreApplication *app = QCoreApplication::instance();
                if (!app)
                    return; // no event loop to resume from: the consumer stays where it is
                wakeLater = std::make_unique<PostOnce>(app, [weak = std::weak_ptr<State>(self)] {
                    const auto state = weak.lock();
                    // Items cleared meanwhile: the consumer waits on.
                    if (state && state->waiter && state->isReady())
                        std::exchange(state->waiter, {}).resume();
                });
            }
            wakeLater->post();
        }
    };

public:
    AsyncQueue() = default;
    ~AsyncQueue()
    {
        m_state->items.clear();
        m_state->finished = true;
        m_state->resume = AsyncResume::fromEventLoop;
        m_state->wake(m_state);
    }
    AsyncQueue(const AsyncQueue &) = delete;
    AsyncQueue &operator=(const AsyncQueue &) = delete;

    // --- producer side

    // Ignored after finish().
    void push(T item)
    {
        if (m_state->finished)
            return;
        m_state->items.push_back(std::move(item));
        m_state->wake(m_state);
    }
    // Like push(), but first offers the item to fold(std::deque<T> &queued, T &item) together
    // with the items not yet taken (oldest first): when fold merges it into them and answers
    // true, nothing is added. For producers that coalesce floods of equivalent items.
    template<typename Fold> void pushOrFold(T item, Fold &&fold)
    {
        if (m_state->finished)
            return;
        if (!m_state->items.empty() && fold(m_state->items, item))
            return;
        push(std::move(item));
    }
    // No more items; what is queued can still be taken.
    void finish()
    {
        if (m_state->finished)
            return;
        m_state->finished = true;
        m_state->wake(m_state);
    }
    // A function that pushes into this queue as long as it exists, for completion callbacks that
    // may be called after the consumer has gone.
    std::function<void(T)> pusher() const
    {
        return [weak = std::weak_ptr<State>(m_state)](T item) {
            const auto state = weak.lock();
            if (!state || state->finished)
                return;
            state->items.push_back(std::move(item));
            state->wake(state);
        };
    }

    // --- consumer side

    bool isFinished() const { return m_state->finished; }
    bool isEmpty() const { return m_state->items.empty(); }
    qsizetype size() const { return qsizetype(m_state->items.size()); }
    void clear() { m_state->items.clear(); }

    std::optional<T> take() { return takeFrom(*m_state); }
    QList<T> takeAll()
    {
        QList<T> all(std::make_move_iterator(m_state->items.begin()),
                     std::make_move_iterator(m_state->items.end()));
        m_state->items.clear();
        return all;
    }

    // Awaits the next item: nothing once the queue is finished and empty, or destroyed.
    class Next
    {
    public:
        Next(std::shared_ptr<State> state, AsyncResume resume)
            : m_state(std::move(state))
            , m_resume(resume)
        {
        }
        Next(const Next &) = delete;
        Next &operator=(const Next &) = delete;
        Next(Next &&) noexcept = default;
        ~Next()
        {
            // A coroutine frame destroyed while it waits must not be resumed later.
            if (m_state && m_handle && m_state->waiter == m_handle)
                m_state->waiter = {};
        }

        bool await_ready() const noexcept { return m_state->isReady(); }
        void await_suspend(std::coroutine_handle<> handle) noexcept
        {
            m_handle = handle;
            m_state->waiter = handle;
            m_state->resume = m_resume;
        }
        std::optional<T> await_resume() { return takeFrom(*m_state); }

    private:
        std::shared_ptr<State> m_state;
        AsyncResume m_resume;
        std::coroutine_handle<> m_handle;
    };

    Next next(AsyncResume resume = AsyncResume::fromEventLoop) { return Next(m_state, resume); }

    // The items as a generator that ends when the queue is finished and drained, or destroyed.
    // One item at a time: the consumer may destroy the queue between items.
    QCoro::AsyncGenerator<T> items() { return generate(m_state); }

private:
    static std::optional<T> takeFrom(State &state)
    {
        std::optional<T> item;
        if (!state.items.empty()) {
            item.emplace(std::move(state.items.front()));
            state.items.pop_front();
        }
        return item;
    }

    static QCoro::AsyncGenerator<T> generate(std::shared_ptr<State> state)
    {
        for (;;) {
            std::optional<T> item = co_await Next(state, AsyncResume::fromEventLoop);
            if (!item)
                co_return;
            co_yield std::move(*item);
        }
    }

    std::shared_ptr<State> m_state = std::make_shared<State>();
};
