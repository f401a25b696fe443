#ifndef INSTALL_INSTALL_SEQUENCE_H_
#define INSTALL_INSTALL_SEQUENCE_H_

// The whole install or update, on the worker thread, holding the machine-wide
// setup mutex (a second setup gets a box and false; a lock another account
// made is not ours and does not stop us): the two runtimes, the install
// folder, then a repair of what an interrupted run left, the two downloads
// into staged files beside the installed ones (checked against the setup's
// signer), shortcut and updater copy, the swap of the staged files in (one
// rename each; a file someone holds queues the new pair for the restart),
// weekly task, Add/Remove Programs entry and, run as the installed updater,
// its own replacement (updater_refresh.h). True when it reached
// "Installation complete!"; false after a fatal failure (its box already
// shown and closed), a cancel seen at one of the checks between steps, or a
// published setup the updater refused (traced; the application update
// stands). Until the swap the installed files are untouched, and a failed
// swap puts the old ones back; the staged files are removed on every way
// out, unless a failed undo leaves them for the next run's repair.
bool RunInstall();

// True after a RunInstall that completed with the new files queued for the
// next restart (someone held an installed file): there is nothing new to
// launch yet.
bool InstallWaitsForRestart();

#endif  // INSTALL_INSTALL_SEQUENCE_H_
