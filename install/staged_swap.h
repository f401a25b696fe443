// Updating the application's files without ever breaking the installed
// pair: new files are downloaded beside the installed ones under staging
// names, and only when both are complete are they swapped in, each installed
// file first renamed aside to a backup name. Names carry a generation number
// shared by one run, so a run killed half way through its swap can be told
// from one killed while it downloaded:
//   <name>.<generation>.tsl-new   a staged download
//   <name>.<generation>.tsl-old   the file the swap put aside; empty when
//                                 nothing was installed under <name>
// (A downloaded file is never empty, so an empty backup is always a marker.)
#ifndef INSTALL_STAGED_SWAP_H_
#define INSTALL_STAGED_SWAP_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

// The installed files in the order they are swapped: application first.
inline constexpr int kSwappedFileCount = 2;
extern const wchar_t* const kSwappedFiles[kSwappedFileCount];

// Puts back what a killed run's swap had put aside (both files, so the
// installed names hold the old pair again), then deletes every staging and
// backup file it can; one still in use (a running program's) stays. Returns
// the generation for this run's names.
uint32_t RepairInstallFolder();

// Where this run downloads the installed file `name`.
std::wstring StagedPath(const std::wstring& name, uint32_t generation);

// Swaps both staged files in. held[i] (kInvalidHandleValue or a handle on
// the staged kSwappedFiles[i] that keeps it from being changed after its
// check) is closed right before that file is moved in. On failure every rename already made is undone
// in reverse order, *failedName is the file whose rename failed and *error
// its code; *undone tells whether the undo restored everything (if not, the
// next RepairInstallFolder finishes it). Backups are deleted after success;
// one in use is deleted at the next run or restart.
bool SwapInStagedFiles(uint32_t generation, platform::Handle held[kSwappedFileCount],
                       std::wstring* failedName, uint32_t* error, bool* undone);

// Deletes this run's staged files (those that exist).
void RemoveStagedFiles(uint32_t generation);

#endif  // INSTALL_STAGED_SWAP_H_
