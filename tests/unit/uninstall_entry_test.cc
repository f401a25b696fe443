#include "registration/uninstall_entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <functional>

#include "platform/fake/fake.h"
#include "platform/registry.h"

namespace {

using platform::kHkeyLocalMachine;

const std::wstring kKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaline";

// REG_SZ bytes spelled out independently of the code under test.
std::string Sz(const char16_t* text) {
  std::string bytes;
  for (const char16_t* p = text;; ++p) {
    bytes += static_cast<char>(*p & 0xFF);
    bytes += static_cast<char>(*p >> 8);
    if (*p == 0) break;
  }
  return bytes;
}

std::string Dword(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return std::string{static_cast<char>(b0), static_cast<char>(b1), static_cast<char>(b2),
                     static_cast<char>(b3)};
}

std::vector<fake::RegistryValue> ExpectedEntry(const char16_t* installDate) {
  return {
      {L"DisplayName", 1, Sz(u"Tessaline")},
      {L"DisplayVersion", 1, Sz(u"1.0.0")},
      {L"Publisher", 1, Sz(u"Maretto LTD")},
      {L"InstallLocation", 1, Sz(u"C:\\Program Files\\Maretto\\TSL")},
      {L"UninstallString", 1, Sz(u"\"C:\\Program Files\\Maretto\\TSL\\updater.exe\" /uninstall")},
      {L"DisplayIcon", 1, Sz(u"C:\\Program Files\\Maretto\\TSL\\Velquist.exe,0")},
      {L"URLInfoAbout", 1, Sz(u"https://www.maretto.example")},
      {L"HelpLink", 1, Sz(u"https://www.maretto.example/support")},
      {L"EstimatedSize", 4, Dword(0x50, 0xC3, 0x00, 0x00)},  // 50000
      {L"NoModify", 4, Dword(1, 0, 0, 0)},
      {L"NoRepair", 4, Dword(1, 0, 0, 0)},
      {L"InstallDate", 1, Sz(installDate)},
  };
}

std::string Describe(const std::vector<fake::RegistryValue>& values) {
  std::string out;
  for (const auto& v : values) {
    out += fake::ToUtf8(v.name) + " type " + std::to_string(v.type) + " " +
           std::to_string(v.data.size()) + " bytes\n";
  }
  return out;
}

std::wstring Upper(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

class UninstallEntryTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override { EXPECT_EQ(0, fake::OpenRegistryKeyCount()) << "key left open"; }
};

TEST_F(UninstallEntryTest, WritesTheTwelveValuesInOrderByteForByte) {
  EXPECT_TRUE(RegisterUninstallEntry());
  auto values = fake::RegistryValues(kHkeyLocalMachine, kKey);
  EXPECT_EQ(ExpectedEntry(u"20260307"), values) << Describe(values);
  EXPECT_EQ(std::vector<std::string>{"[Install] Registered in Add/Remove Programs\n"},
            fake::TraceLines());
}

TEST_F(UninstallEntryTest, InstallDateIsTheLocalDateAsEightDigits) {
  struct Row {
    platform::SystemTime time;
    const char16_t* date;
  };
  const std::vector<Row> rows = {
      {{2026, 3, 6, 7, 23, 59, 59, 999}, u"20260307"},
      {{2026, 12, 5, 25, 0, 0, 0, 0}, u"20261225"},
      {{2027, 1, 5, 1, 0, 0, 0, 0}, u"20270101"},
      {{999, 10, 0, 9, 0, 0, 0, 0}, u"09991009"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(fake::ToUtf8(std::wstring(row.date, row.date + 8)));
    fake::Reset();
    fake::SetLocalTime(row.time);
    ASSERT_TRUE(RegisterUninstallEntry());
    auto values = fake::RegistryValues(kHkeyLocalMachine, kKey);
    ASSERT_EQ(12u, values.size());
    EXPECT_EQ(L"InstallDate", values[11].name);
    EXPECT_EQ(Sz(row.date), values[11].data);
  }
}

TEST_F(UninstallEntryTest, UpdateOverwritesOurValuesAndKeepsOthers) {
  fake::SetRegistryValue(kHkeyLocalMachine, kKey, L"Comments", 1, Sz(u"added by someone else"));
  fake::SetRegistryValue(kHkeyLocalMachine, kKey, L"displayversion", 1, Sz(u"0.9.0"));
  fake::SetRegistryValue(kHkeyLocalMachine, kKey, L"InstallDate", 1, Sz(u"20250101"));
  ASSERT_TRUE(RegisterUninstallEntry());
  fake::SetLocalTime({2026, 12, 5, 25, 0, 0, 0, 0});
  ASSERT_TRUE(RegisterUninstallEntry());

  auto values = fake::RegistryValues(kHkeyLocalMachine, kKey);
  ASSERT_EQ(13u, values.size()) << Describe(values);
  EXPECT_EQ(L"Comments", values[0].name);
  EXPECT_EQ(Sz(u"added by someone else"), values[0].data);
  for (const auto& expected : ExpectedEntry(u"20261225")) {
    SCOPED_TRACE(fake::ToUtf8(expected.name));
    auto it = std::find_if(values.begin(), values.end(), [&](const fake::RegistryValue& v) {
      return Upper(v.name) == Upper(expected.name);
    });
    ASSERT_NE(values.end(), it);
    EXPECT_EQ(expected.type, it->type);
    EXPECT_EQ(expected.data, it->data);
  }
}

TEST_F(UninstallEntryTest, KeyThatCannotBeCreatedIsTracedWithItsCode) {
  fake::DenyRegistryWrites(kHkeyLocalMachine,
                           L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
  EXPECT_FALSE(RegisterUninstallEntry());
  EXPECT_FALSE(fake::RegistryKeyExists(kHkeyLocalMachine, kKey));
  EXPECT_EQ(std::vector<std::string>{"[Install] Failed to create uninstall registry key: 5\n"},
            fake::TraceLines());
}

TEST_F(UninstallEntryTest, RemovalResultsAndTraceLines) {
  struct Row {
    const char* name;
    std::function<void()> setUp;
    bool result;
    std::vector<std::string> trace;
    bool keyLeft;
  };
  const std::vector<Row> rows = {
      {"entry present", [] { RegisterUninstallEntry(); }, true,
       {"[Uninstall] Removed from Add/Remove Programs\n"}, false},
      {"entry already gone", [] {}, true, {}, false},
      {"removed twice",
       [] {
         RegisterUninstallEntry();
         RemoveUninstallEntry();
       },
       true, {}, false},
      {"entry has a subkey someone added",
       [] {
         RegisterUninstallEntry();
         fake::AddRegistryKey(kHkeyLocalMachine, kKey + L"\\Extra");
       },
       false, {"[Uninstall] Failed to remove registry key: 5\n"}, true},
      {"deletion refused",
       [] {
         RegisterUninstallEntry();
         fake::DenyRegistryWrites(kHkeyLocalMachine, kKey);
       },
       false, {"[Uninstall] Failed to remove registry key: 5\n"}, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fake::Reset();
    row.setUp();
    size_t before = fake::TraceLines().size();
    EXPECT_EQ(row.result, RemoveUninstallEntry());
    std::vector<std::string> trace(fake::TraceLines().begin() + before, fake::TraceLines().end());
    EXPECT_EQ(row.trace, trace);
    EXPECT_EQ(row.keyLeft, fake::RegistryKeyExists(kHkeyLocalMachine, kKey));
  }
}

}  // namespace
