#pragma once

#include <QObject>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Threads of its own that work on the newest request only. A job handed in while all threads are
// busy waits, replacing any job that waited before it, so a burst of requests costs at most the
// jobs running and the last one. With more than one thread the newest request starts at once
// instead of waiting for an older one to finish; results may then land out of order, so the
// receiver keeps only the newest. A job returns what is to be done with its result on the
// receiver's thread; that is posted there and dropped when the receiver is gone by then.
//
//     worker.submit([text] {
//         auto result = std::make_shared<Result>(compute(text));
//         return [result] { show(*result); };
//     });
class LatestWorker
{
public:
    using Finish = std::function<void()>;
    using Job = std::function<Finish()>;

    // `receiver` lives on the thread that takes the results and outlives the worker (owns it).
    explicit LatestWorker(QObject *receiver, int threads = 1);
    // Waits for the running jobs (their results are dropped); a waiting job never runs.
    ~LatestWorker();
    LatestWorker(const LatestWorker &) = delete;
    LatestWorker &operator=(const LatestWorker &) = delete;

    void submit(Job job);
    // True while a job is waiting or running; their results may still be on the way.
    bool isBusy() const;
    // Whether a job was handed in after the one that asks (a running job may check it between its
    // stages and give up, since its result would only be replaced).
    bool isSuperseded() const;

private:
    void run();

    QObject *m_receiver;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Job> m_waiting;
    int m_running = 0;
    bool m_stopping = false;
    quint64 m_submitted = 0; // jobs handed in so far
    std::vector<std::thread> m_threads;
};

// Runs `destroy` on a thread that only ever frees things, so taking apart a large structure (a
// parse tree of a long document) never holds up the thread that let go of it.
void destroyInBackground(std::function<void()> destroy);
