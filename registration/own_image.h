// The running program's own file, held open from the start of the run so
// that nobody can rename or replace it while the run lasts: the updater copy
// is made from this handle, never from a path.
#ifndef REGISTRATION_OWN_IMAGE_H_
#define REGISTRATION_OWN_IMAGE_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

// The held file (read access, read sharing only until the run moves the
// file itself), or kInvalidHandleValue when it could not be held;
// g_ownImageError then says why.
extern platform::Handle g_ownImage;
extern uint32_t g_ownImageError;

// Opens the running program's file and keeps it open. The handle is kept
// only when it leads to the file the program was loaded from (where that
// file is now); otherwise 1006 (ERROR_FILE_INVALID) is recorded and traced
// with `tag` first. A hold from an earlier call is released first.
void HoldOwnImage(const char* tag);

// Swaps the hold for one on the same file (the one at `path`, checked by
// volume and file index) that lets the run itself move the file; the
// handle stays on the file wherever it goes. Without a hold, or when the
// file at `path` is another one, the hold is released.
void LetOwnImageMove(const std::wstring& path);

// Closes the hold (the file can then be renamed again); safe to repeat.
void ReleaseOwnImage();

// Whether the held file is the very file at `path` (volume and file index,
// not the path's text); false when nothing is held or nothing is there.
bool IsOwnImageAt(const std::wstring& path);

// Whether two open handles lead to the same file: same volume serial and
// file index, whatever the paths; false when either cannot be queried.
bool IsSameFile(platform::Handle a, platform::Handle b);

// The path in a form that CreateFileW takes at any length: "\\?\" before a
// drive path of MAX_PATH characters or more ("\\?\UNC\" for a share).
std::wstring LongPathForm(const std::wstring& path);

#endif  // REGISTRATION_OWN_IMAGE_H_
