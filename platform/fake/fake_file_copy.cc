// Temporary names and file copies, made of the fake's own file calls so they
// meet the same sharing, attribute and missing-path rules.
#include <cstdio>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/file.h"

namespace fake {
namespace {

using namespace platform;

// GetTempFileNameW starts its search from a number of its own choosing.
constexpr uint32_t kFirstUnique = 0x5A3C;

uint32_t g_failNextTempName = 0;
uint32_t g_nextUnique = kFirstUnique;

ResetHook g_resetTempNames([] {
  g_failNextTempName = 0;
  g_nextUnique = kFirstUnique;
});

std::wstring TempName(const std::wstring& folder, const std::wstring& prefix, uint32_t unique) {
  wchar_t hex[8];
  std::swprintf(hex, 8, L"%X", unique);
  std::wstring name = folder;
  if (name.empty() || name.back() != L'\\') name += L'\\';
  return name + prefix.substr(0, 3) + hex + L".tmp";
}

}  // namespace

void FailNextGetTempFileName(uint32_t code) { g_failNextTempName = code; }

}  // namespace fake

namespace platform {

uint32_t GetTempFileNameW(const std::wstring& pathName, const std::wstring& prefix,
                          uint32_t unique, std::wstring* tempFileName) {
  if (fake::g_failNextTempName) {
    SetLastError(fake::g_failNextTempName);
    fake::g_failNextTempName = 0;
    return 0;
  }
  if (pathName.size() > kMaxPath - 14) {
    SetLastError(kErrorBufferOverflow);
    return 0;
  }
  uint32_t attributes = GetFileAttributesW(pathName);
  if (attributes == kInvalidFileAttributes || !(attributes & kFileAttributeDirectory)) {
    SetLastError(kErrorDirectory);
    return 0;
  }
  if (unique != 0) {
    *tempFileName = fake::TempName(pathName, prefix, unique & 0xFFFF);
    return unique & 0xFFFF;
  }
  for (int tries = 0; tries < 0xFFFF; ++tries) {
    uint32_t number = fake::g_nextUnique;
    fake::g_nextUnique = fake::g_nextUnique == 0xFFFF ? 1 : fake::g_nextUnique + 1;
    std::wstring name = fake::TempName(pathName, prefix, number);
    Handle file = CreateFileW(name, kGenericWrite, 0, kCreateNew, kFileAttributeNormal);
    if (file != kInvalidHandleValue) {
      CloseHandle(file);
      *tempFileName = name;
      return number;
    }
    if (GetLastError() != kErrorFileExists) return 0;
  }
  SetLastError(kErrorFileExists);
  return 0;
}

bool CopyFileW(const std::wstring& existingFileName, const std::wstring& newFileName,
               bool failIfExists) {
  Handle source = CreateFileW(existingFileName, kGenericRead, kFileShareRead | kFileShareDelete,
                              kOpenExisting, kFileAttributeNormal);
  if (source == kInvalidHandleValue) return false;
  uint32_t attributes = GetFileAttributesW(existingFileName);
  Handle target = CreateFileW(newFileName, kGenericWrite, 0,
                              failIfExists ? kCreateNew : kCreateAlways, attributes);
  if (target == kInvalidHandleValue) {
    uint32_t error = GetLastError();
    CloseHandle(source);
    SetLastError(error);
    return false;
  }
  char buffer[4096];
  uint32_t read = 0;
  bool ok = true;
  uint32_t error = kErrorSuccess;
  while (ok && ReadFile(source, buffer, sizeof(buffer), &read) && read > 0) {
    uint32_t written = 0;
    ok = WriteFile(target, buffer, read, &written);
    if (!ok) error = GetLastError();
  }
  CloseHandle(target);
  CloseHandle(source);
  if (!ok) {
    DeleteFileW(newFileName);
    SetLastError(error);
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace platform
