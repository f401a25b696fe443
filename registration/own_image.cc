#include "registration/own_image.h"

#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/process.h"
#include "platform/trace.h"

platform::Handle g_ownImage = platform::kInvalidHandleValue;
uint32_t g_ownImageError = platform::kErrorInvalidHandle;

namespace {

// The longest path Windows knows, terminator included.
constexpr uint32_t kLongestPath = 32768;


// An NT path in a form CreateFileW opens: "\??\X:\..." as "\\?\X:\...",
// "\Device\..." through "\\?\GLOBALROOT".
std::wstring OpenableForm(const std::wstring& ntPath) {
  if (ntPath.compare(0, 4, L"\\??\\") == 0) return L"\\\\?\\" + ntPath.substr(4);
  return L"\\\\?\\GLOBALROOT" + ntPath;
}

// Whether the file the running program was loaded from is the held one:
// same volume, same file index.
uint32_t CheckIsRunningImage(platform::Handle held) {
  std::wstring image = platform::GetMappedFileNameW();
  if (image.empty()) return platform::GetLastError();
  platform::Handle mapped = platform::CreateFileW(
      OpenableForm(image), platform::kFileReadAttributes,
      platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
      platform::kOpenExisting, platform::kFileAttributeNormal);
  if (mapped == platform::kInvalidHandleValue) return platform::GetLastError();
  platform::ByHandleFileInformation a;
  platform::ByHandleFileInformation b;
  uint32_t error = platform::kErrorSuccess;
  if (!platform::GetFileInformationByHandle(held, &a) ||
      !platform::GetFileInformationByHandle(mapped, &b)) {
    error = platform::GetLastError();
  } else if (a.volumeSerialNumber != b.volumeSerialNumber || a.fileIndex != b.fileIndex) {
    error = platform::kErrorFileInvalid;
  }
  platform::CloseHandle(mapped);
  return error;
}

void Trace(const char* tag, const char* what, uint32_t code) {
  platform::OutputDebugStringA(std::string(tag) + what + std::to_string(code) + "\n");
}

}  // namespace

std::wstring LongPathForm(const std::wstring& path) {
  if (path.size() < platform::kMaxPath || path.compare(0, 4, L"\\\\?\\") == 0) return path;
  if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

bool IsSameFile(platform::Handle a, platform::Handle b) {
  platform::ByHandleFileInformation x;
  platform::ByHandleFileInformation y;
  return platform::GetFileInformationByHandle(a, &x) &&
         platform::GetFileInformationByHandle(b, &y) &&
         x.volumeSerialNumber == y.volumeSerialNumber && x.fileIndex == y.fileIndex;
}

bool IsOwnImageAt(const std::wstring& path) {
  if (g_ownImage == platform::kInvalidHandleValue) return false;
  platform::Handle other =
      platform::CreateFileW(LongPathForm(path), platform::kFileReadAttributes,
                            platform::kFileShareRead | platform::kFileShareWrite |
                                platform::kFileShareDelete,
                            platform::kOpenExisting, platform::kFileAttributeNormal);
  if (other == platform::kInvalidHandleValue) return false;
  bool same = IsSameFile(g_ownImage, other);
  platform::CloseHandle(other);
  return same;
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
  // open: the loader's mapping tells where our image is now.
  uint32_t error = CheckIsRunningImage(file);
  if (error != platform::kErrorSuccess) {
    g_ownImageError = error;
    platform::CloseHandle(file);
    Trace(tag, "The program's own file is not the one running: ", g_ownImageError);
    return;
  }
  g_ownImage = file;
  g_ownImageError = platform::kErrorSuccess;
}

void LetOwnImageMove(const std::wstring& path) {
  if (g_ownImage == platform::kInvalidHandleValue) return;
  platform::Handle file = platform::CreateFileW(
      LongPathForm(path), platform::kGenericRead, platform::kFileShareRead | platform::kFileShareDelete,
      platform::kOpenExisting, platform::kFileAttributeNormal);
  bool same = file != platform::kInvalidHandleValue && IsSameFile(g_ownImage, file);
  ReleaseOwnImage();
  if (!same) {
    if (file != platform::kInvalidHandleValue) platform::CloseHandle(file);
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
