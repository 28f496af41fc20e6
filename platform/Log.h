#pragma once

#include <QString>

#include <functional>

// One-line process log messages with a bracketed area tag ("[API] …", "[Sync] …"). They go to
// standard output, flushed per line; tests swap the sink to capture them.
using LogSink = std::function<void(const QString &line)>;

void logLine(const QString &line);

// Replaces the sink and returns the previous one. An empty sink restores standard output.
LogSink setLogSink(LogSink sink);

// Captures log lines for the lifetime of the object (tests).
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    bool contains(const QString &fragment) const;

private:
    struct Data;
    Data *d;
};
