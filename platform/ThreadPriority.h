#pragma once

// Makes the calling thread yield to the GUI thread: it runs as a batch thread (it never preempts
// a thread that wakes up, such as the GUI thread handling a key) at a lower priority. Work on
// threads of our own (parses, counts, renders, freeing) calls it once when the thread starts;
// a thread cannot raise its priority again.
void lowerThreadPriority();
