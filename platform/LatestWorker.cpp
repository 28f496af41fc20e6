#include "platform/LatestWorker.h"

#include "platform/BackgroundPool.h"
#include "platform/ThreadHandOver.h"

#include <QThreadPool>

#include <mutex>
#include <optional>

struct LatestWorker::State
{
    explicit State(QObject *receiver)
        : delivery(handover::Delivery::of(receiver))
    {
    }

    // Goes with the receiver, which outlives the worker.
    handover::Delivery *const delivery;
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
    void *state = nullptr; // a LatestWorker::State
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
        background::start([state = m_state] { drain(state); });
}

bool LatestWorker::isBusy() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->running;
}

bool LatestWorker::isSuperseded()
{
    auto *state = static_cast<State *>(currentJob.state);
    if (!state)
        return false;
    std::lock_guard lock(state->mutex);
    return state->stopped || state->submitted > currentJob.number;
}

void LatestWorker::postLocked(State &state, Finish finish)
{
    // While the worker lives so does its receiver; a result posted already is dropped by Qt if
    // the receiver goes before it is handled.
    if (finish && !state.stopped)
        state.delivery->post(std::move(finish));
}

void LatestWorker::drain(const std::shared_ptr<State> &state)
{
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
            currentJob = {state.get(), state->submitted};
        }
        Finish finish = job();
        job = nullptr;
        currentJob = {};
        std::unique_lock lock(state->mutex);
        postLocked(*state, std::move(finish));
        lock.unlock();
        finish = nullptr;
    }
}

void destroyInBackground(std::function<void()> destroy)
{
    background::start(std::move(destroy));
}
