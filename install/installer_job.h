// Running a runtime installer so that nothing it starts outlives a timeout.
#ifndef INSTALL_INSTALLER_JOB_H_
#define INSTALL_INSTALLER_JOB_H_

#include <cstdint>
#include <string>

enum class InstallerEnd { kNotStarted, kExited, kTimedOut };

// Starts `installer` hidden with `arguments` in the folder `directory`, suspended, puts it in a job
// object of its own and only then lets it run, so every process it starts
// belongs to the job. Waits up to `timeoutMs` for the installer itself:
// - kExited: *code is its exit code; the job is closed without ending what
//   the installer left running on purpose;
// - kTimedOut: every process of the job was ended, and this returns once
//   they are all gone, so the installer's file can be deleted;
// - kNotStarted: *code is the system error of the failed step.
// (Work that the installer hands to the Windows Installer service runs in
// that service, outside the job.)
InstallerEnd RunInstallerInJob(const std::wstring& installer, const std::wstring& arguments,
                               const std::wstring& directory, uint32_t timeoutMs, uint32_t* code);

#endif  // INSTALL_INSTALLER_JOB_H_
