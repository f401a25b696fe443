// One setup at a time, machine-wide: the install and uninstall sequences
// hold kSetupMutexName for their whole run.
#ifndef INSTALL_SETUP_MUTEX_H_
#define INSTALL_SETUP_MUTEX_H_

#include "platform/types.h"

inline constexpr wchar_t kAnotherSetupRunning[] =
    L"Another Tessaline Setup is running.\n\nPlease wait for it to finish and try again.";

// Takes the mutex without waiting. True with *lock its handle, now owned
// (also when a killed setup abandoned it); true with *lock null when the
// name is someone else's (owned by an account other than SYSTEM,
// Administrators or this program's, or its access list keeps us out: ours
// lets SYSTEM and Administrators in), traced "Setup lock is held by another
// account: going on without it"; false when another setup holds it or it
// cannot be made at all. The reason goes to the trace with `tag`.
bool TakeSetupMutex(const char* tag, platform::Handle* lock);

// Releases and closes what TakeSetupMutex returned; null is allowed.
void ReleaseSetupMutex(platform::Handle mutex);

#endif  // INSTALL_SETUP_MUTEX_H_
