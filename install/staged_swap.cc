#include "install/staged_swap.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "install/product_constants.h"
#include "platform/file.h"
#include "platform/time.h"
#include "platform/trace.h"

const wchar_t* const kSwappedFiles[kSwappedFileCount] = {kAppExeName, kLoaderDllName};

namespace {

constexpr wchar_t kStagedSuffix[] = L".tsl-new";
constexpr wchar_t kBackupSuffix[] = L".tsl-old";
// A scanner holds a new file for a moment; a sharing violation that lasts
// longer than this is someone else's open handle.
constexpr int kSharingRetries = 10;
constexpr uint32_t kSharingRetryMs = 100;

struct Leftover {
  int file;  // index into kSwappedFiles
  uint32_t generation;
  bool backup;
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

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return towupper(x) == towupper(y);
         });
}

// "<known name>.<digits><suffix>", or false for anything else.
bool ParseLeftover(const std::wstring& entry, const wchar_t* suffix, Leftover* out) {
  std::wstring tail = suffix;
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
  for (int file = 0; file < kSwappedFileCount; ++file) {
    if (EqualsIgnoringCase(stem.substr(0, dot), kSwappedFiles[file])) {
      *out = Leftover{file, generation, tail == kBackupSuffix, GetInstallPath(entry)};
      return true;
    }
  }
  return false;
}

std::vector<Leftover> ListLeftovers() {
  std::vector<Leftover> found;
  for (const wchar_t* suffix : {kStagedSuffix, kBackupSuffix}) {
    platform::FindData data;
    platform::Handle search =
        platform::FindFirstFileW(GetInstallPath(std::wstring(L"*") + suffix), &data);
    if (search == platform::kInvalidHandleValue) continue;
    do {
      Leftover leftover;
      if (!(data.fileAttributes & platform::kFileAttributeDirectory) &&
          ParseLeftover(data.fileName, suffix, &leftover)) {
        found.push_back(leftover);
      }
    } while (platform::FindNextFileW(search, &data));
    platform::FindClose(search);
  }
  return found;
}

// An empty backup marks a name under which nothing was installed.
bool IsMarker(const std::wstring& path) {
  platform::Handle file = platform::CreateFileW(
      path, platform::kGenericRead,
      platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
      platform::kOpenExisting, platform::kFileAttributeNormal);
  if (file == platform::kInvalidHandleValue) return false;
  unsigned char byte = 0;
  uint32_t read = 0;
  bool empty = platform::ReadFile(file, &byte, 1, &read) && read == 0;
  platform::CloseHandle(file);
  return empty;
}

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

// Brings the installed name of one file back to what it was before the swap
// of `generation`: the backup moved back over it, or, for a marker, the new
// file deleted. True when that worked or there was nothing to undo.
bool PutBack(int file, uint32_t generation) {
  std::wstring installed = GetInstallPath(kSwappedFiles[file]);
  std::wstring backup = BackupPath(kSwappedFiles[file], generation);
  if (platform::GetFileAttributesW(backup) == platform::kInvalidFileAttributes) return true;
  if (IsMarker(backup)) {
    if (!platform::DeleteFileW(installed) &&
        platform::GetLastError() != platform::kErrorFileNotFound) {
      Trace(L"Failed to remove new file", installed, platform::GetLastError());
      return false;
    }
    platform::DeleteFileW(backup);
    return true;
  }
  if (!MoveRetrying(backup, installed,
                    platform::kMovefileReplaceExisting | platform::kMovefileWriteThrough)) {
    Trace(L"Failed to put back", installed, platform::GetLastError());
    return false;
  }
  return true;
}

void DeleteLeftover(const std::wstring& path) {
  // Our own files: a read-only attribute is no reason to keep them.
  platform::SetFileAttributesW(path, platform::kFileAttributeNormal);
  if (!platform::DeleteFileW(path)) Trace(L"Failed to delete", path, platform::GetLastError());
}

