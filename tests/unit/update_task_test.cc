#include "registration/update_task.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/fake/fake.h"
#include "platform/file.h"
#include "platform/process.h"
#include "registration/own_image.h"

namespace {

const std::wstring kSchtasks = L"C:\\Windows\\System32\\schtasks.exe";
const std::wstring kSetup = L"C:\\Users\\User\\Downloads\\TessalineSetup.exe";
const std::wstring kUpdater = L"C:\\Program Files\\Maretto\\TSL\\updater.exe";
const std::string kSetupBytes = std::string("MZ\0\x01setup program bytes", 24);

const std::wstring kCreateLine =
    L"\"C:\\Windows\\System32\\schtasks.exe\" /Create /F /TN \"Maretto\\TSL Updater\" /TR "
    L"\"\\\"C:\\Program Files\\Maretto\\TSL\\updater.exe\\\"\" "
    L"/SC WEEKLY /D SUN /ST 03:00 /RL HIGHEST /RU SYSTEM";
const std::wstring kDeleteLine =
    L"\"C:\\Windows\\System32\\schtasks.exe\" /Delete /F /TN \"Maretto\\TSL Updater\"";

class UpdateTaskTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override {
    ReleaseOwnImage();
    EXPECT_EQ(0, fake::OpenProcessHandleCount()) << "process or thread handle left open";
    EXPECT_EQ(0, fake::OpenFileHandleCount());
  }
  void Fresh() {
    ReleaseOwnImage();
    fake::Reset();
    fake::AddFile(kSchtasks, "MZ schtasks");
    fake::AddFile(kSetup, kSetupBytes);
    fake::AddDirectory(L"C:\\Program Files\\Maretto\\TSL");
  }
};

// ---- InstallUpdaterCopy ----

const std::wstring kMoved = L"C:\\Users\\User\\Downloads\\moved.exe";

