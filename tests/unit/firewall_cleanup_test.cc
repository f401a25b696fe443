#include "uninstall/firewall_cleanup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "install/product_constants.h"
#include "platform/fake/fake.h"
#include "platform/firewall.h"

namespace {

using fake::FwpmCall;

const platform::Guid kOtherProvider = {0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 6, 6, 7, 7}};
const platform::Guid kOtherSublayer = {0x88888888, 0x9999, 0xAAAA, {1, 2, 3, 4, 5, 6, 7, 8}};

std::string Line(const std::string& text) { return "[NWX Cleanup] " + text + "\n"; }

// The provider, its sublayer and `count` filters in it, ids first, first+1...
void AddProduct(int count, uint64_t first = 1000) {
  fake::AddFwpmProvider(kFirewallProviderKey);
  fake::AddFwpmSublayer(kFirewallSublayerKey, kFirewallProviderKey);
  for (int i = 0; i < count; ++i) {
    fake::AddFwpmFilter(first + i, kFirewallProviderKey, kFirewallSublayerKey);
  }
}

// Someone else's filters that must survive.
void AddOthers() {
  fake::AddFwpmProvider(kOtherProvider);
  fake::AddFwpmSublayer(kOtherSublayer, kOtherProvider);
  fake::AddFwpmFilter(7, kOtherProvider, kOtherSublayer);
  fake::AddFwpmFilter(8, std::nullopt, kOtherSublayer);
}

std::vector<uint64_t> Range(uint64_t first, uint64_t last) {
  std::vector<uint64_t> ids;
  for (uint64_t id = first; id <= last; ++id) ids.push_back(id);
  return ids;
}

int CallsOf(const std::string& name) {
  int n = 0;
  for (const std::string& call : fake::FwpmCallLog()) n += call.rfind(name, 0) == 0;
  return n;
}

class RemoveFirewallRulesTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override {
    EXPECT_EQ(0, fake::OpenFwpmHandleCount()) << "engine or enumeration left open";
    EXPECT_EQ(0, fake::UnfreedFwpmPageCount()) << "enumeration pages not freed";
  }
};

struct CleanupCase {
  const char* name;
  std::function<void()> setUp;
  int32_t result;
  std::vector<std::string> trace;
  std::vector<uint64_t> filtersLeft;
  bool sublayerLeft;
  bool providerLeft;
  int enumCalls;
  // What the uninstall is told: are the product's objects all gone?
  bool allRemoved = true;
};

