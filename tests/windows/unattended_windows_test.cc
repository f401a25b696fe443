// An unattended run, on Windows itself: a one-shot scheduled task as
// SYSTEM runs a probe built from the product's detection code, in session
// 0. Wine 8 has no session 0 and its schtasks does not create such a task,
// so there the case is skipped.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/contract/on_wine.h"
#include "tests/windows/kit_support.h"

namespace {

constexpr char kSkipLabel[] =
    "Windows only: the probe as a one-shot SYSTEM task in session 0 "
    "(Wine 8 has no session 0)";

std::optional<uint32_t> Schtasks(const std::wstring& arguments) {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return RunToEnd(Quoted(std::wstring(system) + L"\\schtasks.exe") + L" " + arguments);
}

// The kit's task, ended and deleted when the object goes, also after a
// failed assertion (run-tests.cmd deletes it again after the program).
class TemporaryTask {
 public:
  explicit TemporaryTask(std::wstring name) : name_(std::move(name)) {}
  ~TemporaryTask() {
    Schtasks(L"/End /TN " + Quoted(name_));
    Schtasks(L"/Delete /TN " + Quoted(name_) + L" /F");
  }
  TemporaryTask(const TemporaryTask&) = delete;
  TemporaryTask& operator=(const TemporaryTask&) = delete;
  const std::wstring& name() const { return name_; }

 private:
  std::wstring name_;
};

TEST(UnattendedOnWindows, SystemTaskRunsInSessionZeroUnattendedWithoutABox) {
  if (RunningOnWine()) GTEST_SKIP() << kSkipLabel;
  KitTempFolder temp;
  std::wstring probe = temp.At(L"unattended_probe.exe");
  std::wstring report = temp.At(L"report.txt");
  ASSERT_TRUE(CopyFileW((KitFolder() + L"\\unattended_probe.exe").c_str(), probe.c_str(), TRUE))
      << LastErrorText();
  TemporaryTask task(L"TessalineKitProbe");
  std::wstring run = L"\\\"" + probe + L"\\\" \\\"" + report + L"\\\"";
  ASSERT_EQ(std::optional<uint32_t>(0),
            Schtasks(L"/Create /TN " + Quoted(task.name()) + L" /SC ONCE /ST 00:00 /RU SYSTEM" +
                     L" /TR \"" + run + L"\" /F"));
  ASSERT_EQ(std::optional<uint32_t>(0), Schtasks(L"/Run /TN " + Quoted(task.name())));
  // A box in session 0 would wait for ever: the report never comes.
  ASSERT_TRUE(WaitUntil([&] { return KitPathExists(report); })) << "the probe did not report";
  // IDNO (7): the answer of a Yes/No box closed without a choice.
  EXPECT_EQ("session=0 unattended=1 system=1 answer=7", ReadKitFile(report).value_or(""));
}

}  // namespace
