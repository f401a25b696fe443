#include "install/install_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ui_state.h"
#include "platform/dialog.h"
#include "platform/fake/fake.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/window.h"
#include "registration/own_image.h"
#include "tests/unit/label_screen.h"

namespace {

using platform::kHkeyLocalMachine;

// The detail line at which the end-point table cancels (empty: none).
std::wstring g_cancelOnDetail;

const std::wstring kFolder = L"C:\\Program Files\\Maretto\\TSL";
const std::wstring kLoader = kFolder + L"\\WebView2Loader.dll";
const std::wstring kApp = kFolder + L"\\Velquist.exe";
const std::wstring kUpdater = kFolder + L"\\updater.exe";
const std::wstring kShortcut = L"C:\\Users\\User\\Desktop\\Tessaline.lnk";
const std::wstring kSetup = L"C:\\Users\\User\\Downloads\\TessalineSetup.exe";
const std::wstring kSchtasks = L"C:\\Windows\\System32\\schtasks.exe";
const std::wstring kEntryKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaline";
const std::wstring kVcKey = L"SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64";
const std::wstring kWebView2Key =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const std::wstring kLoaderUrl = L"https://deploy.maretto.example/executable/WebView2Loader.dll";
const std::wstring kAppUrl = L"https://deploy.maretto.example/executable/Velquist.exe";
const std::wstring kVcUrl = L"https://aka.ms/vs/17/release/vc_redist.x64.exe";
const std::wstring kWebView2Url = L"https://go.microsoft.com/fwlink/p/?LinkId=2124703";
const std::wstring kInstallerPattern = L"C:\\Windows\\Temp\\TSL-*\\TSL*.exe";

fake::Signer SignedBy(const std::wstring& subject) {
  fake::Signer signer;
  signer.commonName = signer.organization = subject;
  return signer;
}

// The setup and what it downloads are signed by the publisher, as shipped.
const fake::Signer kMaretto = SignedBy(L"Maretto LTD");
const std::string kLoaderBytes = fake::SignedContent("MZ loader dll, new", kMaretto);
const std::string kAppBytes =
    fake::SignedContent(fake::WithVersion("MZ Velquist, new", 2, 0, 0, 0), kMaretto);
const std::string kSetupBytes =
    fake::SignedContent(std::string("MZ\0 setup program", 17), kMaretto);

const std::wstring kChecking = L"Checking prerequisites...";
const std::wstring kPrereqs = L"Installing prerequisites...";
const std::wstring kInstalling = L"Installing application...";
const std::wstring kFinishing = L"Finishing installation...";
const std::wstring kComplete = L"Installation complete!";
const std::wstring kVc = L"Visual C++ Redistributable";
const std::wstring kWv2 = L"WebView2 Runtime";

const std::wstring kVcAdvice =
    L"\n\nPlease install manually from:\nhttps://aka.ms/vs/17/release/vc_redist.x64.exe";
const std::wstring kWv2Advice =
    L"\n\nPlease install manually from:\nhttps://go.microsoft.com/fwlink/p/?LinkId=2124703";
const std::wstring kNetAdvice = L"\n\nPlease check your internet connection and firewall settings.";

using label_screen::Screen;

std::vector<Screen> Join(std::vector<Screen> head, const std::vector<Screen>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// From the install folder step on, every successful run shows the same.
const std::vector<Screen> kTail = {
    {40, kInstalling, L"Creating installation directory"},
    {50, kInstalling, L"Creating installation directory"},
    {50, kInstalling, L"Downloading WebView2Loader.dll"},
    {70, kInstalling, L"Downloading WebView2Loader.dll"},
    {70, kInstalling, L"Downloading application files"},
    {85, kInstalling, L"Downloading application files"},
    {85, kFinishing, L"Downloading application files"},
    {85, kFinishing, L"Creating desktop shortcut"},
    {90, kFinishing, L"Creating desktop shortcut"},
    {90, kFinishing, L"Creating updater"},
    {95, kFinishing, L"Creating updater"},
    {95, kFinishing, L"Scheduling automatic updates"},
    {95, kFinishing, L"Registering application"},
    {100, kFinishing, L"Registering application"},
    {100, kComplete, L"Registering application"},
    {100, kComplete, L"Ready to launch"},
};

const std::vector<Screen> kCleanRun = Join(
    {
        {5, L"Ready", L""},
        {5, kChecking, L""},
        {5, kChecking, kVc},
        {20, kChecking, kVc},
        {20, kChecking, kWv2},
        {40, kChecking, kWv2},
        {40, kInstalling, kWv2},
    },
    kTail);

const Screen kLastScreen = kCleanRun.back();

fake::HttpResponse Body(const std::string& bytes) {
  fake::HttpResponse r;
  r.chunks = {bytes};
  r.contentLength = static_cast<uint32_t>(bytes.size());
  return r;
}

fake::HttpResponse Status(uint32_t status) {
  fake::HttpResponse r;
  r.status = status;
  return r;
}

fake::ProcessScript Exits(uint32_t code, uint32_t runsForMs = 0) {
  fake::ProcessScript s;
  s.exitCode = code;
  s.runsForMs = runsForMs;
  return s;
}

class InstallSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override {
    g_mainWindow = g_statusLabel = g_detailLabel = nullptr;
    g_cancelRequested = false;
    g_operationInProgress = false;
  }

  // A machine ready for a first install: the window with every paint
  // recorded, the setup program, schtasks.exe, both runtimes unless told
  // otherwise, and all four downloads served.
  void Fresh(bool vcPresent = true, bool webView2Present = true) {
    fake::Reset();
    g_cancelRequested = false;
    g_operationInProgress = false;
    g_progressPercent = 0;
    screens_.clear();
    busy_.clear();
    clock_.clear();
    boxBusy_.clear();
    loaderAtBox_.clear();
    onScreen_ = nullptr;
    held_ = nullptr;
    label_screen::CreateWindows();
    fake::OnPaint([this](platform::WindowHandle w) {
      ASSERT_EQ(g_mainWindow, w);
      screens_.push_back(label_screen::Current());
      busy_.push_back(g_operationInProgress.load());
      clock_.push_back(fake::ClockMs());
      if (onScreen_) onScreen_(screens_.back());
    });
    fake::OnMessageBox([this](const fake::MessageBoxRecord&) {
      boxBusy_.push_back(g_operationInProgress.load());
      loaderAtBox_.push_back(StagedLoaderExists());
    });
    fake::AddFile(kSetup, kSetupBytes);
    fake::AddFile(kSchtasks, "MZ cmd");
    if (vcPresent) {
      fake::SetRegistryValue(kHkeyLocalMachine, kVcKey, L"Installed", platform::kRegDword,
                             fake::RegDword(1));
    }
    if (webView2Present) {
      fake::SetRegistryValue(kHkeyLocalMachine, kWebView2Key, L"pv", platform::kRegSz,
                             fake::RegSz(L"120.0.2210.91"));
    }
    fake::SetHttpResponse(kLoaderUrl, Body(kLoaderBytes));
    fake::SetHttpResponse(kAppUrl, Body(kAppBytes));
    fake::SetHttpResponse(kVcUrl, Body(fake::SignedContent("MZ vc_redist", fake::Signer{})));
    fake::SetHttpResponse(kWebView2Url, Body(fake::SignedContent("MZ bootstrapper", fake::Signer{})));
  }

  // RunInstall, with what must hold however it ends: the busy flag up at
  // every paint and in every box, down on return, and nothing left open.
  bool Run() {
    // The entry holds the program's own file from the start of the run.
    HoldOwnImage("[Install] ");
    bool result = RunInstall();
    ReleaseOwnImage();
    EXPECT_FALSE(g_operationInProgress.load()) << "busy flag still up after the return";
    for (size_t i = 0; i < busy_.size(); ++i) {
      EXPECT_TRUE(busy_[i]) << "busy flag down at screen " << i << " " << screens_[i];
    }
    for (size_t i = 0; i < boxBusy_.size(); ++i) {
      EXPECT_TRUE(boxBusy_[i]) << "busy flag down while box " << i << " was open";
    }
    if (held_) platform::CloseHandle(held_);
    EXPECT_EQ(0, fake::OpenFileHandleCount()) << "file handles left open";
    EXPECT_EQ(0, fake::OpenHttpHandleCount()) << "HTTP handles left open";
    EXPECT_EQ(0, fake::OpenProcessHandleCount()) << "process handles left open";
    EXPECT_EQ(0, fake::OpenRegistryKeyCount()) << "registry keys left open";
    EXPECT_EQ(0, fake::ComInitCount()) << "COM left initialised";
    EXPECT_EQ(std::vector<std::wstring>{L"C:\\Users\\User\\AppData\\Local\\Temp"},
              fake::ListTree(fake::kTempFolder))
        << "left in the temp folder";
    EXPECT_EQ(std::vector<std::wstring>{L"C:\\Windows\\Temp"}, fake::ListTree(L"C:\\Windows\\Temp"))
        << "left in the system's temp folder";
    return result;
  }

  static bool StagedLoaderExists() {
    for (const std::wstring& path : fake::ListTree(kFolder)) {
      if (path.compare(0, kLoader.size() + 1, kLoader + L".") == 0 &&
          path.size() > 8 && path.substr(path.size() - 8) == L".tsl-new") {
        return true;
      }
    }
    return false;
  }

  // What the run left in the system, by name, in the order of the steps.
  std::vector<std::string> Made() {
    std::vector<std::string> out;
    if (fake::Exists(kFolder)) out.push_back("folder");
    if (fake::FileContent(kLoader) == kLoaderBytes) out.push_back("loader");
    if (fake::FileContent(kApp) == kAppBytes) out.push_back("app");
    if (fake::ShellLinkAt(kShortcut)) out.push_back("shortcut");
    if (fake::FileContent(kUpdater) == kSetupBytes) out.push_back("updater");
    for (const auto& start : fake::ProcessStarts()) {
      if (start.program == kSchtasks && start.commandLine.find(L"/Create") != std::wstring::npos &&
          start.started) {
        out.push_back("task");
      }
    }
    if (!fake::RegistryValues(kHkeyLocalMachine, kEntryKey).empty()) out.push_back("entry");
    return out;
  }

  // The single fatal box of a failed run.
  void ExpectErrorBox(const std::wstring& text, const std::wstring& caption) {
    ASSERT_EQ(1u, fake::MessageBoxes().size()) << "boxes shown";
    const fake::MessageBoxRecord& box = fake::MessageBoxes()[0];
    EXPECT_EQ(text, box.text);
    EXPECT_EQ(caption, box.caption);
    EXPECT_EQ(platform::kMbOk | platform::kMbIconError, box.type) << "flags";
    EXPECT_EQ(g_mainWindow, box.owner) << "owner";
  }

  void CancelAtScreenWithDetail(const std::wstring& detail) {
    onScreen_ = [detail](const Screen& s) {
      if (s.detail == detail) g_cancelRequested = true;
    };
  }

  // Inside read number `read` of the request for urlPath.
  void CancelAtRead(const std::wstring& urlPath, int read) {
    fake::OnHttpRead([urlPath, read](int index) {
      if (fake::HttpRequests().back().objectName == urlPath && index == read) {
        g_cancelRequested = true;
      }
    });
  }

  // While a started program runs: schtasks.exe when `pattern` is kSchtasks, an
  // installer otherwise.
  void CancelWhileRunning(const std::wstring& pattern) {
    fake::SetProcessScript(pattern, Exits(0, 500));
    const bool command = pattern == kSchtasks;
    fake::OnProcessStart([command](const fake::ProcessStart& start) {
      if ((start.program == kSchtasks) == command) g_cancelRequested = true;
    });
  }

  uint64_t ClockAtFirst(int32_t percent) {
    for (size_t i = 0; i < screens_.size(); ++i) {
      if (screens_[i].percent == percent) return clock_[i];
    }
    ADD_FAILURE() << "no screen at " << percent << "%";
    return 0;
  }

  std::vector<Screen> screens_;
  std::vector<bool> busy_;
  std::vector<uint64_t> clock_;
  std::vector<bool> boxBusy_;
  std::vector<bool> loaderAtBox_;
  std::function<void(const Screen&)> onScreen_;
  platform::Handle held_ = nullptr;
};

const std::vector<std::string> kEverything = {"folder",  "loader", "app",  "shortcut",
                                              "updater", "task",   "entry"};

TEST_F(InstallSequenceTest, CleanInstallWithBothRuntimesShowsEachStepInTurn) {
  EXPECT_TRUE(Run());
  EXPECT_EQ(kCleanRun, screens_);
  EXPECT_EQ(kEverything, Made());
  EXPECT_TRUE(fake::MessageBoxes().empty()) << fake::MessageBoxes().size() << " boxes shown";
  EXPECT_EQ(0u, fake::ClockMs()) << "no pause without a runtime installed";
  std::vector<std::wstring> fetched;
  for (const auto& r : fake::HttpRequests()) fetched.push_back(r.host + r.objectName);
  EXPECT_EQ((std::vector<std::wstring>{L"deploy.maretto.example/executable/WebView2Loader.dll",
                                       L"deploy.maretto.example/executable/Velquist.exe"}),
            fetched);
  ASSERT_TRUE(fake::ShellLinkAt(kShortcut).has_value());
  EXPECT_EQ(kApp, fake::ShellLinkAt(kShortcut)->path);
}

TEST_F(InstallSequenceTest, UpdateReplacesFilesCopyTaskAndEntry) {
  fake::AddFile(kLoader, "old loader");
  fake::AddFile(kApp, "old app");
  fake::AddFile(kUpdater, "old updater");
  fake::AddFile(kShortcut, "old shortcut");
  fake::SetRegistryValue(kHkeyLocalMachine, kEntryKey, L"DisplayVersion", platform::kRegSz,
                         fake::RegSz(L"0.9.0"));
  fake::SetRegistryValue(kHkeyLocalMachine, kEntryKey, L"Custom", platform::kRegSz,
                         fake::RegSz(L"kept"));

  EXPECT_TRUE(Run());
  EXPECT_EQ(kCleanRun, screens_) << "an update runs the same steps";
  EXPECT_EQ(kEverything, Made());
  std::string version;
  bool customKept = false;
  for (const auto& v : fake::RegistryValues(kHkeyLocalMachine, kEntryKey)) {
    if (v.name == L"DisplayVersion") version = v.data;
    if (v.name == L"Custom") customKept = v.data == fake::RegSz(L"kept");
  }
  EXPECT_EQ(fake::RegSz(L"1.0.0"), version) << "DisplayVersion rewritten";
  EXPECT_TRUE(customKept) << "values of others are left alone";
  ASSERT_EQ(1u, fake::ProcessStarts().size());
  EXPECT_NE(std::wstring::npos, fake::ProcessStarts()[0].commandLine.find(L"/Create /F"))
      << fake::ToUtf8(fake::ProcessStarts()[0].commandLine);
}

// ---- Missing runtimes ----

TEST_F(InstallSequenceTest, MissingRuntimesAreInstalledAndOnlyWebView2IsFollowedByAPause) {
  const std::vector<Screen> vcHead = {
      {5, L"Ready", L""},
      {5, kChecking, L""},
      {5, kChecking, kVc},
      {5, kPrereqs, kVc},
      {5, kPrereqs, L"Downloading Visual C++ Redistributable..."},
      {5, kPrereqs, L"Installing Visual C++ Redistributable..."},
      {20, kPrereqs, L"Installing Visual C++ Redistributable..."},
      {20, kPrereqs, kWv2},
  };
  const std::vector<Screen> wv2Head = {
      {5, L"Ready", L""},
      {5, kChecking, L""},
      {5, kChecking, kVc},
      {20, kChecking, kVc},
      {20, kChecking, kWv2},
      {20, kPrereqs, kWv2},
      {20, kPrereqs, L"Downloading WebView2 Runtime..."},
      {20, kPrereqs, L"Installing WebView2 Runtime..."},
  };
  // The status is set again to the same text: one more repaint.
  const std::vector<Screen> bothHead =
      Join(vcHead, {{20, kPrereqs, kWv2},
                    {20, kPrereqs, L"Downloading WebView2 Runtime..."},
                    {20, kPrereqs, L"Installing WebView2 Runtime..."}});
  // The status line still reads "Installing prerequisites..." at 40 %.
  auto to40 = [](const std::wstring& detail) {
    return Join({{40, kPrereqs, detail}, {40, kInstalling, detail}}, kTail);
  };
  struct Row {
    const char* name;
    bool vc, wv2;
    uint32_t exitCode;
    std::vector<Screen> screens;
    uint64_t clockAt40;  // each installer runs 700 ms
    std::vector<std::wstring> arguments;  // of the installers started, in order
  };
  const std::wstring vcArgs = L"/install /quiet /norestart";
  const std::wstring wv2Args = L"/silent /install";
  const std::wstring wv2Installing = L"Installing WebView2 Runtime...";
  const std::vector<Row> rows = {
      {"Visual C++ exits 0", false, true, 0, Join(vcHead, to40(kWv2)), 700, {vcArgs}},
      {"Visual C++ exits 3010", false, true, 3010, Join(vcHead, to40(kWv2)), 700, {vcArgs}},
      {"Visual C++ exits 1638", false, true, 1638, Join(vcHead, to40(kWv2)), 700, {vcArgs}},
      {"WebView2 exits 0", true, false, 0, Join(wv2Head, to40(wv2Installing)), 2700, {wv2Args}},
      {"WebView2 exits 3010", true, false, 3010, Join(wv2Head, to40(wv2Installing)), 2700,
       {wv2Args}},
      {"WebView2 exits 1638", true, false, 1638, Join(wv2Head, to40(wv2Installing)), 2700,
       {wv2Args}},
      {"both exit 0", false, false, 0, Join(bothHead, to40(wv2Installing)), 3400,
       {vcArgs, wv2Args}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh(row.vc, row.wv2);
    fake::SetProcessScript(kInstallerPattern, Exits(row.exitCode, 700));
    EXPECT_TRUE(Run());
    EXPECT_EQ(row.screens, screens_);
    EXPECT_EQ(row.clockAt40, ClockAtFirst(40)) << "installers' run time and the pause";
    EXPECT_EQ(row.clockAt40, fake::ClockMs()) << "nothing else waits";
    std::vector<std::wstring> arguments;
    for (const auto& start : fake::ProcessStarts()) {
      std::wstring quoted = L"\"" + start.program + L"\" ";
      if (start.program != kSchtasks && start.commandLine.compare(0, quoted.size(), quoted) == 0) {
        arguments.push_back(start.commandLine.substr(quoted.size()));
      }
    }
    EXPECT_EQ(row.arguments, arguments);
    EXPECT_TRUE(fake::MessageBoxes().empty()) << fake::MessageBoxes().size() << " boxes shown";
    EXPECT_EQ(kEverything, Made());
  }
}

// ---- Fatal failures ----

TEST_F(InstallSequenceTest, FatalFailureShowsItsBoxAndStops) {
  struct Row {
    const char* name;
    bool vc, wv2;
    std::function<void()> setUp;
    std::wstring text;
    std::wstring caption;
    Screen last;  // the failing step stays on screen
    std::vector<std::string> made;
  };
  const Screen vcInstalling{5, kPrereqs, L"Installing Visual C++ Redistributable..."};
  const Screen vcDownloading{5, kPrereqs, L"Downloading Visual C++ Redistributable..."};
  const Screen wv2Installing{20, kPrereqs, L"Installing WebView2 Runtime..."};
  const Screen wv2Downloading{20, kPrereqs, L"Downloading WebView2 Runtime..."};
  const Screen folderStep{40, kInstalling, L"Creating installation directory"};
  const Screen loaderStep{50, kInstalling, L"Downloading WebView2Loader.dll"};
  const Screen appStep{70, kInstalling, L"Downloading application files"};
  const std::wstring vcFail = L"Failed to install Visual C++ Redistributable.\n\n";
  const std::wstring wv2Fail = L"Failed to install WebView2 Runtime.\n\n";
  const std::wstring folderFail = L"Failed to create installation directory.\n\nError code: ";
  const std::wstring folderAdvice =
      L"\n\nPlease ensure you have administrator privileges and the disk has free space.";
  const std::wstring loaderFail = L"Failed to download WebView2Loader.dll.\n\n";
  const std::wstring appFail = L"Failed to download application.\n\n";
  const std::wstring installError = L"Installation Error";
  const std::wstring downloadError = L"Download Error";
  auto serve = [](const std::wstring& url, fake::HttpResponse r) {
    return [url, r] { fake::SetHttpResponse(url, r); };
  };
  auto installerExits = [](uint32_t code) {
    return [code] { fake::SetProcessScript(kInstallerPattern, Exits(code)); };
  };
  fake::HttpResponse broken;
  broken.chunks = {"MZ part", " never arrives"};
  broken.failReadAt = 1;
  fake::HttpResponse toHttp = Status(302);
  toHttp.location = L"http://go.microsoft.com/fwlink/p/?LinkId=2124703";

  const std::vector<Row> rows = {
      {"Visual C++ installer not found", false, true, serve(kVcUrl, Status(404)),
       vcFail + L"Download failed: HTTP error 404" + kVcAdvice, installError, vcDownloading, {}},
      {"Visual C++ installer fails", false, true, installerExits(1603),
       vcFail + L"Installer returned error code 1603" + kVcAdvice, installError, vcInstalling, {}},
      {"WebView2 bootstrapper not found", true, false, serve(kWebView2Url, Status(404)),
       wv2Fail + L"Download failed: HTTP error 404" + kWv2Advice, installError, wv2Downloading, {}},
      {"WebView2 bootstrapper redirected to plain HTTP", true, false, serve(kWebView2Url, toHttp),
       wv2Fail + L"Download failed: Failed to receive HTTP response (error 12156)" + kWv2Advice,
       installError, wv2Downloading, {}},
      {"WebView2 bootstrapper fails", true, false, installerExits(1),
       wv2Fail + L"Installer returned error code 1" + kWv2Advice, installError, wv2Installing, {}},
      {"install folder: creation denied", true, true,
       [] {
         fake::AddDirectory(L"C:\\Program Files\\Maretto");
         fake::DenyCreateIn(L"C:\\Program Files\\Maretto");
       },
       folderFail + L"5" + folderAdvice, installError, folderStep, {}},
      {"install folder: a link in place of its parent", true, true,
       [] { fake::AddJunction(L"C:\\Program Files\\Maretto", L"C:\\Users\\Public"); },
       folderFail + L"1921" + folderAdvice, installError, folderStep, {}},
      {"install folder: a file where a parent should be", true, true,
       [] { fake::AddFile(L"C:\\Program Files\\Maretto", "a file"); },
       folderFail + L"3" + folderAdvice, installError, folderStep, {}},
      {"loader not found", true, true, serve(kLoaderUrl, Status(404)),
       loaderFail + L"HTTP error 404" + kNetAdvice, downloadError, loaderStep, {"folder"}},
      {"loader transfer broken after data", true, true, serve(kLoaderUrl, broken),
       loaderFail + L"Download interrupted (error 12030)" + kNetAdvice, downloadError, loaderStep,
       {"folder"}},
      {"application not found", true, true, serve(kAppUrl, Status(404)),
       appFail + L"HTTP error 404" + kNetAdvice, downloadError, appStep, {"folder"}},
      {"installed application held open, and the restart queue refused", true, true,
       [this] {
         fake::AddFile(kApp, "running app");
         held_ = fake::HoldOpen(kApp, 0x1 /* FILE_SHARE_READ */);
         fake::FailDelayedMoves(platform::kErrorAccessDenied);
       },
       L"Failed to replace Velquist.exe.\n\nError code: 32\n\nPlease close Tessaline and try again.",
       installError, Screen{90, kFinishing, L"Creating updater"}, {"folder", "shortcut", "updater"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh(row.vc, row.wv2);
    row.setUp();
    EXPECT_FALSE(Run());
    ExpectErrorBox(row.text, row.caption);
    ASSERT_FALSE(screens_.empty());
    EXPECT_EQ(row.last, screens_.back());
    EXPECT_EQ(row.made, Made());
  }
}

TEST_F(InstallSequenceTest, FailedApplicationDownloadDeletesTheLoaderOnlyAfterTheBox) {
  for (bool update : {false, true}) {
    SCOPED_TRACE(update ? "update" : "first install");
    Fresh();
    fake::SetHttpResponse(kAppUrl, Status(503));
    fake::AddFile(kFolder + L"\\settings.json", "user data");
    if (update) fake::AddFile(kLoader, "old loader");
    EXPECT_FALSE(Run());
    ASSERT_EQ(1u, loaderAtBox_.size());
    EXPECT_TRUE(loaderAtBox_[0]) << "the new loader was already gone while the box was open";
    std::vector<std::wstring> left = {kFolder, kFolder + L"\\settings.json"};
    if (update) left.push_back(kLoader);
    EXPECT_EQ(left, fake::ListTree(kFolder));
    if (update) {
      EXPECT_EQ(std::optional<std::string>("old loader"), fake::FileContent(kLoader));
    }
  }
}

TEST_F(InstallSequenceTest, FailedWebView2InstallIsNotFollowedByThePause) {
  Fresh(true, false);
  fake::SetProcessScript(kInstallerPattern, Exits(1603, 700));
  EXPECT_FALSE(Run());
  EXPECT_EQ(700u, fake::ClockMs());
}

// ---- Cancel ----

TEST_F(InstallSequenceTest, CancelStopsAtTheNextCheck) {
  struct Row {
    const char* name;
    bool vc, wv2;
    std::function<void()> arm;
    bool result;
    Screen last;
    std::vector<std::string> made;
    std::wstring box;  // empty: none
    std::wstring caption;
  };
  const std::wstring vcCancelled = L"Failed to install Visual C++ Redistributable.\n\n"
                                   L"Download failed: Download cancelled by user";
  const std::vector<Row> rows = {
      {"before the WebView2 step", true, true, [this] { CancelAtScreenWithDetail(kVc); }, false,
       {5, kChecking, kVc}, {}},
      {"while the Visual C++ installer runs", false, true,
       [this] { CancelWhileRunning(kInstallerPattern); }, false,
       {5, kPrereqs, L"Installing Visual C++ Redistributable..."}, {}},
      {"before the install folder", true, true, [this] { CancelAtScreenWithDetail(kWv2); }, false,
       {20, kChecking, kWv2}, {}},
      {"while the WebView2 installer runs", true, false,
       [this] { CancelWhileRunning(kInstallerPattern); }, false,
       {20, kPrereqs, L"Installing WebView2 Runtime..."}, {}},
      {"before the loader download", true, true,
       [this] { CancelAtScreenWithDetail(L"Creating installation directory"); }, false,
       {40, kInstalling, L"Creating installation directory"}, {"folder"}},
      {"after the loader's last read", true, true,
       [this] { CancelAtRead(L"/executable/WebView2Loader.dll", 1); }, false,
       {50, kInstalling, L"Downloading WebView2Loader.dll"}, {"folder"}},
      {"after the application's last read", true, true,
       [this] { CancelAtRead(L"/executable/Velquist.exe", 1); }, false,
       {70, kInstalling, L"Downloading application files"}, {"folder"}},
      {"before the updater copy", true, true,
       [this] { CancelAtScreenWithDetail(L"Creating desktop shortcut"); }, false,
       {85, kFinishing, L"Creating desktop shortcut"}, {"folder", "shortcut"}},
      {"before the task", true, true, [this] { CancelAtScreenWithDetail(L"Creating updater"); },
       false, {90, kFinishing, L"Creating updater"}, {"folder", "shortcut", "updater"}},
      {"after the last check", true, true,
       [this] { CancelAtScreenWithDetail(L"Scheduling automatic updates"); }, true, kLastScreen,
       kEverything},
      {"while the task command runs", true, true, [this] { CancelWhileRunning(kSchtasks); }, true,
       kLastScreen, kEverything},
      {"while the entry is written", true, true,
       [this] { CancelAtScreenWithDetail(L"Registering application"); }, true, kLastScreen,
       kEverything},
      {"during the Visual C++ download", false, true,
       [this] { CancelAtRead(L"/vs/17/release/vc_redist.x64.exe", 0); }, false,
       {5, kPrereqs, L"Downloading Visual C++ Redistributable..."}, {}, vcCancelled + kVcAdvice,
       L"Installation Error"},
      {"during the loader download", true, true,
       [this] { CancelAtRead(L"/executable/WebView2Loader.dll", 0); }, false,
       {50, kInstalling, L"Downloading WebView2Loader.dll"}, {"folder"},
       L"Failed to download WebView2Loader.dll.\n\nDownload cancelled by user" + kNetAdvice,
       L"Download Error"},
      {"during the application download", true, true,
       [this] { CancelAtRead(L"/executable/Velquist.exe", 0); }, false,
       {70, kInstalling, L"Downloading application files"}, {"folder"},
       L"Failed to download application.\n\nDownload cancelled by user" + kNetAdvice,
       L"Download Error"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh(row.vc, row.wv2);
    row.arm();
    EXPECT_EQ(row.result, Run());
    ASSERT_FALSE(screens_.empty());
    EXPECT_EQ(row.last, screens_.back());
    EXPECT_EQ(row.made, Made());
    if (row.box.empty()) {
      EXPECT_TRUE(fake::MessageBoxes().empty()) << fake::MessageBoxes().size() << " boxes shown";
    } else {
      ExpectErrorBox(row.box, row.caption);
    }
    EXPECT_TRUE(g_cancelRequested.load()) << "the cancel was never requested";
  }
}

// ---- Trace lines of the steps that go on after a failure ----

TEST_F(InstallSequenceTest, NonFatalFailuresAreTracedAndTheInstallCompletes) {
  struct Row {
    const char* name;
    std::function<void()> setUp;
    std::vector<std::string> trace;
    std::vector<std::string> made;
    uint64_t clock;
  };
  const std::string registered = "[Install] Registered in Add/Remove Programs\n";
  const std::string noShortcut = "[Install] Failed to create desktop shortcut\n";
  fake::ProcessScript cmdMissing;
  cmdMissing.startError = 2;
  fake::ProcessScript hangs;
  hangs.neverExits = true;
  const std::vector<std::string> noLink = {"folder", "loader", "app", "updater", "task", "entry"};
  const std::vector<Row> rows = {
      {"nothing fails", [] {}, {registered}, kEverything, 0},
      {"no desktop folder", [] { platform::RemoveDirectoryW(fake::kDesktopFolder); },
       {noShortcut, registered}, noLink, 0},
      {"shortcut cannot be saved",
       [] { fake::FailNextShellLink(fake::ShellLinkStep::kSave, platform::kEAccessDenied); },
       {noShortcut, registered}, noLink, 0},
      {"schtasks exits 1", [] { fake::SetProcessScript(kSchtasks, Exits(1)); },
       {"[Install] schtasks returned: 1\n", registered}, kEverything, 0},
      {"schtasks.exe cannot start", [cmdMissing] { fake::SetProcessScript(kSchtasks, cmdMissing); },
       {"[Install] Failed to create scheduled task process: 2\n", registered},
       {"folder", "loader", "app", "shortcut", "updater", "entry"}, 0},
      {"task command still running after 10 s", [hangs] { fake::SetProcessScript(kSchtasks, hangs); },
       {"[Install] schtasks returned: 259\n", registered}, kEverything, 10000},
      {"entry key denied",
       [] {
         fake::DenyRegistryWrites(kHkeyLocalMachine,
                                  L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
       },
       {"[Install] Failed to create uninstall registry key: 5\n"},
       {"folder", "loader", "app", "shortcut", "updater", "task"}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    row.setUp();
    EXPECT_TRUE(Run());
    EXPECT_EQ(kCleanRun, screens_);
    EXPECT_EQ(row.trace, fake::TraceLines());
    EXPECT_EQ(row.made, Made());
    EXPECT_EQ(row.clock, fake::ClockMs());
    EXPECT_TRUE(fake::MessageBoxes().empty()) << fake::MessageBoxes().size() << " boxes shown";
  }
}

TEST_F(InstallSequenceTest, RunningAsTheUpdaterCopyLeavesItAndCompletes) {
  const std::string lastWeek = fake::SignedContent("MZ updater from last week", kMaretto);
  fake::AddFile(kUpdater, lastWeek);
  fake::SetModuleFileName(kUpdater);
  EXPECT_TRUE(Run());
  EXPECT_EQ(kCleanRun, screens_);
  EXPECT_EQ(std::optional<std::string>(lastWeek), fake::FileContent(kUpdater));
  EXPECT_EQ((std::vector<std::string>{"[Install] Running as the updater copy: left as it is\n",
                                      "[Install] Registered in Add/Remove Programs\n",
                                      "[Install] No setup published: the updater stays as it is\n"}),
            fake::TraceLines());
  EXPECT_EQ((std::vector<std::string>{"folder", "loader", "app", "shortcut", "task", "entry"}),
            Made());
}

// ---- The installed pair ----

const std::wstring kMutexName = L"Global\\TessalineSetupMutex";

// What a kill looks like from the inside: the program stops where it is.
struct Killed {};

bool IsLeftover(const std::wstring& path) {
  for (const wchar_t* suffix : {L".tsl-new", L".tsl-old", L".tsl-restart"}) {
    std::wstring tail = suffix;
    if (path.size() > tail.size() && path.substr(path.size() - tail.size()) == tail) return true;
  }
  return false;
}

class InstalledPairTest : public InstallSequenceTest {
 protected:
  // Both downloads in two chunks, so a point "mid-body" exists.
  void Serve() {
    fake::HttpResponse loader = Body(kLoaderBytes);
    loader.chunks = {kLoaderBytes.substr(0, 5), kLoaderBytes.substr(5)};
    fake::HttpResponse app = Body(kAppBytes);
    app.chunks = {kAppBytes.substr(0, 5), kAppBytes.substr(5)};
    fake::SetHttpResponse(kLoaderUrl, loader);
    fake::SetHttpResponse(kAppUrl, app);
  }

  void ExpectPair(const std::optional<std::string>& loader, const std::optional<std::string>& app) {
    EXPECT_EQ(loader, fake::FileContent(kLoader)) << "installed loader";
    EXPECT_EQ(app, fake::FileContent(kApp)) << "installed application";
  }

  // No old file is lost: its bytes are somewhere in the install folder.
  void ExpectKept(const std::optional<std::string>& content) {
    if (!content) return;
    bool found = false;
    for (const std::wstring& path : fake::ListTree(kFolder)) found |= fake::FileContent(path) == content;
    EXPECT_TRUE(found) << "lost: " << *content;
  }

  // Both new files wait under names of their own to replace the installed
  // ones at the restart, in the swap's order.
  void ExpectQueuedPair() {
    ASSERT_EQ(2u, fake::PendingMoves().size());
    const std::wstring installed[] = {kApp, kLoader};
    const std::string bytes[] = {kAppBytes, kLoaderBytes};
    for (int i = 0; i < 2; ++i) {
      const fake::PendingMove& move = fake::PendingMoves()[i];
      EXPECT_EQ(installed[i], move.to);
      EXPECT_EQ(std::optional<std::string>(bytes[i]), fake::FileContent(move.from));
      EXPECT_TRUE(move.flags & platform::kMovefileReplaceExisting);
    }
  }

  void ExpectNoLeftovers() {
    for (const std::wstring& path : fake::ListTree(kFolder)) {
      EXPECT_FALSE(IsLeftover(path)) << "left behind: " << fake::ToUtf8(path);
    }
  }

  // The installed application, running with the modules given loaded.
  static platform::Handle StartApp(const std::vector<std::wstring>& modules) {
    fake::ProcessScript running;
    running.neverExits = true;
    running.loadsModules = modules;
    fake::SetProcessScript(kApp, running);
    return fake::RunProgram(kApp);
  }

  static void EndApp(platform::Handle app) {
    platform::TerminateProcess(app, 0);
    platform::WaitForSingleObject(app, 1000);
    platform::CloseHandle(app);
  }

  // Runs RunInstall until a hook throws Killed, then ends the "process".
  void RunUntilKilled() {
    bool killed = false;
    try {
      RunInstall();
    } catch (const Killed&) {
      killed = true;
    }
    EXPECT_TRUE(killed) << "the run was never stopped at the point";
    fake::OnHttpRead(nullptr);
    fake::OnMoveFile(nullptr);
    fake::SimulateKill();
    g_operationInProgress = false;
  }
};

// kHeld: someone holds an installed file, so the run queues the new pair
// for the restart; kPutBackFails: the undo of a failed swap fails too.
enum class How { kFail, kCancel, kKill, kHeld, kPutBackFails };

struct EndPoint {
  std::string name;
  How how;
  std::function<void()> arm;
  std::wstring held = {};  // kHeld: the installed file someone holds
};

std::vector<EndPoint> EndPoints(bool update) {
  std::vector<EndPoint> points;
  const std::wstring paths[] = {L"/executable/WebView2Loader.dll", L"/executable/Velquist.exe"};
  const std::wstring urls[] = {kLoaderUrl, kAppUrl};
  const std::string bodies[] = {kLoaderBytes, kAppBytes};
  for (int file = 0; file < 2; ++file) {
    const std::string label = file == 0 ? "loader" : "application";
    const std::wstring path = paths[file];
    // Read 0 is the first after the file is created; read 2 finds the end
    // of the body, just before the flush.
    for (int read : {0, 1, 2}) {
      const std::string at = label + (read == 0 ? " at open" : read == 1 ? " mid-body" : " at the flush");
      points.push_back({at + ", killed", How::kKill, [path, read] {
                          fake::OnHttpRead([path, read](int index) {
                            if (fake::HttpRequests().back().objectName == path && index == read) {
                              throw Killed{};
                            }
                          });
                        }});
      if (read < 2) {
        points.push_back({at + ", cancelled", How::kCancel, [path, read] {
                            fake::OnHttpRead([path, read](int index) {
                              if (fake::HttpRequests().back().objectName == path && index == read) {
                                g_cancelRequested = true;
                              }
                            });
                          }});
      }
    }
    const std::wstring url = urls[file];
    const std::string body = bodies[file];
    points.push_back({label + " connection broken mid-body", How::kFail, [url, body] {
                        fake::HttpResponse r = Body(body);
                        r.chunks = {body.substr(0, 5), body.substr(5)};
                        r.failReadAt = 1;
                        fake::SetHttpResponse(url, r);
                      }});
    points.push_back({label + " flush fails", How::kFail, [file] {
                        fake::OnHttpRead([file](int index) {
                          if (index != 0) return;
                          for (const std::wstring& p : fake::ListTree(kFolder)) {
                            std::wstring base = file == 0 ? kLoader : kApp;
                            if (p.compare(0, base.size() + 1, base + L".") == 0 && IsLeftover(p)) {
                              fake::FailFlushOf(p, platform::kErrorHandleDiskFull);
                            }
                          }
                        });
                      }});
  }
  // The swap: app aside and in, loader aside and in (an update); for a
  // first install only the two moves in.
  const int renames = update ? 4 : 2;
  for (int n = 0; n < renames; ++n) {
    std::vector<How> hows = {How::kFail, How::kKill};
    if (update && n > 0) hows.push_back(How::kPutBackFails);
    for (How how : hows) {
      const char* what = how == How::kKill ? ", killed" : how == How::kFail ? ", fails" : ", fails and a put-back fails";
      points.push_back({"rename " + std::to_string(n) + what, how, [n, how] {
                          auto calls = std::make_shared<int>(0);
                          fake::OnMoveFile([n, how, calls](const std::wstring& from,
                                                           const std::wstring& to) -> uint32_t {
                            // Only the renames of the application's two files.
                            auto ours = [](const std::wstring& path) {
                              return path.compare(0, kApp.size(), kApp) == 0 ||
                                     path.compare(0, kLoader.size(), kLoader) == 0;
                            };
                            if (!ours(from) && !ours(to)) return 0;
                            int call = (*calls)++;
                            if (call == n && how == How::kKill) throw Killed{};
                            if (call == n || (how == How::kPutBackFails && call > n)) {
                              return platform::kErrorHandleDiskFull;
                            }
                            return 0;
                          });
                        }});
    }
  }
  if (update) {
    for (const std::wstring& installed : {kApp, kLoader}) {
      points.push_back({fake::ToUtf8(installed) + " held without delete sharing", How::kHeld,
                        [] {}, installed});
    }
  }
  for (const wchar_t* detail :
       {L"Visual C++ Redistributable", L"WebView2 Runtime", L"Creating installation directory",
        L"Downloading WebView2Loader.dll", L"Downloading application files",
        L"Creating desktop shortcut", L"Creating updater"}) {
    points.push_back({"cancel after " + fake::ToUtf8(detail), How::kCancel, [] {}});
    std::wstring d = detail;
    points.back().arm = [d] {
      fake::OnMessageBox(nullptr);
      fake::OnHttpRead(nullptr);
      g_cancelOnDetail = d;
    };
  }
  return points;
}

TEST_F(InstalledPairTest, AnyEndBeforeSuccessKeepsTheOldPairAndTheNextRunCleansUp) {
  for (bool update : {false, true}) {
    for (const EndPoint& point : EndPoints(update)) {
      SCOPED_TRACE((update ? "update: " : "first install: ") + point.name);
      Fresh();
      Serve();
      g_cancelOnDetail.clear();
      onScreen_ = [](const Screen& s) {
        if (!g_cancelOnDetail.empty() && s.detail == g_cancelOnDetail) g_cancelRequested = true;
      };
      std::optional<std::string> oldLoader, oldApp;
      if (update) {
        oldLoader = "old loader";
        oldApp = "old app";
        fake::AddFile(kLoader, *oldLoader);
        fake::AddFile(kApp, *oldApp, platform::kFileAttributeReadonly);
      }
      point.arm();
      if (!point.held.empty()) held_ = fake::HoldOpen(point.held, platform::kFileShareRead);
      if (point.how == How::kKill) {
        RunUntilKilled();
      } else if (point.how == How::kHeld) {
        EXPECT_TRUE(Run());
        ExpectPair(oldLoader, oldApp);
        ExpectQueuedPair();
      } else {
        EXPECT_FALSE(Run());
        ExpectKept(oldLoader);
        ExpectKept(oldApp);
        if (point.how != How::kPutBackFails) {
          ExpectPair(oldLoader, oldApp);
          if (update) {
            EXPECT_EQ(platform::kFileAttributeReadonly, platform::GetFileAttributesW(kApp));
          }
          ExpectNoLeftovers();
        }
      }

      // The next run, which cannot download anything: what it repairs is
      // the old pair.
      fake::OnMoveFile(nullptr);
      fake::OnHttpRead(nullptr);
      g_cancelOnDetail.clear();
      g_cancelRequested = false;
      fake::SetHttpHostDown(L"deploy.maretto.example", platform::kErrorWinHttpCannotConnect);
      EXPECT_FALSE(Run());
      if (point.how == How::kHeld) {
        ExpectPair(kLoaderBytes, kAppBytes);  // the queued pair, at once
      } else {
        ExpectPair(oldLoader, oldApp);
      }
      ExpectNoLeftovers();
      EXPECT_FALSE(fake::MutexOwned(kMutexName)) << "a run left the setup lock held";
    }
  }
}

TEST_F(InstalledPairTest, UpdateWhileTheApplicationRunsCompletesAndLeavesItRunning) {
  fake::AddFile(kLoader, "old loader");
  fake::AddFile(kApp, "old app");
  platform::Handle app = StartApp({kLoader});

  EXPECT_TRUE(RunInstall());
  ExpectPair(kLoaderBytes, kAppBytes);
  EXPECT_TRUE(fake::ProcessOutcomes()[0].running);
  // Both old files are still in use: deleted at the next start of Windows.
  ASSERT_EQ(2u, fake::PendingMoves().size());
  for (const fake::PendingMove& move : fake::PendingMoves()) {
    EXPECT_TRUE(IsLeftover(move.from)) << fake::ToUtf8(move.from);
    EXPECT_EQ(L"", move.to);
    EXPECT_TRUE(fake::Exists(move.from));
  }
  std::optional<std::string> runningImage = fake::FileContent(fake::PendingMoves()[0].from);
  EXPECT_EQ(std::optional<std::string>("old app"), runningImage);

  // The application ends; the next run, even one that fails, removes them.
  EndApp(app);
  fake::SetHttpHostDown(L"deploy.maretto.example", platform::kErrorWinHttpCannotConnect);
  EXPECT_FALSE(Run());
  ExpectPair(kLoaderBytes, kAppBytes);
  ExpectNoLeftovers();
}

// Someone holds an installed file without delete sharing: the old pair
// stays as it was, attributes included, the new one waits for the restart.
TEST_F(InstalledPairTest, HeldFileQueuesThePairForTheRestart) {
  for (const std::wstring& held : {kApp, kLoader}) {
    SCOPED_TRACE(fake::ToUtf8(held));
    Fresh();
    fake::AddFile(kLoader, "old loader");
    fake::AddFile(kApp, "old app", platform::kFileAttributeReadonly);
    held_ = fake::HoldOpen(held, platform::kFileShareRead | platform::kFileShareWrite);
    EXPECT_TRUE(Run());
    ASSERT_EQ(1u, fake::MessageBoxes().size());
    EXPECT_EQ(L"Tessaline will be updated when you restart your computer.",
              fake::MessageBoxes()[0].text);
    EXPECT_EQ(L"Tessaline", fake::MessageBoxes()[0].caption);
    EXPECT_EQ(platform::kMbOk | platform::kMbIconInformation, fake::MessageBoxes()[0].type);
    EXPECT_TRUE(InstallWaitsForRestart());
    ExpectPair("old loader", "old app");
    ExpectQueuedPair();
    EXPECT_GE(fake::ClockMs(), 900u) << "a sharing violation is retried for about a second";

    fake::RestartWindows();
    ExpectPair(kLoaderBytes, kAppBytes);
    ExpectNoLeftovers();
  }
}

// A pair queued before a restart that never came is swapped in by the
// next run once the holder is gone, and an older queued pair never wins
// over a newer one.
TEST_F(InstalledPairTest, QueuedPairGoesInAtTheNextRunOnceTheHolderIsGone) {
  fake::AddFile(kLoader, "old loader");
  fake::AddFile(kApp, "old app");
  held_ = fake::HoldOpen(kApp, platform::kFileShareRead);
  EXPECT_TRUE(Run());
  ExpectQueuedPair();

  // Still held: stays queued, and this run's pair is queued after it.
  held_ = fake::HoldOpen(kApp, platform::kFileShareRead);
  Serve();
  EXPECT_TRUE(Run());
  EXPECT_EQ(4u, fake::PendingMoves().size());
  ExpectPair("old loader", "old app");

  fake::SetHttpHostDown(L"deploy.maretto.example", platform::kErrorWinHttpCannotConnect);
  EXPECT_FALSE(Run());
  ExpectPair(kLoaderBytes, kAppBytes);
  ExpectNoLeftovers();
  fake::RestartWindows();  // the queued moves find no source
  ExpectPair(kLoaderBytes, kAppBytes);
}

TEST_F(InstalledPairTest, ReadOnlyInstalledFilesAreReplaced) {
  fake::AddFile(kLoader, "old loader", platform::kFileAttributeReadonly);
  fake::AddFile(kApp, "old app", platform::kFileAttributeReadonly);
  EXPECT_TRUE(Run());
  ExpectPair(kLoaderBytes, kAppBytes);
  ExpectNoLeftovers();
}

TEST_F(InstalledPairTest, BackupWhoseInstalledNameIsMissingIsPutBack) {
  // Killed between renaming the application aside and moving the new one
  // in, and the staged file of that run is gone.
  fake::AddFile(kLoader, "old loader");
  fake::AddFile(kApp + L".7.tsl-old", "old app");
  fake::SetHttpHostDown(L"deploy.maretto.example", platform::kErrorWinHttpCannotConnect);
  EXPECT_FALSE(Run());
  ExpectPair("old loader", "old app");
  ExpectNoLeftovers();
}

// A restart that carried out only the application's move, and the loader
// held again at the next run: the pair stays queued, the application in place.
TEST_F(InstalledPairTest, HalfCarriedOutQueueStaysQueuedWhileHeld) {
  fake::AddFile(kLoader, "old loader");
  fake::AddFile(kApp, "old app");
  held_ = fake::HoldOpen(kApp, platform::kFileShareRead);
  EXPECT_TRUE(Run());
  ExpectQueuedPair();
  const fake::PendingMove first = fake::PendingMoves()[0];
  ASSERT_TRUE(platform::MoveFileExW(first.from, first.to, platform::kMovefileReplaceExisting));

  held_ = fake::HoldOpen(kLoader, platform::kFileShareRead);
  fake::SetHttpHostDown(L"deploy.maretto.example", platform::kErrorWinHttpCannotConnect);
  EXPECT_FALSE(Run());
  ExpectPair("old loader", kAppBytes);
  EXPECT_EQ(std::optional<std::string>(kLoaderBytes), fake::FileContent(fake::PendingMoves()[1].from));

  EXPECT_FALSE(Run());  // the holder gone
  ExpectPair(kLoaderBytes, kAppBytes);
  ExpectNoLeftovers();
}

// Killed inside its swap, then the next run cannot put the old application
// back (the half-swapped new one runs): that run stops with every backup
// kept, and the one after the program ends restores the old pair.
TEST_F(InstalledPairTest, FailedPutBackInTheRepairKeepsEveryBackup) {
  fake::AddFile(kLoader, "old loader");
  fake::AddFile(kApp, kAppBytes);
  fake::AddFile(kApp + L".4.tsl-old", "old app");
  fake::AddFile(kLoader + L".4.tsl-new", kLoaderBytes);
  platform::Handle app = StartApp({});

  EXPECT_FALSE(RunInstall());
  ASSERT_EQ(1u, fake::MessageBoxes().size());
  EXPECT_EQ(L"Installation Error", fake::MessageBoxes()[0].caption);
  EXPECT_EQ(std::optional<std::string>("old app"), fake::FileContent(kApp + L".4.tsl-old"));
  EXPECT_EQ(std::optional<std::string>(kLoaderBytes), fake::FileContent(kLoader + L".4.tsl-new"));
  EXPECT_TRUE(fake::HttpRequests().empty()) << "went on after a failed repair";

  EndApp(app);
  fake::SetHttpHostDown(L"deploy.maretto.example", platform::kErrorWinHttpCannotConnect);
  EXPECT_FALSE(Run());
  ExpectPair("old loader", "old app");
  ExpectNoLeftovers();
}

// A backup queued for deletion at the restart may be gone from the folder
// long before the restart; no later run gives its name to a file.
TEST_F(InstalledPairTest, NoNameQueuedForTheRestartIsUsedAgain) {
  fake::AddFile(kLoader, "old loader");
  fake::AddFile(kApp, "old app");
  platform::Handle app = StartApp({});
  EXPECT_TRUE(RunInstall());
  EndApp(app);
  std::vector<fake::PendingMove> queued = fake::PendingMoves();
  ASSERT_FALSE(queued.empty());

  for (int run = 0; run < 2; ++run) {
    // The folder as the previous run left it, the leftovers gone.
    for (const std::wstring& path : fake::ListTree(kFolder)) {
      if (IsLeftover(path)) platform::DeleteFileW(path);
    }
    std::vector<std::wstring> made;
    fake::OnMoveFile([&made](const std::wstring&, const std::wstring& to) {
      made.push_back(to);
      return 0u;
    });
    Serve();
    EXPECT_TRUE(Run());
    fake::OnMoveFile(nullptr);
    for (const std::wstring& name : made) {
      for (const fake::PendingMove& move : queued) {
        EXPECT_NE(move.from, name) << "reused " << fake::ToUtf8(name);
      }
    }
  }
}

// ---- One setup at a time ----

TEST_F(InstallSequenceTest, OnlyOneSetupRunsAtATime) {
  struct Row {
    const char* name;
    fake::MutexHolder holder;
    bool runs;
    bool locked;  // the run holds the lock while it works
  };
  const std::vector<Row> rows = {
      {"nobody else", fake::MutexHolder::kNobody, true, true},
      {"another setup runs", fake::MutexHolder::kRunningSetup, false, false},
      {"a name whose access list denies us", fake::MutexHolder::kNoAccess, true, false},
      {"a name another account made and holds", fake::MutexHolder::kOtherAccount, true, false},
      {"a killed setup abandoned it", fake::MutexHolder::kKilledSetup, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    fake::AddFile(kApp, "old app");
    fake::SetMutexHolder(kMutexName, row.holder);
    std::vector<bool> heldWhileDownloading;
    fake::OnHttpRead([&](int) { heldWhileDownloading.push_back(fake::MutexOwned(kMutexName)); });
    EXPECT_EQ(row.runs, Run());
    EXPECT_FALSE(fake::MutexOwned(kMutexName)) << "still held after the run";
    EXPECT_EQ(0, fake::OpenMutexHandleCount());
    if (row.runs) {
      EXPECT_TRUE(fake::MessageBoxes().empty());
      ASSERT_FALSE(heldWhileDownloading.empty());
      for (bool held : heldWhileDownloading) EXPECT_EQ(row.locked, held);
      const std::string without =
          "[Install] Setup lock is held by another account: going on without it\n";
      EXPECT_EQ(!row.locked, fake::TraceLines()[0] == without) << fake::TraceLines()[0];
      continue;
    }
    ExpectErrorBox(L"Another Tessaline Setup is running.\n\nPlease wait for it to finish and try again.",
                   L"Installation Error");
    EXPECT_TRUE(fake::HttpRequests().empty()) << "a refused run touched the network";
    EXPECT_EQ(std::optional<std::string>("old app"), fake::FileContent(kApp));
    EXPECT_EQ((std::vector<std::wstring>{kFolder, kApp}), fake::ListTree(kFolder));
  }
}

TEST_F(InstallSequenceTest, SetupLockLetsOnlySystemAndAdministratorsIn) {
  fake::SetMutexHolder(kMutexName, fake::MutexHolder::kNobody);
  std::optional<std::wstring> security;
  fake::OnHttpRead([&](int) { security = fake::MutexSecurity(kMutexName); });
  EXPECT_TRUE(Run());
  EXPECT_EQ(std::optional<std::wstring>(L"D:P(A;;GA;;;SY)(A;;GA;;;BA)"), security);
  EXPECT_EQ(0, fake::LiveSecurityDescriptorCount());
}

}  // namespace

// ---- Only the publisher's files, never older ----

enum class SignedAs { kPublisher, kMicrosoft, kOther, kNone, kAltered };

std::string Signed(const std::string& content, SignedAs how) {
  switch (how) {
    case SignedAs::kPublisher: return fake::SignedContent(content, kMaretto);
    case SignedAs::kMicrosoft: return fake::SignedContent(content, fake::Signer{});
    case SignedAs::kOther: return fake::SignedContent(content, SignedBy(L"Contoso Ltd"));
    case SignedAs::kNone: return content;
    case SignedAs::kAltered: {
      std::string altered = fake::SignedContent(content, kMaretto);
      altered[3] ^= 0x20;
      return altered;
    }
  }
  return content;
}

TEST_F(InstalledPairTest, OnlyThePublishersFilesNotOlderThanTheInstalledOnesAreInstalled) {
  struct Signature {
    const char* name;
    SignedAs how;
    std::wstring appReason;  // empty: accepted
    std::wstring loaderReason;
  };
  const std::wstring otherSigner = L"Signature check failed (error 0x800B0004)";
  const Signature signatures[] = {
      {"publisher", SignedAs::kPublisher, L"", L""},
      {"Microsoft", SignedAs::kMicrosoft, otherSigner, L""},
      {"another subject", SignedAs::kOther, otherSigner, otherSigner},
      {"unsigned", SignedAs::kNone, L"Signature check failed (error 0x800B0100)",
       L"Signature check failed (error 0x800B0100)"},
      {"altered", SignedAs::kAltered, L"Signature check failed (error 0x80096010)",
       L"Signature check failed (error 0x80096010)"},
  };
  struct Version {
    const char* name;
    std::string program;
    std::wstring updateReason;  // over the installed 1.5.0.0; empty: accepted
  };
  const Version versions[] = {
      {"higher", fake::WithVersion("MZ Velquist", 1, 6, 0, 0), L""},
      {"equal", fake::WithVersion("MZ Velquist", 1, 5, 0, 0), L""},
      {"lower", fake::WithVersion("MZ Velquist", 1, 4, 9, 9),
       L"Older than the installed version 1.5.0.0"},
      {"none", "MZ Velquist", L"No version information"},
  };
  const std::string oldLoader = Signed("MZ old loader", SignedAs::kPublisher);
  const std::string oldApp = Signed(fake::WithVersion("MZ old app", 1, 5, 0, 0), SignedAs::kPublisher);
  for (bool setupSigned : {true, false}) {
    for (bool update : {false, true}) {
      for (bool application : {false, true}) {
        for (const Signature& signature : signatures) {
          for (const Version& version : versions) {
            if (!application && &version != &versions[0]) continue;
            SCOPED_TRACE(std::string(setupSigned ? "signed" : "unsigned") + " setup, " +
                         (update ? "update, " : "first install, ") +
                         (application ? "Velquist.exe " : "WebView2Loader.dll ") + signature.name +
                         (application ? std::string(", version ") + version.name : ""));
            Fresh();
            if (!setupSigned) fake::AddFile(kSetup, "MZ unsigned setup");
            if (update) {
              fake::AddFile(kLoader, oldLoader);
              fake::AddFile(kApp, oldApp);
            }
            const std::string served =
                Signed(application ? version.program : "MZ loader", signature.how);
            fake::SetHttpResponse(application ? kAppUrl : kLoaderUrl, Body(served));
            std::wstring reason = application ? signature.appReason : signature.loaderReason;
            if (application && reason.empty() && update) reason = version.updateReason;
            if (!setupSigned) reason.clear();

            EXPECT_EQ(reason.empty(), Run());
            ExpectNoLeftovers();
            EXPECT_EQ(setupSigned ? 0 : 1,
                      std::count(fake::TraceLines().begin(), fake::TraceLines().end(),
                                 "[Install] Setup is not signed: downloaded files are not checked\n"));
            if (reason.empty()) {
              EXPECT_EQ(served, fake::FileContent(application ? kApp : kLoader));
              EXPECT_TRUE(fake::MessageBoxes().empty());
              continue;
            }
            ExpectPair(update ? std::optional<std::string>(oldLoader) : std::nullopt,
                       update ? std::optional<std::string>(oldApp) : std::nullopt);
            ExpectErrorBox((application ? L"Failed to download application.\n\n"
                                        : L"Failed to download WebView2Loader.dll.\n\n") +
                               reason + kNetAdvice,
                           L"Download Error");
          }
        }
      }
    }
  }
}

// The weekly run (the installed updater) replaces itself only with a newer
// setup its own signer published; the application update stands either way.
TEST_F(InstallSequenceTest, UpdaterReplacesItselfOnlyWithANewerSetupOfItsPublisher) {
  const std::wstring setupUrl = L"https://deploy.maretto.example/executable/TessalineSetup.exe";
  const std::string running = Signed(fake::WithVersion("MZ updater", 1, 0, 0, 0), SignedAs::kPublisher);
  const std::string newerProgram = fake::WithVersion("MZ setup", 1, 0, 0, 1);
  const std::string newer = Signed(newerProgram, SignedAs::kPublisher);
  const std::string refused = "[Install] Published setup refused: Signature check failed (error 0x";
  struct Row {
    const char* name;
    bool updaterSigned;
    std::optional<std::string> served;  // nullopt: 404
    bool replaced;
    bool completes;
    std::string trace;
  };
  const Row rows[] = {
      {"nothing published", true, std::nullopt, false, true,
       "[Install] No setup published: the updater stays as it is\n"},
      {"newer, by the publisher", true, newer, true, true,
       "[Install] Updater replaced by the published setup 1.0.0.1\n"},
      {"same version", true, Signed(fake::WithVersion("MZ setup", 1, 0, 0, 0), SignedAs::kPublisher),
       false, true, "[Install] Published setup is not newer than the updater (1.0.0.0): left as it is\n"},
      {"older", true, Signed(fake::WithVersion("MZ setup", 0, 9, 0, 0), SignedAs::kPublisher), false,
       true, "[Install] Published setup is not newer than the updater (0.9.0.0): left as it is\n"},
      {"no version", true, Signed("MZ setup", SignedAs::kPublisher), false, true,
       "[Install] Published setup is not newer than the updater (no version): left as it is\n"},
      {"newer, unsigned", true, newerProgram, false, false, refused + "800B0100)\n"},
      {"newer, by Microsoft", true, Signed(newerProgram, SignedAs::kMicrosoft), false, false,
       refused + "800B0004)\n"},
      {"newer, altered", true, Signed(newerProgram, SignedAs::kAltered), false, false,
       refused + "80096010)\n"},
      {"unsigned updater", false, newer, false, true,
       "[Install] Updater is not signed: it does not replace itself\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    const std::string updater = row.updaterSigned ? running : "MZ unsigned updater";
    fake::AddFile(kUpdater, updater);
    fake::SetModuleFileName(kUpdater);
    if (row.served) fake::SetHttpResponse(setupUrl, Body(*row.served));
    EXPECT_EQ(row.completes, Run());
    EXPECT_EQ(kAppBytes, fake::FileContent(kApp)) << "the application update stands";
    EXPECT_EQ(row.replaced ? *row.served : updater, fake::FileContent(kUpdater));
    int count = 0;
    for (const std::string& line : fake::TraceLines()) count += line == row.trace;
    EXPECT_EQ(1, count) << "trace: " << ::testing::PrintToString(fake::TraceLines());
    EXPECT_EQ(std::vector<std::wstring>{}, [] {
      std::vector<std::wstring> staged;
      for (const std::wstring& path : fake::ListTree(kFolder)) {
        if (path.find(L"setup-new") != std::wstring::npos) staged.push_back(path);
      }
      return staged;
    }()) << "the fetched setup does not stay";
  }
}

// A standard user's program opens every staged file it sees for reading,
// sharing only reading, before every file call and rename of the run, and
// never lets go: it never gets one, and the run puts every file in place.
TEST_F(InstalledPairTest, NoReaderCanKeepAStagedFileFromGoingIn) {
  const std::wstring setupUrl = L"https://deploy.maretto.example/executable/TessalineSetup.exe";
  const std::string newer = Signed(fake::WithVersion("MZ setup", 1, 0, 0, 1), SignedAs::kPublisher);
  auto isStaged = [](const std::wstring& path) {
    for (const std::wstring tail : {L".tsl-new", L".setup-new", L".exe.new"}) {
      if (path.size() > tail.size() && path.compare(path.size() - tail.size(), tail.size(), tail) == 0) {
        return true;
      }
    }
    return false;
  };
  for (bool asUpdater : {false, true}) {
    SCOPED_TRACE(asUpdater ? "weekly run, a newer setup published" : "update from a setup");
    Fresh();
    fake::AddFile(kLoader, "old loader");
    fake::AddFile(kApp, "old app");
    if (asUpdater) {
      fake::AddFile(kUpdater, Signed(fake::WithVersion("MZ updater", 1, 0, 0, 0), SignedAs::kPublisher));
      fake::SetModuleFileName(kUpdater);
      fake::SetHttpResponse(setupUrl, Body(newer));
    }
    std::vector<std::wstring> tried;
    std::vector<platform::Handle> opened;
    auto read = [&] {
      for (const std::wstring& path : fake::ListTree(kFolder)) {
        if (!isStaged(path)) continue;
        if (std::find(tried.begin(), tried.end(), path) == tried.end()) tried.push_back(path);
        platform::Handle file = platform::CreateFileW(path, platform::kGenericRead, platform::kFileShareRead,
                                                      platform::kOpenExisting, platform::kFileAttributeNormal);
        if (file != platform::kInvalidHandleValue) opened.push_back(file);
      }
    };
    fake::OnFileCall([&](fake::FileCall, const std::wstring&) { read(); });
    fake::OnMoveFile([&](const std::wstring&, const std::wstring&) {
      read();
      return uint32_t{0};
    });
    EXPECT_TRUE(Run());
    fake::OnFileCall(nullptr);
    fake::OnMoveFile(nullptr);
    EXPECT_EQ(3u, tried.size()) << "the pair and the updater's new file were each tried";
    EXPECT_EQ(0u, opened.size()) << "a staged file was open to the reader";
    for (platform::Handle file : opened) platform::CloseHandle(file);
    ExpectPair(kLoaderBytes, kAppBytes);
    EXPECT_EQ(asUpdater ? newer : kSetupBytes, fake::FileContent(kUpdater));
    // The running updater's old file stays aside until the restart.
    if (!asUpdater) ExpectNoLeftovers();
  }
}
