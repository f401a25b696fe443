// Control API of the in-memory Windows that the host build links in place of
// platform/win32. Tests set up the machine with these calls, run the logic,
// and read back what it did.
#ifndef PLATFORM_FAKE_FAKE_H_
#define PLATFORM_FAKE_FAKE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/firewall.h"
#include "platform/types.h"

namespace fake {

// A new machine: drive C: with C:\Windows\System32, C:\Program Files,
// C:\ProgramData and the user's temp folder; no network; no windows.
void Reset();

// ---- File system ----
constexpr wchar_t kTempFolder[] = L"C:\\Users\\User\\AppData\\Local\\Temp\\";

// Adds a file with the given bytes, creating missing parent folders.
void AddFile(const std::wstring& path, const std::string& content,
             uint32_t attributes = 0x80 /* FILE_ATTRIBUTE_NORMAL */);
// Adds a folder and its missing parents.
void AddDirectory(const std::wstring& path);
// The bytes of a file, or nullopt when no file is there.
std::optional<std::string> FileContent(const std::wstring& path);
// Whether a file or folder exists at the path.
bool Exists(const std::wstring& path);
// Every path below (and including) a folder, in sorted order; for asserting
// that nothing else was left behind.
std::vector<std::wstring> ListTree(const std::wstring& folder);
// Opens a file the way another program would (read access, the given
// sharing) and keeps it open until CloseHandle on the returned handle.
platform::Handle HoldOpen(const std::wstring& path, uint32_t share = 0);
// Makes every WriteFile to the path fail with the code once more than
// `afterBytes` bytes would be in the file (a full disk).
void FailWritesTo(const std::wstring& path, uint32_t code, uint64_t afterBytes);
// Number of file handles currently open (leak checks).
int OpenFileHandleCount();

// ---- HTTP ----
struct HttpResponse {
  uint32_t status = 200;
  // The body as successive WinHttpReadData calls deliver it.
  std::vector<std::string> chunks;
  // Declared Content-Length; nullopt when the server sent none.
  std::optional<uint32_t> contentLength;
  // Absolute URL ("https://host/path") a 3xx answer points to.
  std::wstring location;
  // Failures injected at the steps of one request; 0 means none.
  uint32_t sendError = 0;
  uint32_t receiveError = 0;
  // Read number failReadAt (0-based, counting every WinHttpReadData call)
  // fails with readError; -1 means no read fails.
  int failReadAt = -1;
  uint32_t readError = platform::kErrorWinHttpConnectionError;
  // The status header cannot be read as a number.
  bool statusUnreadable = false;
};

// Serves `response` for an absolute URL "https://host/path?query" (or
// http://). The host becomes reachable; other paths on it answer 404.
void SetHttpResponse(const std::wstring& url, const HttpResponse& response);
// Every request to the host fails at send with the code (down, refused).
void SetHttpHostDown(const std::wstring& host, uint32_t code);

enum class HttpCall { kOpen, kConnect, kOpenRequest };
// The next call of that kind fails with the code.
void FailNextHttpCall(HttpCall call, uint32_t code);

// What one request did, recorded as the logic made it.
struct HttpRequestRecord {
  std::wstring userAgent;
  std::map<uint32_t, uint32_t> sessionOptions;
  std::wstring host;
  uint16_t port = 0;
  std::wstring verb;
  std::wstring objectName;
  uint32_t flags = 0;
  std::map<uint32_t, uint32_t> requestOptions;
  // Every URL fetched, the redirects followed included.
  std::vector<std::wstring> urlsFetched;
  int readCalls = 0;
};
const std::vector<HttpRequestRecord>& HttpRequests();
// Called inside each WinHttpReadData with its 0-based number, before it
// answers: lets a test act "while the body arrives".
void OnHttpRead(std::function<void(int)> hook);
int OpenHttpHandleCount();

// ---- Debug trace ----
// Every OutputDebugStringA line as given, and every OutputDebugStringW line
// as UTF-8, in order.
const std::vector<std::string>& TraceLines();

// ---- Windows ----
platform::WindowHandle CreateWindowForTesting(const std::wstring& text);
// Called by UpdateWindow when the window has an invalid area, once per
// paint, after which the area is valid again.
void OnPaint(std::function<void(platform::WindowHandle)> handler);

// Narrow/wide helpers for assertions.
std::string ToUtf8(const std::wstring& text);

// ---- File system: links, searches, deferred moves ----
// Adds a directory junction at `link` (FILE_ATTRIBUTE_DIRECTORY |
// FILE_ATTRIBUTE_REPARSE_POINT) to the folder `target`, creating the link's
// missing parents. Paths through the link reach the target, as on Windows;
// DeleteFileW on the link fails with 5; RemoveDirectoryW removes the link
// only. The target need not exist (a dangling link).
void AddJunction(const std::wstring& link, const std::wstring& target);
// Every FindFirstFileW in the folder fails with the code, like a folder
// whose ACL denies listing; other operations on it are unaffected.
void FailSearch(const std::wstring& folder, uint32_t code);
enum class FindCall { kFirst, kNext, kClose };
// Called at the end of each FindFirstFileW, FindNextFileW and FindClose
// with the search's pattern: lets a test change the tree while a walk runs.
// A search lists the entries its folder held at FindFirstFileW.
void OnFindCall(std::function<void(FindCall, const std::wstring& pattern)> hook);
int OpenFindHandleCount();
// MoveFileExW calls with MOVEFILE_DELAY_UNTIL_REBOOT, in order; an empty
// `to` is a deletion at the next start.
struct PendingMove {
  std::wstring from;
  std::wstring to;
};
const std::vector<PendingMove>& PendingMoves();

// ---- Filtering engine ----
// The local base filtering engine: providers, sublayers and filters. It
// enforces what the real engine does for deletions (FWP_E_*_NOT_FOUND,
// FWP_E_IN_USE while something refers to the object), holds a transaction
// per session (commit applies, abort or close without commit rolls back),
// and answers a filter enumeration from the filters present when the handle
// was created, in the order they were added, honouring only the template's
// provider key.
void AddFwpmProvider(const platform::Guid& key);
void AddFwpmSublayer(const platform::Guid& key, std::optional<platform::Guid> providerKey);
void AddFwpmFilter(uint64_t id, std::optional<platform::Guid> providerKey,
                   const platform::Guid& sublayerKey);
// Another program deletes a filter (outside any session of ours).
void RemoveFwpmFilter(uint64_t id);
// Ids of the filters present, ascending.
std::vector<uint64_t> FwpmFilterIds();
bool FwpmProviderExists(const platform::Guid& key);
bool FwpmSublayerExists(const platform::Guid& key);
// At most this many filters per FwpmFilterEnum0 page, whatever was asked.
void SetFwpmPageLimit(uint32_t limit);

enum class FwpmCall {
  kEngineOpen,
  kEngineClose,
  kTransactionBegin,
  kTransactionCommit,
  kTransactionAbort,
  kCreateEnumHandle,
  kEnum,
  kDestroyEnumHandle,
  kDeleteFilter,
  kDeleteSublayer,
  kDeleteProvider,
};
// Call number `nth` (0-based, counted from now) of that kind fails with the
// status and changes nothing.
void FailFwpmCall(FwpmCall call, uint32_t status, int nth = 0);
// Called at the start of each management call, before it answers.
void OnFwpmCall(std::function<void(FwpmCall)> hook);

// What the logic asked of the engine: every call in order as text, e.g.
// "FwpmEngineOpen0 -> 0", "FwpmFilterEnum0(100) -> 0, 50 returned",
// "FwpmFilterDeleteById0(68042) -> 2150760451".
const std::vector<std::string>& FwpmCallLog();
// The arguments of the last FwpmEngineOpen0 and FwpmFilterCreateEnumHandle0.
struct FwpmSessionRecord {
  uint32_t authnService = 0;
  std::wstring displayName;
};
std::optional<FwpmSessionRecord> LastFwpmSession();
std::optional<platform::FwpmFilterEnumTemplate0> LastFwpmEnumTemplate();
// Sessions and enumeration handles still open, pages not yet freed.
int OpenFwpmHandleCount();
int UnfreedFwpmPageCount();

}  // namespace fake

#endif  // PLATFORM_FAKE_FAKE_H_
