// One setup at a time, machine-wide: the install and uninstall sequences
// hold kSetupMutexName for their whole run.
#ifndef INSTALL_SETUP_MUTEX_H_
#define INSTALL_SETUP_MUTEX_H_

#include "platform/types.h"

inline constexpr wchar_t kAnotherSetupRunning[] =
    L"Another Tessaline Setup is running.\n\nPlease wait for it to finish and try again.";

// Takes the mutex without waiting. Returns its handle, now owned (also when
// a killed setup abandoned it), or null when another setup holds it, its
// owner's access list keeps us out (5), or it cannot be made at all; the
// reason goes to the trace with `tag`.
platform::Handle TakeSetupMutex(const char* tag);

// Releases and closes what TakeSetupMutex returned; null is allowed.
void ReleaseSetupMutex(platform::Handle mutex);

#endif  // INSTALL_SETUP_MUTEX_H_
