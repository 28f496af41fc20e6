#pragma once

#include <QDir>
#include <QFile>
#include <QHash>
#include <QString>

#include <algorithm>

#include <unistd.h>

// What the web engine's processes started by this one (renderers, GPU and utility processes)
// hold: a preview's memory lives there, not in the main process.
namespace benchsupport {

struct WebEngineMemory
{
    double totalMiB = 0; // resident, summed over the processes
    double largestMiB = 0; // the largest single process (a renderer, usually)
    int processes = 0;
};

inline double residentMiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

inline WebEngineMemory webEngineMemory()
{
    struct Entry
    {
        qint64 parent = 0;
        QByteArray name;
    };
    QHash<qint64, Entry> processes;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &p : pids) {
        bool ok = false;
        const qint64 pid = p.toLongLong(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const qsizetype open = text.indexOf('('), close = text.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        processes.insert(pid, {fields.value(1).toLongLong(), text.mid(open + 1, close - open - 1)});
    }
    const qint64 self = ::getpid();
    WebEngineMemory memory;
    for (auto it = processes.cbegin(); it != processes.cend(); ++it) {
        if (!it->name.startsWith("QtWebEngineProc"))
            continue;
        qint64 up = it->parent;
        for (int depth = 0; up > 1 && up != self && depth < 16; ++depth)
            up = processes.value(up).parent;
        if (up != self)
            continue;
        const double rss = residentMiB(it.key());
        memory.totalMiB += rss;
        memory.largestMiB = std::max(memory.largestMiB, rss);
        ++memory.processes;
    }
    return memory;
}

} // namespace benchsupport
