// The fake's shell: the user's desktop folder (made by the file system's
// reset), shlwapi's path arithmetic,
// SHCreateDirectoryExW over the fake's CreateDirectoryW, COM apartments per
// thread, and shell links written as files whose content names the
// properties they were saved with.
#include <map>
#include <optional>
#include <string>

#include "platform/com.h"
#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/file.h"
#include "platform/shell.h"

namespace fake {
namespace {

using namespace platform;

struct Apartment {
  int count = 0;
  uint32_t model = 0;
};
thread_local Apartment t_apartment;

struct StepFailure {
  ShellLinkStep step;
  HResult result;
};
std::optional<StepFailure> g_nextLinkFailure;

// Saved links by the number their file holds, so that a copied, replaced or
// deleted .lnk behaves like the file it is.
std::map<uint64_t, ShellLinkProperties> g_links;
uint64_t g_nextLink = 1;
constexpr char kLinkMagic[] = "fake shell link #";

// CreateDirectoryW refuses longer paths on Windows (room is kept for an 8.3
// name below the folder); the fake's CreateDirectoryW does not model it.
constexpr size_t kMaxDirectoryPath = kMaxPath - 12;

uint32_t CreateOneFolder(const std::wstring& path) {
  if (path.size() >= kMaxDirectoryPath) return kErrorFilenameExcedRange;
  return CreateDirectoryW(path) ? kErrorSuccess : GetLastError();
}

// PathIsRelativeW: anything without a drive letter or a leading backslash.
bool IsRelative(const std::wstring& path) {
  return path.empty() || (path[0] != L'\\' && (path.size() < 2 || path[1] != L':'));
}

void ResetShell() {
  t_apartment = Apartment{};
  g_nextLinkFailure.reset();
  g_links.clear();
}

ResetHook g_resetShell(ResetShell);

}  // namespace

void FailNextShellLink(ShellLinkStep step, HResult result) {
  g_nextLinkFailure = StepFailure{step, result};
}

std::optional<ShellLinkProperties> ShellLinkAt(const std::wstring& lnkPath) {
  std::optional<std::string> content = FileContent(lnkPath);
  std::string magic = kLinkMagic;
  if (!content || content->compare(0, magic.size(), magic) != 0) return std::nullopt;
  auto it = g_links.find(std::stoull(content->substr(magic.size())));
  if (it == g_links.end()) return std::nullopt;
  return it->second;
}

int ComInitCount() { return t_apartment.count; }

}  // namespace fake

namespace platform {

HResult CoInitializeEx(uint32_t model) {
  fake::Apartment& a = fake::t_apartment;
  if (a.count > 0 && a.model != model) return kRpcEChangedMode;
  a.model = model;
  return a.count++ == 0 ? kSOk : kSFalse;
}

HResult CoInitialize() { return CoInitializeEx(kCoinitApartmentThreaded); }

void CoUninitialize() {
  if (fake::t_apartment.count > 0) --fake::t_apartment.count;
}

HResult SHGetFolderPathW(int32_t csidl, uint32_t, std::wstring* path) {
  path->clear();
  if (csidl != kCsidlDesktop && csidl != kCsidlDesktopDirectory) return kEInvalidArg;
  // Without CSIDL_FLAG_CREATE a missing folder is reported, not made.
  if (GetFileAttributesW(fake::kDesktopFolder) == kInvalidFileAttributes) {
    return HResultFromWin32(kErrorFileNotFound);
  }
  *path = fake::kDesktopFolder;
  return kSOk;
}

bool PathRemoveFileSpecW(std::wstring* path) {
  std::wstring& p = *path;
  size_t i = 0;
  size_t cut = 0;
  // A leading "\" or "\\" (UNC) is never removed.
  if (i < p.size() && p[i] == L'\\') cut = ++i;
  if (i < p.size() && p[i] == L'\\') cut = ++i;
  while (i < p.size()) {
    if (p[i] == L'\\') {
      cut = i;
    } else if (p[i] == L':') {
      // A drive's root keeps its backslash.
      cut = ++i;
      if (i < p.size() && p[i] == L'\\') ++cut;
    }
    if (i < p.size()) ++i;
  }
  if (cut >= p.size()) return false;
  p.resize(cut);
  return true;
}

uint32_t SHCreateDirectoryExW(const std::wstring& path) {
  if (fake::IsRelative(path)) {
    SetLastError(kErrorBadPathname);
    return kErrorBadPathname;
  }
  uint32_t code = fake::CreateOneFolder(path);
  if (code == kErrorSuccess || code == kErrorFileExists || code == kErrorAlreadyExists ||
      code == kErrorFilenameExcedRange) {
    return code;
  }
  // Make each folder on the way; the last attempt's code is the answer.
  std::wstring walk = path.substr(0, kMaxPath - 1);
  if (walk.back() != L'\\') walk += L'\\';
  for (size_t i = 3; i < walk.size(); ++i) {
    if (walk[i] == L'\\') code = fake::CreateOneFolder(walk.substr(0, i));
  }
  return code;
}

HResult SaveShellLink(const ShellLinkProperties& link, const std::wstring& lnkPath) {
  std::optional<fake::StepFailure> failure;
  failure.swap(fake::g_nextLinkFailure);
  auto failsAt = [&failure](fake::ShellLinkStep step) { return failure && failure->step == step; };

  if (fake::t_apartment.count == 0) return kCoENotInitialized;
  if (failsAt(fake::ShellLinkStep::kCoCreateInstance)) return failure->result;
  ShellLinkProperties saved;
  if (!failsAt(fake::ShellLinkStep::kSetPath)) saved.path = link.path;
  if (!failsAt(fake::ShellLinkStep::kSetDescription)) saved.description = link.description;
  if (!failsAt(fake::ShellLinkStep::kSetIconLocation)) {
    saved.iconPath = link.iconPath;
    saved.iconIndex = link.iconIndex;
  }
  if (!failsAt(fake::ShellLinkStep::kSetWorkingDirectory)) {
    saved.workingDirectory = link.workingDirectory;
  }
  if (failsAt(fake::ShellLinkStep::kQueryInterface)) return failure->result;
  if (failsAt(fake::ShellLinkStep::kSave)) return failure->result;

  Handle file = CreateFileW(lnkPath, kGenericWrite, 0, kCreateAlways, kFileAttributeNormal);
  if (file == kInvalidHandleValue) return HResultFromWin32(GetLastError());
  uint64_t id = fake::g_nextLink++;
  std::string content = fake::kLinkMagic + std::to_string(id);
  uint32_t written = 0;
  bool ok = WriteFile(file, content.data(), static_cast<uint32_t>(content.size()), &written);
  uint32_t error = GetLastError();
  CloseHandle(file);
  if (!ok) return HResultFromWin32(error);
  fake::g_links[id] = saved;
  return kSOk;
}

}  // namespace platform
