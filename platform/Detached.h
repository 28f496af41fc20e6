#pragma once

#include <QLoggingCategory>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>

Q_DECLARE_LOGGING_CATEGORY(lcTasks)

namespace detached {
void logFailure(const QString &what, std::exception_ptr error);

template<typename T> QCoro::Task<> guard(QCoro::Task<T> task, QString what)
{
    try {
        co_await std::move(task);
    } catch (...) {
        logFailure(what, std::current_exception());
    }
}
} // namespace detached

// Lets a task run on without anyone awaiting it. QCoro keeps a dropped task running but throws
// away what it throws; this logs it instead, as "<what> failed: <reason>" in velto.tasks.
template<typename T> void runDetached(QCoro::Task<T> task, const QString &what)
{
    detached::guard(std::move(task), what);
}