std::vector<CleanupCase> CleanupCases() {
  const std::string inUse = std::to_string(platform::kFwpEInUse);
  return {
      {"nothing of the product registered", [] {}, 0,
       {Line("Found 0 filters to delete"), Line("Deleted 0 filters, 0 failed")}, {}, false, false,
       1},
      {"only the provider and sublayer", [] { AddProduct(0); }, 0,
       {Line("Found 0 filters to delete"), Line("Deleted 0 filters, 0 failed")}, {}, false, false,
       1},
      {"engine cannot be opened", [] {
         AddProduct(2);
         fake::FailFwpmCall(FwpmCall::kEngineOpen, 1753);
       },
       -1, {Line("FwpmEngineOpen failed: 1753")}, {1000, 1001}, true, true, 0, false},
      {"engine access denied", [] { fake::FailFwpmCall(FwpmCall::kEngineOpen, 5); }, -1,
       {Line("FwpmEngineOpen failed: 5")}, {}, false, false, 0, false},
      {"three filters beside someone else's", [] {
         AddOthers();
         AddProduct(3);
       },
       3, {Line("Found 3 filters to delete"), Line("Deleted 3 filters, 0 failed")}, {7, 8}, false,
       false, 2},
      {"250 filters in pages of 100, 100 and 50", [] { AddProduct(250); }, 250,
       {Line("Found 250 filters to delete"), Line("Deleted 250 filters, 0 failed")}, {}, false,
       false, 4},
      {"short pages do not end the collecting", [] {
         AddProduct(20);
         fake::SetFwpmPageLimit(7);
       },
       20, {Line("Found 20 filters to delete"), Line("Deleted 20 filters, 0 failed")}, {}, false,
       false, 4},
      {"a filter vanishes between collecting and deleting", [] {
         AddProduct(3, 68041);
         fake::OnFwpmCall([](FwpmCall call) {
           if (call == FwpmCall::kDestroyEnumHandle) fake::RemoveFwpmFilter(68042);
         });
       },
       2,
       {Line("Found 3 filters to delete"), Line("Failed to delete filter 68042: 2150760451"),
        Line("Deleted 2 filters, 1 failed")},
       {}, false, false, 2},
      {"identifiers print unsigned", [] {
         AddProduct(1, 18446744073709551615u);
         fake::FailFwpmCall(FwpmCall::kDeleteFilter, 0x80320012);
       },
       0,
       {Line("Found 1 filters to delete"),
        Line("Failed to delete filter 18446744073709551615: 2150760466"),
        Line("FwpmSubLayerDeleteByKey failed: " + inUse),
        Line("FwpmProviderDeleteByKey failed: " + inUse), Line("Deleted 0 filters, 1 failed")},
       {18446744073709551615u}, true, true, 2, false},
      {"transaction cannot begin", [] {
         AddProduct(3);
         fake::FailFwpmCall(FwpmCall::kTransactionBegin, 0x80320012);
       },
       3,
       {Line("FwpmTransactionBegin failed: 2150760466"), Line("Found 3 filters to delete"),
        Line("Deleted 3 filters, 0 failed")},
       {}, false, false, 2},
      {"enumeration handle cannot be created", [] {
         AddProduct(2);
         fake::FailFwpmCall(FwpmCall::kCreateEnumHandle, 5);
       },
       0,
       {Line("FwpmFilterCreateEnumHandle failed: 5"),
        Line("FwpmSubLayerDeleteByKey failed: " + inUse),
        Line("FwpmProviderDeleteByKey failed: " + inUse), Line("Deleted 0 filters, 0 failed")},
       {1000, 1001}, true, true, 0, false},
      {"enumeration handle fails, nothing registered", [] {
         fake::FailFwpmCall(FwpmCall::kCreateEnumHandle, 5);
       },
       0, {Line("FwpmFilterCreateEnumHandle failed: 5"), Line("Deleted 0 filters, 0 failed")}, {},
       false, false, 0, false},
      {"the second page fails", [] {
         AddProduct(250);
         fake::FailFwpmCall(FwpmCall::kEnum, 5, 1);
       },
       100,
       {Line("FwpmFilterEnum failed: 5"), Line("Found 100 filters to delete"),
        Line("FwpmSubLayerDeleteByKey failed: " + inUse),
        Line("FwpmProviderDeleteByKey failed: " + inUse), Line("Deleted 100 filters, 0 failed")},
       Range(1100, 1249), true, true, 2, false},
      {"the first page fails", [] {
         AddProduct(1);
         fake::FailFwpmCall(FwpmCall::kEnum, 0x80320010);
       },
       0,
       {Line("FwpmFilterEnum failed: 2150760464"), Line("Found 0 filters to delete"),
        Line("FwpmSubLayerDeleteByKey failed: " + inUse),
        Line("FwpmProviderDeleteByKey failed: " + inUse), Line("Deleted 0 filters, 0 failed")},
       {1000}, true, true, 1, false},
      {"failed deletions followed by successful ones", [] {
         AddProduct(4);
         fake::FailFwpmCall(FwpmCall::kDeleteFilter, 5, 0);
         fake::FailFwpmCall(FwpmCall::kDeleteFilter, 0x80320012, 0);
       },
       2,
       {Line("Found 4 filters to delete"), Line("Failed to delete filter 1000: 5"),
        Line("Failed to delete filter 1001: 2150760466"),
        Line("FwpmSubLayerDeleteByKey failed: " + inUse),
        Line("FwpmProviderDeleteByKey failed: " + inUse), Line("Deleted 2 filters, 2 failed")},
       {1000, 1001}, true, true, 2, false},
      {"another provider's filter keeps the sublayer in use", [] {
         AddProduct(2);
         fake::AddFwpmProvider(kOtherProvider);
         fake::AddFwpmFilter(9, kOtherProvider, kFirewallSublayerKey);
       },
       2,
       {Line("Found 2 filters to delete"), Line("FwpmSubLayerDeleteByKey failed: " + inUse),
        Line("FwpmProviderDeleteByKey failed: " + inUse), Line("Deleted 2 filters, 0 failed")},
       {9}, true, true, 2, false},
      {"another sublayer keeps the provider in use", [] {
         AddProduct(1);
         fake::AddFwpmSublayer(kOtherSublayer, kFirewallProviderKey);
       },
       1,
       {Line("Found 1 filters to delete"), Line("FwpmProviderDeleteByKey failed: " + inUse),
        Line("Deleted 1 filters, 0 failed")},
       {}, false, true, 2, false},
      {"sublayer and provider deletions fail otherwise", [] {
         AddProduct(1);
         fake::FailFwpmCall(FwpmCall::kDeleteSublayer, 5);
         fake::FailFwpmCall(FwpmCall::kDeleteProvider, 1753);
       },
       1,
       {Line("Found 1 filters to delete"), Line("FwpmSubLayerDeleteByKey failed: 5"),
        Line("FwpmProviderDeleteByKey failed: 1753"), Line("Deleted 1 filters, 0 failed")},
       {}, true, true, 2, false},
      {"filters without sublayer or provider objects", [] {
         fake::AddFwpmFilter(5, kFirewallProviderKey, kOtherSublayer);
       },
       1, {Line("Found 1 filters to delete"), Line("Deleted 1 filters, 0 failed")}, {}, false,
       false, 2},
      // Undoes every deletion: none of them stands.
      {"the commit fails", [] {
         AddProduct(2);
         fake::FailFwpmCall(FwpmCall::kTransactionCommit, 0x80320012);
       },
       0,
       {Line("Found 2 filters to delete"), Line("FwpmTransactionCommit failed: 2150760466"),
        Line("Deleted 0 filters, 2 failed")},
       {1000, 1001}, true, true, 2, false},
      {"destroying the enumeration handle fails", [] {
         AddProduct(2);
         fake::FailFwpmCall(FwpmCall::kDestroyEnumHandle, 5);
       },
       2, {Line("Found 2 filters to delete"), Line("Deleted 2 filters, 0 failed")}, {}, false,
       false, 2},
  };
}

