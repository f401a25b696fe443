#!/usr/bin/env bash
# Builds the Windows test kit in build/windows-kit/: the Win32-layer test
# programs that touch nothing of a real installation (contract_tests,
# ui_contract_tests, render_wine_tests), the Windows-only group
# (windows_only_tests with its probes and marker DLL; skipped under Wine),
# TessalineSetup.exe, run-tests.cmd (ends with "N passed, N failed") and
# README.txt (how to run it on a disposable Windows VM).
#
#   scripts/windows-kit.sh           build the kit
#   scripts/windows-kit.sh --wine    build it, then run `wine cmd /c
#                                    run-tests.cmd` in it, in a prefix of its
#                                    own on a private Xvfb display with
#                                    openbox; exits with the kit's status
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$repo/build/windows"
kit="$repo/build/windows-kit"
programs=(contract_tests ui_contract_tests render_wine_tests windows_only_tests image_probe
  unattended_probe)

"$repo/scripts/build-windows.sh" TessalineSetup trace_collector planted_dll standin_velquist "${programs[@]}" \
  >/dev/null
rm -rf "$kit"
mkdir -p "$kit/trust-samples"
# The Authenticode contract's samples, signed by a throwaway CA of this build.
# shellcheck source=scripts/codesign-lib.sh
. "$repo/scripts/codesign-lib.sh"
tsl_codesign_make_trust_samples "$kit/trust-samples" "$build/tests/trace_collector.exe"
tsl_codesign_make_versioned_sample "$kit/trust-samples" "$build/tests/e2e/standins/Velquist.exe"
# run-tests.cmd deletes the CA from the root store by this hash after the
# Windows-only group, should that group have died with it added.
openssl x509 -in "$kit/trust-samples/ca.crt" -noout -fingerprint -sha1 |
  sed 's/.*=//; s/://g' | tr -d '\n' >"$kit/trust-samples/ca.sha1"
for program in "${programs[@]}"; do
  cp "$build/tests/$program.exe" "$kit/"
done
cp "$build/TessalineSetup.exe" "$build/tests/planted.dll" "$kit/"
# Windows' own line ends, for cmd's labels and for Notepad.
sed 's/$/\r/' "$repo/scripts/kit/run-tests.cmd" >"$kit/run-tests.cmd"
sed 's/$/\r/' "$repo/scripts/kit/README.txt" >"$kit/README.txt"
echo "windows-kit: $kit ($(find "$kit" -type f | wc -l) files)"

[ "${1-}" = --wine ] || exit 0

# ---- The kit under Wine ----
work="$repo/build/wine-kit"
mkdir -p "$work/home"
export HOME="$work/home"
unset DISPLAY XDG_DESKTOP_DIR XDG_CONFIG_HOME
# shellcheck source=scripts/wine-env.sh
. "$repo/scripts/wine-env.sh" "$work/prefix"

cleanup() {
  tsl_wine_stop
  tsl_wine_wm_stop
  tsl_wine_display_stop || true
}
trap cleanup EXIT
tsl_wine_display_start || { echo "windows-kit: no X display" >&2; exit 1; }
tsl_wine_wm_start || exit 1

cd "$kit"
status=0
wine cmd /c run-tests.cmd 2>/dev/null | tr -d '\r' || status=$?
exit "$status"
