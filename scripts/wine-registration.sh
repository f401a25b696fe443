#!/bin/bash
# Runs registration_wine_tests.exe under Wine in two phases and checks what
# each left behind with tools of Wine and Debian: `wine reg query` for the
# Add/Remove Programs entry, cmp/sha256sum for the updater copy, and the
# debug trace (OutputDebugStringA lines, seen on stderr with
# WINEDEBUG=warn+debugstr) against the exit code Wine's own schtasks gives
# for the same command line; Wine's process trace (trace+process) shows the
# command line schtasks.exe really received, and that no cmd.exe ran. Needs
# build/windows built first.
# The last line reads "N passed, N failed"; the exit code is 0 only when
# nothing failed.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
exe=$root/build/windows/tests/registration_wine_tests.exe
[ -f "$exe" ] || { echo "missing $exe (build the Windows target first)"; exit 2; }
# No display: nothing may wait for a click.
unset DISPLAY
# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh" "${WINEPREFIX:-$root/build/wineprefix}" || exit 1

# One wineserver for the run: left to itself it exits 3 s after the last
# program, and a program starting while it exits loses its connection.
# cleanup ends it.
wineserver -p || exit 1

work=$(mktemp -d)
install_dir="$WINEPREFIX/drive_c/Program Files/Maretto"
cleanup() {
  rm -rf "$work" "$install_dir"
  wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaline' /f \
    >/dev/null 2>&1
  wineserver -k 2>/dev/null
}
trap cleanup EXIT

# shellcheck source=scripts/check-lib.sh
. "$root/scripts/check-lib.sh"

# The OutputDebugStringA lines of a phase, unescaped back to one line each.
trace_lines() {
  grep -a 'warn:debugstr:OutputDebugStringA "\[' "$1" |
    sed -e 's/^.*OutputDebugStringA "//' -e 's/\\n"$//' | unescape
}

# Wine's debugstr escaping (\\ and \") undone.
unescape() {
  sed -e 's/\\\\/\x01/g' -e 's/\\"/"/g' -e 's/\x01/\\/g'
}

# The command lines of the processes started with <application> as app.
started_with() {  # started_with <stderr file> <application as Wine prints it, escaped>
  grep -a "trace:process:CreateProcessInternalW app L\"$2\" cmdline L\"" "$1" |
    sed -e 's/^.* cmdline L"//' -e 's/"$//' | unescape
}

count_line() {  # count_line <file> <exact line>
  grep -cxF -- "$2" "$1" || true
}

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaline'
wine reg delete "$key" /f >/dev/null 2>&1
rm -rf "$install_dir"

# ---- Phase 1: register ----
WINEDEBUG=warn+debugstr,trace+process wine "$exe" --gtest_filter='Register.*' \
  >"$work/register.out" 2>"$work/register.err"
rc=$?
grep -E '^\[  (PASSED|FAILED) |Failure|got ' "$work/register.out"
check_gtest "Register phase" "$work/register.out" "$rc"
trace_lines "$work/register.err" >"$work/register.trace"
echo "trace of the register phase:"
sed 's/^/    /' "$work/register.trace"

# The entry as Wine's reg.exe lists it (it sorts the values by name).
wine reg query "$key" 2>/dev/null | tr -d '\r' | grep -E '^    ' |
  sed -E 's/^    //; s/    /|/g' | sort >"$work/entry.txt"
today=$(date +%Y%m%d)
sort >"$work/expected.txt" <<EOF
DisplayName|REG_SZ|Tessaline
DisplayVersion|REG_SZ|1.0.0
Publisher|REG_SZ|Maretto LTD
InstallLocation|REG_SZ|C:\\Program Files\\Maretto\\TSL
UninstallString|REG_SZ|"C:\\Program Files\\Maretto\\TSL\\updater.exe" /uninstall
DisplayIcon|REG_SZ|C:\\Program Files\\Maretto\\TSL\\Velquist.exe,0
URLInfoAbout|REG_SZ|https://www.maretto.example
HelpLink|REG_SZ|https://www.maretto.example/support
EstimatedSize|REG_DWORD|0xc350
NoModify|REG_DWORD|0x1
NoRepair|REG_DWORD|0x1
InstallDate|REG_SZ|$today
EOF
echo "reg query shows:"
sed 's/^/    /' "$work/entry.txt"
check "reg query lists exactly the twelve names, types and data" \
  diff -u "$work/expected.txt" "$work/entry.txt"

