#pragma once

#include <chrono>
#include <functional>
#include <memory>

// A single-shot timer; destroying it cancels it.
class LiveSyncTimer
{
public:
    virtual ~LiveSyncTimer();
    // (Re)starts the countdown.
    virtual void start(std::chrono::milliseconds interval) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// Where the live channel's timers come from: Qt timers in the application, a clock that tests
// advance by hand.
class LiveSyncClock
{
public:
    virtual ~LiveSyncClock();
    // The callback runs on the thread that created the timer.
    virtual std::unique_ptr<LiveSyncTimer> createTimer(std::function<void()> onTimeout) = 0;

    // Qt timers; never destroyed.
    static LiveSyncClock &system();
};
