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
echo "wine-contract: $(basename "$exe") imports:" $dlls
if grep -qi '^lib.*\.dll$' <<<"$dlls"; then
  echo "wine-contract: $(basename "$exe") needs MinGW runtime DLLs; link it statically" >&2
  exit 1
fi

# Samples for the Authenticode contract: a small program of ours unsigned,
# signed by a "Microsoft Corporation" and by a "Contoso Ltd" certificate of a
# CA made here (no store holds it), and signed then altered.
samples="$(mktemp -d "${TMPDIR:-/tmp}/tsl-trust-samples.XXXXXX")"
trap 'rm -rf "$samples"' EXIT
# shellcheck source=scripts/codesign-lib.sh
. "$repo/scripts/codesign-lib.sh"
"$repo/scripts/build-windows.sh" trace_collector >/dev/null
cp "$repo/build/windows/tests/trace_collector.exe" "$samples/unsigned.exe"
tsl_codesign_make_ca "$samples" ca "Tessaline contract test CA"
tsl_codesign_make_signer "$samples" ca microsoft "Microsoft Corporation" "Microsoft Corporation"
tsl_codesign_make_signer "$samples" ca contoso "Contoso Ltd" "Contoso Ltd"
tsl_codesign_sign "$samples" microsoft "$samples/unsigned.exe" "$samples/microsoft.exe"
tsl_codesign_sign "$samples" contoso "$samples/unsigned.exe" "$samples/contoso.exe"
cp "$samples/microsoft.exe" "$samples/altered.exe"
printf 't' | dd of="$samples/altered.exe" bs=1 seek=78 conv=notrunc status=none
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
