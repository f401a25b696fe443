#include "registration/own_image.h"

#include <cwctype>

#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/process.h"
#include "platform/trace.h"

platform::Handle g_ownImage = platform::kInvalidHandleValue;
uint32_t g_ownImageError = platform::kErrorInvalidHandle;

namespace {

constexpr uint32_t kMaxPath = 260;
// The longest path Windows knows, terminator included.
constexpr uint32_t kLongestPath = 32768;


bool SameTextIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

void Trace(const char* tag, const char* what, uint32_t code) {
  platform::OutputDebugStringA(std::string(tag) + what + std::to_string(code) + "\n");
}

}  // namespace

std::wstring LongPathForm(const std::wstring& path) {
  if (path.size() < kMaxPath || path.compare(0, 4, L"\\\\?\\") == 0) return path;
  if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

void HoldOwnImage(const char* tag) {
  ReleaseOwnImage();
  std::wstring self;
  uint32_t length = platform::GetModuleFileNameW(kLongestPath, &self);
  if (length == 0 || length >= kLongestPath) {
    g_ownImageError = platform::GetLastError();
    Trace(tag, "Failed to hold the program's own file: ", g_ownImageError);
    return;
  }
  platform::Handle file = platform::CreateFileW(LongPathForm(self), platform::kGenericRead,
                                                platform::kFileShareRead, platform::kOpenExisting,
                                                platform::kFileAttributeNormal);
  if (file == platform::kInvalidHandleValue) {
    g_ownImageError = platform::GetLastError();
    Trace(tag, "Failed to hold the program's own file: ", g_ownImageError);
    return;
  }
  // The file at our path may have been swapped between our start and the
  // open: the loader's mapping tells where our image is now, and the held
  // file can no longer move, so equal names mean one file.
  std::wstring held = platform::GetFinalPathNameByHandleW(file);
  std::wstring image = platform::GetMappedFileNameW();
  if (held.empty() || image.empty() || !SameTextIgnoringCase(held, image)) {
    g_ownImageError = held.empty() || image.empty() ? platform::GetLastError() : platform::kErrorFileInvalid;
    platform::CloseHandle(file);
    Trace(tag, "The program's own file is not the one running: ", g_ownImageError);
    return;
  }
  g_ownImage = file;
  g_ownImageError = platform::kErrorSuccess;
}

void ReleaseOwnImage() {
  if (g_ownImage != platform::kInvalidHandleValue) platform::CloseHandle(g_ownImage);
  g_ownImage = platform::kInvalidHandleValue;
  g_ownImageError = platform::kErrorInvalidHandle;
}
