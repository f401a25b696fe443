#include "install/product_constants.h"

#include "platform/file.h"

std::wstring JoinPath(const std::wstring& folder, const std::wstring& fileName) {
  std::wstring path = folder;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  path += fileName;
  return path;
}

std::wstring GetInstallPath(const std::wstring& fileName) {
  return JoinPath(kInstallFolder, fileName);
}

bool IsApplicationInstalled() {
  return platform::GetFileAttributesW(GetInstallPath(kAppExeName)) !=
         platform::kInvalidFileAttributes;
}
