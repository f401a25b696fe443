#include "install/prerequisites.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "app/ui_state.h"
#include "install/installer_signature.h"
#include "install/product_constants.h"
#include "platform/fake/fake.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/trust.h"
#include "platform/window.h"

namespace {

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

const std::wstring kVcUrl = L"https://aka.ms/vs/17/release/vc_redist.x64.exe";
// The system's temp folder, where users cannot rename or delete our entries.
const std::wstring kTemp = L"C:\\Windows\\Temp\\";
// Wherever the private folder lands, the installer is started from it.
const std::wstring kInstallerPattern = kTemp + L"TSL-*\\TSL*.exe";
// Signed by Microsoft, as the real installers are.
const std::string kInstallerBytes = fake::SignedContent("MZ vc_redist stand-in", fake::Signer{});
constexpr char kAdminOnly[] = "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

fake::HttpResponse Body(const std::string& bytes) {
  fake::HttpResponse r;
  r.chunks = {bytes};
  r.contentLength = static_cast<uint32_t>(bytes.size());
  return r;
}

std::string Pv(const std::wstring& version) { return fake::RegSz(version); }

class PrerequisitesTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override {
    g_mainWindow = g_detailLabel = nullptr;
    g_cancelRequested = false;
  }

  void Fresh() {
    fake::Reset();
    g_cancelRequested = false;
    g_mainWindow = fake::CreateWindowForTesting(L"Tessaline Setup");
    g_detailLabel = fake::CreateWindowForTesting(L"");
    details_.clear();
    fake::OnPaint([this](platform::WindowHandle) {
      details_.push_back(platform::GetWindowTextW(g_detailLabel, 256));
    });
  }

  bool RunVc(std::wstring* error) {
    return DownloadAndRunInstaller(kVcRedistHost, kVcRedistPath, kVcRedistArguments,
                                   kVcRedistDisplayName, error);
  }

  // Nothing of ours may outlive a call: no file or folder in the temp
  // folder, no handle of any kind, no descriptor.
  void ExpectNothingLeft() {
    EXPECT_EQ(std::vector<std::wstring>{kTemp.substr(0, kTemp.size() - 1)}, fake::ListTree(kTemp))
        << "left in the temp folder: " << fake::ListTree(kTemp).size() - 1 << " entries";
    EXPECT_EQ(0, fake::OpenFileHandleCount());
    EXPECT_EQ(0, fake::OpenProcessHandleCount());
    EXPECT_EQ(0, fake::OpenHttpHandleCount());
    EXPECT_EQ(0, fake::OpenRegistryKeyCount());
    EXPECT_EQ(0, fake::LiveSecurityDescriptorCount());
  }

  std::vector<std::wstring> details_;
};

// ---- Registry checks ----

struct RegistryCase {
  const char* name;
  std::function<void()> setUp;
  bool present;
};

void SetVc(const std::wstring& key, uint32_t type, const std::string& data) {
  fake::SetRegistryValue(kHkeyLocalMachine, key, L"Installed", type, data);
}

