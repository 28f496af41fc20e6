#pragma once

#include <QtGlobal>

#include <memory>

class SyncClock;

// Every delay and timeout of the sync core, in seconds. Production uses the defaults; tests
// shorten them and inject a clock that records the waits instead of spending them.
struct SyncTiming
{
    double requestTimeout = 300.0; // REST calls and downloads, without data
    double streamIdleTimeout = 310.0; // event stream without data
    double streamTotalTimeout = 600.0; // event stream in all
    double reconnectInitialDelay = 1.0;
    double reconnectMaxDelay = 30.0;
    double credentialWait = 5.0; // engine without folder credentials
    int downloadRetries = 2;
    double downloadRetryDelay = 3.0;
    double pairingPollInterval = 2.0;
    double minimumPollInterval = 1.0;

    // Performs the waits (reconnect, retry, poll). Null means the real clock.
    std::shared_ptr<SyncClock> clock;

    SyncClock &effectiveClock() const;
};

// Local caps on what the network may make us hold or write.
struct SyncLimits
{
    qint64 maxDownloadBytes = qint64(256) * 1024 * 1024;
    qint64 maxUploadBytes = qint64(256) * 1024 * 1024;
    qint64 maxEventLineBytes = qint64(1) * 1024 * 1024;
    qint64 maxResponseBytes = qint64(64) * 1024 * 1024;
};
