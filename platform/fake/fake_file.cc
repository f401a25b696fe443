// The fake's file system: one drive C:, case-insensitive, with Windows'
// error codes for the cases the program meets.
#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <set>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/file.h"

namespace fake {
namespace {

using namespace platform;

struct Node {
  std::wstring path;  // as first created, for listings
  uint32_t attributes = kFileAttributeNormal;
  std::string data;
  uint32_t writeError = 0;
  uint64_t writeLimit = 0;
  bool IsDirectory() const { return attributes & kFileAttributeDirectory; }
};

struct OpenFile {
  std::wstring key;
  uint32_t access = 0;
  uint32_t share = 0;
  uint64_t position = 0;
};

std::map<std::wstring, Node> g_nodes;
std::map<uintptr_t, OpenFile> g_open;
// Folders in which the user may not create anything (PathKey).
std::set<std::wstring> g_createDenied;

std::wstring ParentKey(const std::wstring& key) {
  size_t slash = key.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : key.substr(0, slash);
}

Node* Find(const std::wstring& key) {
  auto it = g_nodes.find(key);
  return it == g_nodes.end() ? nullptr : &it->second;
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
bool SharingAllows(const std::wstring& key, uint32_t access, uint32_t share) {
  for (const auto& [handle, open] : g_open) {
    if (open.key != key) continue;
    if ((access & kGenericRead) && !(open.share & kFileShareRead)) return false;
    if ((access & kGenericWrite) && !(open.share & kFileShareWrite)) return false;
    if ((open.access & kGenericRead) && !(share & kFileShareRead)) return false;
    if ((open.access & kGenericWrite) && !(share & kFileShareWrite)) return false;
  }
  return true;
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
  g_nodes[L"C:"] = Node{L"C:", kFileAttributeDirectory, {}, 0, 0};
  MakeFolders(L"C:\\Windows\\System32");
  MakeFolders(L"C:\\Program Files");
  MakeFolders(L"C:\\ProgramData");
  std::wstring temp = kTempFolder;
  MakeFolders(temp.substr(0, temp.size() - 1));
  MakeFolders(kDesktopFolder);
  g_createDenied.clear();
}

ResetHook g_resetFiles(ResetFiles);
const bool g_initialised = (ResetFiles(), true);

}  // namespace

std::wstring PathKey(const std::wstring& path) {
  std::wstring key;
  key.reserve(path.size());
  for (wchar_t c : path) key += c == L'/' ? L'\\' : static_cast<wchar_t>(std::towupper(c));
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
  Node* node = Find(PathKey(path));
  if (!node || node->IsDirectory()) return std::nullopt;
  return node->data;
}

bool Exists(const std::wstring& path) { return Find(PathKey(path)) != nullptr; }

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

}  // namespace fake

namespace platform {

using fake::Fail;
using fake::Find;

Handle CreateFileW(const std::wstring& path, uint32_t access, uint32_t share,
                   uint32_t disposition, uint32_t attributes) {
  std::wstring key = fake::PathKey(path);
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
    bool writes = (access & kGenericWrite) || disposition == kCreateAlways ||
                  disposition == kTruncateExisting;
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
    fake::g_nodes[key] = fake::Node{path, fake::NewFileAttributes(attributes), {}, 0, 0};
  }
  Handle handle = fake::NewHandle([](Handle closed) {
    fake::g_open.erase(reinterpret_cast<uintptr_t>(closed));
  });
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

bool DeleteFileW(const std::wstring& path) {
  std::wstring key = fake::PathKey(path);
  fake::Node* node = Find(key);
  if (!node) return Fail(fake::MissingError(key));
  if (node->IsDirectory() || (node->attributes & kFileAttributeReadonly)) return Fail(kErrorAccessDenied);
  if (fake::IsRunningImage(key)) return Fail(kErrorAccessDenied);
  if (!fake::DeleteAllowed(key)) return Fail(kErrorSharingViolation);
  fake::g_nodes.erase(key);
  return true;
}

uint32_t GetFileAttributesW(const std::wstring& path) {
  std::wstring key = fake::PathKey(path);
  fake::Node* node = Find(key);
  if (!node) {
    SetLastError(fake::MissingError(key));
    return kInvalidFileAttributes;
  }
  return node->attributes;
}

bool SetFileAttributesW(const std::wstring& path, uint32_t attributes) {
  std::wstring key = fake::PathKey(path);
  fake::Node* node = Find(key);
  if (!node) return Fail(fake::MissingError(key));
  uint32_t kept = attributes & (kFileAttributeReadonly | kFileAttributeHidden |
                                kFileAttributeSystem | kFileAttributeArchive);
  if (node->IsDirectory()) {
    node->attributes = kFileAttributeDirectory | kept;
  } else {
    node->attributes = kept ? kept : kFileAttributeNormal;
  }
  return true;
}

bool CreateDirectoryW(const std::wstring& path) {
  std::wstring key = fake::PathKey(path);
  if (Find(key)) return Fail(kErrorAlreadyExists);
  if (!fake::ParentIsFolder(key)) return Fail(kErrorPathNotFound);
  if (fake::g_createDenied.count(fake::ParentKey(key))) return Fail(kErrorAccessDenied);
  fake::g_nodes[key] = fake::Node{path, kFileAttributeDirectory, {}, 0, 0};
  return true;
}

bool RemoveDirectoryW(const std::wstring& path) {
  std::wstring key = fake::PathKey(path);
  fake::Node* node = Find(key);
  if (!node) return Fail(fake::MissingError(key));
  if (!node->IsDirectory()) return Fail(kErrorDirectory);
  if (fake::ParentKey(key).empty()) return Fail(kErrorAccessDenied);
  if (fake::HasChildren(key)) return Fail(kErrorDirNotEmpty);
  fake::g_nodes.erase(key);
  return true;
}

std::wstring GetTempPathW() { return fake::kTempFolder; }

}  // namespace platform
