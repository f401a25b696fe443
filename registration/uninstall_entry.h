// The product's entry in Add/Remove Programs: HKLM\kUninstallKeyPath in the
// 64-bit view, written at the end of every install and removed at uninstall.
#ifndef REGISTRATION_UNINSTALL_ENTRY_H_
#define REGISTRATION_UNINSTALL_ENTRY_H_

// Creates or opens the key and writes its twelve values in a fixed order
// (DisplayName, DisplayVersion, Publisher, InstallLocation, UninstallString,
// DisplayIcon, URLInfoAbout, HelpLink, EstimatedSize, NoModify, NoRepair,
// InstallDate), overwriting earlier ones and leaving values of others alone.
// False only when the key cannot be created or opened (traced with the
// code); single writes are not checked.
bool RegisterUninstallEntry();

// Deletes the key. True when it was deleted (traced) or was not there
// (silent); false, traced with the code, on any other failure.
bool RemoveUninstallEntry();

#endif  // REGISTRATION_UNINSTALL_ENTRY_H_
