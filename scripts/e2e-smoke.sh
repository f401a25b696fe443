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

# shellcheck source=scripts/e2e/run-lib.sh
. "$repo/scripts/e2e/run-lib.sh"
tsl_e2e_build "$log" e2e_world
tsl_e2e_run "$log" bash "$repo/scripts/e2e/smoke.sh"

# Nothing of the world may outlive it: not its temp folder, not a process.
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
