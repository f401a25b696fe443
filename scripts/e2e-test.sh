#!/usr/bin/env bash
# The end-to-end suite: TessalineSetup.exe under Wine against a local
# deployment host (scripts/e2e/world.sh), every scenario of tests/e2e/suite.sh
# in one world and one Wine prefix. Builds what is missing first, then checks
# that the world left nothing behind. Needs root. The last line reads
# "N passed, N failed"; the exit status is non-zero when anything failed.
#   scripts/e2e-test.sh [SCENARIO...]
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
log="$(mktemp /tmp/tsl-e2e-test.XXXXXX.log)"
trap 'rm -f "$log"' EXIT
started=$SECONDS

if ! "$repo/scripts/build-windows.sh" TessalineSetup trace_collector e2e_world e2e_tools >"$log" 2>&1; then
  tail -30 "$log"
  echo "0 passed, 1 failed"
  exit 1
fi

"$repo/scripts/e2e/world.sh" --no-build -- bash "$repo/tests/e2e/suite.sh" "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}

passed=0
failed=0
counts="$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -1)"
if [ -n "$counts" ]; then
  passed=$(cut -d' ' -f1 <<<"$counts")
  failed=$(cut -d' ' -f3 <<<"$counts")
fi
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
  echo "FAIL the world ended with exit $status"
  failed=$((failed + 1))
fi

world_dir="$(sed -nE 's/^world: set up in [0-9]+ s \((.*)\)$/\1/p' "$log")"
if [ -n "$world_dir" ] && [ ! -e "$world_dir" ] && [ -z "$(pgrep -af -- "$world_dir")" ]; then
  echo "ok   the world's temp folder and processes are gone"
  passed=$((passed + 1))
else
  echo "FAIL the world's temp folder and processes are gone: [$world_dir] $(pgrep -af -- "${world_dir:-/nonexistent}")"
  failed=$((failed + 1))
fi

echo "e2e: $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
