// The registry as platform/registry.h promises it, checked on the fake and,
// built for Windows, on the real registry (run under Wine). Keys live under
// HKCU\Software\TessalineContractTest and are removed before and after.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"

#ifndef _WIN32
#include "platform/fake/fake.h"
#endif

namespace {

using namespace platform;

const std::wstring kBase = L"Software\\TessalineContractTest";
RegKey const kSentinelKey = reinterpret_cast<RegKey>(uintptr_t{0xDEADBEEF});
constexpr uint32_t kSentinel = 0xDEADBEEF;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

// "ab" as REG_SZ: UTF-16LE with terminator.
const std::string kAb = Bytes({'a', 0, 'b', 0, 0, 0});

class RegistryContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    fake::Reset();
#endif
    RemoveAll();
  }
  void TearDown() override { RemoveAll(); }

  static void RemoveAll() {
    for (const wchar_t* sub : {L"\\A\\B\\C", L"\\A\\B", L"\\A", L"\\Child", L""}) {
      RegDeleteKeyW(kHkeyCurrentUser, kBase + sub);
    }
  }

  // Creates kBase + sub with the access and returns the handle.
  RegKey Create(const std::wstring& sub, uint32_t access) {
    RegKey key = kSentinelKey;
    uint32_t disposition = kSentinel;
    uint32_t status =
        RegCreateKeyExW(kHkeyCurrentUser, kBase + sub, kRegOptionNonVolatile, access, &key,
                        &disposition);
    EXPECT_EQ(0u, status) << "RegCreateKeyExW " << status;
    return key;
  }

  void SetBytes(RegKey key, const wchar_t* name, uint32_t type, const std::string& data) {
    uint32_t status = RegSetValueExW(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(0u, status) << "RegSetValueExW " << status;
  }
};

TEST_F(RegistryContractTest, MissingKeyGivesFileNotFound) {
  RegKey key = kSentinelKey;
  uint32_t status = RegOpenKeyExW(kHkeyCurrentUser, kBase + L"\\Nowhere", 0, kKeyRead, &key);
  EXPECT_EQ(2u, status) << "got " << status;
  EXPECT_EQ(nullptr, key);
  status = RegOpenKeyExW(kHkeyCurrentUser, kBase + L"\\Nowhere\\Deeper", 0, kKeyRead, &key);
  EXPECT_EQ(2u, status) << "a missing key on the way gives 2 as well, got " << status;
}

TEST_F(RegistryContractTest, CreateReportsNewThenExistingAndMakesTheKeysOnTheWay) {
  RegKey key = kSentinelKey;
  uint32_t disposition = kSentinel;
  ASSERT_EQ(0u, RegCreateKeyExW(kHkeyCurrentUser, kBase + L"\\A\\B\\C", 0, kKeyWrite, &key,
                                &disposition));
  EXPECT_NE(kSentinelKey, key);
  EXPECT_EQ(kRegCreatedNewKey, disposition) << "got " << disposition;
  EXPECT_EQ(0u, RegCloseKey(key));

  disposition = kSentinel;
  ASSERT_EQ(0u, RegCreateKeyExW(kHkeyCurrentUser, kBase + L"\\a\\b\\c", 0, kKeyWrite, &key,
                                &disposition));
  EXPECT_EQ(kRegOpenedExistingKey, disposition) << "key paths ignore case; got " << disposition;
  EXPECT_EQ(0u, RegCloseKey(key));

  uint32_t status = RegOpenKeyExW(kHkeyCurrentUser, kBase + L"\\A\\B", 0, kKeyRead, &key);
  EXPECT_EQ(0u, status) << "intermediate key, got " << status;
  if (status == 0) RegCloseKey(key);
}

TEST_F(RegistryContractTest, ValuesComeBackWithTheirTypesAndBytes) {
  RegKey key = Create(L"", kKeyRead | kKeyWrite);
  SetBytes(key, L"Text", kRegSz, kAb);
  SetBytes(key, L"Number", kRegDword, Bytes({0x50, 0xC3, 0, 0}));

  char data[16];
  std::fill(std::begin(data), std::end(data), '\x7F');
  uint32_t type = kSentinel;
  uint32_t size = sizeof(data);
  uint32_t status = RegQueryValueExW(key, L"TEXT", &type, data, &size);
  EXPECT_EQ(0u, status) << "value names ignore case; got " << status;
  EXPECT_EQ(kRegSz, type) << "got " << type;
  EXPECT_EQ(6u, size) << "got " << size;
  EXPECT_EQ(kAb, std::string(data, 6));
  EXPECT_EQ('\x7F', data[6]) << "nothing written past the value";

  type = kSentinel;
  size = sizeof(data);
  EXPECT_EQ(0u, RegQueryValueExW(key, L"Number", &type, data, &size));
  EXPECT_EQ(kRegDword, type) << "got " << type;
  EXPECT_EQ(4u, size) << "got " << size;
  EXPECT_EQ(Bytes({0x50, 0xC3, 0, 0}), std::string(data, 4));

  size = sizeof(data);
  EXPECT_EQ(0u, RegQueryValueExW(key, L"Number", nullptr, data, &size)) << "type output optional";

  // Replacing a value changes its type too.
  SetBytes(key, L"Number", kRegSz, kAb);
  type = kSentinel;
  size = sizeof(data);
  EXPECT_EQ(0u, RegQueryValueExW(key, L"Number", &type, data, &size));
  EXPECT_EQ(kRegSz, type) << "got " << type;
  EXPECT_EQ(0u, RegCloseKey(key));
}

