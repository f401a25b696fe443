#ifndef INSTALL_DOWNLOAD_H_
#define INSTALL_DOWNLOAD_H_

#include <string>

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

#endif  // INSTALL_DOWNLOAD_H_
