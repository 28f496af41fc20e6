#pragma once

// Restarts the program once with glibc's malloc backing its heap with transparent huge pages
// (unless whoever started it chose that setting); returns in the restarted program, or when the
// restart failed. Call first thing in main, before any thread starts.
void restartWithHugePageHeap(char *argv[]);
