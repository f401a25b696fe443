#include "install/installer_signature.h"

#include <algorithm>

#include "platform/file.h"
#include "platform/trust.h"

namespace {

bool Accepted(uint32_t result) {
  return result == 0 || result == platform::kCertERevocationFailure ||
         result == platform::kCryptERevocationOffline;
}

// The primary signer (not a time-stamp counter-signer) of a verified state.
SignerName PrimarySigner(platform::TrustState state) {
  SignerName name;
  platform::ProviderData data = platform::WTHelperProvDataFromStateData(state);
  if (!data) return name;
  platform::ProviderSigner signer = platform::WTHelperGetProvSignerFromChain(data, 0, false, 0);
  if (!signer) return name;
  platform::CertContext cert = platform::WTHelperGetProvCertFromChain(signer, 0);
  if (!cert) return name;
  platform::CertGetNameStringW(cert, platform::kCertNameAttrType, 0, platform::kSzOidCommonName,
                               &name.commonName);
  platform::CertGetNameStringW(cert, platform::kCertNameAttrType, 0,
                               platform::kSzOidOrganizationName, &name.organization);
  return name;
}

}  // namespace

uint32_t VerifyFileSignature(platform::Handle file, const std::wstring& path, SignerName* signer) {
  *signer = SignerName();
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
  if (Accepted(result)) {
    *signer = PrimarySigner(data.stateData);
    result = 0;
  }
  data.stateAction = platform::kWtdStateactionClose;
  platform::WinVerifyTrust(platform::kInvalidHandleValue, platform::kWintrustActionGenericVerifyV2,
                           &data);
  return result;
}

uint32_t CheckSignedFile(platform::Handle file, const std::wstring& path,
                         const std::vector<SignerName>& accepted) {
  SignerName signer;
  uint32_t result = VerifyFileSignature(file, path, &signer);
  if (result == 0 && std::find(accepted.begin(), accepted.end(), signer) == accepted.end()) {
    result = platform::kTrustESubjectNotTrusted;
  }
  return result;
}

uint32_t HoldSignedFile(const std::wstring& path, const std::vector<SignerName>& accepted,
                        platform::Handle* held) {
  *held = platform::kInvalidHandleValue;
  platform::Handle file = platform::CreateFileW(path, platform::kGenericRead,
                                                platform::kFileShareRead, platform::kOpenExisting,
                                                platform::kFileAttributeNormal);
  if (file == platform::kInvalidHandleValue) {
    return static_cast<uint32_t>(platform::HResultFromWin32(platform::GetLastError()));
  }
  uint32_t result = CheckSignedFile(file, path, accepted);
  if (result != 0) {
    platform::CloseHandle(file);
    return result;
  }
  *held = file;
  return 0;
}

uint32_t CheckInstallerSignature(const std::wstring& path, platform::Handle* held) {
  return HoldSignedFile(path, {{kInstallerPublisher, kInstallerPublisher}}, held);
}

std::wstring HexCode(uint32_t code) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring hex;
  for (int shift = 28; shift >= 0; shift -= 4) hex += kDigits[(code >> shift) & 0xF];
  return hex;
}

std::wstring InstallerSignatureError(uint32_t result) {
  return L"Installer signature check failed (error 0x" + HexCode(result) + L")";
}
