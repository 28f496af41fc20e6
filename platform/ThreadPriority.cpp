#include "platform/ThreadPriority.h"

#include <QDir>
#include <QFile>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace {
// Nice value of background threads: at 10 a busy one gets about a tenth of a processor the GUI
// thread also wants.
constexpr int backgroundNice = 10;

// Lowers one thread of this process unless it already is; true when it was lowered now.
bool lower(pid_t tid)
{
    if (sched_getscheduler(tid) == SCHED_BATCH)
        return false;
    sched_param param {};
    sched_setscheduler(tid, SCHED_BATCH, &param);
    if (getpriority(PRIO_PROCESS, id_t(tid)) < backgroundNice)
        setpriority(PRIO_PROCESS, id_t(tid), backgroundNice);
    return true;
}
} // namespace

void lowerThreadPriority()
{
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    lower(gettid());
}

int lowerThreadsNamed(qint64 pid, const QStringList &prefixes)
{
    int lowered = 0;
    if (pid < 0)
        return 0;
    const QDir tasks(pid == 0 ? QStringLiteral("/proc/self/task")
                              : QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &entry : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(entry + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly))
            continue; // ended meanwhile
        const QString name = QString::fromUtf8(comm.readAll()).trimmed();
        const bool wanted = std::any_of(prefixes.begin(), prefixes.end(),
                                        [&name](const QString &p) { return name.startsWith(p); });
        if (wanted && lower(pid_t(entry.toInt())))
            ++lowered;
    }
    return lowered;
}
