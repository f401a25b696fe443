// Internals shared by the fake's units.
#ifndef PLATFORM_FAKE_STATE_H_
#define PLATFORM_FAKE_STATE_H_

#include <string>

#include "platform/security.h"
#include "platform/types.h"

namespace fake {

// Each unit registers how it returns to a new machine; Reset runs them all.
struct ResetHook {
  explicit ResetHook(void (*reset)());
};

// Upper-cased path with forward slashes turned and trailing backslashes
// dropped: the identity of a file-system object.
std::wstring PathKey(const std::wstring& path);

// A new kernel handle; CloseHandle on it calls onClose once, then forgets it.
platform::Handle NewHandle(void (*onClose)(platform::Handle));

// Whether the handle names a window of the fake (IsWindow).
bool WindowExists(platform::WindowHandle window);

// For BeginPaint: clears the window's invalid area and tells whether an
// erase was requested with it; false when no such window exists.
bool TakeUpdateRegion(platform::WindowHandle window, bool* erase);

// Whether a process of the fake runs from the file with this PathKey (the
// running program included): such a file cannot be deleted or written.
bool IsRunningImage(const std::wstring& key);
// Every started program ends at once (a restart of Windows).
void EndAllProcesses();
// MoveFileExW moved the object with PathKey fromKey (and what lies below
// it) to toKey: running images there follow it.
void RunningImagesMoved(const std::wstring& fromKey, const std::wstring& toKey);
// The object with this PathKey as "\Device\HarddiskVolume3\...", where it is
// now; empty when there is none.
std::wstring NtPathOf(const std::wstring& key);
// CreateDirectoryW without telling the test's OnCreateDirectory hook, and
// the telling, for the variant that applies an access list in between.
bool CreateDirectoryCore(const std::wstring& path);
// Whether the folder with this PathKey is the current folder of a running
// process (this one included): Windows holds it open without delete
// sharing, so it cannot be opened for DELETE, renamed or removed (32).
bool IsCurrentFolderInUse(const std::wstring& key);
void NotifyCreateDirectory(const std::wstring& path);

// fake_sync.cc, for WaitForSingleObject: the answer when the handle is a
// mutex of the fake, false when it is not one.
bool WaitForMutex(platform::Handle handle, uint32_t milliseconds, uint32_t* result);
// For SimulateKill, once its handles are closed: a mutex the program's
// threads owned is gone with its last handle, else abandoned.
void AbandonOwnedMutexes();
// For SimulateKill: closes every kernel handle and HTTP handle still open.
void CloseAllHandles();
void CloseAllHttpHandles();
// fake_security.cc: the SDDL text of a descriptor it handed out, or empty.
std::wstring DescriptorSddl(platform::SecurityDescriptor descriptor);
// fake_process.cc: the clock, moved on by waits.
void AdvanceClock(uint32_t milliseconds);
// Whether the loader could open the program at the path to start it: no
// handle on it withholds read sharing or holds write access.
bool ImageOpenAllowed(const std::wstring& path);
// The bytes of the file a handle with read access is open on (whatever its
// position); false for any other handle.
bool ReadWholeOpenFile(platform::Handle file, std::string* content);
// fake_file.cc, for calls on file handles made elsewhere: the PathKey and
// access of an open file handle; false when it is none.
bool OpenFileOf(platform::Handle handle, std::wstring* key, uint32_t* access);

// fake_window.cc, for the window manager: DestroyWindow's end of a window;
// whether it has an invalid area; the test's OnPaint handler after a
// WM_PAINT the message loop dispatched.
void ForgetWindow(platform::WindowHandle window);
bool NeedsPaint(platform::WindowHandle window);
void NotifyPaint(platform::WindowHandle window);

// fake_ui.cc, for UpdateWindow: WM_PAINT to the window's procedure, if it
// has one; and, when the caller is not the window's thread, that thread
// handling its posted messages first, as it would while the caller waits.
void SendPaintMessage(platform::WindowHandle window);
void ServeFromWindowThread(platform::WindowHandle window);

// fake_session.cc: whether a person can see this process's windows (a
// visible window station outside session 0).
bool SeenByAUser();

// fake_thread.cc: the fake thread the running code stands for (the UI
// thread, or a thread of CreateThread while it runs).
int CurrentThread();
void SetCurrentThread(int thread);
int UiThread();

}  // namespace fake

#endif  // PLATFORM_FAKE_STATE_H_
