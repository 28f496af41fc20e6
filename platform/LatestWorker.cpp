#include "platform/LatestWorker.h"

#include "platform/BackgroundPool.h"
#include "platform/ThreadPriority.h"

#include <QThreadPool>

#include <mutex>
#include <optional>

struct LatestWorker::State
{
    explicit State(QObject *receiver)
        : receiver(receiver)
    {
    }

    QObject *const receiver;
    std::mutex mutex;
    std::optional<Job> waiting;
    bool running = false; // a pool thread is taking the jobs
    bool stopped = false; // the worker is gone
    quint64 submitted = 0; // jobs handed in so far
};

namespace {
// What the current thread runs, for isSuperseded().
struct CurrentJob
{
    std::mutex *mutex = nullptr;
    const quint64 *submitted = nullptr;
    const bool *stopped = nullptr;
    quint64 number = 0;
};
thread_local CurrentJob currentJob;
} // namespace

LatestWorker::LatestWorker(QObject *receiver)
    : m_state(std::make_shared<State>(receiver))
{
}

LatestWorker::~LatestWorker()
{
    std::optional<Job> dropped;
    std::lock_guard lock(m_state->mutex);
    m_state->stopped = true;
    dropped.swap(m_state->waiting);
    // `dropped` goes after the lock: a job's captures may be large.
}

void LatestWorker::submit(Job job)
{
    bool start = false;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->waiting = std::move(job);
        ++m_state->submitted;
        start = !m_state->running;
        m_state->running = true;
    }
    if (start)
        background::pool().start([state = m_state] { drain(state); });
}

bool LatestWorker::isBusy() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->running;
}

bool LatestWorker::isSuperseded()
{
    const CurrentJob job = currentJob;
    if (!job.mutex)
        return false;
    std::lock_guard lock(*job.mutex);
    return *job.stopped || *job.submitted > job.number;
}

void LatestWorker::drain(const std::shared_ptr<State> &state)
{
    lowerThreadPriority();
    for (;;) {
        Job job;
        {
            std::lock_guard lock(state->mutex);
            if (state->stopped || !state->waiting) {
                state->running = false;
                return;
            }
            job = std::move(*state->waiting);
            state->waiting.reset();
            currentJob = {&state->mutex, &state->submitted, &state->stopped, state->submitted};
        }
        Finish finish = job();
        job = nullptr;
        currentJob = {};
        std::unique_lock lock(state->mutex);
        // While the worker lives so does its receiver; a result posted already is dropped by
        // Qt if the receiver goes before it is handled.
        if (finish && !state->stopped)
            QMetaObject::invokeMethod(state->receiver, std::move(finish), Qt::QueuedConnection);
        lock.unlock();
        finish = nullptr;
    }
}

void destroyInBackground(std::function<void()> destroy)
{
    background::pool().start([destroy = std::move(destroy)] {
        lowerThreadPriority();
        destroy();
    });
}
