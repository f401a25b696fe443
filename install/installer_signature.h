// The Authenticode check of a downloaded runtime installer before it runs
// with administrator rights.
#ifndef INSTALL_INSTALLER_SIGNATURE_H_
#define INSTALL_INSTALLER_SIGNATURE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

// The subject (common name and organisation) of the certificate that signs
// Microsoft's runtime installers.
inline constexpr wchar_t kInstallerPublisher[] = L"Microsoft Corporation";

// A certificate's subject, by the two names the checks compare.
struct SignerName {
  std::wstring commonName;
  std::wstring organization;
  bool operator==(const SignerName& other) const {
    return commonName == other.commonName && organization == other.organization;
  }
};

// WinVerifyTrust through the open `file` (at `path`): generic verify v2, no
// UI, revocation of the whole chain but the root from cached data only.
// Returns 0 (revocation that could not be determined included) with
// *signer the primary signer's subject (empty names when it cannot be
// read); else the failing result.
uint32_t VerifyFileSignature(platform::Handle file, const std::wstring& path, SignerName* signer);

// Opens the file for reading, sharing only reading (no writing, renaming or
// deleting while it is held), and checks it through that handle with
// VerifyFileSignature; a signer not in `accepted` gives
// TRUST_E_SUBJECT_NOT_TRUSTED. Returns 0 with *held the open handle, which
// the caller closes once the file has been used; else the failing result (a
// failed open as HRESULT_FROM_WIN32) with nothing held.
uint32_t HoldSignedFile(const std::wstring& path, const std::vector<SignerName>& accepted,
                        platform::Handle* held);

// VerifyFileSignature of a file the caller already holds; a signer not in
// `accepted` gives TRUST_E_SUBJECT_NOT_TRUSTED.
uint32_t CheckSignedFile(platform::Handle file, const std::wstring& path,
                         const std::vector<SignerName>& accepted);

// HoldSignedFile for a runtime installer: signed by kInstallerPublisher
// (common name and organisation), held until the installer has started.
uint32_t CheckInstallerSignature(const std::wstring& path, platform::Handle* held);

// "Installer signature check failed (error 0x" + the result in 8 upper-case
// hexadecimal digits + ")".
std::wstring InstallerSignatureError(uint32_t result);

// The code in 8 upper-case hexadecimal digits.
std::wstring HexCode(uint32_t code);

#endif  // INSTALL_INSTALLER_SIGNATURE_H_
