// Runs that nobody watches: the weekly task (SYSTEM, session 0) and
// deployment tools that start the setup or the uninstall in a window
// station no user sees. Such a run shows no window and raises no box (what
// a box would say goes to the debug trace: ShowMessageBox in ui_state.h),
// and ends with an exit code instead of waiting for a click that never
// comes.
#ifndef APP_UNATTENDED_H_
#define APP_UNATTENDED_H_

#include <cstdint>

// The whole of an unattended run with administrator rights, no window:
// the install sequence (no switch) or the uninstall sequence (/uninstall,
// as with /silent). Returns the exit code: 0 when the sequence completed,
// 1 otherwise.
int32_t RunUnattended();

#endif  // APP_UNATTENDED_H_
