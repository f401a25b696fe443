// Runs that nobody watches: the weekly task (SYSTEM, session 0) and
// deployment tools that start the setup or the uninstall in a window
// station no user sees. Such a run shows no window and raises no box: what
// a box would say goes to the debug trace, and the run ends with an exit
// code instead of waiting for a click that never comes.
#ifndef APP_UNATTENDED_H_
#define APP_UNATTENDED_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

// Set once by the entry, before any box can be raised; never changes.
extern bool g_unattended;

// True when the program runs in session 0 or in a window station without
// WSF_VISIBLE. A query that fails proves nothing and counts as attended.
bool IsUnattendedRun();

// Whether the process runs as LocalSystem (its token's user is S-1-5-18);
// any failure of the check counts as no.
bool IsLocalSystem();

// Every box of the program goes through here. Attended: MessageBoxW with
// these arguments and its answer. Unattended: one trace line, "[Install] "
// or "[Uninstall] " (by the run's mode), the caption, ": " and the text with
// each run of line breaks shown as " | "; then the answer of a box closed
// without a choice: IDNO for Yes/No, IDCANCEL where there is Cancel, else
// IDOK.
int32_t ShowMessageBox(platform::WindowHandle owner, const std::wstring& text,
                       const std::wstring& caption, uint32_t type);

// The whole of an unattended run with administrator rights, no window:
// the install sequence (no switch) or the uninstall sequence (/uninstall,
// as with /silent). Returns the exit code: 0 when the sequence completed,
// 1 otherwise.
int32_t RunUnattended();

#endif  // APP_UNATTENDED_H_
