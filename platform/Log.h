#pragma once

#include <QString>

#include <functional>

// One-line process log messages with a bracketed area tag ("[API] …", "[Sync] …"). They go to
// standard output, flushed per line; tests swap the sink to capture them (testsupport::LogCapture).
using LogSink = std::function<void(const QString &line)>;

void logLine(const QString &line);

// Replaces the sink and returns the previous one. An empty sink restores standard output.
LogSink setLogSink(LogSink sink);
