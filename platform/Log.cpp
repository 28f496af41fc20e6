#include "platform/Log.h"

#include <QCoreApplication>
#include <QMutex>

#include <cstdio>
#include <cstring>

Q_LOGGING_CATEGORY(logApi, "velto.api")
Q_LOGGING_CATEGORY(logSync, "velto.sync.adapter")
Q_LOGGING_CATEGORY(logPreview, "velto.preview")
Q_LOGGING_CATEGORY(logExport, "velto.export")

namespace {

QMutex sinkMutex;
LogSink currentSink;
QtMessageHandler qtHandler = nullptr; // the handler ours replaced

void writeStdout(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool isProcessLog(QtMsgType type, const QMessageLogContext &context)
{
    return (type == QtInfoMsg || type == QtDebugMsg) && context.category
        && std::strncmp(context.category, "velto.", 6) == 0;
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!isProcessLog(type, context)) {
        if (qtHandler) {
            qtHandler(type, context, message);
        } else {
            const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit();
            std::fprintf(stderr, "%s\n", line.constData());
        }
        return;
    }
    LogSink sink;
    {
        QMutexLocker lock(&sinkMutex);
        sink = currentSink;
    }
    if (sink)
        sink(message);
    else
        writeStdout(message);
}

} // namespace

void installLogHandler()
{
    QtMessageHandler previous = qInstallMessageHandler(handleMessage);
    QMutexLocker lock(&sinkMutex);
    if (previous != handleMessage)
        qtHandler = previous;
}

LogSink setLogSink(LogSink sink)
{
    QMutexLocker lock(&sinkMutex);
    LogSink previous = std::move(currentSink);
    currentSink = std::move(sink);
    return previous;
}

// Every program of ours logs the same way from its first line on.
Q_COREAPP_STARTUP_FUNCTION(installLogHandler)
