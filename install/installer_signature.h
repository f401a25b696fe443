// The Authenticode check of a downloaded runtime installer before it runs
// with administrator rights.
#ifndef INSTALL_INSTALLER_SIGNATURE_H_
#define INSTALL_INSTALLER_SIGNATURE_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

// The subject (common name and organisation) of the certificate that signs
// Microsoft's runtime installers.
inline constexpr wchar_t kInstallerPublisher[] = L"Microsoft Corporation";

// Opens the file for reading, sharing only reading (no writing, renaming or
// deleting while it is held), and checks it through that handle with
// WinVerifyTrust (generic verify v2, no UI, revocation of the whole chain but
// the root from cached data only). Accepts a result of 0, and revocation
// that could not be determined (CERT_E_REVOCATION_FAILURE,
// CRYPT_E_REVOCATION_OFFLINE), when the primary signer's certificate has
// common name and organisation kInstallerPublisher; another signer gives
// TRUST_E_SUBJECT_NOT_TRUSTED. Returns 0 with *held the open handle, which
// the caller keeps until the installer has started and then closes; else the
// failing result (an HRESULT; a failed open as HRESULT_FROM_WIN32) with
// nothing held.
uint32_t CheckInstallerSignature(const std::wstring& path, platform::Handle* held);

// "Installer signature check failed (error 0x" + the result in 8 upper-case
// hexadecimal digits + ")".
std::wstring InstallerSignatureError(uint32_t result);

#endif  // INSTALL_INSTALLER_SIGNATURE_H_
