#pragma once

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

// The application's threads for work off the GUI thread: parses, renders, counts, folder scans,
// hashing, freeing large structures. Qt's global pool is left to Qt; this one is taken apart
// explicitly when the application ends, so no job of ours still runs while the process unwinds.
// Work reaches it in one of two ways: LatestWorker for a stream of requests of which only the
// newest matters, background::run for one job a coroutine waits for.
namespace background {

// Made on first use.
QThreadPool &pool();

// Drops the jobs that have not started, waits for the running ones and joins the threads. Runs
// by itself when the QCoreApplication is destroyed; the pool is made afresh if asked for again.
void shutDown();

// Runs `function(arguments...)` on the pool, with copies of the arguments; a coroutine awaits the
// future and resumes with the result from the event loop:
//
//     const QString hash = co_await background::run(&sha256HexOfFile, path);
template<typename Function, typename... Arguments>
auto run(Function function, Arguments... arguments)
{
    return QtConcurrent::run(&pool(), function, std::move(arguments)...);
}

} // namespace background
