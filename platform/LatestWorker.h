#pragma once

#include <QObject>

#include <functional>
#include <memory>

// Work on the newest request only, on the application's background pool. A job handed in while
// one runs waits, replacing any job that waited before it, so a burst of requests costs at most
// the job running and the last one. A job returns what is to be done with its result on the
// receiver's thread; that is posted there and dropped when the worker is gone by then.
//
//     worker.submit([text] {
//         auto result = std::make_shared<Result>(compute(text));
//         return [result] { show(*result); };
//     });
//
// Destroying the worker never waits: a waiting job is dropped, a running one finishes on its
// thread and its result is dropped. So a job must not use the worker, nor its owner, itself.
class LatestWorker
{
public:
    using Finish = std::function<void()>;
    using Job = std::function<Finish()>;

    // `receiver` lives on the thread that takes the results and outlives the worker (owns it).
    explicit LatestWorker(QObject *receiver);
    ~LatestWorker();
    LatestWorker(const LatestWorker &) = delete;
    LatestWorker &operator=(const LatestWorker &) = delete;

    void submit(Job job);
    // True while a job is waiting or running; their results may still be on the way.
    bool isBusy() const;

    // Called from inside a job: whether a job was handed in after it, or its worker is gone. A
    // running job may check it between its stages and give up, since its result would only be
    // dropped. False outside a job.
    static bool isSuperseded();

private:
    struct State;
    static void drain(const std::shared_ptr<State> &state);
    static void postLocked(State &state, Finish finish);

    std::shared_ptr<State> m_state;
};

// Frees `destroy`'s structure on the background pool, so taking apart a large structure (a parse
// tree of a long document) never holds up the thread that let go of it.
void destroyInBackground(std::function<void()> destroy);
