#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>

#include <coroutine>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

// Awaitable that suspends a coroutine until an object emits one of the given signals or is
// destroyed. The coroutine resumes from the event loop, never inside the emitting code, so it
// may delete the object it waited on. Awaiting an object that is already gone does not suspend.
template<typename T, typename... Signals> class SignalWait
{
public:
    explicit SignalWait(T *object, Signals... sigs)
        : m_object(object)
        , m_signals(sigs...)
    {
    }
    SignalWait(const SignalWait &) = delete;
    SignalWait &operator=(const SignalWait &) = delete;
    // Only before it is awaited (some compilers move the awaiter into place).
    SignalWait(SignalWait &&) noexcept = default;
    ~SignalWait() { release(); }

    bool await_ready() const noexcept { return m_object.isNull(); }

    void await_suspend(std::coroutine_handle<> handle)
    {
        m_handle = std::make_shared<std::coroutine_handle<>>(handle);
        // A waiter whose coroutine frame went away in the meantime must not be resumed.
        auto resume = [weak = std::weak_ptr<std::coroutine_handle<>>(m_handle)] {
            if (const auto slot = weak.lock()) {
                if (const auto pending = std::exchange(*slot, std::coroutine_handle<>()))
                    pending.resume();
            }
        };
        QObject *context = QCoreApplication::instance();
        std::apply(
            [&](auto... sig) {
                (m_connections.push_back(
                     QObject::connect(m_object.data(), sig, context, resume, Qt::QueuedConnection)),
                 ...);
            },
            m_signals);
        m_connections.push_back(QObject::connect(m_object.data(), &QObject::destroyed, context,
                                                 resume, Qt::QueuedConnection));
    }

    void await_resume() { release(); }

private:
    void release()
    {
        for (const auto &c : m_connections)
            QObject::disconnect(c);
        m_connections.clear();
        if (m_handle)
            *m_handle = std::coroutine_handle<>();
    }

    QPointer<T> m_object;
    std::tuple<Signals...> m_signals;
    std::shared_ptr<std::coroutine_handle<>> m_handle;
    std::vector<QMetaObject::Connection> m_connections;
};
