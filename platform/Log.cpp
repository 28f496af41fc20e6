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

struct LogCapture::Data
{
    mutable QMutex mutex;
    QStringList lines;
    LogSink previous;
};

LogCapture::LogCapture()
    : d(new Data)
{
    d->previous = setLogSink([data = d](const QString &line) {
        QMutexLocker lock(&data->mutex);
        data->lines << line;
    });
}

LogCapture::~LogCapture()
{
    setLogSink(std::move(d->previous));
    delete d;
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&d->mutex);
    return d->lines;
}

bool LogCapture::contains(const QString &fragment) const
{
    const QStringList all = lines();
    for (const QString &l : all)
        if (l.contains(fragment))
            return true;
    return false;
}
