#include "install/installer_signature.h"

#include "platform/file.h"
#include "platform/trust.h"

namespace {

bool Accepted(uint32_t result) {
  return result == 0 || result == platform::kCertERevocationFailure ||
         result == platform::kCryptERevocationOffline;
}

// Whether the primary signer (not a time-stamp counter-signer) is the
// publisher by both its common name and its organisation.
bool SignedByPublisher(platform::TrustState state) {
  platform::ProviderData data = platform::WTHelperProvDataFromStateData(state);
  if (!data) return false;
  platform::ProviderSigner signer = platform::WTHelperGetProvSignerFromChain(data, 0, false, 0);
  if (!signer) return false;
  platform::CertContext cert = platform::WTHelperGetProvCertFromChain(signer, 0);
  if (!cert) return false;
  std::wstring commonName, organization;
  platform::CertGetNameStringW(cert, platform::kCertNameAttrType, 0, platform::kSzOidCommonName,
                               &commonName);
  platform::CertGetNameStringW(cert, platform::kCertNameAttrType, 0,
                               platform::kSzOidOrganizationName, &organization);
  return commonName == kInstallerPublisher && organization == kInstallerPublisher;
}

}  // namespace

uint32_t CheckInstallerSignature(const std::wstring& path, platform::Handle* held) {
  *held = platform::kInvalidHandleValue;
  platform::Handle file = platform::CreateFileW(path, platform::kGenericRead,
                                                platform::kFileShareRead, platform::kOpenExisting,
                                                platform::kFileAttributeNormal);
  if (file == platform::kInvalidHandleValue) {
    return static_cast<uint32_t>(platform::HResultFromWin32(platform::GetLastError()));
  }
  platform::WinTrustData data;
  data.uiChoice = platform::kWtdUiNone;
  // An offline machine must still be able to install: revocation is looked
  // up only in what is cached, and an unknown answer is accepted below.
  data.revocationChecks = platform::kWtdRevokeWholechain;
  data.provFlags =
      platform::kWtdRevocationCheckChainExcludeRoot | platform::kWtdCacheOnlyUrlRetrieval;
  data.unionChoice = platform::kWtdChoiceFile;
  data.filePath = path;
  data.file = file;
  data.stateAction = platform::kWtdStateactionVerify;
  // No interactive user: the check never shows anything.
  uint32_t result = platform::WinVerifyTrust(platform::kInvalidHandleValue,
                                             platform::kWintrustActionGenericVerifyV2, &data);
  if (Accepted(result) && !SignedByPublisher(data.stateData)) {
    result = platform::kTrustESubjectNotTrusted;
  }
  data.stateAction = platform::kWtdStateactionClose;
  platform::WinVerifyTrust(platform::kInvalidHandleValue, platform::kWintrustActionGenericVerifyV2,
                           &data);
  if (!Accepted(result)) {
    platform::CloseHandle(file);
    return result;
  }
  *held = file;
  return 0;
}

std::wstring InstallerSignatureError(uint32_t result) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring hex;
  for (int shift = 28; shift >= 0; shift -= 4) hex += kDigits[(result >> shift) & 0xF];
  return L"Installer signature check failed (error 0x" + hex + L")";
}
