// The installed updater keeps itself current: the weekly run (the updater
// copy, which cannot copy itself) fetches the published setup and, when the
// publisher signed it and it is newer, puts it in its own place.
#ifndef INSTALL_UPDATER_REFRESH_H_
#define INSTALL_UPDATER_REFRESH_H_

#include "install/publisher_check.h"

// For a run as the installed updater.exe, after the application pair has
// been swapped in: fetches kSetupDownloadPath beside the updater, checks it
// against the running updater's own signer (an unsigned updater never
// replaces itself) and swaps it in when its file version is higher than the
// running one's. Every outcome is traced. Returns false only when a
// published setup was refused by the check or could not be swapped in;
// nothing published, nothing newer and any other run leave the result as
// it is (true).
bool RefreshUpdater(const Publisher& publisher);

#endif  // INSTALL_UPDATER_REFRESH_H_
