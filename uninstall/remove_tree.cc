#include "uninstall/remove_tree.h"

#include "platform/file.h"
#include "platform/trace.h"
#include "platform/types.h"

namespace {

using platform::kFileAttributeDirectory;
using platform::kFileAttributeReparsePoint;

bool IsAbsence(uint32_t code) {
  return code == platform::kErrorFileNotFound || code == platform::kErrorPathNotFound;
}

void Trace(const std::wstring& what, const std::wstring& path, uint32_t code) {
  platform::OutputDebugStringW(L"[Uninstall] " + what + path + L" error: " +
                               std::to_wstring(code) + L"\n");
}

bool IsFolderLink(uint32_t attributes) {
  return (attributes & kFileAttributeDirectory) && (attributes & kFileAttributeReparsePoint);
}

// Removes a folder that must be empty by now (or a link, which goes alone);
// one that has vanished meanwhile counts as removed.
bool RemoveFolder(const std::wstring& path) {
  if (platform::RemoveDirectoryW(path)) return true;
  uint32_t code = platform::GetLastError();
  if (IsAbsence(code)) return true;
  Trace(L"Failed to remove directory: ", path, code);
  return false;
}

}  // namespace

bool RemoveDirectoryTree(const std::wstring& path, int32_t* deleted, int32_t* failed) {
  // The uninstall runs as administrator over folders ordinary users may
  // write to: a link planted there must not lead it into system folders.
  // Asking here, for every folder right before its search, rather than
  // trusting the parent's listing leaves the least time to swap a folder
  // for a link.
  uint32_t attributes = platform::GetFileAttributesW(path);
  if (attributes != platform::kInvalidFileAttributes && IsFolderLink(attributes)) {
    return RemoveFolder(path);
  }

  platform::FindData entry;
  platform::Handle find = platform::FindFirstFileW(path + L"\\*", &entry);
  if (find == platform::kInvalidHandleValue) {
    uint32_t code = platform::GetLastError();
    if (IsAbsence(code)) return true;
    Trace(L"FindFirstFile failed for: ", path, code);
    return platform::RemoveDirectoryW(path);
  }

  bool result = true;
  int32_t filesDeleted = 0;
  int32_t filesFailed = 0;
  do {
    if (entry.fileName == L"." || entry.fileName == L"..") continue;
    std::wstring entryPath = path + L"\\" + entry.fileName;
    if (entry.fileAttributes & kFileAttributeDirectory) {
      if (!RemoveDirectoryTree(entryPath, &filesDeleted, &filesFailed)) result = false;
    } else {
      if (entry.fileAttributes & platform::kFileAttributeReadonly) {
        platform::SetFileAttributesW(entryPath, platform::kFileAttributeNormal);
      }
      if (platform::DeleteFileW(entryPath)) {
        ++filesDeleted;
      } else {
        uint32_t code = platform::GetLastError();
        ++filesFailed;
        Trace(L"Failed to delete file: ", entryPath, code);
        result = false;
      }
    }
  } while (platform::FindNextFileW(find, &entry));
  platform::FindClose(find);

  if (!RemoveFolder(path)) result = false;
  if (deleted) *deleted += filesDeleted;
  if (failed) *failed += filesFailed;
  return result;
}
