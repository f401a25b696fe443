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

#include "platform/shell.h"

#include "platform/draw.h"

#include "platform/registry.h"
#include "platform/time.h"

#include "platform/firewall.h"
#include "platform/thread.h"
#include "platform/types.h"
#include "platform/ui.h"

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
// FlushFileBuffers on a handle of the file fails with the code (the device
// reports an error).
void FailFlushOf(const std::wstring& path, uint32_t code);
// Called at the start of every MoveFileExW that moves now (not the deferred
// ones), before it answers: a non-zero result makes the call fail with that
// code and change nothing. Lets a test fail or stop a run at one rename.
void OnMoveFile(std::function<uint32_t(const std::wstring& from, const std::wstring& to)> hook);
// The program was killed at this point: every kernel and HTTP handle it
// held is closed; a named mutex its threads owned goes away with the last
// handle (only one that someone else still had open would be abandoned,
// which SetMutexHolder(kKilledSetup) sets up).
void SimulateKill();

// ---- HTTP ----
struct HttpResponse {
  uint32_t status = 200;
  // The body as successive WinHttpReadData calls deliver it.
  std::vector<std::string> chunks;
  // Declared Content-Length; nullopt when the server sent none.
  std::optional<uint64_t> contentLength;
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

// ---- Shell ----
// The user's desktop, made by Reset. SHGetFolderPathW finds it only while
// it exists.
constexpr wchar_t kDesktopFolder[] = L"C:\\Users\\User\\Desktop";
// Creating files or folders directly inside the folder fails with 5, as when
// its ACL denies the user (a standard user in C:\Program Files).
void DenyCreateIn(const std::wstring& folder);

// The steps of SaveShellLink, in the order it takes them.
enum class ShellLinkStep {
  kCoCreateInstance,
  kSetPath,
  kSetDescription,
  kSetIconLocation,
  kSetWorkingDirectory,
  kQueryInterface,
  kSave,
};
// The next SaveShellLink fails at the step with the result. A failed setter
// only leaves its property unset, since its result is not examined.
void FailNextShellLink(ShellLinkStep step, platform::HResult result);
// What the shell link file at the path says, or nullopt when no link saved
// by SaveShellLink is there (never saved, deleted, overwritten).
std::optional<platform::ShellLinkProperties> ShellLinkAt(const std::wstring& lnkPath);
// COM initialisations of the calling thread not yet undone.
int ComInitCount();
// The signed-in user's desktop shell, which ShellExecuteFromDesktop reaches
// by default and which then starts the program (a ProcessStart of
// kShellDispatch). Once missing, the call answers `answer` before reaching
// anything: kRegDbEClassNotReg (no shell window list) or kSFalse
// (a list without a desktop window).
void SetDesktopShellMissing(platform::HResult answer);

// ---- Message boxes ----
struct MessageBoxRecord {
  platform::WindowHandle owner;
  std::wstring text;
  std::wstring caption;
  uint32_t type;
  int32_t answer;
};
// Answers (kIdYes, kIdNo, ...) for the next boxes, in order; each must be a
// button of its box. Unscripted boxes give the answer that changes nothing:
// IDOK for MB_OK, IDNO for MB_YESNO, IDCANCEL where there is Cancel.
void AnswerMessageBoxes(const std::vector<int32_t>& answers);
// Every box shown, in order.
const std::vector<MessageBoxRecord>& MessageBoxes();
// Called while a box is open (it is already in MessageBoxes), before it
// answers.
void OnMessageBox(std::function<void(const MessageBoxRecord&)> hook);

// ---- Drawing surface ----
// Every window has a client area of 0 x 0 until a test sizes it.
void SetClientSize(platform::WindowHandle window, int width, int height);

// The arguments a font was created with (CreateFontW), or for a stock font
// the face, height and weight Windows gives it.
struct FontRecord {
  int height = 0;
  int width = 0;
  int escapement = 0;
  int orientation = 0;
  int weight = 0;
  uint32_t italic = 0;
  uint32_t underline = 0;
  uint32_t strikeOut = 0;
  uint32_t charSet = 0;
  uint32_t outPrecision = 0;
  uint32_t clipPrecision = 0;
  uint32_t quality = 0;
  uint32_t pitchAndFamily = 0;
  std::wstring face;
};
// The record of a font handle, or nullopt when it is not a live font.
std::optional<FontRecord> FontOf(platform::GdiHandle font);

struct BrushState {
  bool hollow = false;  // NULL_BRUSH
  uint32_t color = 0;   // COLORREF
};
struct PenState {
  int style = 0;  // PS_SOLID, PS_NULL
  int width = 0;
  uint32_t color = 0;
};

enum class DrawKind { kFillRect, kRoundRect, kDrawIcon, kDrawText, kBitBlt };

// One primitive as it reached a surface, with the DC state it used.
struct DrawOp {
  DrawKind kind = DrawKind::kFillRect;
  // FillRect, RoundRect, DrawTextW: the rectangle passed; DrawIconEx:
  // x, y, x + width, y + height; BitBlt: the destination.
  platform::Rect rect{};
  BrushState brush;  // FillRect: the brush passed; RoundRect: the one selected
  PenState pen;      // RoundRect: the selected pen
  int cornerWidth = 0;
  int cornerHeight = 0;
  uint32_t flags = 0;  // DrawIconEx flags, DrawTextW format
  // DrawIconEx: the size the icon was loaded at.
  int iconWidth = 0;
  int iconHeight = 0;
  // DrawTextW: the characters drawn, with the selected font, colour and mode.
  std::wstring text;
  FontRecord font;
  uint32_t textColor = 0;
  int bkMode = 0;
  // BitBlt: raster operation, source origin, the source bitmap's size and
  // bits per pixel, and everything drawn on it so far.
  uint32_t rop = 0;
  int sourceX = 0;
  int sourceY = 0;
  int sourceWidth = 0;
  int sourceHeight = 0;
  int sourceBitsPerPixel = 0;
  std::vector<DrawOp> source;
};

// What reached one window between BeginPaint and EndPaint.
struct Frame {
  platform::WindowHandle window = nullptr;
  platform::Rect client{};  // at BeginPaint
  bool erase = false;       // BeginPaint reported a pending erase
  std::vector<DrawOp> ops;
};
// Every completed paint, oldest first.
const std::vector<Frame>& Frames();

// One line per primitive, for readable assertions, e.g.
//   FillRect 0,0,504,90 brush 45,45,48
//   RoundRect 30,180,474,186 corner 3,3 brush 60,60,60 pen solid 1 60,60,60
//   DrawIconEx 25,19,73,67 icon 48x48 flags 0x3
//   DrawTextW "Ready" 30,115,474,140 format 0x20 font "Segoe UI" 14/400 color 255,255,255 transparent
//   BitBlt 0,0,504,281 from 0,0 of 504x281x32 rop 0xcc0020
std::string Describe(const DrawOp& op);
std::vector<std::string> Describe(const std::vector<DrawOp>& ops);

// Brushes, pens, fonts, bitmaps and memory DCs created and not yet deleted.
int LiveGdiObjectCount();
// Uses of GDI that Windows would refuse or that leak, in order: deleting a
// selected object, using a deleted or unknown handle, drawing in colour on a
// monochrome bitmap, EndPaint without BeginPaint.
const std::vector<std::string>& GdiMisuse();

// ---- Icons ----
// The program's own module, as wWinMain receives it. It carries no icons
// until a test adds them (the host build links no resources).
platform::InstanceHandle MainInstance();
void AddIconResource(int id);
// Icons loaded and not destroyed.
int LiveIconCount();

// ---- Registry ----
// Roots are platform::kHkeyLocalMachine and platform::kHkeyCurrentUser; key
// paths are compared case-insensitively, "WOW6432Node" paths are plain
// paths. A new machine has HKLM\SOFTWARE with the Uninstall key and
// HKCU\SOFTWARE, nothing else.
struct RegistryValue {
  std::wstring name;
  uint32_t type = 0;
  std::string data;  // the raw bytes
  bool operator==(const RegistryValue& other) const {
    return name == other.name && type == other.type && data == other.data;
  }
};
// Writes a value as another program would, creating the keys on the way.
void SetRegistryValue(platform::RegKey root, const std::wstring& keyPath,
                      const std::wstring& name, uint32_t type, const std::string& data);
void AddRegistryKey(platform::RegKey root, const std::wstring& keyPath);
bool RegistryKeyExists(platform::RegKey root, const std::wstring& keyPath);
// The key's values in the order they were first written; empty when the key
// is missing.
std::vector<RegistryValue> RegistryValues(platform::RegKey root, const std::wstring& keyPath);
// From now on the key and everything below it refuse write access, creation
// and deletion with 5, as an access list that does not grant them would.
void DenyRegistryWrites(platform::RegKey root, const std::wstring& keyPath);
int OpenRegistryKeyCount();
// REG_SZ data as Windows stores it: UTF-16LE with the terminating zero.
std::string RegSz(const std::wstring& text);
// REG_DWORD data: 4 bytes, little-endian.
std::string RegDword(uint32_t value);

// ---- Processes and the clock ----
// How a started program behaves. Unscripted programs exit with 0 at once.
struct ProcessScript {
  uint32_t exitCode = 0;
  uint32_t runsForMs = 0;        // fake time from the start to the exit
  bool neverExits = false;       // runs until TerminateProcess
  uint32_t startError = 0;       // the start fails with this code
  bool noProcessHandle = false;  // ShellExecuteExW starts it but returns no handle
  // DLLs the process keeps loaded while it runs: like its image, they can be
  // renamed but not deleted (5), replaced (5) or opened for writing (32).
  std::vector<std::wstring> loadsModules;
  // A program the process starts as soon as it runs (a suspended process
  // once resumed), which never exits by itself. It belongs to the parent's
  // job if the parent is in one by then.
  std::wstring startsChild;
};
// program is a full path or a pattern in which * and ? match any characters
// (backslashes included), compared case-insensitively; the script set last
// wins. A program must exist in the file system to start (2/3 otherwise), and
// ShellExecuteExW opens only ".exe" files (1155 for any other type). While a
// process runs, its file cannot be deleted (5) or opened for writing (32).
void SetProcessScript(const std::wstring& program, const ProcessScript& script);

// kShellDispatch: started by the desktop shell (ShellExecuteFromDesktop),
// with the signed-in user's token rather than this process's.
enum class StartApi { kShellExecuteExW, kCreateProcessW, kShellExecuteW, kShellDispatch };
// One start attempt, with every argument the logic passed.
struct ProcessStart {
  StartApi api = StartApi::kShellExecuteExW;
  std::wstring program;  // ShellExecuteExW's file, CreateProcessW's application
  // ShellExecuteExW (and ShellExecuteW: verb, parameters, show, owner, directory)
  uint32_t mask = 0;
  std::wstring verb;
  std::wstring parameters;
  int32_t show = -1;
  void* owner = nullptr;
  // ShellExecuteExW's and ShellExecuteW's working folder; for CreateProcessW
  // the caller's current folder at the start, which the program inherits.
  std::wstring directory;
  // CreateProcessW
  std::wstring commandLine;  // the buffer's text up to its terminator
  uint32_t creationFlags = 0;
  uint32_t startupFlags = 0;
  uint16_t showWindow = 0xFFFF;
  bool started = false;
};
const std::vector<ProcessStart>& ProcessStarts();
// Called while a started process runs, before the starting call returns.
void OnProcessStart(std::function<void(const ProcessStart&)> hook);

// Another program (a user's, a service) runs `program` now, as its script
// says; the returned process handle is the test's to close.
platform::Handle RunProgram(const std::wstring& program);

// What became of each started process, in start order.
struct ProcessOutcome {
  std::wstring program;
  bool running = false;
  bool terminated = false;  // ended by TerminateProcess or TerminateJobObject
  uint32_t exitCode = 0;    // valid once it has ended
  bool suspended = false;   // started with CREATE_SUSPENDED, not yet resumed
  bool inJob = false;       // belongs to a job object
};
std::vector<ProcessOutcome> ProcessOutcomes();
// Open process and thread handles (leak checks).
int OpenProcessHandleCount();

// The fake clock in milliseconds since Reset: Sleep and waits move it on at
// once, so no test waits for real. A terminated process ends 50 ms later.
uint64_t ClockMs();
// The date and time GetLocalTime reports (default Saturday 7 March 2026,
// 10:00:00.000); it does not move with the clock.
void SetLocalTime(const platform::SystemTime& time);
// The running program's path as GetModuleFileNameW reports it (default
// C:\Users\User\Downloads\TessalineSetup.exe); the file itself is added by
// the test. It counts as a running image, at its new place once moved
// (GetModuleFileNameW still reports the path it was started from).
void SetModuleFileName(const std::wstring& path);

// ---- Named mutexes ----
// Who else has the mutex of that name (names compared case-insensitively):
// nobody (the name is free), a setup that runs and owns it, a setup that
// was killed while owning it (the next wait gets WAIT_ABANDONED), or an
// owner whose access list does not let this program open it (5).
// kOtherAccount: made first by a program of another account (the owner
// kOtherUserSid) whose access list lets everyone in; it holds it.
enum class MutexHolder { kNobody, kRunningSetup, kKilledSetup, kNoAccess, kOtherAccount };
void SetMutexHolder(const std::wstring& name, MutexHolder holder);
// The SDDL text the mutex of that name was created with by the program, or
// nullopt when it does not exist or was made by someone else.
std::optional<std::wstring> MutexSecurity(const std::wstring& name);
// Whether a thread of the program owns the mutex of that name now.
bool MutexOwned(const std::wstring& name);
// Handles of the program on named mutexes.
int OpenMutexHandleCount();

// ---- Security and temporary names ----
// Whether the process's token is a member of the Administrators group, as
// CheckTokenMembership answers for S-1-5-32-544 (a new machine: yes, an
// elevated administrator). Any other SID is not a member, but for S-1-5-18
// while the process runs as LocalSystem.
void SetAdministrator(bool member);
// Whether the token's user is LocalSystem (S-1-5-18), as for the task
// scheduler's SYSTEM tasks (a new machine: no, a user).
void SetLocalSystem(bool system);
// The next AllocateAndInitializeSid, or CheckTokenMembership, fails with
// the code.
void FailNextAllocateSid(uint32_t code);
void FailNextCheckTokenMembership(uint32_t code);
// SIDs of AllocateAndInitializeSid not yet given to FreeSid.
int LiveSidCount();
// The SDDL text of the access list a folder was created with (or last set
// through SetSecurityInfo, owner included), or nullopt for a folder made
// without one (or not there).
std::optional<std::wstring> FolderSecurity(const std::wstring& path);
// Descriptors handed out by ConvertStringSecurityDescriptor... and not yet
// given to LocalFree.
int LiveSecurityDescriptorCount();
// From now on BCryptGenRandom fails with the status.
void FailRandom(uint32_t status);
// The next GetTempFileNameW fails with the code and creates nothing.
void FailNextGetTempFileName(uint32_t code);

// ---- Sessions and window stations ----
// The session ProcessIdToSessionId reports for the program's own process
// (a new machine: 1, a user's session; 0 is where services and the task
// scheduler's SYSTEM tasks run) and whether its window station carries
// WSF_VISIBLE (a new machine: yes, WinSta0 on a display).
void SetSessionId(uint32_t session);
void SetWindowStationVisible(bool visible);
// A MessageBoxW in session 0 or on an invisible station is never answered:
// the fake stops the test program with a message instead.
// The next ProcessIdToSessionId, or GetUserObjectInformationW, fails with
// the code.
void FailNextProcessIdToSessionId(uint32_t code);
void FailNextGetUserObjectInformation(uint32_t code);

// ---- Window manager, message queue and threads ----
// Windows made by CreateWindowExW run their class's procedure; the UI
// thread (the test's own) has one queue of posted messages. GetMessageW
// returns, in this order: a posted message, WM_QUIT, WM_PAINT for a visible
// window with an invalid area; with none of these it runs the threads that
// CreateThread made, and after them the next WhenIdle action. With nothing
// left at all the UI thread would wait forever: the fake stops the test
// program with a message instead.

// The primary screen in pixels and its DPI (a new machine: 1920 x 1080 at
// 96). A process that has not made itself DPI aware sees it scaled to 96.
void SetScreen(int width, int height, int dpi);
// The process's DPI awareness context, 0 until one is set.
platform::DpiAwarenessContext ProcessDpiAwarenessContext();
// The common control classes initialised so far, combined.
uint32_t CommonControlClasses();
// SetDefaultDllDirectories' flags, 0 until it is called.
uint32_t DefaultDllDirectories();

// A window of CreateWindowExW as it is now. Captioned windows have a frame
// of 8 and a caption of 23 pixels at 96 DPI (scaled with the window's DPI)
// around the client area, as on Windows 10: 520 x 320 outside is 504 x 281
// inside.
struct WindowInfo {
  std::wstring className;  // as registered
  std::wstring text;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  platform::WindowHandle parent = nullptr;
  uintptr_t id = 0;
  platform::InstanceHandle instance = nullptr;
  platform::Rect rect{};  // GetWindowRect
  bool visible = false;
  int dpi = 96;
};
std::optional<WindowInfo> InfoOf(platform::WindowHandle window);
// The live windows of a class, oldest first.
std::vector<platform::WindowHandle> WindowsOfClass(const std::wstring& className);
// A class as RegisterClassExW was given it; nullopt when none has the name.
std::optional<platform::WindowClass> ClassNamed(const std::wstring& className);
// The next CreateWindowExW fails with the code (8: out of memory, or the
// desktop heap full) before it sends anything.
void FailNextCreateWindow(uint32_t code);

struct PostedMessage {
  platform::WindowHandle window = nullptr;
  uint32_t message = 0;
  platform::WParam wParam = 0;
  platform::LParam lParam = 0;
};
// Every message that reached a window procedure (sent or dispatched), in
// order.
const std::vector<PostedMessage>& DeliveredMessages();
// The posted messages still waiting, oldest first.
std::vector<PostedMessage> QueuedMessages();

struct WindowPosCall {
  platform::WindowHandle window = nullptr;
  platform::WindowHandle insertAfter = nullptr;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  uint32_t flags = 0;
};
const std::vector<WindowPosCall>& WindowPosCalls();

struct MouseTrackCall {
  platform::WindowHandle window = nullptr;
  uint32_t flags = 0;
  uint32_t hoverTime = 0;
};
const std::vector<MouseTrackCall>& MouseTrackCalls();

// The bytes DwmSetWindowAttribute last set for the attribute, or nullopt.
std::optional<std::string> DwmAttribute(platform::WindowHandle window, uint32_t attribute);

// An action of the user (or another program) for the next moment the UI
// thread waits with nothing to do; each runs once, in the order given.
void WhenIdle(std::function<void()> action);

// The user's mouse and close box: each posts what Windows posts. Points are
// in client coordinates. The pointer is over the window after a move, a
// press or a release; moving it away posts WM_MOUSELEAVE only when
// TrackMouseEvent asked for it.
void MovePointer(platform::WindowHandle window, int x, int y);
void MovePointerAway(platform::WindowHandle window);
void PressLeftButton(platform::WindowHandle window, int x, int y);
void ReleaseLeftButton(platform::WindowHandle window, int x, int y);
void Click(platform::WindowHandle window, int x, int y);  // press and release at one point
void PressCloseBox(platform::WindowHandle window);        // WM_SYSCOMMAND, SC_CLOSE
// The window lands on a monitor of another DPI: a per-monitor aware process
// gets WM_DPICHANGED (sent) with the DPI and the suggested rectangle; the
// window keeps its size unless the procedure applies it.
void ChangeDpi(platform::WindowHandle window, int dpi, const platform::Rect& suggested);

// Threads. CreateThread only records a thread; it runs when the UI thread
// waits in GetMessageW with nothing else to do, or when a test calls
// RunPendingThreads: each to its end, on a real thread of its own while the
// caller waits. A window call such as UpdateWindow from such a thread to a
// window of the UI thread first lets the UI thread handle its posted
// messages, as it would while serving the call.
int RunPendingThreads();  // how many ran
int PendingThreadCount();
struct ThreadRecord {
  int id = 0;
  platform::ThreadProc proc = nullptr;
  void* parameter = nullptr;
  bool finished = false;
  uint32_t exitCode = 0;
};
// Every thread CreateThread made, in order.
const std::vector<ThreadRecord>& Threads();
// The next CreateThread fails with the code.
void FailNextCreateThread(uint32_t code);
int OpenThreadHandleCount();

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
  uint32_t flags = 0;
};
const std::vector<PendingMove>& PendingMoves();
// The queue is also written where Windows keeps it, the REG_MULTI_SZ value
// PendingFileRenameOperations of the key kSessionManagerKey of
// HKEY_LOCAL_MACHINE: per move "\??\<from>", then "!\??\<to>" (replacing),
// "\??\<to>" or "" (a deletion); emptied by a restart.
constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";
constexpr uint32_t kRegMultiSz = 7;
// Every deferred MoveFileExW fails with the code (0: none do), as for a
// caller that may not write the restart queue.
void FailDelayedMoves(uint32_t code);
// Windows starts again: every program ends and every handle closes, then
// the queued operations run in their order, as the session manager does:
// a missing source is skipped, an existing target is replaced only with
// MOVEFILE_REPLACE_EXISTING; the queue is then empty.
void RestartWindows();

