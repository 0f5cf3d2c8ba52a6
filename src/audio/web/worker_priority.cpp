#include "audio/worker_priority.h"

// A browser gives its workers no scheduling priority to ask for.
void raiseWorkerPriority() {}
