// Authenticode checks as platform/trust.h promises them, on the fake and,
// built for Windows, for real (under Wine). scripts/wine-contract.sh signs
// the samples with a code-signing certificate from a CA it makes for the
// run, which no certificate store holds, and names their folder in
// TSL_TRUST_SAMPLES; the fake gets the same four files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/process.h"
#include "platform/trust.h"
#include "platform/version.h"
#include "tests/contract/on_wine.h"

#ifndef _WIN32
#include "platform/fake/fake.h"
#endif

namespace {

using namespace platform;

std::wstring SamplesFolder() {
#ifdef _WIN32
  const char* folder = std::getenv("TSL_TRUST_SAMPLES");
  return folder ? std::wstring(folder, folder + std::string(folder).size()) : L"";
#else
  return L"C:\\samples";
#endif
}

class TrustContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = SamplesFolder();
    ASSERT_FALSE(folder_.empty()) << "TSL_TRUST_SAMPLES names no folder";
#ifndef _WIN32
    // What wine-contract.sh makes, on the fake: signers from a root that no
    // store trusts.
    const std::string program = "MZ a small program";
    fake::Signer microsoft, contoso;
    microsoft.trustedRoot = contoso.trustedRoot = false;
    contoso.commonName = contoso.organization = L"Contoso Ltd";
    std::string altered = fake::SignedContent(program, microsoft);
    altered[5] ^= 0x20;
    fake::AddFile(folder_ + L"\\unsigned.exe", program);
    fake::AddFile(folder_ + L"\\microsoft.exe", fake::SignedContent(program, microsoft));
    fake::AddFile(folder_ + L"\\contoso.exe", fake::SignedContent(program, contoso));
    fake::AddFile(folder_ + L"\\altered.exe", altered);
    fake::AddFile(folder_ + L"\\versioned.exe", fake::WithVersion(program, 1, 2, 3, 4));
#endif
  }

  // WinVerifyTrust with the installer check's arguments on the file, given
  // by a handle held without write sharing (by default the installer's
  // hold; with delete access, a staged file's); the state is left open.
  uint32_t Verify(const std::wstring& name, WinTrustData* data, bool deleteAccess = false) {
    std::wstring path = folder_ + L"\\" + name;
    file_ = deleteAccess ? CreateFileW(path, kGenericRead | kDelete, kFileShareRead | kFileShareDelete,
                                       kOpenExisting, kFileAttributeNormal)
                         : CreateFileW(path, kGenericRead, kFileShareRead, kOpenExisting,
                                       kFileAttributeNormal);
    EXPECT_NE(kInvalidHandleValue, file_) << "open " << GetLastError();
    data->uiChoice = kWtdUiNone;
    data->revocationChecks = kWtdRevokeWholechain;
    data->provFlags = kWtdRevocationCheckChainExcludeRoot | kWtdCacheOnlyUrlRetrieval;
    data->unionChoice = kWtdChoiceFile;
    data->filePath = path;
    data->file = file_;
    data->stateAction = kWtdStateactionVerify;
    return WinVerifyTrust(kInvalidHandleValue, kWintrustActionGenericVerifyV2, data);
  }

  void Close(WinTrustData* data) {
    data->stateAction = kWtdStateactionClose;
    EXPECT_EQ(0u, WinVerifyTrust(kInvalidHandleValue, kWintrustActionGenericVerifyV2, data));
    CloseHandle(file_);
  }

  std::wstring folder_;
  Handle file_ = kInvalidHandleValue;
};

TEST_F(TrustContractTest, EachSampleGetsItsResult) {
  // Wine 8 does not check that a chain ends in a trusted root: it answers 0
  // where Windows answers CERT_E_UNTRUSTEDROOT for our throwaway CA.
  const uint32_t untrustedRoot = RunningOnWine() ? 0 : kCertEUntrustedroot;
  struct Row {
    const wchar_t* name;
    uint32_t result;
  };
  const Row rows[] = {
      {L"unsigned.exe", kTrustENosignature},
      {L"altered.exe", kTrustEBadDigest},
      {L"microsoft.exe", untrustedRoot},
      {L"contoso.exe", untrustedRoot},
  };
  for (const Row& row : rows) {
    for (bool deleteAccess : {false, true}) {
      SCOPED_TRACE(std::string(row.name, row.name + wcslen(row.name)) +
                   (deleteAccess ? ", held with delete access" : ""));
      WinTrustData data;
      data.stateData = reinterpret_cast<TrustState>(uintptr_t{0xDEADBEEF});
      uint32_t result = Verify(row.name, &data, deleteAccess);
      EXPECT_EQ(row.result, result) << std::hex << "got 0x" << result;
      EXPECT_NE(reinterpret_cast<TrustState>(uintptr_t{0xDEADBEEF}), data.stateData);
      Close(&data);
    }
  }
}

