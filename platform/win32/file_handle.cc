#include <windows.h>
#include <aclapi.h>
#include <psapi.h>
#include <sddl.h>
// psapi.h maps the name onto kernel32's K32GetMappedFileNameW, which is the
// call made below; the platform function keeps the documented name.
#undef GetMappedFileNameW

#include <vector>

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

uint32_t GetSecurityInfo(Handle file, std::wstring* ownerSid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD status = ::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
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

}  // namespace platform
