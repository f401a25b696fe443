// Only the publisher's files are installed. The publisher is whoever signed
// the running setup; each downloaded file is checked through a handle that
// is held (no writing by anyone, and no open that would keep it from being
// renamed) until it is swapped in, and the application is never older than
// the one it replaces. A setup that is not validly signed (a development
// build) checks nothing.
// Wine 8's WinVerifyTrust does not check that a chain ends in a trusted
// root: there the signer's names are what tells the publisher's files from
// anyone else's.
#ifndef INSTALL_PUBLISHER_CHECK_H_
#define INSTALL_PUBLISHER_CHECK_H_

#include <cstdint>
#include <string>

#include "install/installer_signature.h"
#include "platform/types.h"

struct Publisher {
  bool isSigned = false;
  SignerName name;
};

// The signer of the running program, read through its held file
// (g_ownImage, own_image.h). Unsigned when the signature does not verify or
// the file is not held.
Publisher ReadPublisher();

// HoldSignedFile (installer_signature.h) accepting the publisher (when
// signed) and, with microsoftToo, "Microsoft Corporation". The hold shares
// no delete: the caller closes *held before the file can be moved.
uint32_t CheckSignedBy(const Publisher& publisher, const std::wstring& path, bool microsoftToo,
                       platform::Handle* held);

// "Signature check failed (error 0x" + 8 upper-case hexadecimal digits + ")".
std::wstring SignatureCheckError(uint32_t result);

// The file version A.B.C.D of the program at `path` as one number, A in the
// top 16 bits; false when it has no version resource or cannot be read.
bool ReadFileVersion(const std::wstring& path, uint64_t* version);

// "A.B.C.D".
std::wstring VersionText(uint64_t version);

// CheckSignedBy through a hold the caller already has (staged_file.h).
uint32_t CheckHeldSignedBy(const Publisher& publisher, platform::Handle held,
                           const std::wstring& path, bool microsoftToo);

// Whether the staged download of the installed file `name`, held in *held
// (DownloadStagedFile), may replace what is installed: for a signed
// publisher, Velquist.exe signed by it and not older than the installed
// one, WebView2Loader.dll signed by it or by Microsoft; an unsigned setup
// checks nothing. True with the hold kept; false with the reason for the
// download's box and the hold closed.
bool CheckDownload(const Publisher& publisher, const std::wstring& name, const std::wstring& staged,
                   platform::Handle* held, std::wstring* reason);

#endif  // INSTALL_PUBLISHER_CHECK_H_
