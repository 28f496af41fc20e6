#include "BusyClock.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <chrono>
#include <ctime>

#include <dlfcn.h>
#include <pthread.h>

namespace {

// glib's GPollFunc; the poll descriptors are passed through untouched.
using PollFunc = int (*)(void *fds, unsigned count, int timeout);

PollFunc originalPoll = nullptr;
pthread_t mainThread;
bool usesPoll = false;
qint64 blockedNs = 0;
bool watching = false;
std::optional<qint64> idleTime;

void noteIdle(qint64 at)
{
    if (watching) {
        watching = false;
        idleTime = at;
    }
}

// A poll without timeout only looks; one with a timeout (even a short one until the next timer)
// is the loop waiting because it has nothing to do.
int timedPoll(void *fds, unsigned count, int timeout)
{
    if (timeout == 0 || !pthread_equal(pthread_self(), mainThread))
        return originalPoll(fds, count, timeout);
    const qint64 start = nowNs();
    noteIdle(start);
    const int result = originalPoll(fds, count, timeout);
    blockedNs += nowNs() - start;
    return result;
}

qint64 threadCpuNs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

template<typename F> F glibFunction(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

} // namespace

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace BusyClock {

void install()
{
    mainThread = pthread_self();
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher && dispatcher->inherits("QEventDispatcherGlib")) {
        // glib is already loaded by Qt; its functions are looked up rather than linked so the
        // build needs no glib headers.
        const auto contextDefault = glibFunction<void *(*)()>("g_main_context_default");
        const auto getPoll = glibFunction<PollFunc (*)(void *)>("g_main_context_get_poll_func");
        const auto setPoll
            = glibFunction<void (*)(void *, PollFunc)>("g_main_context_set_poll_func");
        if (contextDefault && getPoll && setPoll) {
            void *context = contextDefault();
            originalPoll = getPoll(context);
            if (originalPoll) {
                setPoll(context, timedPoll);
                usesPoll = true;
                return;
            }
        }
    }
    if (dispatcher) {
        QObject::connect(
            dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher,
            [] { noteIdle(nowNs()); }, Qt::DirectConnection);
    }
}

QString method()
{
    return usesPoll ? QStringLiteral("wall time outside glib's poll")
                    : QStringLiteral("main-thread CPU time (no glib dispatcher)");
}

qint64 busyNs()
{
    return usesPoll ? nowNs() - blockedNs : threadCpuNs();
}

void watchIdle()
{
    watching = true;
    idleTime.reset();
}

std::optional<qint64> idleAt()
{
    return idleTime;
}

} // namespace BusyClock
