// What the Windows-only cases of the test kit share: their own temp
// folders, the kit's folder, processes started and waited for, states
// waited for with one generous limit. Windows only; under Wine every case
// is skipped before it touches anything.
#ifndef TESTS_WINDOWS_KIT_SUPPORT_H_
#define TESTS_WINDOWS_KIT_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The one limit every wait of the kit uses: generous, as a busy virtual
// machine can be slow, and reached only when something is wrong.
constexpr uint32_t kKitWaitMs = 120000;

// The folder the kit's programs and samples are in (this program's own).
std::wstring KitFolder();

// A folder of its own under %TEMP% ("tsl-kit-<random>"), removed with all
// it holds when the object goes, also after a failed assertion. Links in it
// are removed as links, never walked into.
class KitTempFolder {
 public:
  KitTempFolder();
  ~KitTempFolder();
  KitTempFolder(const KitTempFolder&) = delete;
  KitTempFolder& operator=(const KitTempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring At(const std::wstring& relative) const { return path_ + L"\\" + relative; }

 private:
  std::wstring path_;
};

// Removes `path` and everything below it without following links; what
// remains afterwards is left alone.
void RemoveKitTree(const std::wstring& path);

// Writes `content` to `path` (created or truncated); false on failure.
bool WriteKitFile(const std::wstring& path, const std::string& content);

// The whole file, or nullopt when it cannot be read.
std::optional<std::string> ReadKitFile(const std::wstring& path);

bool KitPathExists(const std::wstring& path);

// Polls `done` until it is true or kKitWaitMs have passed; its last answer.
bool WaitUntil(const std::function<bool()>& done);

// Starts `commandLine` (no window) in `directory` (empty: ours) and waits
// up to kKitWaitMs for its end. Returns its exit code, or nullopt when it
// did not start or did not end in time (it is then ended).
std::optional<uint32_t> RunToEnd(const std::wstring& commandLine,
                                 const std::wstring& directory = L"");

// A path quoted for a command line.
std::wstring Quoted(const std::wstring& path);

// The last error as text, for the messages of failed assertions.
std::string LastErrorText();

#endif  // TESTS_WINDOWS_KIT_SUPPORT_H_
