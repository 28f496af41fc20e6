#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>

#include <coroutine>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// Suspends a coroutine until one of the watched signals is emitted or a watched object is
// destroyed:
//
//     co_await SignalWait(reply, &QNetworkReply::finished)
//         .orOn(cancel.notifier(), &CancelNotifier::cancelled);
//
// The coroutine resumes from the event loop, never inside the emitting code, so it may delete
// what it waited on. Awaiting while a watched object is already gone does not suspend. An awaiter
// whose coroutine frame goes away while it is suspended is never resumed. Await it as a
// temporary, as above: GCC 12 copies a named awaiter inside QCoro tasks.
class SignalWait
{
public:
    template<typename T, typename... Signals> explicit SignalWait(T *object, Signals... sigs)
    {
        watch(object, sigs...);
    }
    SignalWait(const SignalWait &) = delete;
    SignalWait &operator=(const SignalWait &) = delete;
    // Only before it is awaited (compilers move the awaiter into place).
    SignalWait(SignalWait &&) noexcept = default;
    ~SignalWait() { release(); }

    // Also wakes on signals of another object (and on its destruction).
    template<typename T, typename... Signals> SignalWait &&orOn(T *object, Signals... sigs) &&
    {
        watch(object, sigs...);
        return std::move(*this);
    }

    bool await_ready() const noexcept
    {
        for (const auto &object : m_objects) {
            if (object.isNull())
                return true;
        }
        return false;
    }

    void await_suspend(std::coroutine_handle<> handle)
    {
        m_handle = std::make_shared<std::coroutine_handle<>>(handle);
        // A waiter whose coroutine frame went away in the meantime must not be resumed; every
        // later wake finds the slot empty.
        const std::function<void()> resume = [weak = std::weak_ptr(m_handle)] {
            if (const auto slot = weak.lock()) {
                if (const auto pending = std::exchange(*slot, std::coroutine_handle<>()))
                    pending.resume();
            }
        };
        for (const auto &connect : m_connectors)
            m_connections.push_back(connect(resume));
    }

    void await_resume() { release(); }

private:
    template<typename T, typename... Signals> void watch(T *object, Signals... sigs)
    {
        m_objects.emplace_back(object);
        const QPointer<T> sender(object);
        (m_connectors.push_back([sender, sigs](const std::function<void()> &resume) {
            return QObject::connect(sender.data(), sigs, QCoreApplication::instance(), resume,
                                    Qt::QueuedConnection);
        }),
         ...);
        m_connectors.push_back([sender](const std::function<void()> &resume) {
            return QObject::connect(sender.data(), &QObject::destroyed,
                                    QCoreApplication::instance(), resume, Qt::QueuedConnection);
        });
    }

    void release()
    {
        for (const auto &c : m_connections)
            QObject::disconnect(c);
        m_connections.clear();
        if (m_handle)
            *m_handle = std::coroutine_handle<>();
    }

    std::vector<QPointer<const QObject>> m_objects;
    std::vector<std::function<QMetaObject::Connection(const std::function<void()> &)>> m_connectors;
    std::shared_ptr<std::coroutine_handle<>> m_handle;
    std::vector<QMetaObject::Connection> m_connections;
};
