// The copy of the setup program in the install folder ("updater.exe") and
// the weekly scheduled task "Maretto\TSL Updater" that runs it, made and
// removed through schtasks.
#ifndef REGISTRATION_UPDATE_TASK_H_
#define REGISTRATION_UPDATE_TASK_H_

#include <cstddef>
#include <string>

// Copies the running program's held file (g_ownImage, own_image.h) to a
// staging file beside GetInstallPath(kUpdaterExeName), flushes it and
// renames it over the updater. Nothing is copied when the running program
// is that updater already (same file, whatever the path says); that is
// traced. A failure (the file not held included) is traced with its code
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
