#include "audio/worker_priority.h"

#include <windows.h>

// Raises the whole process, for the rest of its run.
void raiseWorkerPriority() {
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
}
