#ifndef INSTALL_INSTALL_SEQUENCE_H_
#define INSTALL_INSTALL_SEQUENCE_H_

// The whole install or update, on the worker thread: the two runtimes, the
// install folder, the two downloads (checked against the setup's signer),
// then shortcut, updater copy, weekly task, Add/Remove Programs entry and,
// run as the installed updater, its own replacement (updater_refresh.h).
// True when it reached "Installation complete!"; false after a fatal
// failure (its box already shown and closed), a cancel seen at one of the
// checks between steps, or a published setup the updater refused (traced;
// the application update stands). Nothing is
// rolled back, except the loader file when the application download fails.
bool RunInstall();

// True after a RunInstall that completed with the new files queued for the
// next restart (someone held an installed file): there is nothing new to
// launch yet.
bool InstallWaitsForRestart();

#endif  // INSTALL_INSTALL_SEQUENCE_H_
