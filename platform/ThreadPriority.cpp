#include "platform/ThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {
// Nice value of background threads: at 10 a busy one gets about a tenth of a processor the GUI
// thread also wants.
constexpr int backgroundNice = 10;
} // namespace

void lowerThreadPriority()
{
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    sched_param param {};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
    const pid_t tid = gettid();
    const int now = getpriority(PRIO_PROCESS, id_t(tid));
    if (now < backgroundNice)
        setpriority(PRIO_PROCESS, id_t(tid), backgroundNice);
}
