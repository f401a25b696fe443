# shellcheck shell=bash
# The checks and the closing line of every test script run under Wine and in
# the end-to-end world, sourced by each:
#
#   . scripts/check-lib.sh
#
#   pass WHAT                     counts a check that held
#   fail WHAT WHY                 counts one that did not, and says why
#   expect WHAT GOT WANT          holds when GOT equals WANT
#   expect_match WHAT GOT REGEX   holds when GOT matches the extended REGEX
#   check WHAT COMMAND...         holds when COMMAND succeeds
#   check_gtest WHAT LOG STATUS   adds the counts of a GoogleTest run whose
#                                 output is in LOG and whose exit status was
#                                 STATUS; a run that failed without counting
#                                 a failure, or ended without a summary,
#                                 counts as one
#   tsl_check_on_fail WHAT        the caller's own, if it defines it: runs
#                                 after each failed check, to show why
#   summary                       lists what failed, prints "N passed, N
#                                 failed" (the line scripts/test.sh reads)
#                                 and returns 1 when anything failed
#
# Every check prints one line with what it got. None of them returns
# non-zero, so they are safe under `set -e`. The counts are the globals
# `passed` and `failed`.

passed=0
failed=0
tsl_check_failures=()

pass() {
  passed=$((passed + 1))
  echo "ok   $1"
}

fail() {
  failed=$((failed + 1))
  tsl_check_failures+=("$1")
  echo "FAIL $1: $2"
  # A script that can tell more about why (the end-to-end suite) defines it.
  if declare -F tsl_check_on_fail >/dev/null; then tsl_check_on_fail "$1"; fi
  return 0
}

expect() {
  if [ "$2" != "$3" ]; then
    fail "$1" "got [$2], want [$3]"
  elif [ "${#2}" -le 120 ] && [[ "$2" != *$'\n'* ]]; then
    pass "$1: [$2]"
  else
    pass "$1"
  fi
}

expect_match() {
  if grep -qE -- "$3" <<<"$2"; then pass "$1"; else fail "$1" "[$2] does not match [$3]"; fi
}

check() {
  local what="$1"
  shift
  if "$@"; then pass "$what"; else fail "$what" "command failed: $*"; fi
}

check_gtest() {
  local what="$1" log="$2" status="$3" ran broke
  ran="$(awk '/^\[  PASSED  \] [0-9]+/ {s += $4} END {print s + 0}' "$log" 2>/dev/null || true)"
  broke="$(awk '/^\[  FAILED  \] [0-9]+ tests?, listed below/ {s += $4} END {print s + 0}' \
    "$log" 2>/dev/null || true)"
  ran="${ran:-0}" broke="${broke:-0}"
  passed=$((passed + ran))
  if [ "$broke" -gt 0 ]; then
    failed=$((failed + broke))
    tsl_check_failures+=("$what: $broke of its tests")
    echo "FAIL $what: $ran passed, $broke failed"
  elif [ "$status" -ne 0 ]; then
    fail "$what" "exit status $status with no failed test counted"
  elif ! grep -aqE '^\[  PASSED  \] [0-9]+' "$log" 2>/dev/null; then
    fail "$what" "ended without GoogleTest's summary"
  else
    echo "ok   $what: $ran passed"
  fi
}

summary() {
  if [ "${#tsl_check_failures[@]}" -gt 0 ]; then
    echo "failed:"
    printf '  %s\n' "${tsl_check_failures[@]}"
  fi
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
