#pragma once

#include "core/sync/FileSyncClient.h"
#include "core/sync/SyncFailure.h"
#include "fakes/platform/FakeClock.h"
#include "fakes/sync/FakeSyncBackend.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>

namespace synctest {

template<class T> struct Outcome
{
    bool done = false;
    std::optional<T> value;
    std::exception_ptr error;
};
template<> struct Outcome<void>
{
    bool done = false;
    std::exception_ptr error;
};

template<class T> QCoro::Task<> collect(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> out)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            out->value.emplace(co_await std::move(task));
    } catch (...) {
        out->error = std::current_exception();
    }
    out->done = true;
}

// Runs the task to its end on the event loop (deadline 10 s) and returns its value or rethrows.
template<class T>
T run(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    auto out = std::make_shared<Outcome<T>>();
    collect(std::move(task), out);
    if (!testsupport::waitUntil([&] { return out->done; }, timeout))
        throw std::runtime_error("task did not finish in time");
    if (out->error)
        std::rethrow_exception(out->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*out->value);
}

// Runs the task and returns the SyncFailure it ends with (fails the test when it succeeds).
template<class T>
SyncFailure failure(QCoro::Task<T> task,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    try {
        run(std::move(task), timeout);
    } catch (const SyncFailure &f) {
        return f;
    }
    ADD_FAILURE() << "expected a failure";
    return SyncFailure::cancelled();
}

inline bool isFileSync(const SyncFailure &f, const FileSyncError &e)
{
    return f.fileSyncError() && *f.fileSyncError() == e;
}

// A fake backend on loopback with one folder, and a client for it with short timeouts.
struct Fixture
{
    FakeSyncBackend backend;
    FakeSyncBackend::Folder folder;
    QString folderId;
    std::shared_ptr<FakeClock> clock = FakeClock::create();
    SyncTiming timing;

    Fixture()
    {
        if (!backend.listen())
            throw std::runtime_error("fake backend could not listen");
        folder = backend.createFolder(QStringLiteral("Notes"));
        folderId = QString::number(folder.id);
        timing.clock = clock;
        timing.requestTimeout = std::chrono::seconds(5);
        timing.streamIdleTimeout = std::chrono::seconds(5);
        timing.streamTotalTimeout = std::chrono::seconds(20);
    }

    FileSyncClient client(SyncLimits limits = {}) const
    {
        return FileSyncClient(backend.baseURLString(), nullptr, timing, limits);
    }
};

} // namespace synctest
