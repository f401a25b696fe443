// The stand-in fwpuclnt.dll, driven through System32 the way the setup
// program's clean-up drives the real one. Run under Wine with the DLL in the
// prefix's system32 and WINEDLLOVERRIDES="fwpuclnt=n" (scripts/e2e/world.sh
// does both); against Wine's own DLL every test fails at the engine open.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/e2e/standins/fwpuclnt/fwp_api.h"

namespace {

constexpr DWORD kFilterNotFound = static_cast<DWORD>(FWP_E_FILTER_NOT_FOUND);
constexpr DWORD kSublayerNotFound = static_cast<DWORD>(FWP_E_SUBLAYER_NOT_FOUND);
constexpr DWORD kProviderNotFound = static_cast<DWORD>(FWP_E_PROVIDER_NOT_FOUND);
constexpr DWORD kInUse = static_cast<DWORD>(FWP_E_IN_USE);
constexpr DWORD kTimeout = static_cast<DWORD>(FWP_E_TIMEOUT);
// A fresh store numbers its filters from here.
constexpr UINT64 kFirstFilterId = 68000;
HANDLE const kSentinel = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xdeadbeef));

std::wstring SystemFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder) + L"\\" + name;
}

std::string ReadFileText(const std::wstring& path) {
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[8192];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

void WriteFileText(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// What one run of the setup program's clean-up sequence saw.
struct CleanupRun {
  DWORD beginStatus = 0xdeadbeef;
  DWORD enumHandleStatus = 0xdeadbeef;
  std::vector<UINT32> pages;  // entries returned by each FwpmFilterEnum0 call
  std::vector<UINT64> ids;
  int deleted = 0;
  int failed = 0;
  DWORD sublayerStatus = 0xdeadbeef;
  DWORD providerStatus = 0xdeadbeef;
  DWORD commitStatus = 0xdeadbeef;
};

class FwpStandIn : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    DWORD error = 0;
    loaded_ = LoadFwpApi(&api_, &error);
    loadError_ = error;
  }

  void SetUp() override {
    ASSERT_TRUE(loaded_) << "fwpuclnt.dll from System32 did not load with every call, error "
                         << loadError_;
    for (const wchar_t* name : {L"tsl-fwp-store.txt", L"tsl-fwp-faults.txt", L"tsl-fwp-calls.log"}) {
      DeleteFileW(SystemFile(name).c_str());
    }
  }

  void TearDown() override {
    for (HANDLE engine : open_) api_.engineClose(engine);
  }

  HANDLE Open(UINT32 waitMs = 0) {
    FWPM_SESSION0 session = {};
    session.displayData.name = const_cast<wchar_t*>(L"TSL Uninstaller");
    session.txnWaitTimeoutInMSec = waitMs;
    HANDLE engine = kSentinel;
    DWORD status = api_.engineOpen(nullptr, RPC_C_AUTHN_DEFAULT, nullptr, &session, &engine);
    EXPECT_EQ(status, 0u) << "FwpmEngineOpen0";
    if (status == 0) open_.push_back(engine);
    return status == 0 ? engine : nullptr;
  }

  void Close(HANDLE engine) {
    for (size_t i = 0; i < open_.size(); ++i) {
      if (open_[i] == engine) open_.erase(open_.begin() + static_cast<long>(i));
    }
    EXPECT_EQ(api_.engineClose(engine), 0u) << "FwpmEngineClose0";
  }

  void AddFilters(HANDLE engine, int count, const GUID& provider, const GUID& sublayer) {
    for (int i = 0; i < count; ++i) {
      FWPM_FILTER0 f = {};
      f.providerKey = const_cast<GUID*>(&provider);
      f.layerKey = kOtherSublayerKey;  // any non-zero key will do as a layer here
      f.subLayerKey = sublayer;
      f.action.type = FWP_ACTION_BLOCK;
      UINT64 id = 0;
      ASSERT_EQ(api_.filterAdd(engine, &f, nullptr, &id), 0u) << "FwpmFilterAdd0 #" << i;
      ASSERT_NE(id, 0u);
    }
  }

  void AddProviderAndSublayer(HANDLE engine, const GUID& provider, const GUID& sublayer) {
    FWPM_PROVIDER0 p = {};
    p.providerKey = provider;
    p.displayData.name = const_cast<wchar_t*>(L"provider");
    ASSERT_EQ(api_.providerAdd(engine, &p, nullptr), 0u) << "FwpmProviderAdd0";
    FWPM_SUBLAYER0 s = {};
    s.subLayerKey = sublayer;
    s.displayData.name = const_cast<wchar_t*>(L"sublayer");
    s.providerKey = const_cast<GUID*>(&provider);
    ASSERT_EQ(api_.subLayerAdd(engine, &s, nullptr), 0u) << "FwpmSubLayerAdd0";
  }

  // The product's objects with `product` filters; another provider with
  // `other` filters in its own sublayer and `foreign` in the product's.
  void Seed(int product, int other, int foreign) {
    HANDLE engine = Open();
    ASSERT_NE(engine, nullptr);
    ASSERT_EQ(api_.transactionBegin(engine, 0), 0u);
    ASSERT_NO_FATAL_FAILURE(AddProviderAndSublayer(engine, kProductProviderKey, kProductSublayerKey));
    ASSERT_NO_FATAL_FAILURE(AddFilters(engine, product, kProductProviderKey, kProductSublayerKey));
    if (other + foreign > 0) {
      ASSERT_NO_FATAL_FAILURE(AddProviderAndSublayer(engine, kOtherProviderKey, kOtherSublayerKey));
      ASSERT_NO_FATAL_FAILURE(AddFilters(engine, other, kOtherProviderKey, kOtherSublayerKey));
      ASSERT_NO_FATAL_FAILURE(AddFilters(engine, foreign, kOtherProviderKey, kProductSublayerKey));
    }
    ASSERT_EQ(api_.transactionCommit(engine), 0u);
    Close(engine);
  }

  // The clean-up as the setup program runs it on an open engine.
  CleanupRun RunCleanup(HANDLE engine) {
    CleanupRun run;
    run.beginStatus = api_.transactionBegin(engine, 0);
    FWPM_FILTER_ENUM_TEMPLATE0 pattern = {};
    pattern.providerKey = const_cast<GUID*>(&kProductProviderKey);
    pattern.actionMask = 0xFFFFFFFF;
    HANDLE enumeration = kSentinel;
    run.enumHandleStatus = api_.filterCreateEnumHandle(engine, &pattern, &enumeration);
    if (run.enumHandleStatus == 0) {
      for (;;) {
        FWPM_FILTER0** page = nullptr;
        UINT32 count = 0xdeadbeef;
        if (api_.filterEnum(engine, enumeration, 100, &page, &count) != 0) break;
        run.pages.push_back(count);
        if (count == 0) break;
        for (UINT32 i = 0; i < count; ++i) run.ids.push_back(page[i]->filterId);
        api_.freeMemory(reinterpret_cast<void**>(&page));
        EXPECT_EQ(page, nullptr) << "FwpmFreeMemory0 leaves the pointer set";
      }
      api_.filterDestroyEnumHandle(engine, enumeration);
    }
    for (UINT64 id : run.ids) {
      if (api_.filterDeleteById(engine, id) == 0) {
        ++run.deleted;
      } else {
        ++run.failed;
      }
    }
    run.sublayerStatus = api_.subLayerDeleteByKey(engine, &kProductSublayerKey);
    run.providerStatus = api_.providerDeleteByKey(engine, &kProductProviderKey);
    run.commitStatus = api_.transactionCommit(engine);
    return run;
  }

  // Filters a fresh session sees, per provider.
  void CountFilters(int* product, int* other) {
    *product = *other = 0;
    HANDLE engine = Open();
    ASSERT_NE(engine, nullptr);
    HANDLE enumeration = nullptr;
    ASSERT_EQ(api_.filterCreateEnumHandle(engine, nullptr, &enumeration), 0u);
    for (;;) {
      FWPM_FILTER0** page = nullptr;
      UINT32 count = 0;
      ASSERT_EQ(api_.filterEnum(engine, enumeration, 7, &page, &count), 0u);
      if (count == 0) break;
      for (UINT32 i = 0; i < count; ++i) {
        ASSERT_NE(page[i]->providerKey, nullptr);
        if (IsEqualGUID(*page[i]->providerKey, kProductProviderKey)) ++*product;
        if (IsEqualGUID(*page[i]->providerKey, kOtherProviderKey)) ++*other;
      }
      api_.freeMemory(reinterpret_cast<void**>(&page));
    }
    api_.filterDestroyEnumHandle(engine, enumeration);
    Close(engine);
  }

  bool ProviderPresent(const GUID& key) {
    HANDLE engine = Open();
    FWPM_PROVIDER0* provider = nullptr;
    DWORD status = api_.providerGetByKey(engine, &key, &provider);
    if (status == 0) api_.freeMemory(reinterpret_cast<void**>(&provider));
    Close(engine);
    EXPECT_TRUE(status == 0 || status == kProviderNotFound) << status;
    return status == 0;
  }

  bool SublayerPresent(const GUID& key) {
    HANDLE engine = Open();
    FWPM_SUBLAYER0* sublayer = nullptr;
    DWORD status = api_.subLayerGetByKey(engine, &key, &sublayer);
    if (status == 0) api_.freeMemory(reinterpret_cast<void**>(&sublayer));
    Close(engine);
    EXPECT_TRUE(status == 0 || status == kSublayerNotFound) << status;
    return status == 0;
  }

  std::string CallLog() { return ReadFileText(SystemFile(L"tsl-fwp-calls.log")); }

  static FwpApi api_;
  static bool loaded_;
  static DWORD loadError_;
  std::vector<HANDLE> open_;
};

