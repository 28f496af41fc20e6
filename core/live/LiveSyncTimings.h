#pragma once

#include <chrono>

// The live channel's intervals; tests shorten them or drive them through a manual clock.
struct LiveSyncTimings
{
    std::chrono::milliseconds ping {30000};
    std::chrono::milliseconds debounce {50};
    // The wait after a lost connection; it doubles while attempts keep failing, up to
    // reconnectMax, and drops back once a connection completes its handshake.
    std::chrono::milliseconds reconnect {1000};
    std::chrono::milliseconds reconnectMax {30000};
    std::chrono::milliseconds handshakeTimeout {30000};
};
