#!/usr/bin/env bash
# Runs shellcheck over every shell script of the repository (scripts/ and the
# test scripts), from the repository's top so that the scripts' `source=`
# directives resolve. One line per script; the last reads "N passed, N
# failed" (a script passes when shellcheck finds nothing at all in it).
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
# shellcheck source=scripts/check-lib.sh
. scripts/check-lib.sh

mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.sh' | sort)
for file in "${files[@]}"; do
  [ -f "$file" ] || continue
  if report="$(shellcheck -x "$file" 2>&1)"; then
    pass "$file"
  else
    echo "$report"
    fail "$file" "shellcheck found the above"
  fi
done
summary
