#include <windows.h>

#include "platform/file.h"

namespace platform {

Handle CreateFileW(const std::wstring& path, uint32_t access, uint32_t share,
                   uint32_t disposition, uint32_t attributes) {
  return ::CreateFileW(path.c_str(), access, share, nullptr, disposition, attributes, nullptr);
}

bool WriteFile(Handle file, const void* data, uint32_t size, uint32_t* done) {
  DWORD n = 0;
  BOOL ok = ::WriteFile(file, data, size, &n, nullptr);
  *done = ok ? n : 0;
  return ok != FALSE;
}

bool ReadFile(Handle file, void* buffer, uint32_t size, uint32_t* done) {
  DWORD n = 0;
  BOOL ok = ::ReadFile(file, buffer, size, &n, nullptr);
  *done = ok ? n : 0;
  return ok != FALSE;
}

bool DeleteFileW(const std::wstring& path) { return ::DeleteFileW(path.c_str()) != FALSE; }

uint32_t GetFileAttributesW(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str());
}

bool SetFileAttributesW(const std::wstring& path, uint32_t attributes) {
  return ::SetFileAttributesW(path.c_str(), attributes) != FALSE;
}

bool CreateDirectoryW(const std::wstring& path) {
  return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

bool RemoveDirectoryW(const std::wstring& path) {
  return ::RemoveDirectoryW(path.c_str()) != FALSE;
}

std::wstring GetTempPathW() {
  wchar_t buffer[MAX_PATH + 1];
  DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) return std::wstring();
  return std::wstring(buffer, n);
}

static void CopyFindData(const WIN32_FIND_DATAW& from, FindData* to) {
  to->fileAttributes = from.dwFileAttributes;
  to->fileName = from.cFileName;
}

Handle FindFirstFileW(const std::wstring& pattern, FindData* data) {
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileW(pattern.c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) CopyFindData(found, data);
  return find;
}

bool FindNextFileW(Handle find, FindData* data) {
  WIN32_FIND_DATAW found;
  if (!::FindNextFileW(find, &found)) return false;
  CopyFindData(found, data);
  return true;
}

bool FindClose(Handle find) { return ::FindClose(find) != FALSE; }

bool MoveFileExW(const std::wstring& from, const std::wstring& to, uint32_t flags) {
  return ::MoveFileExW(from.c_str(), to.empty() ? nullptr : to.c_str(), flags) != FALSE;
}

}  // namespace platform

namespace platform {

uint32_t GetTempFileNameW(const std::wstring& pathName, const std::wstring& prefix,
                          uint32_t unique, std::wstring* tempFileName) {
  // Windows refuses a longer folder text; Wine does not and would write past
  // the buffer.
  if (pathName.size() > MAX_PATH - 14) {
    ::SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  wchar_t buffer[MAX_PATH] = {};
  UINT n = ::GetTempFileNameW(pathName.c_str(), prefix.c_str(), unique, buffer);
  if (n != 0) *tempFileName = buffer;
  return n;
}

bool CopyFileW(const std::wstring& existingFileName, const std::wstring& newFileName,
               bool failIfExists) {
  return ::CopyFileW(existingFileName.c_str(), newFileName.c_str(), failIfExists) != FALSE;
}

}  // namespace platform
