# shellcheck shell=bash
# Sourceable by scripts/e2e-smoke.sh and scripts/e2e-test.sh: building what
# a run needs, and one run of a command in a fresh world, counted.
#
#   tsl_e2e_logs NAME
#       sets `log` to build/test-logs/NAME/run.log (or $TSL_E2E_LOGS/run.log
#       when the caller chose the folder) after emptying that folder, and
#       exports TSL_E2E_LOGS, where the run keeps what its failures left
#   tsl_e2e_build LOG TARGET...
#       builds the Windows targets with their output in LOG; when that
#       fails, shows LOG's last 30 lines, prints "0 passed, 1 failed" and
#       exits the caller's shell with 1
#   tsl_e2e_run LOG COMMAND...
#       runs COMMAND in a fresh world (scripts/e2e/world.sh --no-build),
#       its output shown and kept in LOG; sets `passed` and `failed` from
#       the last "N passed, N failed" line (0 and 0 without one), counts a
#       world that ended non-zero with nothing failed as one failure, and
#       sets `world_dir` to the world's temp folder (empty when unknown)

tsl_e2e_repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# log is the caller's.
# shellcheck disable=SC2034
tsl_e2e_logs() {
  export TSL_E2E_LOGS="${TSL_E2E_LOGS:-$tsl_e2e_repo/build/test-logs/$1}"
  rm -rf "$TSL_E2E_LOGS"
  mkdir -p "$TSL_E2E_LOGS"
  log="$TSL_E2E_LOGS/run.log"
}

tsl_e2e_build() {
  local log="$1"
  shift
  if ! "$tsl_e2e_repo/scripts/build-windows.sh" "$@" >"$log" 2>&1; then
    tail -30 "$log"
    echo "0 passed, 1 failed"
    exit 1
  fi
}

# passed, failed and world_dir are the caller's.
# shellcheck disable=SC2034
tsl_e2e_run() {
  local log="$1" status counts
  shift
  "$tsl_e2e_repo/scripts/e2e/world.sh" --no-build -- "$@" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  passed=0
  failed=0
  counts="$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -1)"
  if [ -n "$counts" ]; then
    passed=$(cut -d' ' -f1 <<<"$counts")
    failed=$(cut -d' ' -f3 <<<"$counts")
  fi
  # A world that died before the checks counted counts as one failure.
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
    echo "FAIL the world ended with exit $status (whole output: ${log#"$tsl_e2e_repo"/})"
    failed=$((failed + 1))
  fi
  world_dir="$(sed -nE 's/^world: set up in [0-9]+ s \((.*)\)$/\1/p' "$log")"
}
