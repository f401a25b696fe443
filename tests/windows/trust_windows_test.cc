// The runtime-installer check against the kit's samples, on Windows itself:
// their CA is in no store, so Windows refuses the root; with the CA in the
// machine's root store for the length of the test, the Microsoft-signed
// sample passes and the other signer is refused by name. Wine 8 does not
// check that a root is trusted, so there the case is skipped.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "install/installer_signature.h"
#include "platform/file.h"
#include "tests/contract/on_wine.h"
#include "tests/windows/kit_support.h"

namespace {

constexpr char kSkipLabel[] =
    "Windows only: installer signatures against an untrusted and a temporarily "
    "trusted root (Wine 8 trusts any root)";

constexpr uint32_t kUntrustedRoot = 0x800B0109;       // CERT_E_UNTRUSTEDROOT
constexpr uint32_t kSubjectNotTrusted = 0x800B0004;   // TRUST_E_SUBJECT_NOT_TRUSTED

std::wstring SamplesFolder() {
  const wchar_t* folder = _wgetenv(L"TSL_TRUST_SAMPLES");
  return folder ? folder : KitFolder() + L"\\trust-samples";
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

// The samples' CA in the local machine's root store until the object goes,
// also after a failed assertion (run-tests.cmd deletes it by its SHA-1
// again after the program, should the program die first).
class TemporaryRoot {
 public:
  explicit TemporaryRoot(const std::wstring& pemFile) {
    std::optional<std::string> pem = ReadKitFile(pemFile);
    if (!pem) return;
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem->c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                              nullptr)) {
      return;
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem->c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                              nullptr, nullptr)) {
      return;
    }
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE,
                           L"Root");
    if (!store_) return;
    CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, der.data(), size,
                                     CERT_STORE_ADD_REPLACE_EXISTING, &added_);
  }
  ~TemporaryRoot() {
    if (added_) CertDeleteCertificateFromStore(added_);  // frees the context too
    if (store_) CertCloseStore(store_, 0);
  }
  TemporaryRoot(const TemporaryRoot&) = delete;
  TemporaryRoot& operator=(const TemporaryRoot&) = delete;
  bool added() const { return added_ != nullptr; }

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT added_ = nullptr;
};

uint32_t Check(const std::wstring& sample) {
  platform::Handle held = platform::kInvalidHandleValue;
  uint32_t result = CheckInstallerSignature(SamplesFolder() + L"\\" + sample, &held);
  if (result == 0) platform::CloseHandle(held);
  return result;
}

struct Row {
  const wchar_t* sample;
  uint32_t expected;
};

void ExpectRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    uint32_t got = Check(row.sample);
    EXPECT_EQ(row.expected, got) << ::testing::PrintToString(std::wstring(row.sample))
                                 << ": expected " << Hex(row.expected) << ", got " << Hex(got);
  }
}

TEST(TrustOnWindows, InstallerCheckFollowsTheRootStore) {
  if (RunningOnWine()) GTEST_SKIP() << kSkipLabel;
  ASSERT_TRUE(KitPathExists(SamplesFolder() + L"\\ca.crt")) << "no kit samples";
  {
    SCOPED_TRACE("CA in no store");
    ExpectRows({{L"microsoft.exe", kUntrustedRoot}, {L"contoso.exe", kUntrustedRoot}});
  }
  TemporaryRoot root(SamplesFolder() + L"\\ca.crt");
  ASSERT_TRUE(root.added()) << "the CA could not be added to the root store: " << LastErrorText();
  // The chain engine takes the store's change up on its own time.
  WaitUntil([] { return Check(L"microsoft.exe") != kUntrustedRoot; });
  SCOPED_TRACE("CA in the root store");
  ExpectRows({{L"microsoft.exe", 0}, {L"contoso.exe", kSubjectNotTrusted}});
}

}  // namespace
