#include "install/publisher_check.h"

#include <vector>

#include "install/product_constants.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/version.h"
#include "registration/own_image.h"

namespace {

// The longest path Windows knows, terminator included.
constexpr uint32_t kLongestPath = 32768;

}  // namespace

Publisher ReadPublisher() {
  Publisher publisher;
  std::wstring self;
  // The path only names the file for WinVerifyTrust; the bytes checked
  // are those of the held file.
  if (g_ownImage == platform::kInvalidHandleValue ||
      platform::GetModuleFileNameW(kLongestPath, &self) == 0) {
    return publisher;
  }
  publisher.isSigned = VerifyFileSignature(g_ownImage, self, &publisher.name) == 0;
  return publisher;
}

namespace {

std::vector<SignerName> Accepted(const Publisher& publisher, bool microsoftToo) {
  std::vector<SignerName> accepted;
  if (publisher.isSigned) accepted.push_back(publisher.name);
  if (microsoftToo) accepted.push_back({kInstallerPublisher, kInstallerPublisher});
  return accepted;
}

}  // namespace

uint32_t CheckSignedBy(const Publisher& publisher, const std::wstring& path, bool microsoftToo,
                       platform::Handle* held) {
  return HoldSignedFile(path, Accepted(publisher, microsoftToo), held);
}

uint32_t CheckHeldSignedBy(const Publisher& publisher, platform::Handle held,
                           const std::wstring& path, bool microsoftToo) {
  return CheckSignedFile(held, path, Accepted(publisher, microsoftToo));
}

std::wstring SignatureCheckError(uint32_t result) {
  return L"Signature check failed (error 0x" + HexCode(result) + L")";
}

bool ReadFileVersion(const std::wstring& path, uint64_t* version) {
  uint32_t size = platform::GetFileVersionInfoSizeW(path);
  std::vector<uint8_t> block;
  platform::FixedFileInfo info;
  if (size == 0 || !platform::GetFileVersionInfoW(path, size, &block) ||
      !platform::VerQueryValueW(block, L"\\", &info) || info.signature != platform::kVsFfiSignature) {
    return false;
  }
  *version = uint64_t{info.fileVersionMS} << 32 | info.fileVersionLS;
  return true;
}

std::wstring VersionText(uint64_t version) {
  std::wstring text;
  for (int shift = 48; shift >= 0; shift -= 16) {
    text += std::to_wstring((version >> shift) & 0xFFFF) + (shift ? L"." : L"");
  }
  return text;
}

bool CheckDownload(const Publisher& publisher, const std::wstring& name, const std::wstring& staged,
                   platform::Handle* held, std::wstring* reason) {
  if (!publisher.isSigned) return true;
  const bool application = name == kAppExeName;
  uint32_t result = CheckHeldSignedBy(publisher, *held, staged, !application);
  if (result != 0) {
    *reason = SignatureCheckError(result);
    platform::CloseHandle(*held);
    *held = platform::kInvalidHandleValue;
    return false;
  }
  uint64_t installed = 0;
  uint64_t offered = 0;
  // An installed file without a version sets no floor; a repair may bring
  // the same version again. A vendor who must go back publishes the old
  // build under a higher version.
  if (!application || !ReadFileVersion(GetInstallPath(name), &installed)) return true;
  if (!ReadFileVersion(staged, &offered)) {
    *reason = L"No version information";
  } else if (offered < installed) {
    *reason = L"Older than the installed version " + VersionText(installed);
  } else {
    return true;
  }
  platform::CloseHandle(*held);
  *held = platform::kInvalidHandleValue;
  return false;
}
