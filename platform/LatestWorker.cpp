#include "platform/LatestWorker.h"

#include "platform/ThreadPriority.h"

#include <deque>

namespace {
// The number of the job the current thread runs, for isSuperseded().
thread_local quint64 currentJob = 0;
} // namespace

LatestWorker::LatestWorker(QObject *receiver, int threads)
    : m_receiver(receiver)
{
    for (int i = 0; i < std::max(threads, 1); ++i)
        m_threads.emplace_back([this] { run(); });
}

LatestWorker::~LatestWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_waiting.reset();
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

void LatestWorker::submit(Job job)
{
    {
        std::lock_guard lock(m_mutex);
        m_waiting = std::move(job);
        ++m_submitted;
    }
    m_wake.notify_one();
}

bool LatestWorker::isBusy() const
{
    std::lock_guard lock(m_mutex);
    return m_running > 0 || m_waiting.has_value();
}

bool LatestWorker::isSuperseded() const
{
    std::lock_guard lock(m_mutex);
    return m_submitted > currentJob;
}

void LatestWorker::run()
{
    lowerThreadPriority();
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_waiting.has_value(); });
            if (m_stopping)
                return;
            job = std::move(*m_waiting);
            m_waiting.reset();
            currentJob = m_submitted;
            ++m_running;
        }
        Finish finish = job();
        job = nullptr;
        {
            std::lock_guard lock(m_mutex);
            --m_running;
            if (m_stopping)
                return;
            // The receiver outlives these threads; calls still pending when it goes are dropped
            // with it.
            if (finish)
                QMetaObject::invokeMethod(m_receiver, std::move(finish), Qt::QueuedConnection);
        }
    }
}

namespace {
class Reaper
{
public:
    Reaper()
        : m_thread([this] { run(); })
    {
        m_thread.detach();
    }

    void add(std::function<void()> destroy)
    {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(destroy));
        }
        m_wake.notify_one();
    }

private:
    void run()
    {
        lowerThreadPriority();
        for (;;) {
            std::function<void()> destroy;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return !m_queue.empty(); });
                destroy = std::move(m_queue.front());
                m_queue.pop_front();
            }
            destroy();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    std::thread m_thread;
};
} // namespace

void destroyInBackground(std::function<void()> destroy)
{
    // Never destroyed: the process may end while a tree is still being freed.
    static auto *reaper = new Reaper;
    reaper->add(std::move(destroy));
}
