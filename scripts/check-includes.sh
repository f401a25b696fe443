#!/usr/bin/env bash
# No circle of files: a unit (a .h with its .cc) of app/, install/,
# uninstall/ or registration/ never depends, through its include lines, on a
# unit that depends on it back; and install/, uninstall/ and registration/
# include only app/ui_state.h of app/. The last line reads "N passed, N
# failed".
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/check-lib.sh
. "$repo/scripts/check-lib.sh"

report="$(cd "$repo" && python3 - <<'PY'
import glob, re
edges = {}
for path in glob.glob("*/*.cc") + glob.glob("*/*.h"):
    if path.split("/")[0] not in ("app", "install", "uninstall", "registration"):
        continue
    unit = path.rsplit(".", 1)[0]
    for included in re.findall(r'^#include "([^"]+)\.h"', open(path).read(), re.M):
        if included != unit and included.split("/")[0] != "platform":
            edges.setdefault(unit, set()).add(included)

def reaches(start):
    seen, todo = set(), [start]
    while todo:
        for n in edges.get(todo.pop(), ()):
            if n not in seen:
                seen.add(n)
                todo.append(n)
    return seen

for unit in sorted(edges):
    back = sorted(n for n in edges[unit] if unit in reaches(n))
    print("circle|%s|%s" % (unit, " ".join(back)))
    if unit.split("/")[0] != "app":
        apps = sorted(n for n in edges[unit] if n.startswith("app/") and n != "app/ui_state")
        print("app|%s|%s" % (unit, " ".join(apps)))
PY
)"
while IFS='|' read -r kind unit found; do
  case "$kind" in
    circle) expect "$unit: no included unit depends on it back" "$found" "" ;;
    app) expect "$unit: of app/ only ui_state.h" "$found" "" ;;
  esac
done <<<"$report"
summary
