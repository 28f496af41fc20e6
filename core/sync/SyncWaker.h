#pragma once

#include <QObject>
#include <QPointer>

#include <coroutine>
#include <utility>

// Lets one coroutine wait for "something changed". notify() resumes the waiting coroutine later
// from the event loop, never inside the caller's stack; a notify() without a waiter is kept for
// the next wait(). An awaiter that is destroyed while suspended unregisters itself, so a late
// notify() never resumes a dead frame.
class SyncWaker : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    void notify();

    class Awaiter
    {
    public:
        explicit Awaiter(SyncWaker *waker)
            : m_waker(waker)
        {
        }
        Awaiter(Awaiter &&other) noexcept
            : m_waker(std::move(other.m_waker))
            , m_handle(std::exchange(other.m_handle, {}))
        {
            other.m_waker.clear();
        }
        Awaiter(const Awaiter &) = delete;
        Awaiter &operator=(const Awaiter &) = delete;
        Awaiter &operator=(Awaiter &&) = delete;
        ~Awaiter();

        bool await_ready() noexcept;
        void await_suspend(std::coroutine_handle<> handle) noexcept;
        void await_resume() noexcept { }

    private:
        QPointer<SyncWaker> m_waker;
        std::coroutine_handle<> m_handle;
    };

    Awaiter wait() { return Awaiter(this); }

private:
    void wake();

    std::coroutine_handle<> m_handle;
    bool m_pending = false;
    bool m_scheduled = false;
};