FwpApi FwpStandIn::api_;
bool FwpStandIn::loaded_ = false;
DWORD FwpStandIn::loadError_ = 0;

// ---- The clean-up sequence against different engines' contents. ----

struct CleanupCase {
  const char* name;
  bool seeded;                  // provider and sublayers registered at all
  int product, other, foreign;  // seeded filters
  std::vector<UINT32> pages;
  DWORD sublayerStatus, providerStatus;
  bool productObjectsLeft;  // provider and sublayer still there afterwards
};

const CleanupCase kCleanupCases[] = {
    // Nothing of the product: one empty page, both objects reported missing.
    {"NothingRegistered", false, 0, 0, 0, {0}, kSublayerNotFound, kProviderNotFound, false},
    {"NoFilters", true, 0, 0, 0, {0}, 0, 0, false},
    // Another provider's filters are not in the template and survive.
    {"PagesOf100", true, 250, 30, 0, {100, 100, 50, 0}, 0, 0, false},
    {"ExactlyOnePage", true, 100, 0, 0, {100, 0}, 0, 0, false},
    // A filter of another provider in the product's sublayer keeps the
    // sublayer, and with it the provider, in use.
    {"ForeignFilterInSublayer", true, 3, 0, 2, {3, 0}, kInUse, kInUse, true},
};