updater="$install_dir/TSL/updater.exe"
check "updater.exe is a byte-for-byte copy of the running program" cmp -s "$exe" "$updater"
sha256sum "$exe" "$updater" 2>&1 | sed 's/^/    /'

# schtasks.exe of the system folder (GetSystemDirectoryW: Wine spells it in
# lower case), by its full path, quoted, then the arguments.
schtasks_quoted='"C:\windows\system32\schtasks.exe"'
create_line="$schtasks_quoted"' /Create /F /TN "Maretto\TSL Updater" /TR "\"C:\Program Files\Maretto\TSL\updater.exe\"" /SC WEEKLY /D SUN /ST 03:00 /RL HIGHEST /RU SYSTEM'
delete_line="$schtasks_quoted"' /Delete /F /TN "Maretto\TSL Updater"'
schtasks_app='C:\\\\windows\\\\system32\\\\schtasks.exe'
started_with "$work/register.err" "$schtasks_app" >"$work/register.cmd"
echo "schtasks.exe started with:"
sed 's/^/    /' "$work/register.cmd"
check "schtasks.exe received the create line character for character" \
  test "$(cat "$work/register.cmd")" = "$create_line"
check "no command interpreter ran" \
  test "$(grep -ac 'CreateProcessInternalW app L"[^"]*cmd.exe"' "$work/register.err")" -eq 0

# What Wine's schtasks answers to the very same command line decides which
# trace line the create step must have left.
wine cmd.exe /C 'schtasks /Create /F /TN "Maretto\TSL Updater" /TR "\"C:\Program Files\Maretto\TSL\updater.exe\"" /SC WEEKLY /D SUN /ST 03:00 /RL HIGHEST /RU SYSTEM' \
  >/dev/null 2>&1
schtasks_rc=$?
echo "Wine's schtasks /Create exits $schtasks_rc"
if [ "$schtasks_rc" -eq 0 ]; then
  check "no schtasks trace line for exit code 0" \
    test "$(grep -c '^\[Install\] schtasks returned: ' "$work/register.trace")" -eq 0
else
  check "exactly one \"[Install] schtasks returned: $schtasks_rc\" line" \
    test "$(count_line "$work/register.trace" "[Install] schtasks returned: $schtasks_rc")" -eq 1
fi
check "no start failure of schtasks.exe" \
  test "$(grep -c 'Failed to create scheduled task process' "$work/register.trace")" -eq 0
check "no failed updater copy" \
  test "$(grep -c 'Failed to copy updater' "$work/register.trace")" -eq 0
check "\"[Install] Registered in Add/Remove Programs\" traced" \
  test "$(count_line "$work/register.trace" "[Install] Registered in Add/Remove Programs")" -ge 1
check "key with a subkey: \"[Uninstall] Failed to remove registry key: 5\"" \
  test "$(count_line "$work/register.trace" "[Uninstall] Failed to remove registry key: 5")" -eq 1

# ---- Phase 2: remove ----
WINEDEBUG=warn+debugstr,trace+process wine "$exe" --gtest_filter='Remove.*' \
  >"$work/remove.out" 2>"$work/remove.err"
rc=$?
grep -E '^\[  (PASSED|FAILED) |Failure|got ' "$work/remove.out"
check_gtest "Remove phase" "$work/remove.out" "$rc"
trace_lines "$work/remove.err" >"$work/remove.trace"
echo "trace of the remove phase:"
sed 's/^/    /' "$work/remove.trace"

wine reg query "$key" >/dev/null 2>&1
check "reg query no longer finds the entry" test $? -ne 0
check "exactly one \"[Uninstall] Removed from Add/Remove Programs\" (the second removal is silent)" \
  test "$(count_line "$work/remove.trace" "[Uninstall] Removed from Add/Remove Programs")" -eq 1
started_with "$work/remove.err" "$schtasks_app" >"$work/remove.cmd"
echo "schtasks.exe started with:"
sed 's/^/    /' "$work/remove.cmd"
check "schtasks.exe received the delete line character for character" \
  test "$(cat "$work/remove.cmd")" = "$delete_line"
check "task deletion started schtasks.exe (no \"may not exist\" line)" \
  test "$(grep -c 'may not exist' "$work/remove.trace")" -eq 0
check "no other trace lines in the remove phase" \
  test "$(wc -l <"$work/remove.trace")" -eq 1

summary
