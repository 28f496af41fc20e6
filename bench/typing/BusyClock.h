#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Nanoseconds on the steady clock.
qint64 nowNs();

// How long the GUI thread has spent not waiting for events, and when its event loop next goes
// idle.
//
// The glib event dispatcher (Qt's default on Linux) emits awake() only after it has dispatched,
// so its awake()/aboutToBlock() pair cannot tell work from waiting. What can is the time spent in
// glib's poll with a timeout: that is the thread waiting. With the glib dispatcher the clock
// wraps glib's poll function of the main context; with any other dispatcher the thread's CPU
// time stands in for busy time and aboutToBlock() marks idleness.
namespace BusyClock {

// Hooks into the main thread's event dispatcher; call once after the application exists.
void install();
// Which clock install() could set up, for the report.
QString method();

// Busy nanoseconds of the main thread so far; differences are the busy time in between.
qint64 busyNs();

// Arms the idle watch: the next time the main loop is about to wait for events, its time is kept.
void watchIdle();
// When the loop went idle after the last watchIdle(); none while it has not.
std::optional<qint64> idleAt();

} // namespace BusyClock
