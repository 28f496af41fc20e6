#pragma once

#include "platform/Clock.h"

#include <QtGlobal>

#include <chrono>
#include <optional>
#include <vector>

// A clock that moves only when the test says so: advance() fires every timer that falls due on
// the way, in order of their deadlines (and of their starts for equal deadlines). now() starts
// at a fixed date and moves with it.
class ManualLiveClock final : public Clock
{
public:
    ManualLiveClock() = default;
    ~ManualLiveClock() override;
    ManualLiveClock(const ManualLiveClock &) = delete;
    ManualLiveClock &operator=(const ManualLiveClock &) = delete;

    std::unique_ptr<ClockTimer> createTimer(std::function<void()> onTimeout) override;
    QDateTime now() const override;

    void advance(std::chrono::milliseconds by);
    // Time advanced since the clock was made.
    std::chrono::milliseconds elapsed() const { return m_now; }
    // Time until the earliest running timer fires; nothing when none runs.
    std::optional<std::chrono::milliseconds> nextTimeout() const;
    int runningTimers() const;

private:
    class Timer;
    friend class Timer;

    std::vector<Timer *> m_timers;
    std::chrono::milliseconds m_now {0};
    quint64 m_sequence = 0;
};
