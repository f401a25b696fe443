// The copy of the setup program in the install folder ("updater.exe") and
// the weekly scheduled task "Maretto\TSL Updater" that runs it, made and
// removed through schtasks.
#ifndef REGISTRATION_UPDATE_TASK_H_
#define REGISTRATION_UPDATE_TASK_H_

#include <cstddef>
#include <cstdint>
#include <string>

// Puts the complete, flushed file `staged` (a path beside updater.exe in the
// install folder) in place of updater.exe: the installed updater renamed aside
// (read-only cleared first, restored on failure), the staged file moved in, the
// backup deleted (or at the next run / restart when it is in use, e.g. the
// running updater). Returns 0 or the Windows error code; on failure the old
// updater.exe is in place with the attributes it had and `staged` is deleted.
uint32_t SwapInUpdater(const std::wstring& staged);

// Copies the running program's held file (g_ownImage, own_image.h) to a
// staging file beside GetInstallPath(kUpdaterExeName), flushes it and
// swaps it in with SwapInUpdater. Nothing is copied when the running program
// is that updater already (same file, whatever the path says), nor over
// an updater of a higher file version (or with a version when ours has
// none); both are traced. A failure (the file not held included) is traced with its code
// and otherwise ignored; the staging file does not stay behind.
void InstallUpdaterCopy();

// Runs, hidden, schtasks.exe of the system folder (by its full path, no
// command interpreter) with the /Create line for a weekly task (Sunday
// 03:00, highest run level, SYSTEM) running the updater, waits up to 10
// seconds and traces a start failure or a non-zero exit code. The process is
// never terminated.
void ScheduleUpdateTask();

// Runs, hidden, schtasks.exe with the /Delete line for the task and waits up
// to 10 seconds; only a failed start is traced. A task that did not exist
// is not told apart from one that was deleted.
void DeleteUpdateTask();

// Copies line and its terminator into buffer when they fit its `capacity`
// characters; otherwise returns false and leaves the buffer alone.
bool CopyCommandLine(const std::wstring& line, wchar_t* buffer, size_t capacity);

#endif  // REGISTRATION_UPDATE_TASK_H_
