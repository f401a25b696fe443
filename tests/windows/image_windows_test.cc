// The running image, on Windows itself: the own-image hold taken after the
// program's file was renamed and another file put in its place finds the
// swap (GetMappedFileNameW follows the rename on Windows; Wine 8 answers
// the path as started, so there the case is skipped), and a hold taken
// first keeps the file from being renamed and reads the running program.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/contract/on_wine.h"
#include "tests/windows/kit_support.h"

namespace {

constexpr char kSkipLabel[] =
    "Windows only: own-image hold after the program file is renamed and replaced "
    "(Wine 8 maps the image by its first path)";

struct Row {
  const char* name;
  bool swapBeforeHold;    // rename the running file and put another in its place
  uint32_t holdError;     // what HoldOwnImage records
  bool holdsTheProgram;   // the bytes read through the hold are the program's (else none)
};

TEST(RunningImageOnWindows, HoldIsOnTheRunningProgramOrNone) {
  if (RunningOnWine()) GTEST_SKIP() << kSkipLabel;
  const Row rows[] = {
      {"renamed and replaced before the hold", true, ERROR_FILE_INVALID, false},
      {"held, then a rename tried", false, 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    KitTempFolder temp;
    std::wstring probe = temp.At(L"probe.exe");
    ASSERT_TRUE(CopyFileW((KitFolder() + L"\\image_probe.exe").c_str(), probe.c_str(), TRUE))
        << LastErrorText();
    std::optional<std::string> program = ReadKitFile(probe);
    ASSERT_TRUE(program.has_value());
    std::wstring base = L"Local\\TslKitImage-" + std::to_wstring(GetCurrentProcessId());
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, (base + L"-go").c_str());
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, (base + L"-held").c_str());
    HANDLE end = CreateEventW(nullptr, TRUE, FALSE, (base + L"-end").c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring line = Quoted(probe) + L" " + base + L" " + Quoted(temp.At(L"report.txt"));
    ASSERT_TRUE(CreateProcessW(probe.c_str(), line.data(), nullptr, nullptr, FALSE,
                               CREATE_NO_WINDOW, nullptr, temp.path().c_str(), &startup, &process))
        << LastErrorText();
    if (row.swapBeforeHold) {
      EXPECT_TRUE(MoveFileW(probe.c_str(), temp.At(L"moved.exe").c_str())) << LastErrorText();
      EXPECT_TRUE(WriteKitFile(probe, "not the program"));
    }
    SetEvent(go);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, kKitWaitMs)) << "the probe never held";
    if (!row.swapBeforeHold) {
      // Held without delete sharing: nobody renames it while the run lasts.
      EXPECT_FALSE(MoveFileW(probe.c_str(), temp.At(L"moved.exe").c_str()));
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    }
    SetEvent(end);
    DWORD code = 0xdeadbeef;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, kKitWaitMs));
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(0u, code);
    for (HANDLE h : {process.hProcess, process.hThread, go, held, end}) CloseHandle(h);

    std::optional<std::string> report = ReadKitFile(temp.At(L"report.txt"));
    ASSERT_TRUE(report.has_value()) << "no report";
    size_t lineEnd = report->find('\n');
    ASSERT_NE(std::string::npos, lineEnd);
    EXPECT_EQ(std::to_string(row.holdError), report->substr(0, lineEnd));
    std::string copy = report->substr(lineEnd + 1);
    // Nothing held, or the running program byte for byte.
    EXPECT_TRUE(row.holdsTheProgram ? copy == *program : copy.empty())
        << copy.size() << " bytes read through the hold";
  }
}

}  // namespace
