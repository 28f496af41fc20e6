#pragma once

#include "platform/ThreadHandOver.h"

#include <QPromise>
#include <QThreadPool>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

// The application's threads for work off the GUI thread: parses, renders, counts, folder scans,
// hashing, freeing large structures. Qt's global pool is left to Qt; this one is taken apart
// explicitly when the application ends, so no job of ours still runs while the process unwinds.
// Work reaches it in one of two ways: LatestWorker for a stream of requests of which only the
// newest matters, background::run for one job a coroutine waits for. Both go through start().
namespace background {

// Made on first use.
QThreadPool &pool();

// Drops the jobs that have not started, waits for the running ones and joins the threads. Runs
// by itself when the QCoreApplication is destroyed; the pool is made afresh if asked for again.
void shutDown();

// Runs `job` on the pool, at background priority (ThreadPriority). What the calling thread did
// before is visible to the job.
void start(std::function<void()> job);

namespace detail {
template<typename Result> struct Outcome
{
    std::optional<Result> value;
    std::exception_ptr error;
};
template<> struct Outcome<void>
{
    bool done = false;
    std::exception_ptr error;
};
} // namespace detail

// Runs `function(arguments...)` on the pool, with copies of the arguments; the awaiting coroutine
// resumes with the result (or the exception) from the event loop:
//
//     const QString hash = co_await background::run(&sha256HexOfFile, path);
//
// A job the pool drops when it shuts down ends the wait with std::runtime_error.
template<typename Function, typename... Arguments>
auto run(Function function, Arguments... arguments)
    -> QCoro::Task<std::invoke_result_t<Function, Arguments...>>
{
    using Result = std::invoke_result_t<Function, Arguments...>;
    auto outcome = std::make_shared<detail::Outcome<Result>>();
    // Finished (cancelled) also when the job is dropped without running.
    auto finished = std::make_shared<QPromise<void>>();
    const QFuture<void> future = finished->future();
    finished->start();
    start([outcome, finished, function = std::move(function),
           ... arguments = std::move(arguments)]() mutable {
        try {
            if constexpr (std::is_void_v<Result>) {
                std::invoke(function, std::move(arguments)...);
                outcome->done = true;
            } else {
                outcome->value.emplace(std::invoke(function, std::move(arguments)...));
            }
        } catch (...) {
            outcome->error = std::current_exception();
        }
        handover::release(handover::Queue::events);
        finished->finish();
    });
    co_await future;
    handover::acquire(handover::Queue::events);
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (std::is_void_v<Result>) {
        if (!outcome->done)
            throw std::runtime_error("background job dropped");
    } else {
        if (!outcome->value)
            throw std::runtime_error("background job dropped");
        co_return std::move(*outcome->value);
    }
}

} // namespace background
