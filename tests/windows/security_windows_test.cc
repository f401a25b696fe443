// Access lists and owners, on Windows itself: what the install-folder and
// private temp folder routines leave on a folder, read back with
// GetSecurityInfo in SDDL form, and the owner check of the private folder
// against owners the kit sets as administrator. Wine 8 keeps no access
// lists or owners of its own, so there the case is skipped.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "install/install_folder.h"
#include "install/prerequisites.h"
#include "tests/contract/native_calls.h"
#include "tests/contract/on_wine.h"
#include "tests/windows/kit_support.h"

namespace {

constexpr char kSkipLabel[] =
    "Windows only: owners and access lists of the install and private folders "
    "(Wine 8 keeps none)";

// The parts of a folder's SDDL that the routines decide.
struct Security {
  std::wstring owner;
  bool isProtected = false;
  std::wstring aces;
};

// Owner and DACL as GetSecurityInfo gives them for the folder itself.
std::optional<Security> SecurityParts(const std::wstring& path) {
  std::optional<std::wstring> text = SecurityOf(path);
  if (!text) return std::nullopt;
  const std::wstring& sddl = *text;
  // "O:owner" "D:flags(ace)(ace)...": the flags (P, AI, AR) are letters
  // before the first ACE; AI depends on how Windows applied the list.
  size_t dacl = sddl.find(L"D:");
  size_t firstAce = sddl.find(L'(', dacl);
  if (sddl.compare(0, 2, L"O:") != 0 || dacl == std::wstring::npos) return std::nullopt;
  Security security;
  security.owner = sddl.substr(2, dacl - 2);
  std::wstring flags = sddl.substr(dacl + 2, firstAce == std::wstring::npos
                                                 ? std::wstring::npos
                                                 : firstAce - dacl - 2);
  security.isProtected = flags.find(L'P') != std::wstring::npos;
  security.aces = firstAce == std::wstring::npos ? L"" : sddl.substr(firstAce);
  return security;
}

// Sets the owner of `path` (which the kit made) as administrator.
uint32_t SetOwner(const std::wstring& path, PSID owner) {
  HANDLE folder = CreateFileW(path.c_str(), WRITE_OWNER, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD status = SetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner,
                                 nullptr, nullptr, nullptr);
  CloseHandle(folder);
  return status;
}

// The user the kit runs as: what an unelevated program of that user makes
// is owned by this SID, not by Administrators.
std::vector<BYTE> OwnUserSid() {
  HANDLE token = nullptr;
  std::vector<BYTE> buffer(512);
  DWORD length = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  BOOL ok = GetTokenInformation(token, TokenUser, buffer.data(),
                                static_cast<DWORD>(buffer.size()), &length);
  CloseHandle(token);
  if (!ok) return {};
  PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
}

std::vector<BYTE> AdministratorsSid() {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid.data(), &size)) return {};
  sid.resize(size);
  return sid;
}

// A folder of the kit's, or a link, that the owner check is given.
uint32_t Pin(const std::wstring& path, HANDLE* pin) {
  *pin = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
  return *pin == INVALID_HANDLE_VALUE ? GetLastError() : 0;
}

TEST(AccessListsOnWindows, RoutinesLeaveTheirOwnerAndProtectedList) {
  if (RunningOnWine()) GTEST_SKIP() << kSkipLabel;
  KitTempFolder temp;
  std::wstring installFolder = temp.At(L"Maretto\\TSL");
  ASSERT_EQ(0u, CreateInstallFolderAt(installFolder));
  // The private folder lies in C:\Windows\Temp, outside the kit's folder:
  // removed on every way out of the test.
  struct RemovedAtEnd {
    std::wstring path;
    ~RemovedAtEnd() { RemoveDirectoryW(path.c_str()); }
  } made;
  std::wstring& privateFolder = made.path;
  uint32_t error = 0xdeadbeef;
  ASSERT_TRUE(CreatePrivateTempFolder(&privateFolder, &error)) << "error " << error;
  struct Row {
    const char* routine;
    std::wstring folder;
    const wchar_t* aces;  // as Windows writes them back (AC: all application packages)
  };
  const Row rows[] = {
      {"CreateInstallFolderAt", installFolder,
       L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
       L"(A;OICI;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
       L"(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;AC)(A;OICI;0x1200a9;;;S-1-15-2-2)"},
      {"CreatePrivateTempFolder", privateFolder, L"(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.routine);
    std::optional<Security> security = SecurityParts(row.folder);
    ASSERT_TRUE(security.has_value()) << LastErrorText();
    EXPECT_EQ(L"BA", security->owner);
    EXPECT_TRUE(security->isProtected) << "the list inherits from the folder around it";
    EXPECT_EQ(row.aces, security->aces);
  }
}

TEST(AccessListsOnWindows, OwnerCheckRefusesAFolderAUserOwns) {
  if (RunningOnWine()) GTEST_SKIP() << kSkipLabel;
  KitTempFolder temp;
  // The temp folder around is the administrators': only its owner's
  // folders, Administrators' and SYSTEM's count as the setup's.
  std::vector<BYTE> administrators = AdministratorsSid();
  std::vector<BYTE> user = OwnUserSid();
  ASSERT_FALSE(administrators.empty());
  ASSERT_FALSE(user.empty());
  ASSERT_EQ(0u, SetOwner(temp.path(), administrators.data()));
  ASSERT_TRUE(CreateDirectoryW(temp.At(L"target").c_str(), nullptr));
  struct Row {
    const char* name;
    const wchar_t* folder;
    PSID owner;  // null: a junction to "target"
    uint32_t expected;
  };
  const Row rows[] = {
      {"owned by Administrators", L"admins", administrators.data(), 0},
      {"owned by the (standard) user", L"users", user.data(), ERROR_INVALID_OWNER},
      {"a junction in its place", L"link", nullptr, ERROR_CANT_RESOLVE_FILENAME},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::wstring path = temp.At(row.folder);
    if (row.owner) {
      ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << LastErrorText();
      ASSERT_EQ(0u, SetOwner(path, row.owner));
    } else {
      ASSERT_EQ(0u, PlantJunction(path, temp.At(L"target")));
    }
    HANDLE pin = INVALID_HANDLE_VALUE;
    ASSERT_EQ(0u, Pin(path, &pin));
    platform::ByHandleFileInformation identity;
    EXPECT_EQ(row.expected, CheckPinnedFolder(pin, temp.path(), &identity));
    CloseHandle(pin);
  }
}

}  // namespace
