#pragma once

// Asks the system to schedule the calling audio worker ahead of ordinary work,
// so that refills are not late while the main thread renders. Goes on quietly
// where the system does not allow it.
void raiseWorkerPriority();
