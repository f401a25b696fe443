// The install folder, made the product's own before anything goes into it.
#ifndef INSTALL_INSTALL_FOLDER_H_
#define INSTALL_INSTALL_FOLDER_H_

#include <cstdint>
#include <string>

// The access list the install folder gets: owner Administrators; protected
// (nothing inherited from C:\Program Files\Maretto) and handed down to
// everything inside; full control to SYSTEM, Administrators and
// TrustedInstaller, read and execute to Users and to all (restricted)
// application packages.
inline constexpr wchar_t kInstallFolderSecurity[] =
    L"O:BAD:P"
    L"(A;OICI;FA;;;SY)"
    L"(A;OICI;FA;;;BA)"
    L"(A;OICI;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    L"(A;OICI;0x1200a9;;;BU)"
    L"(A;OICI;0x1200a9;;;S-1-15-2-1)"
    L"(A;OICI;0x1200a9;;;S-1-15-2-2)";

// Creates kInstallFolder with its missing parents (SHCreateDirectoryExW)
// and gives it kInstallFolderSecurity through a handle on the folder
// itself. Refuses a link (reparse point) at C:\Program Files\Maretto or at
// the install folder, before creating anything and again once the folder
// exists, with ERROR_CANT_RESOLVE_FILENAME (1921), and something other than
// a folder there with ERROR_DIRECTORY (267). Returns 0 when the folder was
// created, 183 when it was there already, otherwise the Windows error code
// of the step that failed.
uint32_t CreateInstallFolder();

// CreateInstallFolder's work on another folder (and its parent), so that
// the Windows test kit can read back what Windows made of it in a temp
// folder of its own.
uint32_t CreateInstallFolderAt(const std::wstring& folder);

#endif  // INSTALL_INSTALL_FOLDER_H_