// The updater is the elevated program's bytes, or stays as it was; no
// staging file stays behind and the copy is never read-only.
TEST_F(UpdateTaskTest, UpdaterCopyOutcomes) {
  struct Row {
    const char* name;
    std::function<void()> beforeHold;  // between the start and the hold
    std::function<void()> afterHold;   // between the hold and the copy
    std::vector<std::string> trace;
    std::string updater;  // its content afterwards, "<missing>" when none
    bool readOnlyAfter = false;
  };
  const std::vector<Row> rows = {
      {"first install", [] {}, [] {}, {}, kSetupBytes},
      {"an older updater is replaced", [] { fake::AddFile(kUpdater, "old updater"); }, [] {}, {},
       kSetupBytes},
      {"a read-only source gives a writable copy",
       [] { platform::SetFileAttributesW(kSetup, 0x1); }, [] {}, {}, kSetupBytes},
      {"running as the updater itself: left alone",
       [] {
         fake::AddFile(kUpdater, "the updater");
         fake::SetModuleFileName(kUpdater);
       },
       [] {}, {"[Install] Running as the updater copy: left as it is\n"}, "the updater"},
      {"install folder missing",
       [] { platform::RemoveDirectoryW(L"C:\\Program Files\\Maretto\\TSL"); }, [] {},
       {"[Install] Failed to copy updater: 3\n"}, "<missing>"},
      {"read-only updater is replaced", [] { fake::AddFile(kUpdater, "locked", 0x1); }, [] {}, {},
       kSetupBytes},
      {"running updater is replaced, its old file deleted at the restart",
       [] {
         fake::AddFile(kUpdater, "running");
         fake::ProcessScript script;
         script.neverExits = true;
         fake::SetProcessScript(kUpdater, script);
         platform::CloseHandle(fake::RunProgram(kUpdater));
       },
       [] {}, {"[Install] Backup in use, deleted later: C:\\Program Files\\Maretto\\TSL\\updater.exe.1.tsl-old: 5\n"},
       kSetupBytes},
      {"read-only updater held open without delete sharing: kept as it was",
       [] {
         fake::AddFile(kUpdater, "busy", 0x1);
         fake::HoldOpen(kUpdater, 0x1);
       },
       [] {}, {"[Install] Failed to copy updater: 32\n"}, "busy", true},
      {"path of the running program longer than MAX_PATH",
       [] {
         std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\TessalineSetup.exe";
         fake::AddFile(deep, kSetupBytes);
         fake::SetModuleFileName(deep);
       },
       [] {}, {}, kSetupBytes},
      {"renaming the held program and putting another in its place is refused", [] {},
       [] {
         EXPECT_FALSE(platform::MoveFileExW(kSetup, kMoved, 0));
         EXPECT_EQ(32u, platform::GetLastError());
         EXPECT_FALSE(platform::DeleteFileW(kSetup));
       },
       {}, kSetupBytes},
      {"another file put in place of the program before the hold is not copied",
       [] {
         ASSERT_TRUE(platform::MoveFileExW(kSetup, kMoved, 0));
         fake::AddFile(kSetup, "planted");
       },
       [] {},
       {"[Install] The program's own file is not the one running: 1006\n",
        "[Install] Failed to copy updater: 1006\n"},
       "<missing>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    row.beforeHold();
    HoldOwnImage("[Install] ");
    row.afterHold();
    InstallUpdaterCopy();
    EXPECT_EQ(row.trace, fake::TraceLines());
    EXPECT_EQ(row.updater, fake::FileContent(kUpdater).value_or("<missing>"));
    EXPECT_FALSE(fake::Exists(kUpdater + L".new"));
    if (fake::Exists(kUpdater)) {
      EXPECT_EQ(row.readOnlyAfter, (platform::GetFileAttributesW(kUpdater) & 0x1) != 0);
    }
    ReleaseOwnImage();
    fake::Reset();  // closes what HoldOpen opened
  }
}

// An old setup left in Downloads never takes the updater back.
TEST_F(UpdateTaskTest, UpdaterCopyNeverGoesOverANewerUpdater) {
  struct Row {
    const char* name;
    std::string installed;
    std::string own;
    bool replaced;
    const char* kept = "";  // the installed version the trace names
  };
  const std::string v2 = fake::WithVersion("MZ updater", 2, 0, 0, 0);
  const Row rows[] = {
      {"installed is older", fake::WithVersion("MZ updater", 1, 9, 9, 9), v2, true},
      {"same version", fake::WithVersion("MZ updater", 2, 0, 0, 0), v2, true},
      {"installed has no version", "MZ updater", v2, true},
      {"installed is newer", fake::WithVersion("MZ updater", 2, 0, 0, 1), v2, false, "2.0.0.1"},
      {"ours has no version", v2, "MZ setup", false, "2.0.0.0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    fake::AddFile(kSetup, row.own);
    fake::AddFile(kUpdater, row.installed);
    HoldOwnImage("[Install] ");
    InstallUpdaterCopy();
    ReleaseOwnImage();
    EXPECT_EQ(row.replaced ? row.own : row.installed, fake::FileContent(kUpdater));
    EXPECT_EQ(row.replaced ? std::vector<std::string>{}
                           : std::vector<std::string>{"[Install] The installed updater is newer (" +
                                                      std::string(row.kept) +
                                                      "): left as it is\n"},
              fake::TraceLines());
    EXPECT_EQ(std::vector<std::wstring>({L"C:\\Program Files\\Maretto\\TSL", kUpdater}),
              fake::ListTree(L"C:\\Program Files\\Maretto\\TSL"));
  }
}

TEST_F(UpdateTaskTest, UpdaterCopyNeedsTheHold) {
  InstallUpdaterCopy();
  EXPECT_EQ((std::vector<std::string>{"[Install] Failed to copy updater: 6\n"}),
            fake::TraceLines());
  EXPECT_FALSE(fake::Exists(kUpdater));
}

// A copy whose write fails half-way leaves the old updater whole.
TEST_F(UpdateTaskTest, FailedWriteLeavesTheOldUpdater) {
  fake::AddFile(kUpdater, "old updater");
  fake::FailWritesTo(kUpdater + L".new", 112, 4);
  HoldOwnImage("[Install] ");
  InstallUpdaterCopy();
  EXPECT_EQ((std::vector<std::string>{"[Install] Failed to copy updater: 112\n"}),
            fake::TraceLines());
  EXPECT_EQ(std::optional<std::string>("old updater"), fake::FileContent(kUpdater));
  EXPECT_FALSE(fake::Exists(kUpdater + L".new"));
}

// ---- ScheduleUpdateTask and DeleteUpdateTask ----

TEST_F(UpdateTaskTest, CreateRunsSchtasksHiddenWithTheExactLine) {
  ScheduleUpdateTask();
  ASSERT_EQ(1u, fake::ProcessStarts().size());
  const fake::ProcessStart& start = fake::ProcessStarts()[0];
  EXPECT_EQ(fake::StartApi::kCreateProcessW, start.api);
  EXPECT_EQ(kSchtasks, start.program);
  EXPECT_EQ(fake::ToUtf8(kCreateLine), fake::ToUtf8(start.commandLine));
  EXPECT_EQ(0x08000000u, start.creationFlags) << "CREATE_NO_WINDOW";
  EXPECT_EQ(0x1u, start.startupFlags) << "STARTF_USESHOWWINDOW";
  EXPECT_EQ(0, start.showWindow) << "SW_HIDE";
  EXPECT_TRUE(fake::TraceLines().empty());
}

TEST_F(UpdateTaskTest, DeleteRunsSchtasksHiddenWithTheExactLine) {
  DeleteUpdateTask();
  ASSERT_EQ(1u, fake::ProcessStarts().size());
  const fake::ProcessStart& start = fake::ProcessStarts()[0];
  EXPECT_EQ(fake::StartApi::kCreateProcessW, start.api);
  EXPECT_EQ(kSchtasks, start.program);
  EXPECT_EQ(fake::ToUtf8(kDeleteLine), fake::ToUtf8(start.commandLine));
  EXPECT_EQ(0x08000000u, start.creationFlags);
  EXPECT_EQ(0x1u, start.startupFlags);
  EXPECT_EQ(0, start.showWindow);
}

// The folder the setup was started from is the user's (Downloads): a
// "schtasks" there, of any kind, is never what runs.
TEST_F(UpdateTaskTest, NothingIsLookedUpInTheCurrentFolder) {
  const std::wstring start = fake::kStartFolder;
  for (const wchar_t* planted : {L"schtasks.bat", L"schtasks.cmd", L"schtasks.exe", L"cmd.exe"}) {
    fake::AddFile(start + L"\\" + planted, "planted");
  }
  ASSERT_EQ(start, fake::CurrentDirectory());
  ScheduleUpdateTask();
  DeleteUpdateTask();
  ASSERT_EQ(2u, fake::ProcessStarts().size());
  for (const fake::ProcessStart& started : fake::ProcessStarts()) {
    EXPECT_EQ(kSchtasks, started.program);
    EXPECT_EQ(0u, started.commandLine.find(L"\"" + kSchtasks + L"\" /"))
        << fake::ToUtf8(started.commandLine);
  }
}

struct CommandRow {
  const char* name;
  std::function<void()> setUp;
  std::vector<std::string> trace;
  uint64_t clockMs;       // time spent waiting
  bool leftRunning;       // the command is never terminated
};

void Script(fake::ProcessScript s) { fake::SetProcessScript(kSchtasks, s); }

fake::ProcessScript Exits(uint32_t code, uint32_t afterMs = 0) {
  fake::ProcessScript s;
  s.exitCode = code;
  s.runsForMs = afterMs;
  return s;
}

fake::ProcessScript NeverEnds() {
  fake::ProcessScript s;
  s.neverExits = true;
  return s;
}

fake::ProcessScript Refused(uint32_t code) {
  fake::ProcessScript s;
  s.startError = code;
  return s;
}

TEST_F(UpdateTaskTest, CreateTracesEveryNonZeroExitAndStartFailure) {
  const std::vector<CommandRow> rows = {
      {"schtasks succeeds", [] { Script(Exits(0, 1200)); }, {}, 1200, false},
      {"schtasks returns 1", [] { Script(Exits(1)); }, {"[Install] schtasks returned: 1\n"}, 0,
       false},
      {"HRESULT exit code in unsigned decimal", [] { Script(Exits(0x80041318)); },
       {"[Install] schtasks returned: 2147750680\n"}, 0, false},
      {"ends just within 10 seconds", [] { Script(Exits(0, 10000)); }, {}, 10000, false},
      {"still running after 10 seconds", [] { Script(NeverEnds()); },
       {"[Install] schtasks returned: 259\n"}, 10000, true},
      {"schtasks.exe missing", [] { platform::DeleteFileW(kSchtasks); },
       {"[Install] Failed to create scheduled task process: 2\n"}, 0, false},
      {"start refused", [] { Script(Refused(5)); },
       {"[Install] Failed to create scheduled task process: 5\n"}, 0, false},
  };
  for (const CommandRow& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    row.setUp();
    ScheduleUpdateTask();
    EXPECT_EQ(row.trace, fake::TraceLines());
    EXPECT_EQ(row.clockMs, fake::ClockMs());
    auto outcomes = fake::ProcessOutcomes();
    EXPECT_EQ(row.leftRunning, !outcomes.empty() && outcomes[0].running);
    for (const auto& o : outcomes) EXPECT_FALSE(o.terminated);
    EXPECT_EQ(0, fake::OpenProcessHandleCount());
  }
}

TEST_F(UpdateTaskTest, DeleteTracesOnlyAFailedStart) {
  const std::vector<CommandRow> rows = {
      {"task deleted", [] { Script(Exits(0, 300)); }, {}, 300, false},
      {"task did not exist", [] { Script(Exits(1)); }, {}, 0, false},
      {"still running after 10 seconds", [] { Script(NeverEnds()); }, {}, 10000, true},
      {"schtasks.exe missing", [] { platform::DeleteFileW(kSchtasks); },
       {"[Uninstall] Scheduled task deletion returned false (may not exist)\n"}, 0, false},
      {"start refused", [] { Script(Refused(1450)); },
       {"[Uninstall] Scheduled task deletion returned false (may not exist)\n"}, 0, false},
  };
  for (const CommandRow& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    row.setUp();
    DeleteUpdateTask();
    EXPECT_EQ(row.trace, fake::TraceLines());
    EXPECT_EQ(row.clockMs, fake::ClockMs());
    auto outcomes = fake::ProcessOutcomes();
    EXPECT_EQ(row.leftRunning, !outcomes.empty() && outcomes[0].running);
    EXPECT_EQ(0, fake::OpenProcessHandleCount());
  }
}

TEST_F(UpdateTaskTest, CommandLineIsCopiedOnlyWhenItFits) {
  struct Row {
    size_t length;
    size_t capacity;
    bool fits;
  };
  const std::vector<Row> rows = {{0, 1, true}, {1023, 1024, true}, {1024, 1024, false},
                                 {511, 512, true}, {600, 512, false}, {1, 0, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.length) + " in " + std::to_string(row.capacity));
    std::wstring line(row.length, L'x');
    // One guard character past the end shows any write beyond the buffer.
    std::vector<wchar_t> buffer(row.capacity + 1, L'#');
    EXPECT_EQ(row.fits, CopyCommandLine(line, buffer.data(), row.capacity));
    EXPECT_EQ(L'#', buffer[row.capacity]);
    if (row.fits) {
      EXPECT_EQ(line, std::wstring(buffer.data()));
    } else {
      EXPECT_EQ(std::wstring(row.capacity, L'#'), std::wstring(buffer.data(), row.capacity))
          << "buffer touched";
    }
  }
}

}  // namespace
