#pragma once

#include "core/live/LiveSyncClock.h"

#include <QtGlobal>

#include <chrono>
#include <optional>
#include <vector>

// A clock that moves only when the test says so: advance() fires every timer that falls due on
// the way, in order of their deadlines (and of their starts for equal deadlines).
class ManualLiveClock final : public LiveSyncClock
{
public:
    ManualLiveClock() = default;
    ~ManualLiveClock() override;
    ManualLiveClock(const ManualLiveClock &) = delete;
    ManualLiveClock &operator=(const ManualLiveClock &) = delete;

    std::unique_ptr<LiveSyncTimer> createTimer(std::function<void()> onTimeout) override;

    void advance(std::chrono::milliseconds by);
    std::chrono::milliseconds now() const { return m_now; }
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
