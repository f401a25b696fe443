// What a contract test needs done or read apart from the calls under test:
// through Windows itself when built for Windows, through the fake's control
// API on the host. Kept out of the test sources so that they need not see
// <windows.h> beside platform/'s names.
#ifndef TESTS_CONTRACT_NATIVE_CALLS_H_
#define TESTS_CONTRACT_NATIVE_CALLS_H_

#include <cstdint>
#include <optional>
#include <string>

// CreateHardLinkW(link, existing): 0 or the error code.
uint32_t MakeHardLink(const std::wstring& link, const std::wstring& existing);

// Plants a junction at `link` (not existing yet) to the folder `target`.
// Returns the failure's code, or 0.
uint32_t PlantJunction(const std::wstring& link, const std::wstring& target);

// The owner and DACL of a file or folder (a link itself, not followed) as
// SDDL text, as GetSecurityInfo on a handle gives them; nullopt when they
// cannot be read.
std::optional<std::wstring> SecurityOf(const std::wstring& path);

#endif  // TESTS_CONTRACT_NATIVE_CALLS_H_
