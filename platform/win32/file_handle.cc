// The handle-based file calls: what a handle is, a folder's listing through
// its handle, and attribute changes and deletions through a handle.
#include <windows.h>

#include <cstddef>
#include <vector>

#include "platform/file.h"

namespace platform {
namespace {

// FileDispositionInfoEx and its structure, which MinGW declares only for
// newer targets than ours; the call itself tells whether the system has it.
constexpr auto kFileDispositionInfoExClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
struct DispositionEx {
  DWORD flags;
};

// One listing buffer: large enough for many entries, aligned for the
// structures inside it.
constexpr DWORD kListingBufferSize = 64 * 1024;

}  // namespace

bool GetFileInformationByHandleEx(Handle file, FileAttributeTagInfo* info) {
  FILE_ATTRIBUTE_TAG_INFO got;
  if (!::GetFileInformationByHandleEx(file, ::FileAttributeTagInfo, &got, sizeof got)) return false;
  info->fileAttributes = got.FileAttributes;
  info->reparseTag = got.ReparseTag;
  return true;
}

bool GetFileInformationByHandleEx(Handle file, FileStandardInfo* info) {
  FILE_STANDARD_INFO got;
  if (!::GetFileInformationByHandleEx(file, ::FileStandardInfo, &got, sizeof got)) return false;
  info->allocationSize = got.AllocationSize.QuadPart;
  info->endOfFile = got.EndOfFile.QuadPart;
  info->numberOfLinks = got.NumberOfLinks;
  info->deletePending = got.DeletePending != FALSE;
  info->directory = got.Directory != FALSE;
  return true;
}

bool GetFileInformationByHandleEx(Handle folder, uint32_t infoClass, std::vector<FindData>* entries) {
  if (infoClass != kFileFullDirectoryInfo && infoClass != kFileFullDirectoryRestartInfo) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::vector<ULONGLONG> buffer(kListingBufferSize / sizeof(ULONGLONG));
  if (!::GetFileInformationByHandleEx(folder, static_cast<FILE_INFO_BY_HANDLE_CLASS>(infoClass),
                                      buffer.data(), kListingBufferSize)) {
    return false;
  }
  std::vector<FindData> got;
  const BYTE* at = reinterpret_cast<const BYTE*>(buffer.data());
  for (;;) {
    const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
    got.push_back({entry->FileAttributes,
                   std::wstring(entry->FileName, entry->FileNameLength / sizeof(WCHAR))});
    if (entry->NextEntryOffset == 0) break;
    at += entry->NextEntryOffset;
  }
  *entries = std::move(got);
  return true;
}

bool SetFileInformationByHandle(Handle file, const FileBasicInfo& info) {
  FILE_BASIC_INFO set = {};
  set.CreationTime.QuadPart = info.creationTime;
  set.LastAccessTime.QuadPart = info.lastAccessTime;
  set.LastWriteTime.QuadPart = info.lastWriteTime;
  set.ChangeTime.QuadPart = info.changeTime;
  set.FileAttributes = info.fileAttributes;
  return ::SetFileInformationByHandle(file, ::FileBasicInfo, &set, sizeof set) != FALSE;
}

bool SetFileInformationByHandle(Handle file, const FileDispositionInfo& info) {
  FILE_DISPOSITION_INFO set = {};
  set.DeleteFile = info.deleteFile ? TRUE : FALSE;
  return ::SetFileInformationByHandle(file, ::FileDispositionInfo, &set, sizeof set) != FALSE;
}

bool SetFileInformationByHandle(Handle file, const FileDispositionInfoEx& info) {
  DispositionEx set = {info.flags};
  return ::SetFileInformationByHandle(file, kFileDispositionInfoExClass, &set, sizeof set) !=
         FALSE;
}

}  // namespace platform
