#ifndef UNINSTALL_UNINSTALL_SEQUENCE_H_
#define UNINSTALL_UNINSTALL_SEQUENCE_H_

// The whole uninstall, on the worker thread: firewall objects, scheduled
// task, desktop shortcut, Add/Remove Programs entry, product folders. Every
// step runs whatever the previous ones did; what could not be removed is
// listed in one "Uninstall Warning" box at the end. True when every step ran
// without a warning; false after a cancel (at one of the five points between
// steps) or a run with warnings (the box has been closed by then).
// A running program that the folder removal would meet (updater.exe, when
// Add/Remove Programs started the uninstall) is first moved to the temp
// folder and left to be deleted at the next start, so the folders can go.
bool RunUninstall();

#endif  // UNINSTALL_UNINSTALL_SEQUENCE_H_
