#!/usr/bin/env bash
# Proves the end-to-end world (scripts/e2e/world.sh) without the setup
# program: builds the stand-ins, runs scripts/e2e/smoke.sh inside a fresh
# world, then checks that the world left nothing behind. Needs root. The
# last line reads "N passed, N failed"; the exit status is non-zero when
# anything failed.
#   scripts/e2e-smoke.sh
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# shellcheck source=scripts/check-lib.sh
. "$repo/scripts/check-lib.sh"
# shellcheck source=scripts/e2e/run-lib.sh
. "$repo/scripts/e2e/run-lib.sh"
tsl_e2e_logs e2e-world
tsl_e2e_build "$log" e2e_world
tsl_e2e_run "$log" bash "$repo/scripts/e2e/smoke.sh"

# Nothing of the world may outlive it: not its temp folder, not a process.
check "the world's temp folder [$world_dir] is gone" test -n "$world_dir" -a ! -e "$world_dir"
left="$(pgrep -af -- "${world_dir:-/nonexistent}" || true)"
expect "processes of the world left" "$left" ""
summary
