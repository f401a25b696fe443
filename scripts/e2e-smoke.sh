#!/usr/bin/env bash
# Proves the end-to-end world (scripts/e2e/world.sh) without the setup
# program: builds the stand-ins, runs scripts/e2e/smoke.sh inside a fresh
# world, then checks that the world left nothing behind. Needs root. The
# last line reads "N passed, N failed"; the exit status is non-zero when
# anything failed.
#   scripts/e2e-smoke.sh
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
log="$(mktemp /tmp/tsl-e2e-smoke.XXXXXX.log)"
trap 'rm -f "$log"' EXIT

passed=0
failed=0
if ! "$repo/scripts/build-windows.sh" e2e_world >"$log" 2>&1; then
  tail -30 "$log"
  echo "0 passed, 1 failed"
  exit 1
fi

"$repo/scripts/e2e/world.sh" --no-build -- bash "$repo/scripts/e2e/smoke.sh" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}

counts="$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -1)"
if [ -n "$counts" ]; then
  passed=$(cut -d' ' -f1 <<<"$counts")
  failed=$(cut -d' ' -f3 <<<"$counts")
fi
# A world that died before the checks counted counts as one failure.
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
  echo "FAIL the world ended with exit $status"
  failed=$((failed + 1))
fi

# Nothing of the world may outlive it: not its temp folder, not a process.
world_dir="$(sed -nE 's/^world: set up in [0-9]+ s \((.*)\)$/\1/p' "$log")"
if [ -n "$world_dir" ] && [ ! -e "$world_dir" ]; then
  echo "ok   the world's temp folder is gone"
  passed=$((passed + 1))
else
  echo "FAIL the world's temp folder is gone: [$world_dir] is still there or unknown"
  failed=$((failed + 1))
fi
left="$(pgrep -af -- "${world_dir:-/nonexistent}" || true)"
if [ -n "$world_dir" ] && [ -z "$left" ]; then
  echo "ok   no process of the world is left"
  passed=$((passed + 1))
else
  echo "FAIL no process of the world is left: $left"
  failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
