// The fake's system folders and the process's current folder.
#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/file.h"
#include "platform/folders.h"

namespace fake {
namespace {

std::wstring g_currentDirectory;

void ResetFolders() { g_currentDirectory = kStartFolder; }

ResetHook g_resetFolders(ResetFolders);
const bool g_initialised = (ResetFolders(), true);

}  // namespace

std::wstring CurrentDirectory() { return g_currentDirectory; }

}  // namespace fake

namespace platform {

std::wstring GetSystemDirectoryW() { return L"C:\\Windows\\System32"; }

std::wstring GetSystemWindowsDirectoryW() { return L"C:\\Windows"; }

bool SetCurrentDirectoryW(const std::wstring& path) {
  uint32_t attributes = GetFileAttributesW(path);
  if (attributes == kInvalidFileAttributes) return false;
  if (!(attributes & kFileAttributeDirectory)) {
    SetLastError(kErrorDirectory);
    return false;
  }
  fake::g_currentDirectory = path;
  return true;
}

std::wstring GetCurrentDirectoryW() { return fake::g_currentDirectory; }

}  // namespace platform
