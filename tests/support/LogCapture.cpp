#include "LogCapture.h"

#include "platform/Log.h"

#include <QMutex>
#include <QtGlobal>

namespace testsupport {

struct LogCapture::Data
{
    mutable QMutex mutex;
    QStringList lines;
    LogSink previousSink;
    QtMessageHandler previousHandler = nullptr;
    std::shared_ptr<Data> previousQtCapture;

    void append(const QString &line)
    {
        QMutexLocker lock(&mutex);
        lines << line;
    }
};

namespace {

QMutex qtCaptureMutex;
std::shared_ptr<LogCapture::Data> qtCapture;

void captureQtMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    std::shared_ptr<LogCapture::Data> target;
    {
        QMutexLocker lock(&qtCaptureMutex);
        target = qtCapture;
    }
    if (target)
        target->append(message);
}

} // namespace

LogCapture::LogCapture(Source source)
    : m_source(source)
    , d(std::make_shared<Data>())
{
    if (m_source == Source::processLog) {
        d->previousSink = setLogSink([data = d](const QString &line) { data->append(line); });
        return;
    }
    QMutexLocker lock(&qtCaptureMutex);
    d->previousQtCapture = std::exchange(qtCapture, d);
    d->previousHandler = qInstallMessageHandler(captureQtMessage);
}

LogCapture::~LogCapture()
{
    if (m_source == Source::processLog) {
        setLogSink(std::move(d->previousSink));
        return;
    }
    QMutexLocker lock(&qtCaptureMutex);
    qtCapture = d->previousQtCapture;
    qInstallMessageHandler(d->previousHandler);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&d->mutex);
    return d->lines;
}

int LogCapture::count(const QString &fragment) const
{
    int n = 0;
    for (const QString &line : lines())
        n += line.contains(fragment) ? 1 : 0;
    return n;
}

void LogCapture::clear()
{
    QMutexLocker lock(&d->mutex);
    d->lines.clear();
}

} // namespace testsupport
