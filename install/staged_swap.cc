#include "install/staged_swap.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "install/product_constants.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/time.h"
#include "platform/trace.h"

const wchar_t* const kSwappedFiles[kSwappedFileCount] = {kAppExeName, kLoaderDllName};

namespace {

constexpr wchar_t kStagedSuffix[] = L".tsl-new";
constexpr wchar_t kBackupSuffix[] = L".tsl-old";
constexpr wchar_t kQueuedSuffix[] = L".tsl-restart";
// A scanner holds a new file for a moment; a sharing violation that lasts
// longer than this is someone else's open handle.
constexpr int kSharingRetries = 10;
constexpr uint32_t kSharingRetryMs = 100;
// Outlives the install folder's files, so a generation queued for deletion
// at the restart is not handed out again after the folder was emptied.
constexpr wchar_t kGenerationKey[] = L"SOFTWARE\\Maretto\\TSL";
constexpr wchar_t kGenerationValue[] = L"SwapGeneration";

// The names whose leftovers the repair knows: the pair, then the updater
// (swapped on its own by SwapInFile).
constexpr int kKnownFileCount = kSwappedFileCount + 1;
const wchar_t* KnownFile(int file) {
  return file < kSwappedFileCount ? kSwappedFiles[file] : kUpdaterExeName;
}

enum class Kind { kStaged, kBackup, kQueued };

struct Leftover {
  int file;  // index for KnownFile
  uint32_t generation;
  Kind kind;
  std::wstring path;
};

void Trace(const std::wstring& what, const std::wstring& path, uint32_t code) {
  platform::OutputDebugStringW(L"[Install] " + what + L" " + path + L": " +
                               std::to_wstring(code) + L"\n");
}

std::wstring NameFor(const std::wstring& name, uint32_t generation, const wchar_t* suffix) {
  return GetInstallPath(name + L"." + std::to_wstring(generation) + suffix);
}

std::wstring BackupPath(const std::wstring& name, uint32_t generation) {
  return NameFor(name, generation, kBackupSuffix);
}

const wchar_t* SuffixOf(Kind kind) {
  return kind == Kind::kStaged ? kStagedSuffix : kind == Kind::kBackup ? kBackupSuffix : kQueuedSuffix;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return towupper(x) == towupper(y);
         });
}

// "<known name>.<digits><suffix>", or false for anything else.
bool ParseLeftover(const std::wstring& entry, Kind kind, Leftover* out) {
  std::wstring tail = SuffixOf(kind);
  if (entry.size() <= tail.size() ||
      !EqualsIgnoringCase(entry.substr(entry.size() - tail.size()), tail)) {
    return false;
  }
  std::wstring stem = entry.substr(0, entry.size() - tail.size());
  size_t dot = stem.rfind(L'.');
  if (dot == std::wstring::npos || dot + 1 == stem.size() || stem.size() - dot > 10) return false;
  uint32_t generation = 0;
  for (size_t i = dot + 1; i < stem.size(); ++i) {
    if (stem[i] < L'0' || stem[i] > L'9') return false;
    generation = generation * 10 + static_cast<uint32_t>(stem[i] - L'0');
  }
  for (int file = 0; file < kKnownFileCount; ++file) {
    if (EqualsIgnoringCase(stem.substr(0, dot), KnownFile(file))) {
      *out = Leftover{file, generation, kind, GetInstallPath(entry)};
      return true;
    }
  }
  return false;
}

std::vector<Leftover> ListLeftovers() {
  std::vector<Leftover> found;
  for (Kind kind : {Kind::kStaged, Kind::kBackup, Kind::kQueued}) {
    platform::FindData data;
    platform::Handle search =
        platform::FindFirstFileW(GetInstallPath(std::wstring(L"*") + SuffixOf(kind)), &data);
    if (search == platform::kInvalidHandleValue) continue;
    do {
      Leftover leftover;
      if (!(data.fileAttributes & platform::kFileAttributeDirectory) &&
          ParseLeftover(data.fileName, kind, &leftover)) {
        found.push_back(leftover);
      }
    } while (platform::FindNextFileW(search, &data));
    platform::FindClose(search);
  }
  return found;
}

