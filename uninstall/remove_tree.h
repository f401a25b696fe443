// Removal of one folder with everything below it.
#ifndef UNINSTALL_REMOVE_TREE_H_
#define UNINSTALL_REMOVE_TREE_H_

#include <cstdint>
#include <string>

// Deletes the folder `path` (no trailing backslash) and all it holds,
// depth-first, going on after every failure. Each folder and file is opened
// once without following links and checked, listed, changed and deleted
// through that handle, so a link to somewhere else (junction, symbolic
// link), whether inside the tree or `path` itself, and whenever it was put
// there, is removed as a link and never walked into: nothing outside the
// tree is touched. A read-only file's mark is cleared before its deletion,
// except on a file with more than one hard link (the mark is the other
// names' too), which stays and counts as not deleted. Adds the number of
// files deleted to *deleted and of files that could not be deleted to
// *failed, each only when the pointer is not null; folders are not counted.
// Writes an "[Uninstall] " line with Windows' error code through
// OutputDebugStringW for each folder that cannot be listed, file or folder
// that fails other than by absence. Returns true when the folder is gone
// afterwards or was never there; false when anything of it remains.
bool RemoveDirectoryTree(const std::wstring& path, int32_t* deleted, int32_t* failed);

#endif  // UNINSTALL_REMOVE_TREE_H_
