#pragma once

#include "platform/Clock.h"

#include <QtGlobal>

#include <chrono>
#include <memory>

// Every delay and timeout of the sync core. Production uses the defaults; tests shorten them and
// inject a clock that records the waits instead of spending them.
struct SyncTiming
{
    using Duration = std::chrono::milliseconds;

    Duration requestTimeout = std::chrono::seconds(300); // REST calls and downloads, without data
    Duration streamIdleTimeout = std::chrono::seconds(310); // event stream without data
    Duration streamTotalTimeout = std::chrono::seconds(600); // event stream in all
    Duration reconnectInitialDelay = std::chrono::seconds(1);
    Duration reconnectMaxDelay = std::chrono::seconds(30);
    Duration credentialWait = std::chrono::seconds(5); // engine without folder credentials
    int downloadRetries = 2;
    Duration downloadRetryDelay = std::chrono::seconds(3);
    Duration pairingPollInterval = std::chrono::seconds(2);
    Duration minimumPollInterval = std::chrono::seconds(1);

    // Performs the waits (reconnect, retry, poll); Qt timers unless the application's or a
    // test's clock is handed in.
    std::shared_ptr<Clock> clock = std::make_shared<Clock>();

    Clock &effectiveClock() const { return *clock; }
};

// Local caps on what the network may make us hold or write.
struct SyncLimits
{
    qint64 maxDownloadBytes = qint64(256) * 1024 * 1024;
    qint64 maxUploadBytes = qint64(256) * 1024 * 1024;
    qint64 maxEventLineBytes = qint64(1) * 1024 * 1024;
    qint64 maxResponseBytes = qint64(64) * 1024 * 1024;
};
