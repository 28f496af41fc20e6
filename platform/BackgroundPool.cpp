#include "platform/BackgroundPool.h"

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

void background::shutDown()
{
    QThreadPool *pool = nullptr;
    {
        std::lock_guard lock(poolMutex);
        std::swap(pool, thePool);
    }
    if (!pool)
        return;
    pool->clear();
    pool->waitForDone();
    delete pool;
}