TEST_F(RemoveFirewallRulesTest, RemovesWhatTheEnumerationReturns) {
  for (const CleanupCase& c : CleanupCases()) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    c.setUp();

    bool allRemoved = !c.allRemoved;
    EXPECT_EQ(c.result, RemoveFirewallRules(&allRemoved));
    EXPECT_EQ(c.allRemoved, allRemoved);

    EXPECT_EQ(c.trace, fake::TraceLines());
    EXPECT_EQ(c.filtersLeft, fake::FwpmFilterIds());
    EXPECT_EQ(c.sublayerLeft, fake::FwpmSublayerExists(kFirewallSublayerKey));
    EXPECT_EQ(c.providerLeft, fake::FwpmProviderExists(kFirewallProviderKey));
    EXPECT_EQ(c.enumCalls, CallsOf("FwpmFilterEnum0"));
    EXPECT_EQ(0, fake::OpenFwpmHandleCount());
    EXPECT_EQ(0, fake::UnfreedFwpmPageCount());
  }
}

TEST_F(RemoveFirewallRulesTest, CallsTheEngineInOrder) {
  AddProduct(150);
  fake::AddFwpmFilter(1, kOtherProvider, kOtherSublayer);

  EXPECT_EQ(150, RemoveFirewallRules(nullptr));

  std::vector<std::string> expected = {
      "FwpmEngineOpen0 -> 0",
      "FwpmTransactionBegin0(0) -> 0",
      "FwpmFilterCreateEnumHandle0 -> 0",
      "FwpmFilterEnum0(100) -> 0, 100 returned",
      "FwpmFreeMemory0",
      "FwpmFilterEnum0(100) -> 0, 50 returned",
      "FwpmFreeMemory0",
      "FwpmFilterEnum0(100) -> 0, 0 returned",
      "FwpmFilterDestroyEnumHandle0 -> 0",
  };
  for (uint64_t id = 1000; id < 1150; ++id) {
    expected.push_back("FwpmFilterDeleteById0(" + std::to_string(id) + ") -> 0");
  }
  expected.insert(expected.end(), {"FwpmSubLayerDeleteByKey0 -> 0",
                                   "FwpmProviderDeleteByKey0 -> 0",
                                   "FwpmTransactionCommit0 -> 0", "FwpmEngineClose0 -> 0"});
  EXPECT_EQ(expected, fake::FwpmCallLog());
}