// ---- File system: working through handles ----
// Adds a second name for an existing file (CreateHardLinkW): both names
// show the same bytes and attributes, and each counts in NumberOfLinks.
void AddHardLink(const std::wstring& link, const std::wstring& existing);
// Whether SetFileInformationByHandle knows FileDispositionInfoEx (a new
// machine: yes); without it the call fails with 87, as on older systems.
void SetFileDispositionExSupported(bool supported);
enum class FileCall {
  kCreateFile,
  kGetInformation,
  kListDirectory,
  kSetInformation,
  // GetFileAttributesW, SetFileAttributesW, DeleteFileW, RemoveDirectoryW,
  // FindFirstFileW (with its pattern).
  kPathCall,
};
// Called at the start of each CreateFileW and path call (with its path) and
// of each GetFileInformationByHandleEx or SetFileInformationByHandle (with
// the path of what the handle is open on), before it acts: lets a test
// change the tree between any two steps of a walk. Calls the hook makes
// itself are not reported.
void OnFileCall(std::function<void(FileCall, const std::wstring& path)> hook);

// ---- Current folder, handles, owners ----
// The folder the setup is started from: the current folder of a new machine
// (Reset creates it).
constexpr wchar_t kStartFolder[] = L"C:\\Users\\User\\Downloads";
// The process's current folder (SetCurrentDirectoryW), as given.
std::wstring CurrentDirectory();
// Owners, as SID text. What the program creates belongs to Administrators
// (an elevated administrator's default owner) unless its access list names
// another owner; what tests add (AddFile, AddDirectory, AddJunction) belongs
// to the user, the folders of a new machine to SYSTEM.
constexpr wchar_t kAdministratorsSid[] = L"S-1-5-32-544";
constexpr wchar_t kSystemSid[] = L"S-1-5-18";
constexpr wchar_t kUserSid[] = L"S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr wchar_t kOtherUserSid[] = L"S-1-5-21-1004336348-1177238915-682003330-1002";
void SetOwner(const std::wstring& path, const std::wstring& sid);
// Called after each successful CreateDirectoryW with the path: lets a test
// act between the creation of a folder and what the program does next.
void OnCreateDirectory(std::function<void(const std::wstring& path)> hook);

