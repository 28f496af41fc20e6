#pragma once

#include <QObject>

#include <functional>

// Work and results cross between our threads through Qt: its thread pool's queue and its event
// queues, each behind a lock inside Qt. Qt is not built with ThreadSanitizer, so the sanitizer does
// not see those locks and would take everything handed over through them for a race. Where our
// code hands something over that way, it tells the sanitizer so, in the way the lock inside Qt
// orders it: the thread handing over releases the queue's key, the thread taking over acquires
// it. Without ThreadSanitizer all of this is empty.

#if defined(__SANITIZE_THREAD__)
#define VELTO_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELTO_THREAD_SANITIZER 1
#endif
#endif

#ifdef VELTO_THREAD_SANITIZER
extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);
#endif

namespace handover {

// One key per kind of queue: Qt's thread pool takes one lock for every job started and taken, and
// an event queue one for every event posted and handled.
enum class Queue { pool, events };

namespace detail {
inline char keys[2];
} // namespace detail

inline void release([[maybe_unused]] Queue queue)
{
#ifdef VELTO_THREAD_SANITIZER
    __tsan_release(&detail::keys[int(queue)]);
#endif
}

inline void acquire([[maybe_unused]] Queue queue)
{
#ifdef VELTO_THREAD_SANITIZER
    __tsan_acquire(&detail::keys[int(queue)]);
#endif
}

// Takes functions posted from other threads to the thread of the object it belongs to, as
// QMetaObject::invokeMethod with a queued connection would, with the hand-over made known.
class Delivery : public QObject
{
    Q_OBJECT
public:
    // The receiver's delivery, made on first use; call on the receiver's thread. It goes with the
    // receiver, and so does what is still posted to it then (dropped, never run).
    static Delivery *of(QObject *receiver);

    // From any thread, while the receiver lives.
    void post(std::function<void()> function);

protected:
    bool event(QEvent *event) override;

private:
    using QObject::QObject;
};

} // namespace handover
