/* Shared by the small stand-in programs of the end-to-end world: the log
 * they leave for the tests and the reading of their own command line. */
#ifndef TESTS_E2E_STANDINS_STANDIN_COMMON_H_
#define TESTS_E2E_STANDINS_STANDIN_COMMON_H_

#include <windows.h>

/* Where every stand-in appends its lines; the world's tests read it from the
 * prefix's drive_c. */
#define STANDIN_LOG_PATH L"C:\\tsl-standin.log"

/* Appends text and a line feed to STANDIN_LOG_PATH as UTF-8 in one write, so
 * that lines of programs running at once do not interleave. */
void StandinLog(const wchar_t* text);

/* The command line after the program name and the blanks that follow it,
 * split the way the C runtime finds argv[0]: a quoted name ends at the next
 * quote, an unquoted one at the first blank. */
const wchar_t* StandinArguments(void);

/* The folder of this program's file, with a trailing backslash. */
void StandinOwnFolder(wchar_t* folder, DWORD size);

#endif
