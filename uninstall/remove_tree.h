// Removal of one folder with everything below it.
#ifndef UNINSTALL_REMOVE_TREE_H_
#define UNINSTALL_REMOVE_TREE_H_

#include <cstdint>
#include <string>

// Deletes the folder `path` (no trailing backslash) and all it holds,
// depth-first, clearing the read-only mark of files first and going on after
// every failure. Adds the number of files deleted to *deleted and of files
// that could not be deleted to *failed, each only when the pointer is not
// null; folders are not counted. A link to a folder elsewhere (junction,
// directory symbolic link), whether inside the tree or `path` itself, is
// removed as a link and never walked into, so nothing outside the tree is
// touched. Writes an "[Uninstall] " line with Windows' error code through
// OutputDebugStringW for each search, file or folder that fails other than by
// absence. Returns true when the folder is gone afterwards or was never
// there; false when anything of it remains.
bool RemoveDirectoryTree(const std::wstring& path, int32_t* deleted, int32_t* failed);

#endif  // UNINSTALL_REMOVE_TREE_H_