// The file's length, or -1 when it cannot be opened.
int64_t FileLength(const std::wstring& path) {
  platform::Handle file = platform::CreateFileW(
      path, platform::kFileReadAttributes,
      platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
      platform::kOpenExisting, platform::kFileAttributeNormal);
  if (file == platform::kInvalidHandleValue) return -1;
  platform::FileStandardInfo info{};
  bool known = platform::GetFileInformationByHandleEx(file, &info);
  platform::CloseHandle(file);
  return known ? info.endOfFile : -1;
}

// An empty backup marks a name under which nothing was installed.
bool IsMarker(const std::wstring& path) { return FileLength(path) == 0; }

bool MoveRetrying(const std::wstring& from, const std::wstring& to, uint32_t flags) {
  for (int attempt = 0;; ++attempt) {
    if (platform::MoveFileExW(from, to, flags)) return true;
    if (platform::GetLastError() != platform::kErrorSharingViolation ||
        attempt == kSharingRetries) {
      return false;
    }
    platform::Sleep(kSharingRetryMs);
  }
}

bool IsMissing(uint32_t error) {
  return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
}

// SetFileAttributesW reads 0 as "leave them": FILE_ATTRIBUTE_NORMAL clears.
void SetAttributes(const std::wstring& path, uint32_t attributes) {
  platform::SetFileAttributesW(path, attributes ? attributes : platform::kFileAttributeNormal);
}

// Brings `installed` back to what it was before a swap put it aside to
// `backup`: the backup moved back over it with `attributes` (when known),
// or, for a marker, the new file deleted. True when that worked or there
// was nothing to undo; false with the last error set.
bool PutBack(const std::wstring& installed, const std::wstring& backup, uint32_t attributes) {
  if (platform::GetFileAttributesW(backup) == platform::kInvalidFileAttributes) return true;
  if (IsMarker(backup)) {
    if (!platform::DeleteFileW(installed) && !IsMissing(platform::GetLastError())) {
      Trace(L"Failed to remove new file", installed, platform::GetLastError());
      return false;
    }
    platform::DeleteFileW(backup);
    return true;
  }
  if (!MoveRetrying(backup, installed,
                    platform::kMovefileReplaceExisting | platform::kMovefileWriteThrough)) {
    uint32_t error = platform::GetLastError();
    Trace(L"Failed to put back", installed, error);
    platform::SetLastError(error);
    return false;
  }
  if (attributes != platform::kInvalidFileAttributes &&
      (attributes & platform::kFileAttributeReadonly)) {
    SetAttributes(installed, attributes);
  }
  return true;
}

void DeleteLeftover(const std::wstring& path) {
  // Our own files: a read-only attribute is no reason to keep them.
  platform::SetFileAttributesW(path, platform::kFileAttributeNormal);
  if (!platform::DeleteFileW(path)) Trace(L"Failed to delete", path, platform::GetLastError());
}

// Deletes a backup after a swap; one still in use (the running program's
// image or a DLL it loaded) goes at the next run, or at the next start.
void DiscardBackup(const std::wstring& backup) {
  if (platform::DeleteFileW(backup) || IsMissing(platform::GetLastError())) return;
  Trace(L"Backup in use, deleted later:", backup, platform::GetLastError());
  platform::MoveFileExW(backup, std::wstring(), platform::kMovefileDelayUntilReboot);
}

