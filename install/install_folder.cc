#include "install/install_folder.h"

#include <string>

#include "install/product_constants.h"
#include "platform/file.h"
#include "platform/security.h"
#include "platform/shell.h"
#include "platform/types.h"

namespace {

std::wstring ParentOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

// Whether the product's folder or its parent is a link: an elevated setup
// must not put its files, or its access list, wherever a link points.
bool IsLinkOnTheWay(const std::wstring& folder) {
  for (const std::wstring& path : {ParentOf(folder), folder}) {
    uint32_t attributes = platform::GetFileAttributesW(path);
    if (attributes != platform::kInvalidFileAttributes &&
        (attributes & platform::kFileAttributeReparsePoint)) {
      return true;
    }
  }
  return false;
}

// Sets owner and access list through `folder`, after checking through the
// same handle that it is a folder and no link.
uint32_t SecureFolder(platform::Handle folder) {
  platform::FileAttributeTagInfo info;
  if (!platform::GetFileInformationByHandleEx(folder, &info)) return platform::GetLastError();
  if (info.fileAttributes & platform::kFileAttributeReparsePoint) {
    return platform::kErrorCantResolveFilename;
  }
  if (!(info.fileAttributes & platform::kFileAttributeDirectory)) return platform::kErrorDirectory;

  platform::SecurityDescriptor descriptor = nullptr;
  if (!platform::ConvertStringSecurityDescriptorToSecurityDescriptorW(kInstallFolderSecurity,
                                                                      &descriptor)) {
    return platform::GetLastError();
  }
  uint32_t result = platform::SetSecurityInfo(
      folder,
      platform::kOwnerSecurityInformation | platform::kDaclSecurityInformation |
          platform::kProtectedDaclSecurityInformation,
      descriptor);
  platform::LocalFree(descriptor);
  return result;
}

}  // namespace

uint32_t CreateInstallFolder() { return CreateInstallFolderAt(kInstallFolder); }

uint32_t CreateInstallFolderAt(const std::wstring& folder) {
  if (IsLinkOnTheWay(folder)) return platform::kErrorCantResolveFilename;
  uint32_t created = platform::SHCreateDirectoryExW(folder);
  if (created != platform::kErrorSuccess && created != platform::kErrorAlreadyExists) {
    return created;
  }
  if (IsLinkOnTheWay(folder)) return platform::kErrorCantResolveFilename;

  // Without delete sharing the folder cannot be renamed or replaced while
  // its access list is set.
  platform::Handle handle = platform::CreateFileW(
      folder,
      platform::kReadControl | platform::kWriteDac | platform::kWriteOwner |
          platform::kFileReadAttributes,
      platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenExisting,
      platform::kFileFlagBackupSemantics | platform::kFileFlagOpenReparsePoint);
  if (handle == platform::kInvalidHandleValue) return platform::GetLastError();
  uint32_t secured = SecureFolder(handle);
  platform::CloseHandle(handle);
  return secured == platform::kErrorSuccess ? created : secured;
}
