#ifndef INSTALL_DOWNLOAD_H_
#define INSTALL_DOWNLOAD_H_

#include <string>

#include "platform/types.h"

// Fetches https://host + urlPath (GET, port 443, user agent kUserAgent,
// redirects followed but never from HTTPS to HTTP) into localPath, which the
// callers name beside the file it will replace (a staged file or a private
// temporary one), never the installed file itself. True only when the final
// answer was 200, the whole body (at least one byte, and as long as a
// declared Content-Length) is in the file and flushed to the disk. On
// failure the file at localPath is deleted and, when errorText is given,
// its content is replaced by one short reason. Checks CancelRequested()
// after every chunk written.
bool DownloadFile(const std::wstring& host, const std::wstring& urlPath,
                  const std::wstring& localPath, std::wstring* errorText);

// DownloadFile for a file that is to be swapped into the install folder
// (staged_file.h): written through CreateStagedFile and, when complete,
// held with HoldStagedFile in *hold (kInvalidHandleValue on failure; the
// caller closes it after the swap). A hold that cannot be taken fails the
// download with "Failed to open downloaded file (error N)".
bool DownloadStagedFile(const std::wstring& host, const std::wstring& urlPath,
                        const std::wstring& localPath, platform::Handle* hold,
                        std::wstring* errorText);

#endif  // INSTALL_DOWNLOAD_H_