class Cleanup : public FwpStandIn, public ::testing::WithParamInterface<CleanupCase> {};

TEST_P(Cleanup, DeletesExactlyTheProvidersObjects) {
  const CleanupCase& c = GetParam();
  if (c.seeded) {
    ASSERT_NO_FATAL_FAILURE(Seed(c.product, c.other, c.foreign));
  }
  HANDLE engine = Open();
  ASSERT_NE(engine, nullptr);
  CleanupRun run = RunCleanup(engine);
  Close(engine);

  EXPECT_EQ(run.beginStatus, 0u);
  EXPECT_EQ(run.enumHandleStatus, 0u);
  EXPECT_EQ(run.pages, c.pages);
  EXPECT_EQ(run.ids.size(), static_cast<size_t>(c.product));
  EXPECT_EQ(run.deleted, c.product);
  EXPECT_EQ(run.failed, 0);
  EXPECT_EQ(run.sublayerStatus, c.sublayerStatus);
  EXPECT_EQ(run.providerStatus, c.providerStatus);
  EXPECT_EQ(run.commitStatus, 0u);

  int product = -1, other = -1;
  ASSERT_NO_FATAL_FAILURE(CountFilters(&product, &other));
  EXPECT_EQ(product, 0);
  EXPECT_EQ(other, c.other + c.foreign);
  EXPECT_EQ(ProviderPresent(kProductProviderKey), c.productObjectsLeft);
  EXPECT_EQ(SublayerPresent(kProductSublayerKey), c.productObjectsLeft);
  EXPECT_EQ(ProviderPresent(kOtherProviderKey), c.other + c.foreign > 0);
  EXPECT_EQ(SublayerPresent(kOtherSublayerKey), c.other + c.foreign > 0);

  // Every page was released before the engine closed.
  std::string log = CallLog();
  EXPECT_NE(log.find("FwpmEngineClose0 -> 0 unfreed=0"), std::string::npos) << log;
  EXPECT_NE(log.find("template.provider={8A7B6C5D-4E3F-2A1B-9C8D-7E6F5A4B3C2D} "
                     "template.layer={00000000-0000-0000-0000-000000000000} template.enumType=0 "
                     "template.flags=0 template.providerContextTemplate=null "
                     "template.conditions=0 template.actionMask=4294967295 template.callout=null -> 0 "
                     "matches=" +
                     std::to_string(c.product)),
            std::string::npos)
      << log;
}

