#pragma once

#include <chrono>

// The live channel's intervals; tests shorten them or drive them through a manual clock.
struct LiveSyncTimings
{
    std::chrono::milliseconds ping {30000};
    std::chrono::milliseconds debounce {50};
    // The wait after every lost connection or failed attempt; retries go on at this pace until
    // the client is disconnected.
    std::chrono::milliseconds reconnect {1000};
    std::chrono::milliseconds handshakeTimeout {30000};
    // How long a document must stay quiet before a device announces what it holds, or sends its
    // whole document to a peer that holds something else.
    std::chrono::milliseconds repair {300};
};
