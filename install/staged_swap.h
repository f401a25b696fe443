// Updating the application's files without ever breaking the installed
// pair: new files are downloaded beside the installed ones under staging
// names, and only when both are complete are they swapped in, each installed
// file first renamed aside to a backup name. Names carry a generation number
// shared by one run, so a run killed half way through its swap can be told
// from one killed while it downloaded:
//   <name>.<generation>.tsl-new      a staged download
//   <name>.<generation>.tsl-old      the file the swap put aside; empty when
//                                    nothing was installed under <name>
//   <name>.<generation>.tsl-restart  a new file queued to replace <name> at
//                                    the next restart of Windows
// (A downloaded file is never empty, so an empty backup is always a marker.)
// Generations only grow, across runs and restarts, so a name queued for
// deletion at the next restart is never given to a new file.
#ifndef INSTALL_STAGED_SWAP_H_
#define INSTALL_STAGED_SWAP_H_

#include <cstdint>
#include <string>

// The installed files in the order they are swapped: application first.
inline constexpr int kSwappedFileCount = 2;
extern const wchar_t* const kSwappedFiles[kSwappedFileCount];

// What kept a file from being swapped in.
struct SwapFailure {
  std::wstring name;   // the installed file's name, e.g. "Velquist.exe"
  uint32_t error = 0;  // Windows' code
  bool undone = true;  // whether the installed names hold the old files again
};

// Makes the installed names hold a whole pair again after a killed run and
// deletes what no longer serves: a killed swap's backups go back (both
// files), a backup whose installed name is missing goes back, a pair queued
// for the restart whose holder is gone is swapped in at once; then staged
// files and the backups of names that hold a complete file are deleted (one
// in use stays). A put-back that fails stops it with every backup and
// staged file kept: false with *failure set. Otherwise *generation is the
// one for this run's names.
bool RepairInstallFolder(uint32_t* generation, SwapFailure* failure);

// A generation no name of the install folder has had: one above both the
// highest left in the folder and the highest ever handed out (kept in
// HKLM\SOFTWARE\Maretto\TSL).
uint32_t TakeGeneration();

// Where this run downloads the installed file `name`.
std::wstring StagedPath(const std::wstring& name, uint32_t generation);

// Puts the complete file `source` in place of the installed file `name`
// (GetInstallPath): the installed one renamed aside (read-only cleared
// first, restored on failure), `source` moved in, the backup deleted or, in
// use, deleted at the next run or restart. Returns 0 or Windows' code; on
// failure the installed name holds what it held, with its attributes, and
// `source` is deleted.
uint32_t SwapInFile(const std::wstring& source, const std::wstring& name);

enum class SwapResult {
  kSwapped,  // the new pair is installed
  kQueued,   // held by someone: the old pair stays, the new one goes in at
             // the next restart (or the next run, if the holder is gone)
  kRefused,  // *failure says why
};

// Swaps both staged files in. When an installed file is held without delete
// sharing (32 or 5 after the retries), the swap is undone and the staged
// pair queued for the next restart. On any other failure every rename
// already made is undone in reverse order (if that fails, the next
// RepairInstallFolder finishes it). Backups are deleted after success; one
// in use is deleted at the next run or restart.
SwapResult SwapInStagedFiles(uint32_t generation, SwapFailure* failure);

// Deletes this run's staged files (those that exist).
void RemoveStagedFiles(uint32_t generation);

#endif  // INSTALL_STAGED_SWAP_H_
