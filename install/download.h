#ifndef INSTALL_DOWNLOAD_H_
#define INSTALL_DOWNLOAD_H_

#include <string>

// Fetches https://host + urlPath (GET, port 443, user agent kUserAgent) into
// localPath. True only when the final answer was 200 and the whole body, at
// least one byte, is in the file. On failure nothing usable is left at
// localPath (a file replaced before the failure is not brought back) and,
// when errorText is given, its content is replaced by one short reason.
// Checks g_cancelRequested after every chunk written.
bool DownloadFile(const std::wstring& host, const std::wstring& urlPath,
                  const std::wstring& localPath, std::wstring* errorText);

#endif  // INSTALL_DOWNLOAD_H_
