#pragma once

class QThreadPool;

// The application's threads for work off the GUI thread: parses, renders, counts, folder scans,
// hashing, freeing large structures. Qt's global pool is left to Qt; this one is taken apart
// explicitly when the application ends, so no job of ours still runs while the process unwinds.
namespace background {

// Made on first use.
QThreadPool &pool();

// Drops the jobs that have not started, waits for the running ones and joins the threads. Runs
// by itself when the QCoreApplication is destroyed; the pool is made afresh if asked for again.
void shutDown();

} // namespace background