// Moves one installed file aside (or marks that there was none) and its
// staged file in. On failure *error is the code and `*asideDone` whether the
// first half happened.
bool SwapOne(int file, uint32_t generation, platform::Handle* held, uint32_t* error,
             bool* asideDone) {
  std::wstring installed = GetInstallPath(kSwappedFiles[file]);
  std::wstring backup = BackupPath(kSwappedFiles[file], generation);
  *asideDone = false;
  uint32_t attributes = platform::GetFileAttributesW(installed);
  if (attributes == platform::kInvalidFileAttributes) {
    *error = platform::GetLastError();
    if (*error != platform::kErrorFileNotFound) return false;
    platform::Handle marker = platform::CreateFileW(backup, platform::kGenericWrite, 0,
                                                    platform::kCreateNew,
                                                    platform::kFileAttributeNormal);
    if (marker == platform::kInvalidHandleValue) {
      *error = platform::GetLastError();
      return false;
    }
    platform::CloseHandle(marker);
  } else {
    // A read-only backup could not be deleted afterwards.
    if (attributes & platform::kFileAttributeReadonly) {
      platform::SetFileAttributesW(installed, attributes & ~platform::kFileAttributeReadonly);
    }
    if (!MoveRetrying(installed, backup, 0)) {
      *error = platform::GetLastError();
      return false;
    }
  }
  *asideDone = true;
  // The hold keeps out anyone else, and the rename too.
  if (*held != platform::kInvalidHandleValue) platform::CloseHandle(*held);
  *held = platform::kInvalidHandleValue;
  if (!MoveRetrying(StagedPath(kSwappedFiles[file], generation), installed,
                    platform::kMovefileReplaceExisting | platform::kMovefileWriteThrough)) {
    *error = platform::GetLastError();
    return false;
  }
  return true;
}

}  // namespace

std::wstring StagedPath(const std::wstring& name, uint32_t generation) {
  return NameFor(name, generation, kStagedSuffix);
}

uint32_t RepairInstallFolder() {
  std::vector<Leftover> leftovers = ListLeftovers();
  // A generation with both backups and staged files left was killed inside
  // its swap: its backups go back. Without staged files the swap had ended;
  // without backups it had not begun.
  std::vector<uint32_t> interrupted;
  for (const Leftover& backup : leftovers) {
    if (!backup.backup) continue;
    for (const Leftover& staged : leftovers) {
      if (!staged.backup && staged.generation == backup.generation) {
        interrupted.push_back(backup.generation);
      }
    }
  }
  std::sort(interrupted.rbegin(), interrupted.rend());
  interrupted.erase(std::unique(interrupted.begin(), interrupted.end()), interrupted.end());
  for (uint32_t generation : interrupted) {
    platform::OutputDebugStringA("[Install] Undoing an interrupted update (" +
                                 std::to_string(generation) + ")\n");
    for (int file = kSwappedFileCount - 1; file >= 0; --file) PutBack(file, generation);
  }

  // A backup whose installed name is missing holds the installed file (the
  // newest one, if a program still runs from an older one).
  for (int file = 0; file < kSwappedFileCount; ++file) {
    std::wstring installed = GetInstallPath(kSwappedFiles[file]);
    if (platform::GetFileAttributesW(installed) != platform::kInvalidFileAttributes) continue;
    std::vector<Leftover> present = ListLeftovers();
    const Leftover* newest = nullptr;
    for (const Leftover& left : present) {
      if (left.backup && left.file == file && !IsMarker(left.path) &&
          (!newest || left.generation > newest->generation)) {
        newest = &left;
      }
    }
    if (newest && !MoveRetrying(newest->path, installed, platform::kMovefileWriteThrough)) {
      Trace(L"Failed to put back", installed, platform::GetLastError());
    }
  }

  for (const Leftover& leftover : ListLeftovers()) DeleteLeftover(leftover.path);

  uint32_t highest = 0;
  for (const Leftover& left : ListLeftovers()) highest = std::max(highest, left.generation);
  return highest + 1;
}

bool SwapInStagedFiles(uint32_t generation, platform::Handle held[kSwappedFileCount],
                       std::wstring* failedName, uint32_t* error, bool* undone) {
  int file = 0;
  bool asideDone = false;
  for (; file < kSwappedFileCount; ++file) {
    if (!SwapOne(file, generation, &held[file], error, &asideDone)) break;
  }
  if (file == kSwappedFileCount) {
    for (const wchar_t* name : kSwappedFiles) {
      std::wstring backup = BackupPath(name, generation);
      if (platform::DeleteFileW(backup) ||
          platform::GetLastError() == platform::kErrorFileNotFound) {
        continue;
      }
      // Still in use (the running program's image or a DLL it loaded):
      // the next run deletes it, or Windows at the next start.
      Trace(L"Backup in use, deleted later:", backup, platform::GetLastError());
      platform::MoveFileExW(backup, std::wstring(), platform::kMovefileDelayUntilReboot);
    }
    return true;
  }

  *failedName = kSwappedFiles[file];
  *undone = true;
  for (int back = asideDone ? file : file - 1; back >= 0; --back) {
    *undone = PutBack(back, generation) && *undone;
  }
  return false;
}

void RemoveStagedFiles(uint32_t generation) {
  for (const wchar_t* name : kSwappedFiles) {
    std::wstring staged = StagedPath(name, generation);
    if (!platform::DeleteFileW(staged) &&
        platform::GetLastError() != platform::kErrorFileNotFound &&
        platform::GetLastError() != platform::kErrorPathNotFound) {
      Trace(L"Failed to delete", staged, platform::GetLastError());
    }
  }
}
