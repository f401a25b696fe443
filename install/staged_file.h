// A file written to be renamed into the install folder later (a staged
// download, the updater's copy). From its creation to its swap one of our
// handles on it has delete access, so anyone else who opens it must share
// delete: a standard user's program that opens it for reading cannot keep
// it from being renamed into place, and no one but an administrator may
// open it for writing (the folder's access list).
#ifndef INSTALL_STAGED_FILE_H_
#define INSTALL_STAGED_FILE_H_

#include <string>

#include "platform/types.h"

// Creates (always) the file at `path` for writing, sharing read and delete;
// kInvalidHandleValue with the last error set on failure.
platform::Handle CreateStagedFile(const std::wstring& path);

// Trades the writing handle from CreateStagedFile (closed in every case) for
// a hold of the same file: read and delete access, sharing read and delete,
// never write. The file is not left without such a handle in between.
// kInvalidHandleValue with the last error set on failure.
platform::Handle HoldStagedFile(const std::wstring& path, platform::Handle written);

#endif  // INSTALL_STAGED_FILE_H_
