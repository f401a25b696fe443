#ifndef INSTALL_INSTALL_SEQUENCE_H_
#define INSTALL_INSTALL_SEQUENCE_H_

// The whole install or update, on the worker thread, holding the machine-wide
// setup mutex (a second setup gets a box and false): first a repair of what
// an interrupted run left, then the two runtimes, the install folder, the
// two downloads into staged files beside the installed ones, shortcut and
// updater copy, the swap of the staged files in (one rename each), weekly
// task and Add/Remove Programs entry. True when it reached "Installation
// complete!"; false after a fatal failure (its box already shown and
// closed) or a cancel seen at one of the checks between steps. Until the
// swap the installed files are untouched, and a failed swap puts the old
// ones back; the staged files are removed on every way out, unless a failed
// undo leaves them for the next run's repair.
bool RunInstall();

#endif  // INSTALL_INSTALL_SEQUENCE_H_
