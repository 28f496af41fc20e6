#include "platform/HugePageHeap.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

// Opening a long file or laying out a long line allocates hundreds of megabytes at once, and
// faulting that in page by page cost about a third of the time (on virtual machines more). glibc's
// malloc backs its heap with transparent huge pages when its tunables ask for it, and those are
// read only when a process starts: the program starts itself once more with the setting added.
// The setting is removed again before anything else starts, so helper processes keep their own.
void restartWithHugePageHeap(char *argv[])
{
    static const char marker[] = "VELTO_HUGE_PAGE_HEAP";
    if (const char *restarted = std::getenv(marker)) {
        const char *previous = std::getenv("VELTO_PREVIOUS_TUNABLES");
        if (*restarted == '1' && previous)
            ::setenv("GLIBC_TUNABLES", previous, 1);
        else
            ::unsetenv("GLIBC_TUNABLES");
        ::unsetenv("VELTO_PREVIOUS_TUNABLES");
        ::unsetenv(marker);
        return;
    }
    const char *tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables && std::strstr(tunables, "glibc.malloc.hugetlb"))
        return; // chosen by whoever started the program
    std::string value = "glibc.malloc.hugetlb=1";
    if (tunables && *tunables) {
        ::setenv("VELTO_PREVIOUS_TUNABLES", tunables, 1);
        value = std::string(tunables) + ':' + value;
    }
    ::setenv(marker, tunables ? "1" : "0", 1);
    ::setenv("GLIBC_TUNABLES", value.c_str(), 1);
    // By its real path: the process takes its name from it.
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        path[length] = '\0';
        ::execv(path, argv);
    }
    // Not restarted: run as it is.
    ::unsetenv(marker);
    ::unsetenv("VELTO_PREVIOUS_TUNABLES");
    if (tunables)
        ::setenv("GLIBC_TUNABLES", tunables, 1);
    else
        ::unsetenv("GLIBC_TUNABLES");
}
