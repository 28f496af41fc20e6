#include "platform/BackgroundPool.h"

#include "platform/ThreadPriority.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <mutex>

namespace {
std::mutex poolMutex;
QThreadPool *thePool = nullptr;
} // namespace

QThreadPool &background::pool()
{
    std::lock_guard lock(poolMutex);
    if (!thePool) {
        thePool = new QThreadPool;
        // A job of ours that outlives the application would run into freed Qt state.
        if (QCoreApplication::instance())
            qAddPostRoutine(&background::shutDown);
    }
    return *thePool;
}

void background::start(std::function<void()> job)
{
    std::function<void()> handedOver = [job = std::move(job)] {
        handover::acquire(handover::Queue::pool);
        lowerThreadPriority(); // every job here is background work
        job();
    };
    handover::release(handover::Queue::pool);
    pool().start(std::move(handedOver));
}

void background::shutDown()
{
    QThreadPool *pool = nullptr;
    {
        std::lock_guard lock(poolMutex);
        pool = thePool;
    }
    if (!pool)
        return;
    // The pool stays the current one while it drains: a running job may still hand it more work
    // (freeing a parse it held), which is then waited for too.
    pool->clear();
    pool->waitForDone();
    {
        std::lock_guard lock(poolMutex);
        thePool = nullptr;
    }
    delete pool; // waits for anything started since
}
