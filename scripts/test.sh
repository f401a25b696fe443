#!/bin/bash
# Runs every test layer: host unit tests and the fake's contract tests
# (ASan+UBSan), a second build of the executable elsewhere compared byte for
# byte, the same contract tests built for Windows under Wine, the
# downloader against a real HTTPS host under Wine, the end-to-end suite, the
# signing of the executable with throwaway keys, the Windows test kit under
# Wine and a tiny benchmark run; before them, the scripts' shellcheck, the
# check that every Windows constant is compared with <windows.h> and the
# check that no files include each other in a circle.
# Prints the counts of each layer and one closing "N passed, N failed" line.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)

scripts/install-deps.sh || { echo "dependency install failed"; exit 1; }

logs="$root/build/test-logs"
mkdir -p "$logs"
total_passed=0
total_failed=0
summary=()

# run_layer NAME COMMAND...: runs one gtest-based layer, keeps its log and
# adds its counts to the totals. A layer that dies without a gtest summary
# counts as one failure.
run_layer() {
  local name=$1
  shift
  local log="$logs/$name.log"
  echo "=== $name"
  "$@" >"$log" 2>&1
  local rc=$?
  local passed failed
  # A script that counts its own checks ends with "N passed, N failed";
  # otherwise add up GoogleTest's summaries.
  local plain
  plain=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
  if [ -n "$plain" ]; then
    passed=$(awk '{print $1}' <<<"$plain")
    failed=$(awk '{print $3}' <<<"$plain")
  else
    passed=$(grep -hoE '^\[  PASSED  \] [0-9]+' "$log" | awk '{s+=$4} END {print s+0}')
    failed=$(grep -hoE '^\[  FAILED  \] [0-9]+ tests?, listed below' "$log" | awk '{s+=$4} END {print s+0}')
  fi
  if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
  if [ "$rc" -ne 0 ]; then
    # What failed and why: the scripts' FAIL lines carry their reason,
    # GoogleTest's failures the lines after "Failure".
    {
      grep -E '^FAIL |^\[  FAILED  \]|error:|ERROR' "$log"
      grep -A4 'Failure$' "$log"
    } | head -80
    echo "--- last lines of $log:"
    tail -20 "$log"
  fi
  echo "$name: $passed passed, $failed failed"
  summary+=("$name: $passed passed, $failed failed")
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
}

build_host() {
  cmake -S . -B build/host -G Ninja -DTSL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null &&
    ninja -C build/host
}

echo "=== building host (ASan+UBSan)"
if ! build_host >"$logs/build-host.log" 2>&1; then
  tail -40 "$logs/build-host.log"
  echo "0 passed, 1 failed"
  exit 1
fi
echo "=== building Windows"
if ! scripts/build-windows.sh >"$logs/build-windows.log" 2>&1; then
  tail -40 "$logs/build-windows.log"
  echo "0 passed, 1 failed"
  exit 1
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
run_layer shellcheck scripts/shellcheck.sh
run_layer constants scripts/check-constants.sh
run_layer includes scripts/check-includes.sh
run_layer unit build/host/tests/unit_tests
run_layer contract-fake build/host/tests/contract_tests
run_layer reproducible scripts/repro-check.sh
run_layer contract-wine scripts/wine-contract.sh
run_layer net-wine scripts/net-test.sh
run_layer shortcut-wine scripts/wine-shortcut.sh
run_layer render-wine scripts/wine-render.sh
run_layer registration-wine scripts/wine-registration.sh
run_layer uninstall-wine scripts/wine-uninstall.sh
run_layer window-wine scripts/wine-window.sh
run_layer e2e-world scripts/e2e-smoke.sh
run_layer e2e scripts/e2e-test.sh
run_layer signing scripts/sign-test.sh
run_layer windows-kit-wine scripts/windows-kit.sh --wine
run_layer bench-tiny scripts/bench.sh --tiny

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "$total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]