TEST_F(TrustContractTest, PrimarySignerNamesItsSubject) {
  struct Row {
    const wchar_t* name;
    const wchar_t* subject;
  };
  const Row rows[] = {{L"microsoft.exe", L"Microsoft Corporation"},
                      {L"contoso.exe", L"Contoso Ltd"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name, row.name + wcslen(row.name)));
    WinTrustData data;
    Verify(row.name, &data);
    ProviderData provider = WTHelperProvDataFromStateData(data.stateData);
    ASSERT_NE(nullptr, provider);
    ProviderSigner signer = WTHelperGetProvSignerFromChain(provider, 0, false, 0);
    ASSERT_NE(nullptr, signer);
    EXPECT_EQ(nullptr, WTHelperGetProvSignerFromChain(provider, 0, true, 0))
        << "not time-stamped: no counter-signer";
    CertContext cert = WTHelperGetProvCertFromChain(signer, 0);
    ASSERT_NE(nullptr, cert);
    std::wstring commonName = L"sentinel", organization = L"sentinel";
    uint32_t length = CertGetNameStringW(cert, kCertNameAttrType, 0, kSzOidCommonName, &commonName);
    EXPECT_EQ(std::wstring(row.subject), commonName);
    EXPECT_EQ(commonName.size() + 1, length);
    CertGetNameStringW(cert, kCertNameAttrType, 0, kSzOidOrganizationName, &organization);
    EXPECT_EQ(std::wstring(row.subject), organization);
    Close(&data);
  }
}

// The check holds the file it checked while the program starts from it: a
// handle that shares reading lets the loader in, one that writes does not.
TEST_F(TrustContractTest, ProgramHeldForReadingStartsButNotOneHeldForWriting) {
  const std::wstring cmd = L"C:\\Windows\\System32\\cmd.exe";
#ifndef _WIN32
  fake::AddFile(cmd, "MZ");
#endif
  const std::wstring copy = GetTempPathW() + L"tsl-held-program.exe";
  ASSERT_TRUE(CopyFileW(cmd, copy, false)) << "error " << GetLastError();
  struct Row {
    const char* name;
    uint32_t access;
    uint32_t share;
    bool starts;
  };
  const Row rows[] = {
      {"read, sharing read", kGenericRead, kFileShareRead, true},
      {"write, sharing read and write", kGenericWrite, kFileShareRead | kFileShareWrite, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Handle held = CreateFileW(copy, row.access, row.share, kOpenExisting, kFileAttributeNormal);
    ASSERT_NE(kInvalidHandleValue, held) << "error " << GetLastError();
    Handle process = nullptr;
    SetLastError(0xDEADBEEF);
    // No shell error box: with a display, Wine's would wait for a click.
    bool started = ShellExecuteExW(kSeeMaskNoCloseProcess | kSeeMaskFlagNoUi, L"open", copy,
                                   L"/C exit 3", L"", kSwHide, &process);
    uint32_t error = GetLastError();
    EXPECT_EQ(row.starts, started) << "error " << error;
    if (!row.starts) {
      EXPECT_EQ(kErrorSharingViolation, error) << "got " << error;
    }
    if (process) {
      WaitForSingleObject(process, 10000);
      CloseHandle(process);
    }
    CloseHandle(held);
  }
  EXPECT_TRUE(DeleteFileW(copy)) << "error " << GetLastError();
}

TEST_F(TrustContractTest, UnsignedFileHasNoSigner) {
  WinTrustData data;
  Verify(L"unsigned.exe", &data);
  ProviderData provider = WTHelperProvDataFromStateData(data.stateData);
  if (provider) {
    EXPECT_EQ(nullptr, WTHelperGetProvSignerFromChain(provider, 0, false, 0));
  }
  Close(&data);
}

// The version of a program that the logic holds open (read, sharing
// read) is still readable; a program without a version resource and a
// missing file say so with Windows' codes.
TEST_F(TrustContractTest, FileVersionIsReadFromTheVersionResource) {
  struct Row {
    const wchar_t* name;
    uint32_t heldFor;  // access of a handle held meanwhile (0: none), sharing read and delete
    uint32_t error;    // 0: the version 1.2.3.4 is read
  };
  const Row rows[] = {
      {L"versioned.exe", 0, 0},
      {L"versioned.exe", kGenericRead, 0},
      {L"versioned.exe", kGenericRead | kDelete, 0},
      {L"unsigned.exe", 0, kErrorResourceDataNotFound},
      {L"missing.exe", 0, kErrorFileNotFound},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name, row.name + wcslen(row.name)) + ", held for " +
                 std::to_string(row.heldFor));
    const std::wstring path = folder_ + L"\\" + row.name;
    Handle held = kInvalidHandleValue;
    if (row.heldFor) {
      held = CreateFileW(path, row.heldFor, kFileShareRead | kFileShareDelete, kOpenExisting,
                         kFileAttributeNormal);
      ASSERT_NE(kInvalidHandleValue, held) << "open " << GetLastError();
    }
    SetLastError(0xDEADBEEF);
    uint32_t size = GetFileVersionInfoSizeW(path);
    if (row.error) {
      EXPECT_EQ(0u, size);
      EXPECT_EQ(row.error, GetLastError());
    } else {
      ASSERT_NE(0u, size) << "error " << GetLastError();
      std::vector<uint8_t> block;
      ASSERT_TRUE(GetFileVersionInfoW(path, size, &block)) << "error " << GetLastError();
      EXPECT_EQ(size, block.size());
      FixedFileInfo info;
      info.signature = 0xDEADBEEF;
      ASSERT_TRUE(VerQueryValueW(block, L"\\", &info));
      EXPECT_EQ(kVsFfiSignature, info.signature);
      EXPECT_EQ(0x00010002u, info.fileVersionMS);
      EXPECT_EQ(0x00030004u, info.fileVersionLS);
    }
    if (held != kInvalidHandleValue) CloseHandle(held);
  }
}

}  // namespace
