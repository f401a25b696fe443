#include "install/installer_signature.h"

#include <gtest/gtest.h>

#include "platform/fake/fake.h"
#include "platform/file.h"
#include "platform/trust.h"

namespace {

const std::wstring kInstaller = L"C:\\Users\\User\\AppData\\Local\\Temp\\TSL-1\\TSL1.exe";
const std::string kPayload = "MZ installer";

fake::Signer By(const std::wstring& commonName, const std::wstring& organization) {
  fake::Signer signer;
  signer.commonName = commonName;
  signer.organization = organization;
  return signer;
}

class InstallerSignatureTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
};

struct SignatureCase {
  const char* name;
  std::string bytes;
  uint32_t result;
};

std::vector<SignatureCase> SignatureCases() {
  const std::wstring ms = kInstallerPublisher;
  fake::Signer revocationFailed, revocationOffline, revoked, untrustedRoot, timestampOnly;
  revocationFailed.revocation = platform::kCertERevocationFailure;
  revocationOffline.revocation = platform::kCryptERevocationOffline;
  revoked.revocation = platform::kCertERevoked;
  untrustedRoot.trustedRoot = false;
  timestampOnly = By(L"Contoso Ltd", L"Contoso Ltd");
  timestampOnly.timestampCommonName = ms;
  timestampOnly.timestampOrganization = ms;
  std::string altered = fake::SignedContent(kPayload, fake::Signer{});
  altered[3] ^= 1;
  return {
      {"signed by Microsoft", fake::SignedContent(kPayload, fake::Signer{}), 0},
      {"revocation could not be checked", fake::SignedContent(kPayload, revocationFailed), 0},
      {"revocation server offline", fake::SignedContent(kPayload, revocationOffline), 0},
      {"unsigned", kPayload, platform::kTrustENosignature},
      {"altered after signing", altered, platform::kTrustEBadDigest},
      {"revoked certificate", fake::SignedContent(kPayload, revoked), platform::kCertERevoked},
      // Wine does not check the root (the contract tests say so), so this
      // case exists on the fake only.
      {"root no store trusts", fake::SignedContent(kPayload, untrustedRoot),
       platform::kCertEUntrustedroot},
      {"another subject", fake::SignedContent(kPayload, By(L"Contoso Ltd", L"Contoso Ltd")),
       platform::kTrustESubjectNotTrusted},
      {"Microsoft's name, another organisation",
       fake::SignedContent(kPayload, By(ms, L"Contoso Ltd")), platform::kTrustESubjectNotTrusted},
      {"another name, Microsoft's organisation",
       fake::SignedContent(kPayload, By(L"Contoso Ltd", ms)), platform::kTrustESubjectNotTrusted},
      {"only the time stamp is Microsoft's", fake::SignedContent(kPayload, timestampOnly),
       platform::kTrustESubjectNotTrusted},
      {"revoked and another subject: the chain's answer wins",
       fake::SignedContent(kPayload, [&] {
         fake::Signer s = By(L"Contoso Ltd", L"Contoso Ltd");
         s.revocation = platform::kCertERevoked;
         return s;
       }()),
       platform::kCertERevoked},
  };
}

TEST_F(InstallerSignatureTest, AcceptsOnlyMicrosoftsValidSignatureAndHoldsWhatItChecked) {
  for (const SignatureCase& c : SignatureCases()) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::AddFile(kInstaller, c.bytes);
    platform::Handle held = reinterpret_cast<platform::Handle>(uintptr_t{0xDEADBEEF});
    EXPECT_EQ(c.result, CheckInstallerSignature(kInstaller, &held)) << std::hex << c.result;
    EXPECT_EQ(0, fake::OpenTrustStateCount()) << "the verified state is always closed";
    if (c.result == 0) {
      ASSERT_NE(platform::kInvalidHandleValue, held);
      EXPECT_EQ(1, fake::OpenFileHandleCount());
      platform::CloseHandle(held);
    } else {
      EXPECT_EQ(platform::kInvalidHandleValue, held);
      EXPECT_EQ(0, fake::OpenFileHandleCount());
    }
  }
}

TEST_F(InstallerSignatureTest, ChecksThroughTheHandleWithOfflineRevocationAndNoUi) {
  fake::AddFile(kInstaller, fake::SignedContent(kPayload, fake::Signer{}));
  platform::Handle held = nullptr;
  ASSERT_EQ(0u, CheckInstallerSignature(kInstaller, &held));
  const std::vector<fake::TrustCall>& calls = fake::TrustCalls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(platform::kWtdStateactionVerify, calls[0].stateAction);
  EXPECT_EQ(platform::kWtdStateactionClose, calls[1].stateAction);
  for (const fake::TrustCall& call : calls) {
    EXPECT_TRUE(call.genericVerifyV2);
    EXPECT_EQ(platform::kInvalidHandleValue, call.window);
    EXPECT_EQ(platform::kWtdUiNone, call.uiChoice);
    EXPECT_EQ(platform::kWtdRevokeWholechain, call.revocationChecks);
    EXPECT_EQ(platform::kWtdRevocationCheckChainExcludeRoot | platform::kWtdCacheOnlyUrlRetrieval,
              call.provFlags);
    EXPECT_EQ(platform::kWtdChoiceFile, call.unionChoice);
    EXPECT_EQ(kInstaller, call.filePath);
    EXPECT_EQ(held, call.file);
  }
  // Held without write or delete sharing: nobody changes or swaps the file.
  platform::SetLastError(0);
  EXPECT_EQ(platform::kInvalidHandleValue,
            platform::CreateFileW(kInstaller, platform::kGenericWrite, 7, platform::kOpenExisting,
                                  0));
  EXPECT_EQ(platform::kErrorSharingViolation, platform::GetLastError());
  EXPECT_FALSE(platform::MoveFileExW(kInstaller, kInstaller + L".old", 0));
  EXPECT_EQ(platform::kErrorSharingViolation, platform::GetLastError());
  platform::CloseHandle(held);
}

TEST_F(InstallerSignatureTest, MissingFileGivesItsErrorAsAnHresult) {
  platform::Handle held = nullptr;
  EXPECT_EQ(0x80070003u, CheckInstallerSignature(L"C:\\missing\\TSL1.exe", &held));
  EXPECT_EQ(platform::kInvalidHandleValue, held);
  EXPECT_TRUE(fake::TrustCalls().empty());
}

TEST_F(InstallerSignatureTest, ErrorTextHasTheResultInEightHexDigits) {
  EXPECT_EQ(L"Installer signature check failed (error 0x800B0004)",
            InstallerSignatureError(0x800B0004));
  EXPECT_EQ(L"Installer signature check failed (error 0x00000005)", InstallerSignatureError(5));
}

}  // namespace
