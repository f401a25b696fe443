// The copy of the setup program in the install folder ("updater.exe") and
// the weekly scheduled task "Maretto\TSL Updater" that runs it, made and
// removed through schtasks.
#ifndef REGISTRATION_UPDATE_TASK_H_
#define REGISTRATION_UPDATE_TASK_H_

#include <cstddef>
#include <string>

// Copies the running program over GetInstallPath(kUpdaterExeName). A failed
// copy (or a path of the running program that does not fit MAX_PATH) is
// traced with its code and otherwise ignored.
void InstallUpdaterCopy();

// Runs, hidden, "C:\Windows\System32\cmd.exe" with the schtasks /Create line
// for a weekly task (Sunday 03:00, highest run level, SYSTEM) running the
// updater, waits up to 10 seconds and traces a start failure or a non-zero
// exit code. The process is never terminated.
void ScheduleUpdateTask();

// Runs, hidden, cmd.exe with the schtasks /Delete line for the task and waits
// up to 10 seconds; only a failed start is traced. A task that did not
// exist is not told apart from one that was deleted.
void DeleteUpdateTask();

// Copies line and its terminator into buffer when they fit its `capacity`
// characters; otherwise returns false and leaves the buffer alone.
bool CopyCommandLine(const std::wstring& line, wchar_t* buffer, size_t capacity);

#endif  // REGISTRATION_UPDATE_TASK_H_