// ---- Filtering engine ----
// The local base filtering engine: providers, sublayers and filters. It
// enforces what the real engine does for deletions (FWP_E_*_NOT_FOUND,
// FWP_E_IN_USE while something refers to the object), holds a transaction
// per session (commit applies, abort or close without commit rolls back),
// and answers a filter enumeration from the filters present when the handle
// was created, in the order they were added, honouring the template's
// provider key and action mask (a filter is listed only when its action type
// shares a bit with the mask, so a mask of 0 lists none).
void AddFwpmProvider(const platform::Guid& key);
void AddFwpmSublayer(const platform::Guid& key, std::optional<platform::Guid> providerKey);
// FWP_ACTION_BLOCK, the commonest action of a product's filters.
constexpr uint32_t kFwpActionBlock = 0x1001;
void AddFwpmFilter(uint64_t id, std::optional<platform::Guid> providerKey,
                   const platform::Guid& sublayerKey, uint32_t actionType = kFwpActionBlock);
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

// ---- Authenticode ----
// Who signed a file, and what Windows finds when it checks the chain.
struct Signer {
  std::wstring commonName = L"Microsoft Corporation";
  std::wstring organization = L"Microsoft Corporation";
  // false: the chain ends in a root no store trusts (CERT_E_UNTRUSTEDROOT).
  bool trustedRoot = true;
  // What a revocation check of the chain finds: 0, CERT_E_REVOKED,
  // CERT_E_REVOCATION_FAILURE or CRYPT_E_REVOCATION_OFFLINE. Reported only
  // when WinVerifyTrust is asked to check revocation.
  uint32_t revocation = 0;
  // The time-stamp counter-signer's subject; empty: not time-stamped.
  std::wstring timestampCommonName;
  std::wstring timestampOrganization;
};
// `content` with an Authenticode signature by `signer` appended, as a
// signing tool leaves a file. WinVerifyTrust answers TRUST_E_NOSIGNATURE for
// bytes without one and TRUST_E_BAD_DIGEST once a byte before it changes.
std::string SignedContent(const std::string& content, const Signer& signer);

// One WinVerifyTrust call with the arguments the logic passed.
struct TrustCall {
  platform::WindowHandle window = nullptr;
  bool genericVerifyV2 = false;
  uint32_t uiChoice = 0;
  uint32_t revocationChecks = 0;
  uint32_t unionChoice = 0;
  std::wstring filePath;
  platform::Handle file = nullptr;
  uint32_t stateAction = 0;
  uint32_t provFlags = 0;
  uint32_t result = 0;
};
const std::vector<TrustCall>& TrustCalls();
// Called after each WTD_STATEACTION_VERIFY has answered.
void OnWinVerifyTrust(std::function<void(const TrustCall&)> hook);
// Verified states not yet closed with WTD_STATEACTION_CLOSE.
int OpenTrustStateCount();

// ---- Version resources ----
// `program` (bytes starting with "MZ") with a version resource giving the
// file version A.B.C.D, as a resource compiler leaves it; sign after this.
// A program without one answers 1812 (it has no resources), bytes without
// "MZ" 193.
std::string WithVersion(const std::string& program, uint16_t a, uint16_t b, uint16_t c,
                        uint16_t d);

}  // namespace fake

#endif  // PLATFORM_FAKE_FAKE_H_
