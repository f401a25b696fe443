// The fake's file system: one drive C:, case-insensitive, with Windows'
// error codes for the cases the program meets.
#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <set>
#include <vector>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/file.h"
#include "platform/file_handle.h"

namespace fake {
namespace {

using namespace platform;

struct Node {
  std::wstring path;  // as first created, for listings
  uint32_t attributes = kFileAttributeNormal;
  std::string data;
  uint32_t writeError = 0;
  uint64_t writeLimit = 0;
  std::wstring linkTarget;  // key of the folder a junction points to
  int hardLinkGroup = 0;     // names of one file share a group (0: one name)
  bool deletePending = false;
  uint64_t index = 0;       // the file index, given when first asked for
  std::wstring owner;       // SID text; empty: the user's
  bool IsDirectory() const { return attributes & kFileAttributeDirectory; }
  bool IsLink() const { return !linkTarget.empty(); }
};

struct OpenFile {
  std::wstring key;
  uint32_t access = 0;
  uint32_t share = 0;
  uint64_t position = 0;
  // Listing through the handle: whether it began, how many of "." and ".."
  // were given, and the key of the last entry given.
  bool listStarted = false;
  int dotsGiven = 0;
  std::wstring lastListed;
  bool deleteOnClose = false;
};

struct Search {
  std::wstring pattern;
  std::vector<FindData> entries;  // as listed at FindFirstFileW
  size_t next = 0;
};

std::map<std::wstring, Node> g_nodes;
std::map<uintptr_t, OpenFile> g_open;
// Folders in which the user may not create anything (PathKey).
std::set<std::wstring> g_createDenied;

std::map<uintptr_t, Search> g_searches;
uintptr_t g_nextSearch = 0x7f000000;  // apart from kernel handles
std::map<std::wstring, uint32_t> g_failedSearches;
std::function<void(FindCall, const std::wstring&)> g_onFindCall;
std::vector<PendingMove> g_pendingMoves;
uint32_t g_delayedMoveError = 0;
std::map<std::wstring, uint32_t> g_flushErrors;
std::function<uint32_t(const std::wstring&, const std::wstring&)> g_onMoveFile;
std::function<void(FileCall, const std::wstring&)> g_onFileCall;
bool g_inFileCallHook = false;
bool g_dispositionExSupported = true;
int g_nextHardLinkGroup = 1;
int g_nextDeletedKey = 1;
uint64_t g_nextFileIndex = 0;
std::function<void(const std::wstring&)> g_onCreateDirectory;

// Windows gives up after this many reparse points in one path.
constexpr int kMaxLinkHops = 63;

std::wstring ParentKey(const std::wstring& key) {
  size_t slash = key.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : key.substr(0, slash);
}

Node* Find(const std::wstring& key) {
  auto it = g_nodes.find(key);
  return it == g_nodes.end() ? nullptr : &it->second;
}

// The key of the object a path names once every junction on the way is
// replaced by its target; the last component is replaced only when
// followLast (operations on a link itself do not follow it). Empty when the
// links loop.
std::wstring Resolve(const std::wstring& key, bool followLast) {
  std::wstring current = key;
  int hops = 0;
  size_t start = 0;
  for (;;) {
    size_t slash = current.find(L'\\', start);
    bool last = slash == std::wstring::npos;
    if (last && !followLast) return current;
    Node* node = Find(current.substr(0, slash));
    if (!node) return current;
    if (node->IsLink()) {
      if (++hops > kMaxLinkHops) return std::wstring();
      current = node->linkTarget + (last ? std::wstring() : current.substr(slash));
      start = 0;
      continue;
    }
    if (last) return current;
    start = slash + 1;
  }
}

// The path shown for a new object at `key` named by `path`: its folder as
// first created and the name as given now (so a name made through a
// junction shows under the target).
std::wstring DisplayPath(const std::wstring& key, const std::wstring& path) {
  size_t slash = key.rfind(L'\\');
  Node* parent = slash == std::wstring::npos ? nullptr : Find(key.substr(0, slash));
  if (!parent) return path;
  size_t nameStart = path.find_last_of(L"\\/");
  return parent->path + L'\\' + (nameStart == std::wstring::npos ? path : path.substr(nameStart + 1));
}

bool ParentIsFolder(const std::wstring& key) {
  Node* parent = Find(ParentKey(key));
  return parent && parent->IsDirectory();
}

// The error Windows gives for an object that is not there: 2 when only the
// last component is missing, 3 when a folder on the way is.
uint32_t MissingError(const std::wstring& key) {
  return ParentIsFolder(key) ? kErrorFileNotFound : kErrorPathNotFound;
}

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

bool HasChildren(const std::wstring& key) {
  std::wstring prefix = key + L'\\';
  auto it = g_nodes.lower_bound(prefix);
  return it != g_nodes.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

// Whether an open with (access, share) can coexist with every open handle.
// The rights that sharing is checked for: reading data (listing a folder
// included), writing data, and deleting or renaming.
constexpr uint32_t kReadRights = kGenericRead | 0x1 /* FILE_READ_DATA */ | 0x20 /* FILE_EXECUTE */;
constexpr uint32_t kWriteRights = kGenericWrite | 0x2 /* FILE_WRITE_DATA */ | 0x4 /* FILE_APPEND_DATA */;

bool SharingAllows(const std::wstring& key, uint32_t access, uint32_t share) {
  for (const auto& [handle, open] : g_open) {
    if (open.key != key) continue;
    if ((access & kReadRights) && !(open.share & kFileShareRead)) return false;
    if ((access & kWriteRights) && !(open.share & kFileShareWrite)) return false;
    if ((access & kDelete) && !(open.share & kFileShareDelete)) return false;
    if ((open.access & kReadRights) && !(share & kFileShareRead)) return false;
    if ((open.access & kWriteRights) && !(share & kFileShareWrite)) return false;
    if ((open.access & kDelete) && !(share & kFileShareDelete)) return false;
  }
  return !(access & kDelete) || !IsCurrentFolderInUse(key);
}

// A file's bytes and attributes belong to the file, not to one of its
// names: after a change through `key` every other name shows it.
void SyncHardLinks(const std::wstring& key) {
  auto it = g_nodes.find(key);
  if (it == g_nodes.end() || it->second.hardLinkGroup == 0) return;
  for (auto& [other, node] : g_nodes) {
    if (other != key && node.hardLinkGroup == it->second.hardLinkGroup) {
      node.data = it->second.data;
      node.attributes = it->second.attributes;
    }
  }
}

// SetFileAttributesW's rule: only these four marks can be set; none left
// is FILE_ATTRIBUTE_NORMAL for a file, and a folder stays a folder (a link
// a link).
void SetAttributes(Node* node, uint32_t attributes) {
  uint32_t kept = attributes & (kFileAttributeReadonly | kFileAttributeHidden |
                                kFileAttributeSystem | kFileAttributeArchive);
  if (node->IsDirectory()) {
    node->attributes = kFileAttributeDirectory | kept |
                       (node->attributes & kFileAttributeReparsePoint);
  } else {
    node->attributes = kept ? kept : kFileAttributeNormal;
  }
}

uint32_t HardLinkCount(const Node& node) {
  if (node.hardLinkGroup == 0) return 1;
  uint32_t count = 0;
  for (const auto& [key, other] : g_nodes) {
    if (other.hardLinkGroup == node.hardLinkGroup && key.compare(0, 1, L"|") != 0) ++count;
  }
  return count;
}

// The display path of what a handle is open on, for the call hook.
std::wstring HandlePath(Handle handle);

void NotifyFileCall(FileCall call, const std::wstring& path) {
  if (!g_onFileCall || g_inFileCallHook) return;
  g_inFileCallHook = true;
  g_onFileCall(call, path);
  g_inFileCallHook = false;
}

bool DeleteAllowed(const std::wstring& key) {
  for (const auto& [handle, open] : g_open) {
    if (open.key == key && !(open.share & kFileShareDelete)) return false;
  }
  return true;
}

uint32_t NewFileAttributes(uint32_t requested) {
  uint32_t kept = requested & (kFileAttributeReadonly | kFileAttributeHidden |
                               kFileAttributeSystem | kFileAttributeArchive);
  return kept | kFileAttributeArchive;
}

OpenFile* FindOpen(Handle handle) {
  auto it = g_open.find(reinterpret_cast<uintptr_t>(handle));
  return it == g_open.end() ? nullptr : &it->second;
}

// A handle's end; the object goes with it when its deletion was asked for
// through a handle (and no other handle is left).
void CloseFile(Handle closed) {
  auto it = g_open.find(reinterpret_cast<uintptr_t>(closed));
  if (it == g_open.end()) return;
  OpenFile open = it->second;
  g_open.erase(it);
  for (const auto& [handle, other] : g_open) {
    if (other.key == open.key) {
      if (open.deleteOnClose) g_open[handle].deleteOnClose = true;  // the last one deletes it
      return;
    }
  }
  // A file unlinked at once (POSIX semantics) lives under a key no path
  // reaches until its last handle closes.
  if (open.deleteOnClose || open.key.compare(0, 1, L"|") == 0) g_nodes.erase(open.key);
}

void MakeFolders(const std::wstring& path) {
  std::wstring key = PathKey(path);
  std::wstring parent = ParentKey(key);
  if (!parent.empty() && !Find(parent)) {
    std::wstring shown = path;
    while (!shown.empty() && (shown.back() == L'\\' || shown.back() == L'/')) shown.pop_back();
    MakeFolders(shown.substr(0, shown.find_last_of(L"\\/")));
  }
  if (!Find(key)) g_nodes[key] = Node{path, kFileAttributeDirectory, {}, 0, 0};
}

void ResetFiles() {
  g_nodes.clear();
  g_open.clear();
  g_searches.clear();
  g_failedSearches.clear();
  g_onFindCall = nullptr;
  g_pendingMoves.clear();
  g_delayedMoveError = 0;
  g_flushErrors.clear();
  g_onMoveFile = nullptr;
  g_onFileCall = nullptr;
  g_inFileCallHook = false;
  g_dispositionExSupported = true;
  g_nextFileIndex = 0x10000;
  g_onCreateDirectory = nullptr;
  g_nodes[L"C:"] = Node{L"C:", kFileAttributeDirectory, {}, 0, 0};
  MakeFolders(L"C:\\Windows\\System32");
  MakeFolders(L"C:\\Program Files");
  MakeFolders(L"C:\\ProgramData");
  std::wstring temp = kTempFolder;
  MakeFolders(temp.substr(0, temp.size() - 1));
  MakeFolders(kDesktopFolder);
  MakeFolders(kStartFolder);
  MakeFolders(L"C:\\Windows\\Temp");
  for (auto& [key, node] : g_nodes) node.owner = kSystemSid;
  g_createDenied.clear();
}

ResetHook g_resetFiles(ResetFiles);
const bool g_initialised = (ResetFiles(), true);

}  // namespace

static bool PathKeyEquals(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

std::wstring PathKey(const std::wstring& path) {
  std::wstring key;
  key.reserve(path.size());
  // "\\?\C:\..." names the same object without the MAX_PATH limit, and
  // "\\?\GLOBALROOT\Device\HarddiskVolume3\..." through the volume's device.
  static const std::wstring kDevice = L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume3";
  std::wstring rest = path;
  if (path.size() >= kDevice.size() &&
      PathKeyEquals(path.substr(0, kDevice.size()), kDevice)) {
    rest = L"C:" + path.substr(kDevice.size());
  } else if (path.compare(0, 4, L"\\\\?\\") == 0) {
    rest = path.substr(4);
  }
  for (wchar_t c : rest) key += c == L'/' ? L'\\' : static_cast<wchar_t>(std::towupper(c));
  while (!key.empty() && key.back() == L'\\') key.pop_back();
  return key;
}

void AddFile(const std::wstring& path, const std::string& content, uint32_t attributes) {
  std::wstring key = PathKey(path);
  MakeFolders(path.substr(0, path.find_last_of(L"\\/")));
  g_nodes[key] = Node{path, attributes == 0 ? kFileAttributeNormal : attributes, content, 0, 0};
}

void AddDirectory(const std::wstring& path) { MakeFolders(path); }

void DenyCreateIn(const std::wstring& folder) { g_createDenied.insert(PathKey(folder)); }

std::optional<std::string> FileContent(const std::wstring& path) {
  Node* node = Find(Resolve(PathKey(path), true));
  if (!node || node->IsDirectory()) return std::nullopt;
  return node->data;
}

bool Exists(const std::wstring& path) { return Find(Resolve(PathKey(path), false)) != nullptr; }

std::vector<std::wstring> ListTree(const std::wstring& folder) {
  std::wstring key = PathKey(folder);
  std::vector<std::wstring> out;
  for (const auto& [k, node] : g_nodes) {
    if (k == key || k.compare(0, key.size() + 1, key + L'\\') == 0) out.push_back(node.path);
  }
  return out;
}

Handle HoldOpen(const std::wstring& path, uint32_t share) {
  return platform::CreateFileW(path, kGenericRead, share, kOpenExisting, kFileAttributeNormal);
}

void FailWritesTo(const std::wstring& path, uint32_t code, uint64_t afterBytes) {
  Node* node = Find(PathKey(path));
  if (!node) {
    AddFile(path, "");
    node = Find(PathKey(path));
  }
  node->writeError = code;
  node->writeLimit = afterBytes;
}

int OpenFileHandleCount() { return static_cast<int>(g_open.size()); }

void AddJunction(const std::wstring& link, const std::wstring& target) {
  MakeFolders(link.substr(0, link.find_last_of(L"\\/")));
  Node node{link, kFileAttributeDirectory | kFileAttributeReparsePoint, {}, 0, 0};
  node.linkTarget = PathKey(target);
  g_nodes[PathKey(link)] = node;
}

void FailSearch(const std::wstring& folder, uint32_t code) {
  g_failedSearches[PathKey(folder)] = code;
}

void OnFindCall(std::function<void(FindCall, const std::wstring&)> hook) {
  g_onFindCall = std::move(hook);
}

int OpenFindHandleCount() { return static_cast<int>(g_searches.size()); }

const std::vector<PendingMove>& PendingMoves() { return g_pendingMoves; }

void FailDelayedMoves(uint32_t code) { g_delayedMoveError = code; }

void RestartWindows() {
  SimulateKill();
  EndAllProcesses();
  std::vector<PendingMove> queue;
  queue.swap(g_pendingMoves);
  for (const PendingMove& move : queue) {
    if (move.to.empty()) {
      platform::SetFileAttributesW(move.from, platform::kFileAttributeNormal);
      platform::DeleteFileW(move.from);
    } else {
      platform::MoveFileExW(move.from, move.to, move.flags & platform::kMovefileReplaceExisting);
    }
  }
}

void FailFlushOf(const std::wstring& path, uint32_t code) { g_flushErrors[PathKey(path)] = code; }

void OnMoveFile(std::function<uint32_t(const std::wstring&, const std::wstring&)> hook) {
  g_onMoveFile = std::move(hook);
}

namespace {

// Matches a search mask with '*' and '?' against a name, ignoring case;
// "*.*" matches every name, as on Windows.
bool MaskMatches(const std::wstring& mask, const std::wstring& name) {
  if (mask == L"*.*") return true;
  std::wstring m = PathKey(mask), n = PathKey(name);
  size_t mi = 0, ni = 0, star = std::wstring::npos, mark = 0;
  while (ni < n.size()) {
    if (mi < m.size() && (m[mi] == L'?' || m[mi] == n[ni])) {
      ++mi;
      ++ni;
    } else if (mi < m.size() && m[mi] == L'*') {
      star = mi++;
      mark = ni;
    } else if (star != std::wstring::npos) {
      mi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (mi < m.size() && m[mi] == L'*') ++mi;
  return mi == m.size();
}

std::wstring LastComponent(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void NotifyFind(FindCall call, const std::wstring& pattern) {
  if (g_onFindCall) g_onFindCall(call, pattern);
}

// Whether a handle is open on the object or anything below it.
// Whether a handle on the object itself forbids renaming or removing it.
bool HeldWithoutDeleteSharing(const std::wstring& key) {
  if (IsCurrentFolderInUse(key)) return true;
  for (const auto& [handle, open] : g_open) {
    if (open.key == key && !(open.share & kFileShareDelete)) return true;
  }
  return false;
}

bool OpenBelow(const std::wstring& key) {
  for (const auto& [handle, open] : g_open) {
    if (open.key == key || open.key.compare(0, key.size() + 1, key + L'\\') == 0) return true;
  }
  return false;
}

}  // namespace

bool ImageOpenAllowed(const std::wstring& path) {
  // The loader opens the image for execute, sharing read and delete.
  return SharingAllows(Resolve(PathKey(path), true), kGenericRead,
                       kFileShareRead | kFileShareDelete);
}

bool ReadWholeOpenFile(platform::Handle file, std::string* content) {
  OpenFile* open = FindOpen(file);
  if (!open || !(open->access & kGenericRead)) return false;
  Node* node = Find(open->key);
  if (!node || node->IsDirectory()) return false;
  *content = node->data;
  return true;
}

}  // namespace fake

namespace platform {

using fake::Fail;
using fake::Find;

// The resolved key of a path (see fake::Resolve); false with 1921 when the
// links loop.
static bool KeyOf(const std::wstring& path, bool followLast, std::wstring* key) {
  *key = fake::Resolve(fake::PathKey(path), followLast);
  if (key->empty()) return Fail(kErrorCantResolveFilename);
  return true;
}

Handle CreateFileW(const std::wstring& path, uint32_t access, uint32_t share,
                   uint32_t disposition, uint32_t attributes) {
  fake::NotifyFileCall(fake::FileCall::kCreateFile, path);
  std::wstring key;
  if (!KeyOf(path, !(attributes & kFileFlagOpenReparsePoint), &key)) return kInvalidHandleValue;
  fake::Node* node = Find(key);
  if (!node && !fake::ParentIsFolder(key)) {
    SetLastError(kErrorPathNotFound);
    return kInvalidHandleValue;
  }
  uint32_t lastError = kErrorSuccess;
  if (node) {
    if (disposition == kCreateNew) {
      SetLastError(kErrorFileExists);
      return kInvalidHandleValue;
    }
    // STATUS_DELETE_PENDING.
    if (node->deletePending) {
      SetLastError(kErrorAccessDenied);
      return kInvalidHandleValue;
    }
    auto denied = fake::g_failedSearches.find(key);
    if ((access & kFileListDirectory) && node->IsDirectory() &&
        denied != fake::g_failedSearches.end()) {
      SetLastError(denied->second);
      return kInvalidHandleValue;
    }
    bool writes = (access & kGenericWrite) || disposition == kCreateAlways ||
                  disposition == kTruncateExisting;
    bool folderHandle = node->IsDirectory() && (attributes & kFileFlagBackupSemantics) &&
                        disposition == kOpenExisting && !(access & kGenericWrite);
    if (folderHandle) {
      if (!fake::SharingAllows(key, access, share)) {
        SetLastError(kErrorSharingViolation);
        return kInvalidHandleValue;
      }
      Handle handle = fake::NewHandle(fake::CloseFile);
      fake::g_open[reinterpret_cast<uintptr_t>(handle)] = fake::OpenFile{key, access, share, 0};
      SetLastError(kErrorSuccess);
      return handle;
    }
    if (node->IsDirectory() || (writes && (node->attributes & kFileAttributeReadonly))) {
      SetLastError(kErrorAccessDenied);
      return kInvalidHandleValue;
    }
    if (writes && fake::IsRunningImage(key)) {
      SetLastError(kErrorSharingViolation);
      return kInvalidHandleValue;
    }
    // Replacing a hidden or system file requires asking for those attributes;
    // TRUNCATE_EXISTING (FILE_OVERWRITE) replaces as CREATE_ALWAYS does.
    uint32_t guarded = node->attributes & (kFileAttributeHidden | kFileAttributeSystem);
    bool replaces = disposition == kCreateAlways || disposition == kTruncateExisting;
    if (replaces && (guarded & ~attributes)) {
      SetLastError(kErrorAccessDenied);
      return kInvalidHandleValue;
    }
    if (!fake::SharingAllows(key, access, share)) {
      SetLastError(kErrorSharingViolation);
      return kInvalidHandleValue;
    }
    if (disposition == kCreateAlways || disposition == kTruncateExisting) node->data.clear();
    if (disposition == kCreateAlways) node->attributes = fake::NewFileAttributes(attributes);
    fake::SyncHardLinks(key);
    if (disposition == kCreateAlways || disposition == kOpenAlways) lastError = kErrorAlreadyExists;
  } else {
    if (disposition == kOpenExisting || disposition == kTruncateExisting) {
      SetLastError(kErrorFileNotFound);
      return kInvalidHandleValue;
    }
    if (fake::g_createDenied.count(fake::ParentKey(key))) {
      SetLastError(kErrorAccessDenied);
      return kInvalidHandleValue;
    }
    fake::g_nodes[key] =
        fake::Node{fake::DisplayPath(key, path), fake::NewFileAttributes(attributes), {}, 0, 0};
    fake::g_nodes[key].owner = fake::kAdministratorsSid;
  }
  Handle handle = fake::NewHandle(fake::CloseFile);
  fake::g_open[reinterpret_cast<uintptr_t>(handle)] = fake::OpenFile{key, access, share, 0};
  SetLastError(lastError);
  return handle;
}

bool WriteFile(Handle file, const void* data, uint32_t size, uint32_t* done) {
  *done = 0;
  fake::OpenFile* open = fake::FindOpen(file);
  if (!open) return Fail(kErrorInvalidHandle);
  if (!(open->access & kGenericWrite)) return Fail(kErrorAccessDenied);
  fake::Node* node = Find(open->key);
  if (!node) {  // deleted while open: the bytes go nowhere
    *done = size;
    return true;
  }
  if (node->writeError && open->position + size > node->writeLimit) return Fail(node->writeError);
  if (node->data.size() < open->position + size) node->data.resize(open->position + size);
  std::memcpy(&node->data[open->position], data, size);
  open->position += size;
  fake::SyncHardLinks(open->key);
  *done = size;
  return true;
}

bool ReadFile(Handle file, void* buffer, uint32_t size, uint32_t* done) {
  *done = 0;
  fake::OpenFile* open = fake::FindOpen(file);
  if (!open) return Fail(kErrorInvalidHandle);
  if (!(open->access & kGenericRead)) return Fail(kErrorAccessDenied);
  fake::Node* node = Find(open->key);
  if (!node || open->position >= node->data.size()) return true;
  uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size, node->data.size() - open->position));
  std::memcpy(buffer, node->data.data() + open->position, n);
  open->position += n;
  *done = n;
  return true;
}

bool FlushFileBuffers(Handle file) {
  fake::OpenFile* open = fake::FindOpen(file);
  if (!open) return Fail(kErrorInvalidHandle);
  if (!(open->access & kGenericWrite)) return Fail(kErrorAccessDenied);
  auto failure = fake::g_flushErrors.find(open->key);
  if (failure != fake::g_flushErrors.end()) return Fail(failure->second);
  return true;
}

bool DeleteFileW(const std::wstring& path) {
  fake::NotifyFileCall(fake::FileCall::kPathCall, path);
  std::wstring key;
  if (!KeyOf(path, false, &key)) return false;
  fake::Node* node = Find(key);
  if (!node) return Fail(fake::MissingError(key));
  if (node->IsDirectory() || (node->attributes & kFileAttributeReadonly)) return Fail(kErrorAccessDenied);
  if (fake::IsRunningImage(key)) return Fail(kErrorAccessDenied);
  if (!fake::DeleteAllowed(key)) return Fail(kErrorSharingViolation);
  fake::g_nodes.erase(key);
  return true;
}

uint32_t GetFileAttributesW(const std::wstring& path) {
  fake::NotifyFileCall(fake::FileCall::kPathCall, path);
  std::wstring key;
  if (!KeyOf(path, false, &key)) return kInvalidFileAttributes;
  fake::Node* node = Find(key);
  if (!node) {
    SetLastError(fake::MissingError(key));
    return kInvalidFileAttributes;
  }
  return node->attributes;
}

bool SetFileAttributesW(const std::wstring& path, uint32_t attributes) {
  fake::NotifyFileCall(fake::FileCall::kPathCall, path);
  std::wstring key;
  if (!KeyOf(path, false, &key)) return false;
  fake::Node* node = Find(key);
  if (!node) return Fail(fake::MissingError(key));
  fake::SetAttributes(node, attributes);
  fake::SyncHardLinks(key);
  return true;
}

bool CreateDirectoryW(const std::wstring& path) {
  if (!fake::CreateDirectoryCore(path)) return false;
  fake::NotifyCreateDirectory(path);
  return true;
}

}  // namespace platform

namespace fake {

void NotifyCreateDirectory(const std::wstring& path) {
  if (g_onCreateDirectory) g_onCreateDirectory(path);
}

bool CreateDirectoryCore(const std::wstring& path) {
  using platform::KeyOf;
  std::wstring key;
  if (!KeyOf(path, false, &key)) return false;
  if (Find(key)) return Fail(kErrorAlreadyExists);
  if (!fake::ParentIsFolder(key)) return Fail(kErrorPathNotFound);
  if (fake::g_createDenied.count(fake::ParentKey(key))) return Fail(kErrorAccessDenied);
  fake::g_nodes[key] = fake::Node{fake::DisplayPath(key, path), kFileAttributeDirectory, {}, 0, 0};
  fake::g_nodes[key].owner = fake::kAdministratorsSid;
  return true;
}

}  // namespace fake

namespace platform {

bool RemoveDirectoryW(const std::wstring& path) {
  fake::NotifyFileCall(fake::FileCall::kPathCall, path);
  std::wstring key;
  if (!KeyOf(path, false, &key)) return false;
  fake::Node* node = Find(key);
  if (!node) return Fail(fake::MissingError(key));
  if (!node->IsDirectory()) return Fail(kErrorDirectory);
  if (fake::ParentKey(key).empty()) return Fail(kErrorAccessDenied);
  // A link goes alone; what it points to stays.
  if (!node->IsLink() && fake::HasChildren(key)) return Fail(kErrorDirNotEmpty);
  if (fake::HeldWithoutDeleteSharing(key)) return Fail(kErrorSharingViolation);
  fake::g_nodes.erase(key);
  return true;
}

std::wstring GetTempPathW() { return fake::kTempFolder; }

Handle FindFirstFileW(const std::wstring& pattern, FindData* data) {
  fake::NotifyFileCall(fake::FileCall::kPathCall, pattern);
  size_t slash = pattern.find_last_of(L"\\/");
  if (slash == std::wstring::npos) {
    SetLastError(kErrorPathNotFound);
    return kInvalidHandleValue;
  }
  std::wstring folderKey;
  if (!KeyOf(pattern.substr(0, slash), true, &folderKey)) return kInvalidHandleValue;
  std::wstring mask = pattern.substr(slash + 1);
  fake::Node* folder = Find(folderKey);
  uint32_t error = kErrorSuccess;
  if (!folder) {
    error = kErrorPathNotFound;
  } else if (!folder->IsDirectory()) {
    error = kErrorDirectory;
  } else {
    auto denied = fake::g_failedSearches.find(folderKey);
    if (denied == fake::g_failedSearches.end()) {
      denied = fake::g_failedSearches.find(fake::PathKey(pattern.substr(0, slash)));
    }
    if (denied != fake::g_failedSearches.end()) error = denied->second;
  }
  if (error != kErrorSuccess) {
    SetLastError(error);
    return kInvalidHandleValue;
  }

  fake::Search search{pattern, {}, 0};
  std::wstring parentKey = fake::ParentKey(folderKey);
  if (!parentKey.empty()) {  // a drive's root has no "." and ".."
    if (fake::MaskMatches(mask, L".")) search.entries.push_back({folder->attributes, L"."});
    fake::Node* parent = Find(parentKey);
    if (parent && fake::MaskMatches(mask, L"..")) {
      search.entries.push_back({parent->attributes, L".."});
    }
  }
  std::wstring prefix = folderKey + L'\\';
  for (auto it = fake::g_nodes.lower_bound(prefix);
       it != fake::g_nodes.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    if (it->first.find(L'\\', prefix.size()) != std::wstring::npos) continue;  // deeper
    std::wstring name = fake::LastComponent(it->second.path);
    if (fake::MaskMatches(mask, name)) search.entries.push_back({it->second.attributes, name});
  }
  if (search.entries.empty()) {
    SetLastError(kErrorFileNotFound);
    return kInvalidHandleValue;
  }
  *data = search.entries[0];
  search.next = 1;
  uintptr_t value = fake::g_nextSearch;
  fake::g_nextSearch += 8;
  fake::g_searches[value] = std::move(search);
  fake::NotifyFind(fake::FindCall::kFirst, pattern);
  return reinterpret_cast<Handle>(value);
}

bool FindNextFileW(Handle find, FindData* data) {
  auto it = fake::g_searches.find(reinterpret_cast<uintptr_t>(find));
  if (it == fake::g_searches.end()) return Fail(kErrorInvalidHandle);
  fake::Search& search = it->second;
  std::wstring pattern = search.pattern;
  bool found = search.next < search.entries.size();
  if (found) *data = search.entries[search.next++];
  fake::NotifyFind(fake::FindCall::kNext, pattern);
  return found ? true : Fail(kErrorNoMoreFiles);
}

bool FindClose(Handle find) {
  auto it = fake::g_searches.find(reinterpret_cast<uintptr_t>(find));
  if (it == fake::g_searches.end()) return Fail(kErrorInvalidHandle);
  std::wstring pattern = it->second.pattern;
  fake::g_searches.erase(it);
  fake::NotifyFind(fake::FindCall::kClose, pattern);
  return true;
}

bool MoveFileExW(const std::wstring& from, const std::wstring& to, uint32_t flags) {
  bool delayed = flags & kMovefileDelayUntilReboot;
  if ((delayed && (flags & kMovefileCopyAllowed)) || (to.empty() && !delayed)) {
    return Fail(kErrorInvalidParameter);
  }
  if (fake::g_onMoveFile && !delayed) {
    if (uint32_t code = fake::g_onMoveFile(from, to)) return Fail(code);
  }
  std::wstring fromKey;
  if (!KeyOf(from, false, &fromKey)) return false;
  fake::Node* source = Find(fromKey);
  // Whether Windows checks the source of a deferred move is not pinned
  // down; the stricter answer keeps the logic from relying on it.
  if (!source) return Fail(fake::MissingError(fromKey));
  if (delayed) {
    if (fake::g_delayedMoveError) return Fail(fake::g_delayedMoveError);
    fake::g_pendingMoves.push_back({from, to, flags});
    return true;
  }
  std::wstring toKey;
  if (!KeyOf(to, false, &toKey)) return false;
  if (toKey != fromKey) {
    if (!fake::ParentIsFolder(toKey)) return Fail(kErrorPathNotFound);
    if (toKey.compare(0, fromKey.size() + 1, fromKey + L'\\') == 0) {
      return Fail(kErrorInvalidParameter);  // into itself
    }
    if (fake::HeldWithoutDeleteSharing(fromKey)) return Fail(kErrorSharingViolation);
    if (source->IsDirectory() ? fake::OpenBelow(fromKey) && !source->IsLink()
                              : !fake::DeleteAllowed(fromKey)) {
      return Fail(source->IsDirectory() ? kErrorAccessDenied : kErrorSharingViolation);
    }
    if (fake::Node* target = Find(toKey)) {
      if (!(flags & kMovefileReplaceExisting)) return Fail(kErrorAlreadyExists);
      if (target->IsDirectory() || source->IsDirectory() ||
          (target->attributes & kFileAttributeReadonly) || fake::OpenBelow(toKey) ||
          fake::IsRunningImage(toKey)) {
        return Fail(kErrorAccessDenied);
      }
      fake::g_nodes.erase(toKey);
    }
  }
  // Re-key the object and everything below it; the shown names follow.
  std::wstring shown = fake::DisplayPath(toKey, to);
  std::vector<std::pair<std::wstring, fake::Node>> moved;
  std::wstring below = fromKey + L'\\';
  for (auto it = fake::g_nodes.begin(); it != fake::g_nodes.end();) {
    if (it->first == fromKey || it->first.compare(0, below.size(), below) == 0) {
      std::wstring rest = it->first.substr(fromKey.size());
      fake::Node node = it->second;
      node.path = shown + node.path.substr(node.path.size() - rest.size());
      moved.emplace_back(toKey + rest, std::move(node));
      it = fake::g_nodes.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [key, node] : moved) fake::g_nodes[key] = std::move(node);
  for (auto& [handle, open] : fake::g_open) {
    if (open.key == fromKey || open.key.compare(0, below.size(), below) == 0) {
      open.key = toKey + open.key.substr(fromKey.size());
    }
  }
  fake::RunningImagesMoved(fromKey, toKey);
  return true;
}

}  // namespace platform

// ---- Working through handles ----

namespace fake {

void AddHardLink(const std::wstring& link, const std::wstring& existing) {
  Node* node = Find(Resolve(PathKey(existing), true));
  if (!node || node->IsDirectory()) return;
  if (node->hardLinkGroup == 0) node->hardLinkGroup = g_nextHardLinkGroup++;
  Node copy = *node;
  copy.path = link;
  copy.deletePending = false;
  MakeFolders(link.substr(0, link.find_last_of(L"\\/")));
  g_nodes[PathKey(link)] = copy;
}

void SetFileDispositionExSupported(bool supported) { g_dispositionExSupported = supported; }

void OnFileCall(std::function<void(FileCall, const std::wstring& path)> hook) {
  g_onFileCall = std::move(hook);
}

namespace {

std::wstring HandlePath(Handle handle) {
  OpenFile* open = FindOpen(handle);
  if (!open) return std::wstring();
  Node* node = Find(open->key);
  return node ? node->path : open->key;
}

// The start of every call on a handle: the test's hook, then the open file
// and its node behind the handle; false with 6 when it is not an open file.
bool OpenNode(FileCall call, Handle handle, OpenFile** open, Node** node) {
  NotifyFileCall(call, HandlePath(handle));
  *open = FindOpen(handle);
  *node = *open ? Find((*open)->key) : nullptr;
  if (!*node) return Fail(kErrorInvalidHandle);
  return true;
}

// FILE_DISPOSITION_POSIX_SEMANTICS: the name goes now; the file lives on
// under a key no path reaches until its last handle closes.
void UnlinkNow(const std::wstring& key) {
  std::wstring gone = L"|DELETED|" + std::to_wstring(g_nextDeletedKey++);
  Node node = g_nodes[key];
  g_nodes.erase(key);
  g_nodes[gone] = node;
  for (auto& [handle, open] : g_open) {
    if (open.key == key) open.key = gone;
  }
}

// The checks both disposition classes make before marking a deletion.
bool MayDelete(const OpenFile& open, const Node& node, bool ignoreReadonly) {
  if (!(open.access & kDelete)) return Fail(kErrorAccessDenied);
  if (node.IsDirectory() && !node.IsLink() && HasChildren(open.key)) {
    return Fail(kErrorDirNotEmpty);
  }
  if (!node.IsDirectory() && (node.attributes & kFileAttributeReadonly) && !ignoreReadonly) {
    return Fail(kErrorAccessDenied);
  }
  if (IsRunningImage(open.key)) return Fail(kErrorAccessDenied);
  return true;
}

}  // namespace

}  // namespace fake

// ---- Handles, identities and owners ----

namespace fake {

void SetOwner(const std::wstring& path, const std::wstring& sid) {
  if (Node* node = Find(Resolve(PathKey(path), false))) node->owner = sid;
}

void OnCreateDirectory(std::function<void(const std::wstring&)> hook) {
  g_onCreateDirectory = std::move(hook);
}

std::wstring NtPathOf(const std::wstring& key) {
  Node* node = Find(key);
  if (!node) return std::wstring();
  std::wstring path = node->path;
  if (path.size() >= 2 && path[1] == L':') path = path.substr(2);
  return L"\\Device\\HarddiskVolume3" + path;
}

}  // namespace fake

namespace platform {

bool GetFileInformationByHandleEx(Handle file, FileAttributeTagInfo* info) {
  fake::OpenFile* open;
  fake::Node* node;
  if (!fake::OpenNode(fake::FileCall::kGetInformation, file, &open, &node)) return false;
  info->fileAttributes = node->attributes;
  info->reparseTag = node->IsLink() ? kIoReparseTagMountPoint : 0;
  return true;
}

bool GetFileInformationByHandleEx(Handle file, FileStandardInfo* info) {
  fake::OpenFile* open;
  fake::Node* node;
  if (!fake::OpenNode(fake::FileCall::kGetInformation, file, &open, &node)) return false;
  bool unlinked = open->key.compare(0, 1, L"|") == 0;
  info->allocationSize = static_cast<int64_t>(node->data.size());
  info->endOfFile = static_cast<int64_t>(node->data.size());
  info->numberOfLinks = unlinked ? 0 : fake::HardLinkCount(*node);
  info->deletePending = node->deletePending || unlinked;
  info->directory = node->IsDirectory();
  return true;
}

bool GetFileInformationByHandleEx(Handle folder, uint32_t infoClass, std::vector<FindData>* entries) {
  fake::OpenFile* open;
  fake::Node* node;
  if (!fake::OpenNode(fake::FileCall::kListDirectory, folder, &open, &node)) return false;
  if (infoClass != kFileFullDirectoryInfo && infoClass != kFileFullDirectoryRestartInfo) {
    return Fail(kErrorInvalidParameter);
  }
  if (!node->IsDirectory()) return Fail(kErrorInvalidParameter);
  if (!(open->access & (kFileListDirectory | kGenericRead))) return Fail(kErrorAccessDenied);
  if (infoClass == kFileFullDirectoryRestartInfo || !open->listStarted) {
    open->listStarted = true;
    open->dotsGiven = 0;
    open->lastListed.clear();
  }
  // A few entries per call, so that callers meet the paging Windows does
  // once a buffer is full.
  constexpr size_t kPerCall = 4;
  std::vector<FindData> got;
  bool root = fake::ParentKey(open->key).empty();
  while (!root && open->dotsGiven < 2 && got.size() < kPerCall) {
    got.push_back({kFileAttributeDirectory, open->dotsGiven == 0 ? L"." : L".."});
    ++open->dotsGiven;
  }
  std::wstring prefix = open->key + L'\\';
  auto it = open->lastListed.empty() ? fake::g_nodes.lower_bound(prefix)
                                     : fake::g_nodes.upper_bound(open->lastListed);
  for (; it != fake::g_nodes.end() && got.size() < kPerCall &&
         it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    if (it->first.find(L'\\', prefix.size()) != std::wstring::npos) continue;  // deeper
    got.push_back({it->second.attributes, fake::LastComponent(it->second.path)});
    open->lastListed = it->first;
  }
  if (got.empty()) return Fail(kErrorNoMoreFiles);
  *entries = std::move(got);
  return true;
}

bool SetFileInformationByHandle(Handle file, const FileBasicInfo& info) {
  fake::OpenFile* open;
  fake::Node* node;
  if (!fake::OpenNode(fake::FileCall::kSetInformation, file, &open, &node)) return false;
  if (!(open->access & (kFileWriteAttributes | kGenericWrite))) return Fail(kErrorAccessDenied);
  if (info.fileAttributes == 0) return true;
  fake::SetAttributes(node, info.fileAttributes);
  fake::SyncHardLinks(open->key);
  return true;
}

bool SetFileInformationByHandle(Handle file, const FileDispositionInfoEx& info) {
  fake::OpenFile* open;
  fake::Node* node;
  if (!fake::OpenNode(fake::FileCall::kSetInformation, file, &open, &node)) return false;
  if (!fake::g_dispositionExSupported) return Fail(kErrorInvalidParameter);
  bool remove = info.flags & kFileDispositionFlagDelete;
  bool ignoreReadonly = info.flags & kFileDispositionFlagIgnoreReadonlyAttribute;
  if (remove && !fake::MayDelete(*open, *node, ignoreReadonly)) return false;
  if (!remove && !(open->access & kDelete)) return Fail(kErrorAccessDenied);
  if (remove && (info.flags & kFileDispositionFlagPosixSemantics)) {
    fake::UnlinkNow(open->key);
    return true;
  }
  node->deletePending = remove;
  open->deleteOnClose = remove;
  return true;
}

}  // namespace platform

namespace fake {

bool OpenFileOf(Handle handle, std::wstring* key, uint32_t* access) {
  OpenFile* open = FindOpen(handle);
  if (!open) return false;
  *key = open->key;
  *access = open->access;
  return true;
}

}  // namespace fake

namespace platform {

namespace {

// The object behind an open file handle, or null with 6.
fake::Node* NodeOf(Handle file, fake::OpenFile** open) {
  *open = fake::FindOpen(file);
  fake::Node* node = *open ? Find((*open)->key) : nullptr;
  if (!node) SetLastError(kErrorInvalidHandle);
  return node;
}

}  // namespace

bool GetFileInformationByHandle(Handle file, ByHandleFileInformation* information) {
  fake::OpenFile* open = nullptr;
  fake::Node* node = NodeOf(file, &open);
  if (!node) return false;
  if (node->index == 0) node->index = fake::g_nextFileIndex++;
  information->fileAttributes = node->attributes;
  information->volumeSerialNumber = 0x1A2B3C4D;
  information->fileIndex = node->index;
  information->numberOfLinks = fake::HardLinkCount(*node);
  information->fileSize = node->data.size();
  return true;
}

bool SetFilePointerEx(Handle file, int64_t distance, uint32_t moveMethod) {
  fake::OpenFile* open = fake::FindOpen(file);
  if (!open) return Fail(kErrorInvalidHandle);
  if (moveMethod != kFileBegin) return Fail(kErrorInvalidParameter);
  if (distance < 0) return Fail(131);  // ERROR_NEGATIVE_SEEK
  open->position = static_cast<uint64_t>(distance);
  return true;
}

bool SetFileInformationByHandle(Handle file, const FileDispositionInfo& information) {
  fake::NotifyFileCall(fake::FileCall::kSetInformation, fake::HandlePath(file));
  fake::OpenFile* open = nullptr;
  fake::Node* node = NodeOf(file, &open);
  if (!node) return false;
  if (!(open->access & kDelete)) return Fail(kErrorAccessDenied);
  if (information.deleteFile) {
    if (node->IsDirectory() && !node->IsLink() && fake::HasChildren(open->key)) {
      return Fail(kErrorDirNotEmpty);
    }
    if (!node->IsDirectory() && (node->attributes & kFileAttributeReadonly)) {
      return Fail(kErrorAccessDenied);
    }
    if (fake::IsRunningImage(open->key)) return Fail(kErrorAccessDenied);
  }
  open->deleteOnClose = information.deleteFile;
  node->deletePending = information.deleteFile;
  return true;
}

uint32_t GetSecurityInfo(Handle file, std::wstring* ownerSid) {
  fake::OpenFile* open = nullptr;
  fake::Node* node = NodeOf(file, &open);
  if (!node) return kErrorInvalidHandle;
  if (!(open->access & (kGenericRead | kReadControl))) return kErrorAccessDenied;
  *ownerSid = node->owner.empty() ? fake::kUserSid : node->owner;
  return kErrorSuccess;
}

}  // namespace platform
