#pragma once

#include <QStringList>

// Makes the calling thread yield to the GUI thread: it runs as a batch thread (it never preempts
// a thread that wakes up, such as the GUI thread handling a key) at a lower priority. Work on
// threads of our own (parses, counts, renders, freeing) calls it once when the thread starts;
// a thread cannot raise its priority again.
void lowerThreadPriority();

// The same for the threads of a process of ours (0: this one) whose names start with one of the
// prefixes (an empty one takes all): threads a library started, such as the web engine's
// renderer and compositors, which draw the preview. Returns how many were lowered this time.
int lowerThreadsNamed(qint64 pid, const QStringList &prefixes);
