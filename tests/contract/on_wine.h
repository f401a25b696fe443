// Whether the contract tests run under Wine, for the few answers in which
// Wine is known to differ from Windows.
#ifndef TESTS_CONTRACT_ON_WINE_H_
#define TESTS_CONTRACT_ON_WINE_H_

// True under Wine (its ntdll exports wine_get_version); false on Windows and
// on the fake.
bool RunningOnWine();

#endif  // TESTS_CONTRACT_ON_WINE_H_
