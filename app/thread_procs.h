// The three worker thread procedures: each runs one sequence and then shows
// its outcome. Started by StartWorker (app/ui_state.h); the argument is
// not used and the result is always 0.
#ifndef APP_THREAD_PROCS_H_
#define APP_THREAD_PROCS_H_

#include <cstdint>

// RunInstall, then: the launch question after a success (none for
// LocalSystem, none when the new files wait for the restart; Yes starts the
// application through the desktop shell, or from here when there is none),
// or the cancelled/failed texts; 0% and a repaint in every case.
uint32_t InstallThreadProc(void* unused);

// RunUninstall, then: the completion box after a success, the cancelled
// texts after a cancel; then "Ready", 0% and a repaint. The window stays.
uint32_t UninstallThreadProc(void* unused);

// RunUninstall for the command line, then the completion box (unless
// silent or not completed); sets g_exitCode to 0 only when it completed and
// closes the window.
uint32_t SilentUninstallThreadProc(void* unused);

#endif  // APP_THREAD_PROCS_H_