TEST_F(RemoveFirewallRulesTest, CommitsWhatBeganAndClosesOnEveryPathThatOpened) {
  struct Case {
    const char* name;
    FwpmCall failing;
    std::vector<std::string> tail;
  } cases[] = {
      // Nothing to commit: each deletion took effect on its own.
      {"transaction begin fails", FwpmCall::kTransactionBegin,
       {"FwpmProviderDeleteByKey0 -> 0", "FwpmEngineClose0 -> 0"}},
      {"enumeration handle fails", FwpmCall::kCreateEnumHandle,
       {"FwpmTransactionCommit0 -> 0", "FwpmEngineClose0 -> 0"}},
      {"commit fails", FwpmCall::kTransactionCommit,
       {"FwpmTransactionCommit0 -> 5", "FwpmEngineClose0 -> 0"}},
      {"close fails", FwpmCall::kEngineClose,
       {"FwpmTransactionCommit0 -> 0", "FwpmEngineClose0 -> 5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    AddProduct(1);
    fake::FailFwpmCall(c.failing, 5);

    RemoveFirewallRules(nullptr);

    const std::vector<std::string>& log = fake::FwpmCallLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(c.tail, std::vector<std::string>(log.end() - 2, log.end()));
    EXPECT_EQ(0, CallsOf("FwpmTransactionAbort0")) << "nothing is ever rolled back";
    const char* summary = c.failing == FwpmCall::kCreateEnumHandle    ? "Deleted 0 filters, 0 failed"
                          : c.failing == FwpmCall::kTransactionCommit ? "Deleted 0 filters, 1 failed"
                                                                      : "Deleted 1 filters, 0 failed";
    EXPECT_EQ(Line(summary), fake::TraceLines().back());
    if (c.failing == FwpmCall::kEngineClose) fake::Reset();  // the session stays open
  }
}

TEST_F(RemoveFirewallRulesTest, EngineThatCannotBeOpenedGetsNoOtherCall) {
  fake::FailFwpmCall(FwpmCall::kEngineOpen, 5);

  EXPECT_EQ(-1, RemoveFirewallRules(nullptr));

  EXPECT_EQ(std::vector<std::string>{"FwpmEngineOpen0 -> 5"}, fake::FwpmCallLog());
}

TEST_F(RemoveFirewallRulesTest, OpensTheNamedSessionAndEnumeratesByProvider) {
  RemoveFirewallRules(nullptr);

  auto session = fake::LastFwpmSession();
  ASSERT_TRUE(session.has_value());
  EXPECT_EQ(0xFFFFFFFFu, session->authnService);
  EXPECT_EQ("TSL Uninstaller", fake::ToUtf8(session->displayName));

  auto query = fake::LastFwpmEnumTemplate();
  ASSERT_TRUE(query.has_value());
  ASSERT_TRUE(query->providerKey.has_value());
  EXPECT_TRUE(*query->providerKey == kFirewallProviderKey);
  EXPECT_TRUE(query->layerKey == platform::Guid{});
  EXPECT_EQ(0u, query->enumType);
  EXPECT_EQ(0u, query->flags);
  EXPECT_EQ(0xFFFFFFFFu, query->actionMask) << "every action type, block and permit alike";
}

TEST_F(RemoveFirewallRulesTest, FiltersOfEveryActionTypeAreRemoved) {
  // FWP_ACTION_BLOCK, PERMIT, CALLOUT_TERMINATING, CALLOUT_INSPECTION,
  // CALLOUT_UNKNOWN.
  const uint32_t actions[] = {0x1001, 0x1002, 0x5003, 0x6004, 0x4005};
  fake::AddFwpmProvider(kFirewallProviderKey);
  fake::AddFwpmSublayer(kFirewallSublayerKey, kFirewallProviderKey);
  uint64_t id = 500;
  for (uint32_t action : actions) fake::AddFwpmFilter(id++, kFirewallProviderKey, kFirewallSublayerKey, action);

  EXPECT_EQ(5, RemoveFirewallRules(nullptr));
  EXPECT_TRUE(fake::FwpmFilterIds().empty()) << ::testing::PrintToString(fake::FwpmFilterIds());
  EXPECT_FALSE(fake::FwpmSublayerExists(kFirewallSublayerKey));
  EXPECT_FALSE(fake::FwpmProviderExists(kFirewallProviderKey));
}

TEST_F(RemoveFirewallRulesTest, SecondRunFindsNothing) {
  AddProduct(3);
  ASSERT_EQ(3, RemoveFirewallRules(nullptr));

  EXPECT_EQ(0, RemoveFirewallRules(nullptr));
  EXPECT_EQ(Line("Deleted 0 filters, 0 failed"), fake::TraceLines().back());
  EXPECT_FALSE(fake::FwpmProviderExists(kFirewallProviderKey));
}

std::string RegistryForm(const platform::Guid& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

TEST(FirewallKeysTest, AreTheProductsTwoIdentifiers) {
  EXPECT_EQ("{8A7B6C5D-4E3F-2A1B-9C8D-7E6F5A4B3C2D}", RegistryForm(kFirewallProviderKey));
  EXPECT_EQ("{9B8C7D6E-5F4A-3B2C-AD9E-8F7A6B5C4D3E}", RegistryForm(kFirewallSublayerKey));
}

}  // namespace
