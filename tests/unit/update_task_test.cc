#include "registration/update_task.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/fake/fake.h"
#include "platform/file.h"
#include "platform/process.h"

namespace {

const std::wstring kCmd = L"C:\\Windows\\System32\\cmd.exe";
const std::wstring kSetup = L"C:\\Users\\User\\Downloads\\TessalineSetup.exe";
const std::wstring kUpdater = L"C:\\Program Files\\Maretto\\TSL\\updater.exe";
const std::string kSetupBytes = std::string("MZ\0\x01setup program bytes", 24);

const std::wstring kCreateLine =
    L"/C schtasks /Create /F /TN \"Maretto\\TSL Updater\" /TR "
    L"\"\\\"C:\\Program Files\\Maretto\\TSL\\updater.exe\\\"\" "
    L"/SC WEEKLY /D SUN /ST 03:00 /RL HIGHEST /RU SYSTEM";
const std::wstring kDeleteLine = L"/C schtasks /Delete /F /TN \"Maretto\\TSL Updater\"";

class UpdateTaskTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override {
    EXPECT_EQ(0, fake::OpenProcessHandleCount()) << "process or thread handle left open";
    EXPECT_EQ(0, fake::OpenFileHandleCount());
  }
  void Fresh() {
    fake::Reset();
    fake::AddFile(kCmd, "MZ cmd");
    fake::AddFile(kSetup, kSetupBytes);
    fake::AddDirectory(L"C:\\Program Files\\Maretto\\TSL");
  }
};

// ---- InstallUpdaterCopy ----

TEST_F(UpdateTaskTest, UpdaterCopyOutcomes) {
  struct Row {
    const char* name;
    std::function<void()> setUp;
    std::vector<std::string> trace;
    std::string updater;  // its content afterwards, "<missing>" when none
  };
  const std::vector<Row> rows = {
      {"first install", [] {}, {}, kSetupBytes},
      {"an older updater is overwritten", [] { fake::AddFile(kUpdater, "old updater"); }, {},
       kSetupBytes},
      {"running as the updater itself: copy onto itself",
       [] {
         fake::AddFile(kUpdater, "the updater");
         fake::SetModuleFileName(kUpdater);
       },
       {"[Install] Failed to copy updater: 32\n"}, "the updater"},
      {"install folder missing",
       [] { platform::RemoveDirectoryW(L"C:\\Program Files\\Maretto\\TSL"); },
       {"[Install] Failed to copy updater: 3\n"}, "<missing>"},
      {"read-only updater", [] { fake::AddFile(kUpdater, "locked", 0x1); },
       {"[Install] Failed to copy updater: 5\n"}, "locked"},
      {"updater held open by another program",
       [] {
         fake::AddFile(kUpdater, "busy");
         fake::HoldOpen(kUpdater, 0x1);
       },
       {"[Install] Failed to copy updater: 32\n"}, "busy"},
      {"path of the running program longer than MAX_PATH",
       [] {
         std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\TessalineSetup.exe";
         fake::AddFile(deep, kSetupBytes);
         fake::SetModuleFileName(deep);
       },
       {"[Install] Failed to copy updater: 122\n"}, "<missing>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    row.setUp();
    InstallUpdaterCopy();
    EXPECT_EQ(row.trace, fake::TraceLines());
    EXPECT_EQ(row.updater, fake::FileContent(kUpdater).value_or("<missing>"));
    fake::Reset();  // closes what HoldOpen opened
  }
}

// ---- ScheduleUpdateTask and DeleteUpdateTask ----

TEST_F(UpdateTaskTest, CreateRunsCmdHiddenWithTheExactLine) {
  ScheduleUpdateTask();
  ASSERT_EQ(1u, fake::ProcessStarts().size());
  const fake::ProcessStart& start = fake::ProcessStarts()[0];
  EXPECT_EQ(fake::StartApi::kCreateProcessW, start.api);
  EXPECT_EQ(kCmd, start.program);
  EXPECT_EQ(fake::ToUtf8(kCreateLine), fake::ToUtf8(start.commandLine));
  EXPECT_EQ(0x08000000u, start.creationFlags) << "CREATE_NO_WINDOW";
  EXPECT_EQ(0x1u, start.startupFlags) << "STARTF_USESHOWWINDOW";
  EXPECT_EQ(0, start.showWindow) << "SW_HIDE";
  EXPECT_TRUE(fake::TraceLines().empty());
}

TEST_F(UpdateTaskTest, DeleteRunsCmdHiddenWithTheExactLine) {
  DeleteUpdateTask();
  ASSERT_EQ(1u, fake::ProcessStarts().size());
  const fake::ProcessStart& start = fake::ProcessStarts()[0];
  EXPECT_EQ(fake::StartApi::kCreateProcessW, start.api);
  EXPECT_EQ(kCmd, start.program);
  EXPECT_EQ(fake::ToUtf8(kDeleteLine), fake::ToUtf8(start.commandLine));
  EXPECT_EQ(0x08000000u, start.creationFlags);
  EXPECT_EQ(0x1u, start.startupFlags);
  EXPECT_EQ(0, start.showWindow);
}

struct CommandRow {
  const char* name;
  std::function<void()> setUp;
  std::vector<std::string> trace;
  uint64_t clockMs;       // time spent waiting
  bool leftRunning;       // the command is never terminated
};

void Script(fake::ProcessScript s) { fake::SetProcessScript(kCmd, s); }

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
      {"cmd.exe missing", [] { platform::DeleteFileW(kCmd); },
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
      {"cmd.exe missing", [] { platform::DeleteFileW(kCmd); },
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