// Moves `installed` aside to `backup` (or marks that there was none) and
// `source` in. Returns 0 or the code; *attributes are the installed file's
// (kInvalidFileAttributes when there was none) and *asideDone tells whether
// the first half happened. A failed first half leaves the attributes as
// they were.
uint32_t SwapOne(const std::wstring& source, const std::wstring& installed,
                 const std::wstring& backup, uint32_t* attributes, bool* asideDone) {
  *asideDone = false;
  *attributes = platform::GetFileAttributesW(installed);
  if (*attributes == platform::kInvalidFileAttributes) {
    uint32_t error = platform::GetLastError();
    if (error != platform::kErrorFileNotFound) return error;
    platform::Handle marker = platform::CreateFileW(backup, platform::kGenericWrite, 0,
                                                    platform::kCreateNew,
                                                    platform::kFileAttributeNormal);
    if (marker == platform::kInvalidHandleValue) return platform::GetLastError();
    platform::CloseHandle(marker);
  } else {
    // A read-only backup could not be deleted afterwards.
    const bool readOnly = *attributes & platform::kFileAttributeReadonly;
    if (readOnly) SetAttributes(installed, *attributes & ~platform::kFileAttributeReadonly);
    if (!MoveRetrying(installed, backup, 0)) {
      uint32_t error = platform::GetLastError();
      if (readOnly) SetAttributes(installed, *attributes);
      return error;
    }
  }
  *asideDone = true;
  if (!MoveRetrying(source, installed,
                    platform::kMovefileReplaceExisting | platform::kMovefileWriteThrough)) {
    return platform::GetLastError();
  }
  return platform::kErrorSuccess;
}

void StoreGeneration(uint32_t generation) {
  platform::RegKey key = nullptr;
  uint32_t status = platform::RegCreateKeyExW(platform::kHkeyLocalMachine, kGenerationKey,
                                              platform::kRegOptionNonVolatile,
                                              platform::kKeySetValue, &key, nullptr);
  if (status == platform::kErrorSuccess) {
    status = platform::RegSetValueExW(key, kGenerationValue, platform::kRegDword, &generation,
                                      sizeof(generation));
    platform::RegCloseKey(key);
  }
  if (status != platform::kErrorSuccess) {
    platform::OutputDebugStringA("[Install] Failed to keep the update generation: " +
                                 std::to_string(status) + "\n");
  }
}

uint32_t StoredGeneration() {
  platform::RegKey key = nullptr;
  uint32_t stored = 0;
  if (platform::RegOpenKeyExW(platform::kHkeyLocalMachine, kGenerationKey, 0,
                              platform::kKeyQueryValue, &key) != platform::kErrorSuccess) {
    return 0;
  }
  uint32_t type = 0;
  uint32_t size = sizeof(stored);
  if (platform::RegQueryValueExW(key, kGenerationValue, &type, &stored, &size) !=
          platform::kErrorSuccess ||
      type != platform::kRegDword || size != sizeof(stored)) {
    stored = 0;
  }
  platform::RegCloseKey(key);
  return stored;
}

}  // namespace

std::wstring StagedPath(const std::wstring& name, uint32_t generation) {
  return NameFor(name, generation, kStagedSuffix);
}

uint32_t TakeGeneration() {
  uint32_t highest = StoredGeneration();
  for (const Leftover& left : ListLeftovers()) highest = std::max(highest, left.generation);
  StoreGeneration(highest + 1);
  return highest + 1;
}

uint32_t SwapInFile(const std::wstring& source, const std::wstring& name) {
  const std::wstring installed = GetInstallPath(name);
  const std::wstring backup = BackupPath(name, TakeGeneration());
  uint32_t attributes = 0;
  bool asideDone = false;
  uint32_t error = SwapOne(source, installed, backup, &attributes, &asideDone);
  if (error == platform::kErrorSuccess) {
    DiscardBackup(backup);
    return error;
  }
  if (asideDone) PutBack(installed, backup, attributes);
  platform::DeleteFileW(source);
  return error;
}