TEST_F(RegistryContractTest, SizeQueriesAndShortBuffers) {
  RegKey key = Create(L"", kKeyRead | kKeyWrite);
  SetBytes(key, L"Text", kRegSz, kAb);

  uint32_t size = kSentinel;
  uint32_t status = RegQueryValueExW(key, L"Text", nullptr, nullptr, &size);
  EXPECT_EQ(0u, status) << "size only, got " << status;
  EXPECT_EQ(6u, size) << "got " << size;

  char data[4];
  size = sizeof(data);
  status = RegQueryValueExW(key, L"Text", nullptr, data, &size);
  EXPECT_EQ(234u, status) << "ERROR_MORE_DATA, got " << status;
  EXPECT_EQ(6u, size) << "the bytes needed, got " << size;

  size = sizeof(data);
  status = RegQueryValueExW(key, L"Absent", nullptr, data, &size);
  EXPECT_EQ(2u, status) << "missing value, got " << status;
  EXPECT_EQ(0u, RegCloseKey(key));
}

TEST_F(RegistryContractTest, HandlesAllowOnlyTheAccessTheyWereOpenedWith) {
  RegKey writer = Create(L"", kKeyWrite);
  SetBytes(writer, L"Text", kRegSz, kAb);
  char data[8];
  uint32_t size = sizeof(data);
  uint32_t status = RegQueryValueExW(writer, L"Text", nullptr, data, &size);
  EXPECT_EQ(5u, status) << "query through KEY_WRITE, got " << status;
  EXPECT_EQ(0u, RegCloseKey(writer));

  RegKey reader = kSentinelKey;
  ASSERT_EQ(0u, RegOpenKeyExW(kHkeyCurrentUser, kBase, 0, kKeyRead, &reader));
  status = RegSetValueExW(reader, L"Text", kRegSz, kAb.data(), 6);
  EXPECT_EQ(5u, status) << "set through KEY_READ, got " << status;
  size = sizeof(data);
  EXPECT_EQ(0u, RegQueryValueExW(reader, L"Text", nullptr, data, &size));
  EXPECT_EQ(0u, RegCloseKey(reader));
}

TEST_F(RegistryContractTest, DeleteRefusesKeysWithSubkeysAndReportsMissingOnes) {
  RegCloseKey(Create(L"\\Child", kKeyWrite));
  uint32_t status = RegDeleteKeyW(kHkeyCurrentUser, kBase);
  EXPECT_EQ(5u, status) << "key with a subkey, got " << status;
  EXPECT_EQ(0u, RegDeleteKeyW(kHkeyCurrentUser, kBase + L"\\CHILD"));
  EXPECT_EQ(0u, RegDeleteKeyW(kHkeyCurrentUser, kBase));
  status = RegDeleteKeyW(kHkeyCurrentUser, kBase);
  EXPECT_EQ(2u, status) << "already deleted, got " << status;
  RegKey key = kSentinelKey;
  status = RegOpenKeyExW(kHkeyCurrentUser, kBase, 0, kKeyRead, &key);
  EXPECT_EQ(2u, status) << "got " << status;
}

TEST_F(RegistryContractTest, HandleOfADeletedKeySeesKeyDeleted) {
  RegKey key = Create(L"", kKeyRead | kKeyWrite);
  ASSERT_EQ(0u, RegDeleteKeyW(kHkeyCurrentUser, kBase));
  uint32_t status = RegSetValueExW(key, L"Late", kRegSz, kAb.data(), 6);
  EXPECT_EQ(1018u, status) << "ERROR_KEY_DELETED, got " << status;
  char data[8];
  uint32_t size = sizeof(data);
  status = RegQueryValueExW(key, L"Late", nullptr, data, &size);
  EXPECT_EQ(1018u, status) << "got " << status;
  EXPECT_EQ(0u, RegCloseKey(key));
}

TEST_F(RegistryContractTest, ClosingTwiceGivesInvalidHandle) {
  RegKey key = Create(L"", kKeyRead);
  EXPECT_EQ(0u, RegCloseKey(key));
  uint32_t status = RegCloseKey(key);
  EXPECT_EQ(6u, status) << "got " << status;
  EXPECT_EQ(0u, RegCloseKey(kHkeyCurrentUser)) << "closing a root does nothing";
}

}  // namespace
