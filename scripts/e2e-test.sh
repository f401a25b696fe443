#!/usr/bin/env bash
# The end-to-end suite: TessalineSetup.exe under Wine against a local
# deployment host (scripts/e2e/world.sh), every scenario of tests/e2e/suite.sh
# in one world and one Wine prefix. Builds what is missing first, then checks
# that the world left nothing behind. Needs root. The last line reads
# "N passed, N failed"; the exit status is non-zero when anything failed.
#   scripts/e2e-test.sh [SCENARIO...]
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
started=$SECONDS

# shellcheck source=scripts/check-lib.sh
. "$repo/scripts/check-lib.sh"
# shellcheck source=scripts/e2e/run-lib.sh
. "$repo/scripts/e2e/run-lib.sh"
tsl_e2e_logs e2e
tsl_e2e_build "$log" TessalineSetup trace_collector e2e_world e2e_tools
tsl_e2e_run "$log" bash "$repo/tests/e2e/suite.sh" "$@"

check "the world's temp folder [$world_dir] is gone" test -n "$world_dir" -a ! -e "$world_dir"
expect "processes of the world left" "$(pgrep -af -- "${world_dir:-/nonexistent}" || true)" ""

echo "e2e: $((SECONDS - started)) s"
summary