TEST_F(PrerequisitesTest, VcRuntimeIsPresentOnlyWhenInstalledReadsOne) {
  const std::vector<RegistryCase> cases = {
      {"nothing registered", [] {}, false},
      {"64-bit view 1", [] { SetVc(kVcRuntimeKey, platform::kRegDword, fake::RegDword(1)); }, true},
      {"32-bit view only 1", [] { SetVc(kVcRuntimeKeyWow, platform::kRegDword, fake::RegDword(1)); },
       true},
      {"0 in both views",
       [] {
         SetVc(kVcRuntimeKey, platform::kRegDword, fake::RegDword(0));
         SetVc(kVcRuntimeKeyWow, platform::kRegDword, fake::RegDword(0));
       },
       false},
      {"0 in the 64-bit view, 1 in the 32-bit view",
       [] {
         SetVc(kVcRuntimeKey, platform::kRegDword, fake::RegDword(0));
         SetVc(kVcRuntimeKeyWow, platform::kRegDword, fake::RegDword(1));
       },
       true},
      {"keys without the value",
       [] {
         fake::AddRegistryKey(kHkeyLocalMachine, kVcRuntimeKey);
         fake::AddRegistryKey(kHkeyLocalMachine, kVcRuntimeKeyWow);
       },
       false},
      {"value 2", [] { SetVc(kVcRuntimeKey, platform::kRegDword, fake::RegDword(2)); }, false},
      {"type not checked: 4 binary bytes 01 00 00 00",
       [] { SetVc(kVcRuntimeKey, 3 /* REG_BINARY */, std::string("\x01\0\0\0", 4)); }, true},
      {"one byte 01, the rest stays preset to 0",
       [] { SetVc(kVcRuntimeKey, 3 /* REG_BINARY */, std::string("\x01", 1)); }, true},
      {"text \"1\" is not the number 1", [] { SetVc(kVcRuntimeKey, platform::kRegSz, Pv(L"1")); },
       false},
      {"8-byte 1 does not fit the buffer",
       [] { SetVc(kVcRuntimeKey, 11 /* REG_QWORD */, std::string("\x01\0\0\0\0\0\0\0", 8)); },
       false},
      {"under the current user it does not count",
       [] {
         fake::SetRegistryValue(kHkeyCurrentUser, kVcRuntimeKey, L"Installed", platform::kRegDword,
                                fake::RegDword(1));
       },
       false},
      {"value name is case-insensitive",
       [] {
         fake::SetRegistryValue(kHkeyLocalMachine, kVcRuntimeKey, L"INSTALLED",
                                platform::kRegDword, fake::RegDword(1));
       },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    c.setUp();
    EXPECT_EQ(c.present, IsVcRuntimeInstalled());
    EXPECT_EQ(0, fake::OpenRegistryKeyCount()) << "every opened key is closed";
  }
}

void SetPv(platform::RegKey root, const std::wstring& key, const std::wstring& version) {
  fake::SetRegistryValue(root, key, L"pv", platform::kRegSz, Pv(version));
}

TEST_F(PrerequisitesTest, WebView2IsPresentWhenSomePlaceHoldsANonZeroVersion) {
  const std::wstring fits(63, L'1');     // 63 characters + terminator = 128 bytes
  const std::wstring tooLong(64, L'1');  // 130 bytes
  const std::vector<RegistryCase> cases = {
      {"nothing registered", [] {}, false},
      {"machine-wide 64-bit view",
       [] { SetPv(kHkeyLocalMachine, kWebView2ClientKey, L"120.0.2210.91"); }, true},
      {"machine-wide 32-bit view only",
       [] { SetPv(kHkeyLocalMachine, kWebView2ClientKeyWow, L"120.0.2210.91"); }, true},
      {"current user only", [] { SetPv(kHkeyCurrentUser, kWebView2ClientKey, L"119.0.1"); }, true},
      {"0.0.0.0 in all three places",
       [] {
         SetPv(kHkeyLocalMachine, kWebView2ClientKey, L"0.0.0.0");
         SetPv(kHkeyLocalMachine, kWebView2ClientKeyWow, L"0.0.0.0");
         SetPv(kHkeyCurrentUser, kWebView2ClientKey, L"0.0.0.0");
       },
       false},
      {"0.0.0.0 machine-wide, a version for the user",
       [] {
         SetPv(kHkeyLocalMachine, kWebView2ClientKey, L"0.0.0.0");
         SetPv(kHkeyLocalMachine, kWebView2ClientKeyWow, L"0.0.0.0");
         SetPv(kHkeyCurrentUser, kWebView2ClientKey, L"121.0.1");
       },
       true},
      {"a single digit 1", [] { SetPv(kHkeyLocalMachine, kWebView2ClientKey, L"1"); }, true},
      {"any other first character, unparsed",
       [] { SetPv(kHkeyLocalMachine, kWebView2ClientKey, L"x"); }, true},
      {"empty text", [] { SetPv(kHkeyLocalMachine, kWebView2ClientKey, L""); }, false},
      {"keys without pv",
       [] {
         fake::AddRegistryKey(kHkeyLocalMachine, kWebView2ClientKey);
         fake::AddRegistryKey(kHkeyCurrentUser, kWebView2ClientKey);
       },
       false},
      {"63 characters fill the 128 bytes exactly",
       [fits] { SetPv(kHkeyLocalMachine, kWebView2ClientKey, fits); }, true},
      {"64 characters do not fit",
       [tooLong] { SetPv(kHkeyLocalMachine, kWebView2ClientKey, tooLong); }, false},
      {"too long in one place, a version in the next",
       [tooLong] {
         SetPv(kHkeyLocalMachine, kWebView2ClientKey, tooLong);
         SetPv(kHkeyLocalMachine, kWebView2ClientKeyWow, L"118.0");
       },
       true},
      {"the user's 32-bit path is not a place",
       [] { SetPv(kHkeyCurrentUser, kWebView2ClientKeyWow, L"120.0"); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    c.setUp();
    EXPECT_EQ(c.present, IsWebView2RuntimeInstalled());
    EXPECT_EQ(0, fake::OpenRegistryKeyCount()) << "every opened key is closed";
  }
}

// ---- DownloadAndRunInstaller ----

struct InstallerCase {
  const char* name;
  std::function<void()> setUp;
  bool result;
  std::wstring reason;  // empty: the error output keeps its content
  bool started;
};

std::vector<InstallerCase> InstallerCases() {
  auto served = [] { fake::SetHttpResponse(kVcUrl, Body(kInstallerBytes)); };
  auto script = [served](fake::ProcessScript s) {
    return [served, s] {
      served();
      fake::SetProcessScript(kInstallerPattern, s);
    };
  };
  fake::ProcessScript exit0, exit3010, exit1638, exit1603, exitHresult, neverEnds, lastMoment,
      tooLate, refused;
  exit3010.exitCode = 3010;
  exit1638.exitCode = 1638;
  exit1603.exitCode = 1603;
  exitHresult.exitCode = 0x80070643;
  neverEnds.neverExits = true;
  lastMoment.runsForMs = 300000;
  lastMoment.exitCode = 0;
  tooLate.runsForMs = 300001;
  refused.startError = 1223;
  return {
      {"exit 0", script(exit0), true, L"", true},
      {"exit 3010, restart needed", script(exit3010), true, L"", true},
      {"exit 1638, another version present", script(exit1638), true, L"", true},
      {"exit 1603", script(exit1603), false, L"Installer returned error code 1603", true},
      {"HRESULT exit code in unsigned decimal", script(exitHresult), false,
       L"Installer returned error code 2147944003", true},
      {"ends exactly at five minutes", script(lastMoment), true, L"", true},
      {"still running after five minutes", script(neverEnds), false, L"Installer timed out", true},
      {"ends one millisecond too late", script(tooLate), false, L"Installer timed out", true},
      {"start refused", script(refused), false, L"Failed to run installer (error 1223)", false},
      {"unsigned installer",
       [] { fake::SetHttpResponse(kVcUrl, Body("MZ vc_redist stand-in")); }, false,
       InstallerSignatureError(platform::kTrustENosignature), false},
      {"installer signed by another subject",
       [] {
         fake::Signer other;
         other.commonName = other.organization = L"Contoso Ltd";
         fake::SetHttpResponse(kVcUrl, Body(fake::SignedContent("MZ", other)));
       },
       false, InstallerSignatureError(platform::kTrustESubjectNotTrusted), false},
      {"download 404",
       [] { fake::SetHttpResponse(L"https://aka.ms/elsewhere", Body("x")); }, false,
       L"Download failed: HTTP error 404", false},
      {"download host unknown", [] {}, false,
       L"Download failed: Failed to send HTTP request (error 12007)", false},
      {"download cancelled",
       [] {
         fake::HttpResponse r;
         r.chunks = {"MZ", "rest"};
         r.contentLength = 6;
         fake::SetHttpResponse(kVcUrl, r);
         fake::OnHttpRead([](int n) {
           if (n == 0) g_cancelRequested = true;
         });
       },
       false, L"Download failed: Download cancelled by user", false},
      {"download empty",
       [] {
         fake::HttpResponse r;
         r.contentLength = 0;
         fake::SetHttpResponse(kVcUrl, r);
       },
       false, L"Download failed: Downloaded file is empty", false},
      {"no temp folder",
       [served] {
         served();
         platform::RemoveDirectoryW(kTemp);
       },
       false, L"Failed to create temporary file (error 3)", false},
      {"random generator fails",
       [served] {
         served();
         fake::FailRandom(0xC0000001);
       },
       false, L"Failed to create temporary file (error 3221225473)", false},
      {"no temporary name",
       [served] {
         served();
         fake::FailNextGetTempFileName(5);
       },
       false, L"Failed to create temporary file (error 5)", false},
  };
}

TEST_F(PrerequisitesTest, EachOutcomeGivesItsResultAndReasonAndLeavesNothing) {
  for (const InstallerCase& c : InstallerCases()) {
    SCOPED_TRACE(c.name);
    Fresh();
    c.setUp();
    std::wstring error = L"sentinel";
    EXPECT_EQ(c.result, RunVc(&error));
    EXPECT_EQ(fake::ToUtf8(c.reason.empty() ? L"sentinel" : c.reason), fake::ToUtf8(error));
    const auto& starts = fake::ProcessStarts();
    EXPECT_EQ(c.started, !starts.empty() && starts.back().started);
    if (c.reason.rfind(L"Failed to create temporary file", 0) == 0) {
      EXPECT_TRUE(fake::HttpRequests().empty()) << "nothing is downloaded without a safe name";
      EXPECT_TRUE(starts.empty());
    }
    for (const auto& outcome : fake::ProcessOutcomes()) {
      EXPECT_FALSE(outcome.running) << "an installer was left running";
    }
    if (fake::ClockMs() > 300000) {
      ASSERT_EQ(1u, fake::ProcessOutcomes().size());
      EXPECT_TRUE(fake::ProcessOutcomes()[0].terminated);
      EXPECT_EQ(1u, fake::ProcessOutcomes()[0].exitCode);
    }
    // The temporary folder may only be removed once the installer is gone.
    if (fake::Exists(kTemp)) ExpectNothingLeft();
    g_cancelRequested = false;
  }
}

TEST_F(PrerequisitesTest, EachOutcomeWithoutErrorOutputGivesTheSameResult) {
  for (const InstallerCase& c : InstallerCases()) {
    SCOPED_TRACE(c.name);
    Fresh();
    c.setUp();
    EXPECT_EQ(c.result, RunVc(nullptr));
    if (fake::Exists(kTemp)) ExpectNothingLeft();
    g_cancelRequested = false;
  }
}

TEST_F(PrerequisitesTest, StartsTheDownloadedFileHiddenFromAnAdminOnlyFolder) {
  fake::SetHttpResponse(kVcUrl, Body(kInstallerBytes));
  std::string contentAtStart;
  std::optional<std::wstring> securityAtStart;
  std::vector<std::wstring> folderAtStart;
  fake::OnProcessStart([&](const fake::ProcessStart& start) {
    contentAtStart = fake::FileContent(start.program).value_or("<missing>");
    std::wstring folder = start.program.substr(0, start.program.rfind(L'\\'));
    securityAtStart = fake::FolderSecurity(folder);
    folderAtStart = fake::ListTree(folder);
  });
  std::wstring error;
  ASSERT_TRUE(RunVc(&error)) << fake::ToUtf8(error);

  ASSERT_EQ(1u, fake::ProcessStarts().size());
  const fake::ProcessStart& start = fake::ProcessStarts()[0];
  EXPECT_EQ(fake::StartApi::kCreateProcessW, start.api);
  EXPECT_EQ(L"\"" + start.program + L"\" /install /quiet /norestart", start.commandLine);
  EXPECT_EQ(platform::kCreateSuspended, start.creationFlags);
  EXPECT_EQ(platform::kStartfUseShowWindow, start.startupFlags);
  EXPECT_EQ(0, start.showWindow) << "SW_HIDE";
  EXPECT_TRUE(std::regex_match(
      fake::ToUtf8(start.program),
      std::regex(R"(C:\\Windows\\Temp\\TSL-[0-9A-F]{32}\\TSL[0-9A-F]{1,4}\.exe)")))
      << fake::ToUtf8(start.program);
  EXPECT_EQ(start.program.substr(0, start.program.rfind(L'\\')), start.directory)
      << "the installer works in its own folder";
  EXPECT_EQ(kInstallerBytes, contentAtStart);
  EXPECT_EQ(kAdminOnly, fake::ToUtf8(securityAtStart.value_or(L"<none>")));
  // The folder, the reserved name and the installer; nothing else beside it.
  EXPECT_EQ(3u, folderAtStart.size());
  EXPECT_EQ(0u, fake::ClockMs()) << "an installer that ends at once is not waited for longer";
  ExpectNothingLeft();
}

// While the installer is fetched and started, our folder stays put.
TEST_F(PrerequisitesTest, PrivateFolderCannotBeRenamedWhileInUse) {
  fake::SetHttpResponse(kVcUrl, Body(kInstallerBytes));
  std::vector<uint32_t> renameErrors;
  auto tryRename = [&](const std::wstring& folder) {
    platform::SetLastError(0xdeadbeef);
    bool moved = platform::MoveFileExW(folder, kTemp + L"look-alike", 0);
    renameErrors.push_back(moved ? 0 : platform::GetLastError());
  };
  fake::OnHttpRead([&](int n) {
    if (n != 0) return;
    for (const std::wstring& path : fake::ListTree(kTemp)) {
      std::wstring name = path.substr(path.rfind(L'\\') + 1);
      if (name.compare(0, 4, L"TSL-") == 0) tryRename(path);
    }
  });
  fake::OnProcessStart([&](const fake::ProcessStart& start) {
    tryRename(start.program.substr(0, start.program.rfind(L'\\')));
  });
  std::wstring error;
  ASSERT_TRUE(RunVc(&error)) << fake::ToUtf8(error);
  EXPECT_EQ((std::vector<uint32_t>{platform::kErrorSharingViolation,
                                   platform::kErrorSharingViolation}),
            renameErrors)
      << "during the download, then at the start";
  EXPECT_FALSE(fake::Exists(kTemp + L"look-alike"));
  ExpectNothingLeft();
}

// What was checked is what starts: from the check until the installer has
// started, nobody can write, rename or replace the file.
TEST_F(PrerequisitesTest, CheckedInstallerIsHeldUntilItHasStarted) {
  fake::SetHttpResponse(kVcUrl, Body(kInstallerBytes));
  std::vector<uint32_t> errors;
  auto tryChange = [&](const std::wstring& installer) {
    platform::SetLastError(0xdeadbeef);
    platform::Handle h = platform::CreateFileW(
        installer, platform::kGenericWrite,
        platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
        platform::kOpenExisting, 0);
    errors.push_back(h == platform::kInvalidHandleValue ? platform::GetLastError() : 0);
    if (h != platform::kInvalidHandleValue) platform::CloseHandle(h);
    platform::SetLastError(0xdeadbeef);
    bool moved = platform::MoveFileExW(installer, installer + L".swapped", 0);
    errors.push_back(moved ? 0 : platform::GetLastError());
  };
  fake::OnWinVerifyTrust([&](const fake::TrustCall& call) { tryChange(call.filePath); });
  fake::OnProcessStart([&](const fake::ProcessStart& start) { tryChange(start.program); });
  std::wstring error;
  ASSERT_TRUE(RunVc(&error)) << fake::ToUtf8(error);
  EXPECT_EQ(std::vector<uint32_t>(4, platform::kErrorSharingViolation), errors)
      << "write and rename, after the check and at the start";
  ExpectNothingLeft();
  EXPECT_EQ(0, fake::OpenTrustStateCount());
}

TEST_F(PrerequisitesTest, WebView2InstallerGetsItsOwnArgumentsAndDetails) {
  fake::SetHttpResponse(L"https://go.microsoft.com/fwlink/p/?LinkId=2124703",
                        Body(kInstallerBytes));
  ASSERT_TRUE(DownloadAndRunInstaller(kWebView2Host, kWebView2Path, kWebView2Arguments,
                                      kWebView2DisplayName, nullptr));
  ASSERT_EQ(1u, fake::ProcessStarts().size());
  const fake::ProcessStart& start = fake::ProcessStarts()[0];
  EXPECT_EQ(L"\"" + start.program + L"\" /silent /install", start.commandLine);
  EXPECT_EQ((std::vector<std::wstring>{L"Downloading WebView2 Runtime...",
                                       L"Installing WebView2 Runtime..."}),
            details_);
}

TEST_F(PrerequisitesTest, DetailLinesFollowTheSteps) {
  const std::vector<std::wstring> both = {L"Downloading Visual C++ Redistributable...",
                                          L"Installing Visual C++ Redistributable..."};
  const std::vector<std::wstring> downloadOnly = {both[0]};
  struct Row {
    const char* name;
    std::function<void()> setUp;
    std::vector<std::wstring> details;
  };
  const std::vector<Row> rows = {
      {"success", [] { fake::SetHttpResponse(kVcUrl, Body(kInstallerBytes)); }, both},
      {"download fails", [] {}, downloadOnly},
      {"no temporary folder", [] { fake::FailRandom(0xC0000001); }, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    row.setUp();
    RunVc(nullptr);
    EXPECT_EQ(row.details, details_);
  }
}

TEST_F(PrerequisitesTest, TimedOutInstallerIsTerminatedAndWaitedForBeforeCleanUp) {
  fake::SetHttpResponse(kVcUrl, Body(kInstallerBytes));
  fake::ProcessScript hangs;
  hangs.neverExits = true;
  fake::SetProcessScript(kInstallerPattern, hangs);
  std::wstring error;
  EXPECT_FALSE(RunVc(&error));
  EXPECT_EQ("Installer timed out", fake::ToUtf8(error));
  // Five minutes of waiting, then the 50 ms the fake takes to end it.
  EXPECT_EQ(300050u, fake::ClockMs());
  ASSERT_EQ(1u, fake::ProcessOutcomes().size());
  EXPECT_TRUE(fake::ProcessOutcomes()[0].terminated);
  EXPECT_EQ(1u, fake::ProcessOutcomes()[0].exitCode);
  ExpectNothingLeft();
}

// An installer that starts a helper of its own: on a timeout the helper
// ends with it; after a normal end it is left running, as the installer
// meant.
TEST_F(PrerequisitesTest, InstallerRunsInAJobThatEndsOnlyOnTimeout) {
  struct Row {
    const char* name;
    bool hangs;
    bool result;
    bool helperRunsAfter;
  };
  const std::vector<Row> rows = {
      {"installer hangs", true, false, false},
      {"installer ends", false, true, true},
  };
  const std::wstring helper = L"C:\\Windows\\Temp\\helper.exe";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    fake::SetHttpResponse(kVcUrl, Body(kInstallerBytes));
    fake::ProcessScript installer;
    installer.neverExits = row.hangs;
    installer.runsForMs = 100;
    installer.startsChild = helper;
    fake::SetProcessScript(kInstallerPattern, installer);
    bool suspendedAtStart = false;
    fake::OnProcessStart([&](const fake::ProcessStart&) {
      suspendedAtStart = fake::ProcessOutcomes()[0].suspended;
    });
    EXPECT_EQ(row.result, RunVc(nullptr));
    EXPECT_TRUE(suspendedAtStart);
    std::vector<fake::ProcessOutcome> outcomes = fake::ProcessOutcomes();
    ASSERT_EQ(2u, outcomes.size());
    EXPECT_TRUE(outcomes[0].inJob);
    EXPECT_TRUE(outcomes[1].inJob) << "the helper escaped the job";
    EXPECT_FALSE(outcomes[0].running);
    EXPECT_EQ(row.helperRunsAfter, outcomes[1].running);
    EXPECT_EQ(row.hangs, outcomes[1].terminated);
    EXPECT_EQ(0, fake::OpenProcessHandleCount());
    ExpectNothingLeft();
  }
}

TEST_F(PrerequisitesTest, EveryCallGetsAFolderOfItsOwn) {
  fake::SetHttpResponse(kVcUrl, Body(kInstallerBytes));
  ASSERT_TRUE(RunVc(nullptr));
  ASSERT_TRUE(RunVc(nullptr));
  ASSERT_EQ(2u, fake::ProcessStarts().size());
  const std::wstring& a = fake::ProcessStarts()[0].program;
  const std::wstring& b = fake::ProcessStarts()[1].program;
  EXPECT_NE(a.substr(0, a.rfind(L'\\')), b.substr(0, b.rfind(L'\\')));
}

TEST_F(PrerequisitesTest, FolderThatCannotBeEmptiedIsTraced) {
  fake::SetHttpResponse(kVcUrl, Body(kInstallerBytes));
  // An installer that leaves a log beside itself.
  fake::OnProcessStart([](const fake::ProcessStart& start) {
    fake::AddFile(start.program.substr(0, start.program.rfind(L'\\')) + L"\\install.log", "log");
  });
  EXPECT_TRUE(RunVc(nullptr));
  EXPECT_EQ(std::vector<std::string>{"[Install] Failed to remove temporary folder (error 145)\n"},
            fake::TraceLines());
}

// Whatever takes the folder's name between its creation and its use is
// not written into, started from or removed: a folder of the user's, a link
// to a folder elsewhere, a file.
TEST_F(PrerequisitesTest, FolderSwappedAfterItsCreationIsRefused) {
  const std::wstring victim = L"C:\\ProgramData\\Victim";
  struct Row {
    const char* name;
    std::function<void(const std::wstring& name)> plant;
    const char* reason;
  };
  const std::vector<Row> rows = {
      {"a folder of the user's", [](const std::wstring& n) { fake::AddDirectory(n); },
       "Failed to create temporary file (error 1307)"},
      {"a link to another folder",
       [victim](const std::wstring& n) { fake::AddJunction(n, victim); },
       "Failed to create temporary file (error 1921)"},
      {"a file", [](const std::wstring& n) { fake::AddFile(n, "x"); },
       "Failed to create temporary file (error 267)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    fake::SetHttpResponse(kVcUrl, Body(kInstallerBytes));
    fake::AddFile(victim + L"\\keep.txt", "keep");
    std::wstring planted;
    fake::OnCreateDirectory([&](const std::wstring& path) {
      if (path.rfind(kTemp + L"TSL-", 0) != 0 || !planted.empty()) return;
      planted = path;
      ASSERT_TRUE(platform::MoveFileExW(path, kTemp + L"moved-away", 0));
      row.plant(path);
    });
    std::wstring error;
    EXPECT_FALSE(RunVc(&error));
    EXPECT_EQ(row.reason, fake::ToUtf8(error));
    EXPECT_TRUE(fake::HttpRequests().empty()) << "downloaded into it";
    EXPECT_TRUE(fake::ProcessStarts().empty());
    EXPECT_EQ((std::vector<std::wstring>{victim, victim + L"\\keep.txt"}), fake::ListTree(victim));
    EXPECT_TRUE(fake::Exists(planted)) << "what is not ours is not removed";
    EXPECT_EQ(0, fake::OpenFileHandleCount());
  }
}

TEST_F(PrerequisitesTest, PrivateFolderLiesInTheTempFolderWithTheAdminOnlyList) {
  std::wstring folder;
  uint32_t error = 0xDEADBEEF;
  ASSERT_TRUE(CreatePrivateTempFolder(&folder, &error));
  EXPECT_EQ(0xDEADBEEFu, error);
  EXPECT_EQ(kTemp, folder.substr(0, kTemp.size()));
  EXPECT_EQ(kAdminOnly, fake::ToUtf8(fake::FolderSecurity(folder).value_or(L"<none>")));
  EXPECT_EQ(0, fake::LiveSecurityDescriptorCount());
}

}  // namespace
