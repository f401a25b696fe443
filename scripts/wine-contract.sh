#!/usr/bin/env bash
# Builds the Windows contract tests and runs them under Wine in the private
# prefix of scripts/wine-env.sh. Extra arguments go to the test program
# (--gtest_filter=..., --gtest_output=xml:FILE). Exits with the tests' code.
#   scripts/wine-contract.sh [gtest flags...]
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
exe="$repo/build/windows/tests/contract_tests.exe"

"$repo/scripts/build-windows.sh" contract_tests

# The program must run on a bare Windows: no MinGW runtime DLLs
# (libgcc_s_*, libstdc++-*, libwinpthread-*) beside it, only system DLLs.
dlls="$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print $3 }')"
echo "wine-contract: $(basename "$exe") imports:" "${dlls//$'\n'/ }"
if grep -qi '^lib.*\.dll$' <<<"$dlls"; then
  echo "wine-contract: $(basename "$exe") needs MinGW runtime DLLs; link it statically" >&2
  exit 1
fi

# Samples for the Authenticode contract (see tsl_codesign_make_trust_samples).
samples="$(mktemp -d "${TMPDIR:-/tmp}/tsl-trust-samples.XXXXXX")"
trap 'rm -rf "$samples"' EXIT
# shellcheck source=scripts/codesign-lib.sh
. "$repo/scripts/codesign-lib.sh"
"$repo/scripts/build-windows.sh" trace_collector >/dev/null
tsl_codesign_make_trust_samples "$samples" "$repo/build/windows/tests/trace_collector.exe"
# A program with a version resource, for the version contract.
"$repo/scripts/build-windows.sh" standin_velquist >/dev/null
tsl_codesign_make_versioned_sample "$samples" "$repo/build/windows/tests/e2e/standins/Velquist.exe"
export TSL_TRUST_SAMPLES="Z:${samples//\//\\}"

# shellcheck source=scripts/wine-env.sh
. "$repo/scripts/wine-env.sh" ""

status=0
wine "$exe" "$@" || status=$?
tsl_wine_wait || true
if [ "$status" -ne 0 ]; then
  echo "wine-contract: contract_tests.exe failed (exit $status)" >&2
fi
exit "$status"