namespace {

bool IsHeld(uint32_t error) {
  return error == platform::kErrorSharingViolation || error == platform::kErrorAccessDenied;
}

std::wstring QueuedPath(const std::wstring& name, uint32_t generation) {
  return NameFor(name, generation, kQueuedSuffix);
}

// Swaps in the pair's files of `generation` found under `suffix`; a missing
// one is skipped when `partial` (a queue the restart half carried out).
// On failure the renames made are undone in reverse order; *held tells
// whether an installed file was held by someone (its rename aside failed
// with 32 or 5) and the undo worked.
bool SwapPair(uint32_t generation, const wchar_t* suffix, bool partial, SwapFailure* failure,
              bool* held) {
  uint32_t attributes[kSwappedFileCount];
  int file = 0;
  bool asideDone = false;
  uint32_t error = platform::kErrorSuccess;
  for (; file < kSwappedFileCount; ++file) {
    attributes[file] = platform::kInvalidFileAttributes;
    const std::wstring source = NameFor(kSwappedFiles[file], generation, suffix);
    if (partial && platform::GetFileAttributesW(source) == platform::kInvalidFileAttributes) {
      continue;
    }
    error = SwapOne(source, GetInstallPath(kSwappedFiles[file]),
                    BackupPath(kSwappedFiles[file], generation), &attributes[file], &asideDone);
    if (error != platform::kErrorSuccess) break;
  }
  *held = false;
  if (file == kSwappedFileCount) {
    for (const wchar_t* name : kSwappedFiles) DiscardBackup(BackupPath(name, generation));
    return true;
  }
  failure->name = kSwappedFiles[file];
  failure->error = error;
  failure->undone = true;
  for (int back = asideDone ? file : file - 1; back >= 0; --back) {
    // A new file moved in goes back to its own name first, so it can still
    // be queued; if that fails, putting the old one back replaces it.
    if (back < file) {
      MoveRetrying(GetInstallPath(kSwappedFiles[back]),
                   NameFor(kSwappedFiles[back], generation, suffix), 0);
    }
    failure->undone = PutBack(GetInstallPath(kSwappedFiles[back]),
                              BackupPath(kSwappedFiles[back], generation), attributes[back]) &&
                      failure->undone;
  }
  *held = failure->undone && !asideDone && IsHeld(error);
  return false;
}

void DeleteQueued(uint32_t generation) {
  for (const wchar_t* name : kSwappedFiles) {
    std::wstring queued = QueuedPath(name, generation);
    if (!platform::DeleteFileW(queued) && !IsMissing(platform::GetLastError())) {
      Trace(L"Failed to delete", queued, platform::GetLastError());
    }
  }
}

// Gives the staged pair names of its own and asks Windows to move both over
// the installed names at the next start, in the swap's order. When either
// cannot be queued, neither file stays, so the restart finds no source
// for what was queued and leaves the old pair.
bool QueueForRestart(uint32_t generation) {
  for (const wchar_t* name : kSwappedFiles) {
    if (!platform::MoveFileExW(StagedPath(name, generation), QueuedPath(name, generation),
                               platform::kMovefileWriteThrough)) {
      Trace(L"Failed to keep for the restart", StagedPath(name, generation),
            platform::GetLastError());
      DeleteQueued(generation);
      return false;
    }
  }
  for (const wchar_t* name : kSwappedFiles) {
    if (!platform::MoveFileExW(QueuedPath(name, generation), GetInstallPath(name),
                               platform::kMovefileDelayUntilReboot |
                                   platform::kMovefileReplaceExisting)) {
      Trace(L"Failed to queue for the restart", QueuedPath(name, generation),
            platform::GetLastError());
      DeleteQueued(generation);
      return false;
    }
  }
  // The restart cannot replace a read-only file; the old one goes then anyway.
  for (const wchar_t* name : kSwappedFiles) {
    uint32_t attributes = platform::GetFileAttributesW(GetInstallPath(name));
    if (attributes != platform::kInvalidFileAttributes &&
        (attributes & platform::kFileAttributeReadonly)) {
      SetAttributes(GetInstallPath(name), attributes & ~platform::kFileAttributeReadonly);
    }
  }
  platform::OutputDebugStringA("[Install] Update queued for the next restart (" +
                               std::to_string(generation) + ")\n");
  return true;
}

bool Fail(SwapFailure* failure, const std::wstring& name) {
  failure->name = name;
  failure->error = platform::GetLastError();
  failure->undone = false;
  return false;
}

}  // namespace

