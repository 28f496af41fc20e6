#pragma once

#include <QObject>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// A thread of its own that works on the newest request only. A job handed in while another one
// waits replaces it, so a burst of requests costs at most the job running and the last one. A job
// returns what is to be done with its result on the receiver's thread; that is posted there and
// dropped when the receiver is gone by then.
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
    explicit LatestWorker(QObject *receiver);
    // Waits for the running job (its result is dropped); a waiting job never runs.
    ~LatestWorker();
    LatestWorker(const LatestWorker &) = delete;
    LatestWorker &operator=(const LatestWorker &) = delete;

    void submit(Job job);
    // True while a job is waiting or running; their results may still be on the way.
    bool isBusy() const;
    // Whether a job is waiting behind the running one: a running job may check it between its
    // stages and give up, since its result would only be replaced.
    bool hasWaitingJob() const;

private:
    void run();

    QObject *m_receiver;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Job> m_waiting;
    bool m_running = false;
    bool m_stopping = false;
    std::thread m_thread;
};

// Runs `destroy` on a thread that only ever frees things, so taking apart a large structure (a
// parse tree of a long document) never holds up the thread that let go of it.
void destroyInBackground(std::function<void()> destroy);
