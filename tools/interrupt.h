// Ctrl+C (and SIGTERM on POSIX) asks the running library call to stop through qm_StopSave:
// it then returns at once and leaves no half-written file behind.
#pragma once

namespace qmsave {

// Installs the handler; call before the library call.
void StopOnInterrupt();
// True once an interrupt arrived.
bool Interrupted();

}  // namespace qmsave