bool RepairInstallFolder(uint32_t* generation, SwapFailure* failure) {
  std::vector<Leftover> leftovers = ListLeftovers();
  // A generation with both backups and staged files left was killed inside
  // its swap: its backups go back. Without staged files the swap had ended;
  // without backups it had not begun.
  std::vector<uint32_t> interrupted;
  std::vector<uint32_t> queued;
  for (const Leftover& left : leftovers) {
    if (left.kind == Kind::kQueued) queued.push_back(left.generation);
    if (left.kind != Kind::kBackup || left.file >= kSwappedFileCount) continue;
    for (const Leftover& staged : leftovers) {
      if (staged.kind == Kind::kStaged && staged.generation == left.generation) {
        interrupted.push_back(left.generation);
      }
    }
  }
  std::sort(interrupted.rbegin(), interrupted.rend());
  interrupted.erase(std::unique(interrupted.begin(), interrupted.end()), interrupted.end());
  for (uint32_t killed : interrupted) {
    platform::OutputDebugStringA("[Install] Undoing an interrupted update (" +
                                 std::to_string(killed) + ")\n");
    for (int file = kSwappedFileCount - 1; file >= 0; --file) {
      if (!PutBack(GetInstallPath(kSwappedFiles[file]), BackupPath(kSwappedFiles[file], killed),
                   platform::kInvalidFileAttributes)) {
        return Fail(failure, kSwappedFiles[file]);
      }
    }
  }

  // A backup whose installed name is missing holds the installed file (the
  // newest one, if a program still runs from an older one).
  for (int file = 0; file < kKnownFileCount; ++file) {
    std::wstring installed = GetInstallPath(KnownFile(file));
    if (platform::GetFileAttributesW(installed) != platform::kInvalidFileAttributes) continue;
    std::vector<Leftover> present = ListLeftovers();
    const Leftover* newest = nullptr;
    for (const Leftover& left : present) {
      if (left.kind == Kind::kBackup && left.file == file && !IsMarker(left.path) &&
          (!newest || left.generation > newest->generation)) {
        newest = &left;
      }
    }
    if (newest && !MoveRetrying(newest->path, installed, platform::kMovefileWriteThrough)) {
      Trace(L"Failed to put back", installed, platform::GetLastError());
      return Fail(failure, KnownFile(file));
    }
  }

  // A pair queued for the restart goes in now if its holder is gone; if it
  // is still held it stays queued. The newest queued pair goes in last.
  std::sort(queued.begin(), queued.end());
  queued.erase(std::unique(queued.begin(), queued.end()), queued.end());
  for (uint32_t waiting : queued) {
    bool held = false;
    if (SwapPair(waiting, kQueuedSuffix, true, failure, &held)) {
      platform::OutputDebugStringA("[Install] Update that waited for a restart swapped in (" +
                                   std::to_string(waiting) + ")\n");
    } else if (!failure->undone) {
      return false;
    }
  }

  // Staged files are dead downloads; a backup goes only when its installed
  // name holds a complete file (markers always). Queued files stay queued.
  for (const Leftover& left : ListLeftovers()) {
    if (left.kind == Kind::kQueued) continue;
    if (left.kind == Kind::kBackup && !IsMarker(left.path) &&
        FileLength(GetInstallPath(KnownFile(left.file))) <= 0) {
      continue;
    }
    DeleteLeftover(left.path);
  }

  *generation = TakeGeneration();
  return true;
}

SwapResult SwapInStagedFiles(uint32_t generation, SwapFailure* failure) {
  bool held = false;
  if (SwapPair(generation, kStagedSuffix, false, failure, &held)) {
    // An older pair still queued would undo this one at the restart.
    for (const Leftover& left : ListLeftovers()) {
      if (left.kind == Kind::kQueued) DeleteLeftover(left.path);
    }
    return SwapResult::kSwapped;
  }
  return held && QueueForRestart(generation) ? SwapResult::kQueued : SwapResult::kRefused;
}

void RemoveStagedFiles(uint32_t generation) {
  for (const wchar_t* name : kSwappedFiles) {
    std::wstring staged = StagedPath(name, generation);
    if (!platform::DeleteFileW(staged) && !IsMissing(platform::GetLastError())) {
      Trace(L"Failed to delete", staged, platform::GetLastError());
    }
  }
}
