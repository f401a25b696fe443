// Authenticode checks: mirrors of the wintrust and crypt32 calls of the same
// name. Neither DLL is a KnownDLL, so the Win32 layer loads both from
// System32 at run time.
#ifndef PLATFORM_TRUST_H_
#define PLATFORM_TRUST_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

// WINTRUST_ACTION_GENERIC_VERIFY_V2: Authenticode for a file.
constexpr Guid kWintrustActionGenericVerifyV2 = {
    0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

// WINTRUST_DATA's choices.
constexpr uint32_t kWtdUiNone = 2;
constexpr uint32_t kWtdRevokeNone = 0;
constexpr uint32_t kWtdRevokeWholechain = 1;
constexpr uint32_t kWtdChoiceFile = 1;
constexpr uint32_t kWtdStateactionIgnore = 0;
constexpr uint32_t kWtdStateactionVerify = 1;
constexpr uint32_t kWtdStateactionClose = 2;
constexpr uint32_t kWtdRevocationCheckChainExcludeRoot = 0x00000080;
constexpr uint32_t kWtdCacheOnlyUrlRetrieval = 0x00001000;

// What WinVerifyTrust answers besides 0.
constexpr uint32_t kTrustENosignature = 0x800B0100;
constexpr uint32_t kTrustEBadDigest = 0x80096010;
constexpr uint32_t kTrustESubjectNotTrusted = 0x800B0004;
constexpr uint32_t kCertEUntrustedroot = 0x800B0109;
constexpr uint32_t kCertERevoked = 0x800B010C;
constexpr uint32_t kCertERevocationFailure = 0x800B010E;
constexpr uint32_t kCryptERevocationOffline = 0x80092013;

using TrustState = void*;     // WINTRUST_DATA's hWVTStateData
using ProviderData = void*;   // CRYPT_PROVIDER_DATA of a verified state
using ProviderSigner = void*; // CRYPT_PROVIDER_SGNR
using CertContext = const void*;  // PCCERT_CONTEXT

// The fields of WINTRUST_DATA (and of its WINTRUST_FILE_INFO) that are not
// null or 0 in our calls; the rest are passed as null or 0.
struct WinTrustData {
  uint32_t uiChoice = kWtdUiNone;
  uint32_t revocationChecks = kWtdRevokeNone;
  uint32_t unionChoice = kWtdChoiceFile;
  std::wstring filePath;                  // WINTRUST_FILE_INFO.pcwszFilePath
  Handle file = nullptr;                  // WINTRUST_FILE_INFO.hFile, null: by path
  uint32_t stateAction = kWtdStateactionIgnore;
  TrustState stateData = nullptr;         // hWVTStateData, in and out
  uint32_t provFlags = 0;
};

// WinVerifyTrust(window, action, data). With WTD_STATEACTION_VERIFY it keeps
// the verified state in data->stateData, which a second call with
// WTD_STATEACTION_CLOSE (on the same data) frees; it must always follow.
// Returns 0 for a signature that verifies, TRUST_E_NOSIGNATURE for none,
// TRUST_E_BAD_DIGEST for a file changed after signing, CERT_E_UNTRUSTEDROOT,
// CERT_E_REVOKED, CERT_E_REVOCATION_FAILURE or CRYPT_E_REVOCATION_OFFLINE
// for the chain, or another failure code.
uint32_t WinVerifyTrust(WindowHandle window, const Guid& action, WinTrustData* data);

// WTHelperProvDataFromStateData: the provider data of a verified state, or
// null.
ProviderData WTHelperProvDataFromStateData(TrustState state);

// WTHelperGetProvSignerFromChain(data, signer, counterSigner, counterSigner
// index): index 0 with counterSigner false is the primary signer (not the
// time-stamp signer); null when there is no such signer.
ProviderSigner WTHelperGetProvSignerFromChain(ProviderData data, uint32_t signerIndex,
                                              bool counterSigner, uint32_t counterSignerIndex);

// WTHelperGetProvCertFromChain(signer, index)->pCert: certificate 0 is the
// signer's own. Null when the chain has no such certificate.
CertContext WTHelperGetProvCertFromChain(ProviderSigner signer, uint32_t certIndex);

constexpr uint32_t kCertNameAttrType = 3;
constexpr char kSzOidCommonName[] = "2.5.4.3";
constexpr char kSzOidOrganizationName[] = "2.5.4.10";

// CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, flags 0 (the subject), the
// attribute's OID, buffer): *name is the first such attribute of the
// subject, empty when it has none. Returns the characters written with the
// terminator (1 for an empty name).
uint32_t CertGetNameStringW(CertContext cert, uint32_t type, uint32_t flags, const char* oid,
                            std::wstring* name);

}  // namespace platform

#endif  // PLATFORM_TRUST_H_