INSTANTIATE_TEST_SUITE_P(FwpStandIn, Cleanup, ::testing::ValuesIn(kCleanupCases),
                         [](const ::testing::TestParamInfo<CleanupCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- Transactions ----

TEST_F(FwpStandIn, AbortedTransactionChangesNothing) {
  ASSERT_NO_FATAL_FAILURE(Seed(4, 0, 0));
  HANDLE engine = Open();
  ASSERT_EQ(api_.transactionBegin(engine, 0), 0u);
  EXPECT_EQ(api_.filterDeleteById(engine, kFirstFilterId), 0u);
  EXPECT_EQ(api_.transactionAbort(engine), 0u);
  Close(engine);
  int product = 0, other = 0;
  ASSERT_NO_FATAL_FAILURE(CountFilters(&product, &other));
  EXPECT_EQ(product, 4);
}

TEST_F(FwpStandIn, ClosingWithATransactionOpenAbortsIt) {
  ASSERT_NO_FATAL_FAILURE(Seed(2, 0, 0));
  HANDLE engine = Open();
  ASSERT_EQ(api_.transactionBegin(engine, 0), 0u);
  EXPECT_EQ(api_.filterDeleteById(engine, kFirstFilterId), 0u);
  Close(engine);
  // A short wait is enough: the closed session no longer holds the engine.
  HANDLE next = Open(500);
  EXPECT_EQ(api_.transactionBegin(next, 0), 0u);
  EXPECT_EQ(api_.transactionCommit(next), 0u);
  int product = 0, other = 0;
  ASSERT_NO_FATAL_FAILURE(CountFilters(&product, &other));
  EXPECT_EQ(product, 2);
}

TEST_F(FwpStandIn, WithoutATransactionADeletionTakesEffectAtOnce) {
  ASSERT_NO_FATAL_FAILURE(Seed(3, 0, 0));
  HANDLE engine = Open();
  EXPECT_EQ(api_.filterDeleteById(engine, kFirstFilterId), 0u);
  int product = 0, other = 0;
  ASSERT_NO_FATAL_FAILURE(CountFilters(&product, &other));  // another session, this one open
  EXPECT_EQ(product, 2);
}

TEST_F(FwpStandIn, AFilterDeletedTwiceIsNotFoundTheSecondTime) {
  ASSERT_NO_FATAL_FAILURE(Seed(1, 0, 0));
  HANDLE engine = Open();
  ASSERT_EQ(api_.transactionBegin(engine, 0), 0u);
  EXPECT_EQ(api_.filterDeleteById(engine, kFirstFilterId), 0u);
  EXPECT_EQ(api_.filterDeleteById(engine, kFirstFilterId), kFilterNotFound);
  EXPECT_EQ(api_.transactionCommit(engine), 0u);
}

TEST_F(FwpStandIn, ASecondTransactionWaitsForTheFirst) {
  HANDLE first = Open();
  HANDLE second = Open(300);
  ASSERT_EQ(api_.transactionBegin(first, 0), 0u);
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(api_.transactionBegin(second, 0), kTimeout);
  EXPECT_GE(GetTickCount64() - start, 300u);
  EXPECT_EQ(api_.transactionCommit(first), 0u);
  EXPECT_EQ(api_.transactionBegin(second, 0), 0u);
  EXPECT_EQ(api_.transactionCommit(second), 0u);
}

// ---- Statuses of calls made wrongly ----

TEST_F(FwpStandIn, MisusedCallsGetTheEnginesStatuses) {
  ASSERT_NO_FATAL_FAILURE(Seed(1, 0, 0));
  HANDLE engine = Open();
  EXPECT_EQ(api_.transactionCommit(engine), static_cast<DWORD>(FWP_E_NO_TXN_IN_PROGRESS));
  EXPECT_EQ(api_.transactionAbort(engine), static_cast<DWORD>(FWP_E_NO_TXN_IN_PROGRESS));
  ASSERT_EQ(api_.transactionBegin(engine, 0x1 /* FWPM_TXN_READ_ONLY */), 0u);
  EXPECT_EQ(api_.transactionBegin(engine, 0), static_cast<DWORD>(FWP_E_TXN_IN_PROGRESS));
  EXPECT_EQ(api_.filterDeleteById(engine, kFirstFilterId),
            static_cast<DWORD>(FWP_E_INCOMPATIBLE_TXN));
  EXPECT_EQ(api_.transactionCommit(engine), 0u);
  EXPECT_EQ(api_.filterDeleteById(kSentinel, kFirstFilterId), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  FWPM_FILTER_ENUM_TEMPLATE0 pattern = {};
  pattern.numFilterConditions = 1;
  HANDLE enumeration = kSentinel;
  EXPECT_EQ(api_.filterCreateEnumHandle(engine, &pattern, &enumeration),
            static_cast<DWORD>(ERROR_NOT_SUPPORTED))
      << "conditions are not modelled and must not be ignored";
  EXPECT_EQ(enumeration, kSentinel);

  FWPM_SESSION0 dynamic = {};
  dynamic.flags = 0x1;  // FWPM_SESSION_FLAG_DYNAMIC
  HANDLE other = kSentinel;
  EXPECT_EQ(api_.engineOpen(nullptr, RPC_C_AUTHN_DEFAULT, nullptr, &dynamic, &other),
            static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(other, kSentinel);
}

// ---- The faults file ----

TEST_F(FwpStandIn, FaultsFileMakesACallFail) {
  ASSERT_NO_FATAL_FAILURE(
      WriteFileText(SystemFile(L"tsl-fwp-faults.txt"),
                    "fail FwpmEngineOpen0 5\nfail FwpmTransactionBegin0 0x8032000A\n"));
  FWPM_SESSION0 session = {};
  HANDLE engine = kSentinel;
  EXPECT_EQ(api_.engineOpen(nullptr, RPC_C_AUTHN_DEFAULT, nullptr, &session, &engine), 5u);
  EXPECT_EQ(engine, kSentinel);
  EXPECT_NE(CallLog().find("FwpmEngineOpen0 server=null authn=4294967295 identity=null "
                           "session.name=\"\" session.flags=0 session.wait=0 -> 5"),
            std::string::npos)
      << CallLog();

  ASSERT_NO_FATAL_FAILURE(WriteFileText(SystemFile(L"tsl-fwp-faults.txt"),
                                        "fail FwpmTransactionBegin0 0x8032000A\n"));
  engine = Open();
  EXPECT_EQ(api_.transactionBegin(engine, 0), kInUse);
}

TEST_F(FwpStandIn, ActionMaskSelectsByActionType) {
  ASSERT_NO_FATAL_FAILURE(Seed(2, 0, 0));
  for (UINT32 mask : {0u, 0xFFFFFFFFu}) {
    HANDLE engine = Open();
    FWPM_FILTER_ENUM_TEMPLATE0 pattern = {};
    pattern.providerKey = const_cast<GUID*>(&kProductProviderKey);
    pattern.actionMask = mask;
    HANDLE enumeration = nullptr;
    ASSERT_EQ(api_.filterCreateEnumHandle(engine, &pattern, &enumeration), 0u);
    FWPM_FILTER0** page = nullptr;
    UINT32 count = 0xdeadbeef;
    ASSERT_EQ(api_.filterEnum(engine, enumeration, 100, &page, &count), 0u);
    EXPECT_EQ(count, mask == 0 ? 0u : 2u) << "action mask " << mask;
    api_.freeMemory(reinterpret_cast<void**>(&page));
    api_.filterDestroyEnumHandle(engine, enumeration);
    Close(engine);
  }
}

// ---- Memory given out by enumeration ----

TEST_F(FwpStandIn, APageNotReleasedIsReportedAtClose) {
  ASSERT_NO_FATAL_FAILURE(Seed(2, 0, 0));
  HANDLE engine = Open();
  HANDLE enumeration = nullptr;
  ASSERT_EQ(api_.filterCreateEnumHandle(engine, nullptr, &enumeration), 0u);
  FWPM_FILTER0** page = nullptr;
  UINT32 count = 0;
  ASSERT_EQ(api_.filterEnum(engine, enumeration, 1, &page, &count), 0u);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(page[0]->filterId, kFirstFilterId);
  ASSERT_NE(page[0]->providerKey, nullptr);
  EXPECT_TRUE(IsEqualGUID(*page[0]->providerKey, kProductProviderKey));
  EXPECT_TRUE(IsEqualGUID(page[0]->subLayerKey, kProductSublayerKey));
  Close(engine);
  EXPECT_NE(CallLog().find("FwpmEngineClose0 -> 0 unfreed=1"), std::string::npos) << CallLog();
  api_.freeMemory(reinterpret_cast<void**>(&page));  // still valid after the close
  EXPECT_EQ(page, nullptr);
}

}  // namespace
