#include "audio/worker_priority.h"

#include <sys/resource.h>
#include <unistd.h>

// On Linux every thread has its own nice value; lowering it needs
// CAP_SYS_NICE (or a raised RLIMIT_NICE), and without it the call simply fails.
void raiseWorkerPriority() {
  constexpr int kWorkerNice = -10;
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNice);
}
