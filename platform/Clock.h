#pragma once

#include "platform/CancelToken.h"

#include <QDateTime>

class QObject;

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>

// A single-shot timer made by a Clock; destroying it cancels it.
class ClockTimer
{
public:
    virtual ~ClockTimer();
    // (Re)starts the countdown; a negative interval counts as 0.
    virtual void start(std::chrono::milliseconds interval) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// Where timers, waits and the current time come from: Qt timers and the system time in the
// application (this base class; the application's root owns the one it hands out); tests inject
// a clock that they move by hand or that records the waits. Every fixed delay and timeout of the
// program goes through one of these.
class Clock
{
public:
    virtual ~Clock();

    // The callback runs on the thread that created the timer.
    virtual std::unique_ptr<ClockTimer> createTimer(std::function<void()> onTimeout);
    // Waits the duration (negative counts as 0) on a timer of this clock. False when the wait
    // ended because the token was cancelled. Resumes from the event loop.
    virtual QCoro::Task<bool> sleep(std::chrono::milliseconds duration, CancelToken cancel);
    virtual QDateTime now() const;

    // Runs `fn` once after `delay` on a timer of this clock, unless `context` goes first.
    void singleShot(std::chrono::milliseconds delay, QObject *context, std::function<void()> fn);

    // A duration as a Qt interval in milliseconds: negative becomes 0, huge values are capped.
    static int intervalMs(std::chrono::milliseconds duration);
};
