#include "platform/Log.h"

#include <QMutex>
#include <QStringList>

#include <cstdio>

namespace {

QMutex sinkMutex;
LogSink currentSink;

void writeStdout(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

void logLine(const QString &line)
{
    LogSink sink;
    {
        QMutexLocker lock(&sinkMutex);
        sink = currentSink;
    }
    if (sink)
        sink(line);
    else
        writeStdout(line);
}

LogSink setLogSink(LogSink sink)
{
    QMutexLocker lock(&sinkMutex);
    LogSink previous = std::move(currentSink);
    currentSink = std::move(sink);
    return previous;
}
