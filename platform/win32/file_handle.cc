#include <windows.h>
#include <aclapi.h>
#include <psapi.h>
#include <sddl.h>
// psapi.h maps the name onto kernel32's K32GetMappedFileNameW, which is the
// call made below; the platform function keeps the documented name.
#undef GetMappedFileNameW

#include <cstddef>
#include <vector>

#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/folders.h"

namespace platform {

bool GetFileInformationByHandle(Handle file, ByHandleFileInformation* information) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(file, &info)) return false;
  information->fileAttributes = info.dwFileAttributes;
  information->volumeSerialNumber = info.dwVolumeSerialNumber;
  information->fileIndex = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  information->numberOfLinks = info.nNumberOfLinks;
  information->fileSize = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  return true;
}

bool SetFilePointerEx(Handle file, int64_t distance, uint32_t moveMethod) {
  LARGE_INTEGER to;
  to.QuadPart = distance;
  return ::SetFilePointerEx(file, to, nullptr, moveMethod) != FALSE;
}

bool FlushFileBuffers(Handle file) { return ::FlushFileBuffers(file) != FALSE; }

bool SetFileInformationByHandle(Handle file, const FileDispositionInfo& information) {
  FILE_DISPOSITION_INFO info = {};
  info.DeleteFile = information.deleteFile ? TRUE : FALSE;
  return ::SetFileInformationByHandle(file, ::FileDispositionInfo, &info, sizeof(info)) != FALSE;
}

// Calls that fill a caller's buffer and answer the length they need.
template <typename Call>
static std::wstring GrowingBuffer(Call call) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    if (buffer.size() >= 32768 * 2) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return std::wstring();
    }
    buffer.resize(n > buffer.size() ? n + 1 : buffer.size() * 2);
  }
}

std::wstring GetMappedFileNameW() {
  void* base = ::GetModuleHandleW(nullptr);
  // It answers the characters copied, cut without an error when the name
  // does not fit: a full buffer means "try a larger one".
  return GrowingBuffer([base](wchar_t* buffer, DWORD size) {
    DWORD n = ::K32GetMappedFileNameW(::GetCurrentProcess(), base, buffer, size);
    return n + 1 >= size ? size : n;
  });
}

// The owner of a file or a kernel object (the setup mutex, platform/sync.h).
static uint32_t OwnerSid(Handle object, SE_OBJECT_TYPE type, std::wstring* ownerSid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD status = ::GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &owner,
                                   nullptr, nullptr, nullptr, &descriptor);
  if (status != ERROR_SUCCESS) return status;
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(owner, &text)) {
    status = ::GetLastError();
  } else {
    *ownerSid = text;
    ::LocalFree(text);
  }
  ::LocalFree(descriptor);
  return status;
}

uint32_t GetSecurityInfo(Handle file, std::wstring* ownerSid) {
  return OwnerSid(file, SE_FILE_OBJECT, ownerSid);
}

uint32_t GetSecurityInfo(Handle object, uint32_t objectType, std::wstring* ownerSid) {
  return OwnerSid(object, static_cast<SE_OBJECT_TYPE>(objectType), ownerSid);
}

std::wstring GetSystemDirectoryW() {
  return GrowingBuffer([](wchar_t* buffer, DWORD size) {
    return ::GetSystemDirectoryW(buffer, size);
  });
}

std::wstring GetSystemWindowsDirectoryW() {
  return GrowingBuffer([](wchar_t* buffer, DWORD size) {
    return ::GetSystemWindowsDirectoryW(buffer, size);
  });
}

bool SetCurrentDirectoryW(const std::wstring& path) {
  return ::SetCurrentDirectoryW(path.c_str()) != FALSE;
}

std::wstring GetCurrentDirectoryW() {
  return GrowingBuffer([](wchar_t* buffer, DWORD size) {
    return ::GetCurrentDirectoryW(size, buffer);
  });
}

// ---- Listing, attributes and deletion through a handle ----
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

bool SetFileInformationByHandle(Handle file, const FileDispositionInfoEx& info) {
  DispositionEx set = {info.flags};
  return ::SetFileInformationByHandle(file, kFileDispositionInfoExClass, &set, sizeof set) !=
         FALSE;
}

}  // namespace platform
