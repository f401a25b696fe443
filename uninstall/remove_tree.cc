#include "uninstall/remove_tree.h"

#include <vector>

#include "platform/file.h"
#include "platform/trace.h"
#include "platform/types.h"

// The uninstall runs as administrator over folders ordinary users may write
// to (C:\ProgramData): any folder or file there can be swapped for a link
// between two calls that name it by path. So every folder and file is opened
// once, without following a link, and checked, listed, changed and deleted
// only through that handle; a link found that way is deleted itself and
// never walked into. A folder held open without delete sharing cannot be
// renamed or replaced, which keeps the path of everything below it fixed
// while it is walked.

namespace {

using platform::FindData;
using platform::Handle;

constexpr uint32_t kOpenFlags =
    platform::kFileFlagBackupSemantics | platform::kFileFlagOpenReparsePoint;
constexpr uint32_t kShare = platform::kFileShareRead | platform::kFileShareWrite;
constexpr uint32_t kFolderAccess =
    platform::kDelete | platform::kFileListDirectory | platform::kFileReadAttributes;
constexpr uint32_t kFileAccess =
    platform::kDelete | platform::kFileReadAttributes | platform::kFileWriteAttributes;

struct Counts {
  int32_t deleted = 0;
  int32_t failed = 0;
  // The system answered that it has no POSIX deletion: every later entry
  // of the tree (one volume: links are not walked) goes the classic way at
  // once, without a call that fails each time.
  bool classicOnly = false;
};

bool IsAbsence(uint32_t code) {
  return code == platform::kErrorFileNotFound || code == platform::kErrorPathNotFound;
}

void Trace(const std::wstring& what, const std::wstring& path, uint32_t code) {
  platform::OutputDebugStringW(L"[Uninstall] " + what + path + L" error: " +
                               std::to_wstring(code) + L"\n");
}

Handle Open(const std::wstring& path, uint32_t access) {
  return platform::CreateFileW(path, access, kShare, platform::kOpenExisting, kOpenFlags);
}

// Deletes what the handle is open on (a link: the link). The POSIX deletion
// takes the name at once, so the folder above is empty right away; where
// the system lacks it, the name goes when the handle closes.
bool DeleteThrough(Handle handle, Counts* counts) {
  if (counts->classicOnly) {
    return platform::SetFileInformationByHandle(handle, platform::FileDispositionInfo{true});
  }
  platform::FileDispositionInfoEx posix = {platform::kFileDispositionFlagDelete |
                                           platform::kFileDispositionFlagPosixSemantics |
                                           platform::kFileDispositionFlagIgnoreReadonlyAttribute};
  if (platform::SetFileInformationByHandle(handle, posix)) return true;
  // Older systems and file systems without POSIX deletion answer 87, 50 or 1.
  uint32_t code = platform::GetLastError();
  if (code != platform::kErrorInvalidParameter && code != platform::kErrorNotSupported &&
      code != platform::kErrorInvalidFunction) {
    return false;
  }
  counts->classicOnly = true;
  return platform::SetFileInformationByHandle(handle, platform::FileDispositionInfo{true});
}

// Every entry of the open folder; false with the code when the listing
// cannot begin. A failure later ends the listing with what came so far.
bool ListFolder(Handle folder, std::vector<FindData>* entries, uint32_t* code) {
  uint32_t infoClass = platform::kFileFullDirectoryRestartInfo;
  std::vector<FindData> page;
  while (platform::GetFileInformationByHandleEx(folder, infoClass, &page)) {
    entries->insert(entries->end(), page.begin(), page.end());
    infoClass = platform::kFileFullDirectoryInfo;
  }
  *code = platform::GetLastError();
  return infoClass == platform::kFileFullDirectoryInfo || *code == platform::kErrorNoMoreFiles;
}

bool RemoveFolder(const std::wstring& path, bool listedAsLink, Counts* counts);

bool RemoveFile(const std::wstring& path, Counts* counts) {
  Handle file = Open(path, kFileAccess);
  if (file == platform::kInvalidHandleValue) {
    uint32_t code = platform::GetLastError();
    ++counts->failed;
    Trace(L"Failed to delete file: ", path, code);
    return false;
  }
  platform::FileAttributeTagInfo info;
  bool known = platform::GetFileInformationByHandleEx(file, &info);
  if (known && (info.fileAttributes & platform::kFileAttributeDirectory)) {
    // A folder, or a link to one, took the file's place after the listing.
    platform::CloseHandle(file);
    return RemoveFolder(path, (info.fileAttributes & platform::kFileAttributeReparsePoint) != 0,
                        counts);
  }

  bool deleted = false;
  uint32_t code = platform::kErrorAccessDenied;
  bool link = known && (info.fileAttributes & platform::kFileAttributeReparsePoint);
  bool readOnly = known && (info.fileAttributes & platform::kFileAttributeReadonly);
  platform::FileStandardInfo standard;
  if (!known) {
    code = platform::GetLastError();
  } else if (readOnly && !link &&
             (!platform::GetFileInformationByHandleEx(file, &standard) ||
              standard.numberOfLinks > 1)) {
    // The attributes belong to the file, not to this name: clearing them
    // would change a file elsewhere that shares it (a hard link to a system
    // file). Such a name stays, as a read-only file would.
  } else {
    if (readOnly && !link) {
      platform::FileBasicInfo basic = {0, 0, 0, 0, platform::kFileAttributeNormal};
      platform::SetFileInformationByHandle(file, basic);
    }
    deleted = DeleteThrough(file, counts);
    if (!deleted) code = platform::GetLastError();
  }
  platform::CloseHandle(file);
  if (deleted) {
    ++counts->deleted;
    return true;
  }
  ++counts->failed;
  Trace(L"Failed to delete file: ", path, code);
  return false;
}

// Removes the open folder's entries, then the folder itself.
bool EmptyAndDelete(Handle folder, const std::wstring& path, Counts* counts) {
  std::vector<FindData> entries;
  uint32_t code = 0;
  if (!ListFolder(folder, &entries, &code)) {
    Trace(L"FindFirstFile failed for: ", path, code);
    return DeleteThrough(folder, counts);
  }
  bool result = true;
  for (const FindData& entry : entries) {
    if (entry.fileName == L"." || entry.fileName == L"..") continue;
    std::wstring entryPath = path + L"\\" + entry.fileName;
    bool removed = (entry.fileAttributes & platform::kFileAttributeDirectory)
                       ? RemoveFolder(entryPath,
                                      entry.fileAttributes & platform::kFileAttributeReparsePoint,
                                      counts)
                       : RemoveFile(entryPath, counts);
    if (!removed) result = false;
  }
  if (!DeleteThrough(folder, counts)) {
    Trace(L"Failed to remove directory: ", path, platform::GetLastError());
    result = false;
  }
  return result;
}

// listedAsLink: the folder's listing showed a link here. The handle's own
// answer counts too, so a link put in after the listing is caught as well.
bool RemoveFolder(const std::wstring& path, bool listedAsLink, Counts* counts) {
  Handle folder = Open(path, kFolderAccess);
  if (folder == platform::kInvalidHandleValue) {
    uint32_t code = platform::GetLastError();
    if (IsAbsence(code)) return true;
    // Not to be listed (access denied): an empty folder can still go; a
    // link is removed itself by RemoveDirectoryW.
    Trace(L"FindFirstFile failed for: ", path, code);
    return platform::RemoveDirectoryW(path);
  }
  platform::FileAttributeTagInfo info;
  bool result = false;
  if (!platform::GetFileInformationByHandleEx(folder, &info)) {
    Trace(L"FindFirstFile failed for: ", path, platform::GetLastError());
  } else if (!(info.fileAttributes & platform::kFileAttributeDirectory)) {
    // A file where the folder should be is left alone, as a search in it
    // fails.
    Trace(L"FindFirstFile failed for: ", path, platform::kErrorDirectory);
  } else if (listedAsLink || (info.fileAttributes & platform::kFileAttributeReparsePoint)) {
    result = DeleteThrough(folder, counts);
    if (!result) Trace(L"Failed to remove directory: ", path, platform::GetLastError());
  } else {
    result = EmptyAndDelete(folder, path, counts);
  }
  platform::CloseHandle(folder);
  return result;
}

}  // namespace

bool RemoveDirectoryTree(const std::wstring& path, int32_t* deleted, int32_t* failed) {
  // The path's own attributes also mark a link at the top: a file system
  // that follows links even on a handle opened not to (Wine's Unix links)
  // still reports them there.
  uint32_t attributes = platform::GetFileAttributesW(path);
  bool link = attributes != platform::kInvalidFileAttributes &&
              (attributes & platform::kFileAttributeReparsePoint);
  Counts counts;
  bool result = RemoveFolder(path, link, &counts);
  if (deleted) *deleted += counts.deleted;
  if (failed) *failed += counts.failed;
  return result;
}
