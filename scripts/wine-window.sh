#!/bin/bash
# TessalineSetup.exe itself: its import table, and its window under Wine on a
# private Xvfb display with openbox, at 96 and at 144 DPI: class, title,
# outer size, centring, the colours of a screenshot at points computed from
# the layout, the Install button's hover colour; then "/uninstall" answered
# No. Nothing is clicked that could install anything. Before that, the
# window contract (tests/contract/ui_contract_test.cc), which needs the
# display too.
#
# Usage: scripts/wine-window.sh [windows build folder]
# Every check prints what it got; the last line reads "N passed, N failed"
# (the window contract's tests included). Exits non-zero when any check
# failed. Uses a Wine prefix and HOME of its own under the build
# folder, and stops everything it started.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/windows}
exe=$build/TessalineSetup.exe
probe=$build/tests/window_probe.exe

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null || exit 1
fi
ninja --quiet -C "$build" -j2 TessalineSetup window_probe ui_contract_tests planted_version || exit 1

# shellcheck source=scripts/check-lib.sh
. "$root/scripts/check-lib.sh"

# ---- The executable as a file ----
size=$(stat -c %s "$exe")
echo "TessalineSetup.exe: $size bytes"
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
expect "GUI subsystem" "$(grep -oE 'Windows GUI|Windows CUI' <<<"$headers" | head -1)" "Windows GUI"
expect "stripped" "$(x86_64-w64-mingw32-objdump -t "$exe" 2>&1 | grep -o 'no symbols' | head -1)" "no symbols"
# Windows takes these from System32 whatever lies beside the executable
# (KnownDLLs); comctl32 is bound through the manifest. Anything else has to
# be loaded at run time from System32.
allowed="advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll shlwapi.dll user32.dll"
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u | tr '\n' ' ')
echo "import table: $imports"
others=""
for dll in $imports; do
  case " $allowed " in
    *" $dll "*) ;;
    *) others+="$dll " ;;
  esac
done
expect "imports only KnownDLLs and comctl32" "$others" ""
expect "imports user32 and kernel32" "$(grep -cwE 'user32.dll|kernel32.dll' <<<"${imports// /$'\n'}")" "2"
# The load configuration, read through the section table: Windows resolves
# what the static imports import from System32 only (DependentLoadFlags at
# 0x4E = LOAD_LIBRARY_SEARCH_SYSTEM32), never beside the executable.
read -r lc_rva lc_size < <(awk '/Load Configuration Directory/ {print $3, $4}' <<<"$headers")
image_base=$(awk '$1 == "ImageBase" {print $2}' <<<"$headers")
lc_offset=""
while read -r _ _ section_size vma _ file_offset _; do
  start=$((16#$vma - 16#$image_base))
  if ((16#$lc_rva >= start && 16#$lc_rva < start + 16#$section_size)); then
    lc_offset=$((16#$file_offset + 16#$lc_rva - start))
  fi
done < <(x86_64-w64-mingw32-objdump -h "$exe" | awk '$1 ~ /^[0-9]+$/')
field() { od -An -t"$1" -j "$((lc_offset + $2))" -N"$3" "$exe" | tr -d ' '; }
expect "load configuration directory in a section" "${lc_offset:+yes}" "yes"
if [ -n "$lc_offset" ]; then
  expect "its Size field is the directory's size" "$(field u4 0 4)" "$((16#$lc_size))"
  expect "DependentLoadFlags: LOAD_LIBRARY_SEARCH_SYSTEM32" "$(field x2 0x4E 2)" "0800"
  expect "no security cookie for the loader to set" "$(field x8 0x58 8)" "0000000000000000"
fi

# ---- Wine: prefix, display, window manager ----
# Wine links the prefix's Desktop folder to $HOME/Desktop, so HOME comes
# before the prefix is made.
export HOME=$build/wine-home
mkdir -p "$HOME"
# Wine's variables and the prefix (made once) come from wine-env.sh; a
# WINEDEBUG of the caller's still wins over its default.
winedebug=${WINEDEBUG:--all}
# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh" "$build/wine-window" || exit 1
export WINEDEBUG=$winedebug

setup_pid=
cleanup() {
  if [ -n "$setup_pid" ]; then kill "$setup_pid" 2>/dev/null; wait "$setup_pid" 2>/dev/null; fi
  wineserver -k >/dev/null 2>&1
  tsl_wine_wm_stop
  tsl_wine_display_stop
}
trap cleanup EXIT

# ---- A version.dll planted beside the setup ----
# Windows 10 1607 and later resolve user32's own imports for this executable
# from System32 only (DependentLoadFlags above). Wine 8 ignores the flag:
# with native DLLs preferred, it loads the planted one (which ends the
# process with 86) before any of our code runs. Pinned, so that a Wine that
# starts honouring the flag is noticed.
planted=$(mktemp -d "$build/planted.XXXXXX")
cp "$exe" "$build/tests/version.dll" "$planted/"
out=$(WINEDLLOVERRIDES="$WINEDLLOVERRIDES;version=n,b" timeout 120 wine "$planted/TessalineSetup.exe" 2>/dev/null)
code=$?
expect "Wine 8 ignores DependentLoadFlags: the planted version.dll ran" \
  "$code $(grep -c 'planted version.dll loaded' <<<"$out")" "86 1"
rm -rf "$planted"

tsl_wine_display_start || { echo "no X display"; exit 1; }
tsl_wine_wm_start || exit 1

# probe ARGS...: the probe's report, without the carriage returns of Wine's
# console output.
probe() { wine "$probe" "$@" 2>/dev/null | tr -d '\r'; }

# value KEY: the KEY=... line of the last probe's report.
report=""
value() { sed -n "s/^$1=//p" <<<"$report" | head -1; }

# Wine reads the DPI when its server starts: the server has to end first
# (it does a few seconds after its last program).
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  timeout 60 wineserver -w
}

# Waits up to $2 seconds for the started setup to end; sets setup_rc.
wait_setup() {
  setup_rc="still running"
  for _ in $(seq $(($2 * 10))); do
    if ! kill -0 "$setup_pid" 2>/dev/null; then
      wait "$setup_pid"
      setup_rc=$?
      setup_pid=
      return
    fi
    sleep 0.1
  done
}

# pixel X Y: the colour at a screen point of a fresh screenshot.
pixel() {
  import -window root "$build/wine-window-shot.png" 2>/dev/null
  convert "$build/wine-window-shot.png" -format "%[pixel:p{$1,$2}]" info: 2>/dev/null
}

# pixel_becomes X Y COLOUR: polls for up to 5 s (a repaint after a pointer
# move); prints the last colour seen.
pixel_becomes() {
  local got
  for _ in $(seq 25); do
    got=$(pixel "$1" "$2")
    [ "$got" == "$3" ] && break
    sleep 0.2
  done
  echo "$got"
}

report=$(probe admin)
echo "Wine: CheckTokenMembership(Administrators) answers check=$(value check) member=$(value member)"
echo "  (Wine treats the Unix user as an administrator, so the setup never relaunches itself here)"

echo "=== the window contract against Wine's user32"
set_dpi 96
contract_log="$build/wine-window-contract.log"
wine "$build/tests/ui_contract_tests.exe" 2>&1 | tr -d '\r' >"$contract_log"
contract_rc=${PIPESTATUS[0]}
cat "$contract_log"
check_gtest "window contract (ui_contract_tests.exe)" "$contract_log" "$contract_rc"

for dpi in 96 144; do
  echo "=== $dpi DPI"
  # Wine 8 reads HKCU\Control Panel\Desktop\LogPixels (falling back to
  # LogPixels of HKLM\System\CurrentControlSet\Hardware Profiles\Current\
  # Software\Fonts).
  set_dpi "$dpi"

  wine "$exe" >/dev/null 2>&1 &
  setup_pid=$!
  report=$(probe window 30)
  printf '%s\n' "$report" | sed 's/^/  probe: /'
  expect "$dpi: window found" "$(value found)" "1"
  expect "$dpi: class" "$(value class)" "TSLInstallerClass"
  expect "$dpi: title" "$(value title)" "Tessaline Setup"
  expect "$dpi: style WS_VISIBLE|WS_CAPTION|WS_SYSMENU|WS_MINIMIZEBOX" "$(value style)" "0x14ca0000"
  want=$((520 * dpi / 96))x$((320 * dpi / 96))
  expect "$dpi: outer size" "$(value size)" "$want"
  expect "$dpi: window DPI" "$(value window_dpi)" "$dpi"
  IFS=, read -r left top right bottom <<<"$(value window)"
  IFS=x read -r sw sh <<<"$(value screen)"
  left=${left:-0} top=${top:-0} right=${right:-0} bottom=${bottom:-0} sw=${sw:-0} sh=${sh:-0}
  expect "$dpi: centred on the primary screen" "$left,$top" "$(( (sw - (right - left)) / 2 )),$(( (sh - (bottom - top)) / 2 ))"

  # Layout points in client coordinates, from the 96-DPI lengths scaled
  # with truncation, as the painting computes them.
  IFS=x read -r W H <<<"$(value client)"
  IFS=, read -r ox oy <<<"$(value origin)"
  W=${W:-0} H=${H:-0} ox=${ox:-0} oy=${oy:-0}
  S() { echo $(($1 * dpi / 96)); }
  header=$(S 90)
  track=$((header + $(S 90)))
  bx=$((W - 2 * $(S 100) - $(S 25) - $(S 12)))
  by=$((H - $(S 25) - $(S 32)))
  rx=$((W - $(S 25) - $(S 100)))
  at() { echo "$((ox + $1)) $((oy + $2))"; }
  # shellcheck disable=SC2046
  {
    expect "$dpi: background" "$(pixel $(at $(S 10) $((H - $(S 10)))))" "srgb(30,30,30)"
    expect "$dpi: header band" "$(pixel $(at $((W - $(S 10))) $(S 10)))" "srgb(45,45,48)"
    expect "$dpi: accent line" "$(pixel $(at $((W / 2)) $((header - $(S 2)))))" "srgb(0,122,204)"
    expect "$dpi: progress track" "$(pixel $(at $((W / 2)) $((track + $(S 3)))))" "srgb(60,60,60)"
    expect "$dpi: Install button" "$(pixel $(at $((bx + $(S 6))) $((by + $(S 16)))))" "srgb(60,60,60)"
    expect "$dpi: empty right slot" "$(pixel $(at $((rx + $(S 6))) $((by + $(S 16)))))" "srgb(30,30,30)"
    # The pointer onto the button's centre (never a click), then away.
    xdotool mousemove $(at $((bx + $(S 50))) $((by + $(S 16))))
    expect "$dpi: Install button under the pointer" \
      "$(pixel_becomes $(at $((bx + $(S 6))) $((by + $(S 16)))) 'srgb(80,80,80)')" "srgb(80,80,80)"
    xdotool mousemove 1 1
    expect "$dpi: Install button after the pointer left" \
      "$(pixel_becomes $(at $((bx + $(S 6))) $((by + $(S 16)))) 'srgb(60,60,60)')" "srgb(60,60,60)"
  }

  # The window manager's close: WM_CLOSE with no operation running.
  wmctrl -c "Tessaline Setup"
  wait_setup "$setup_pid" 20
  expect "$dpi: closed, exit code" "$setup_rc" "0"
  if [ -n "$setup_pid" ]; then
    kill "$setup_pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1
    setup_pid=
  fi
done

echo "=== /uninstall answered No"
set_dpi 96
wine "$exe" /uninstall >/dev/null 2>&1 &
setup_pid=$!
report=$(probe box "Confirm Uninstall" 30)
printf '%s\n' "$report" | sed 's/^/  probe: /'
expect "/uninstall: confirmation shown" "$(value found)" "1"
expect "/uninstall: question" "$(value text)" \
  "This will remove Tessaline and all associated data including:||• Application files|• Firewall rules|• Configuration data|• Scheduled tasks||Are you sure you want to uninstall?"
expect "/uninstall: owned by the main window" "$(value owner)" "TSLInstallerClass"
expect "/uninstall: Yes and No" "$(value yes) $(value no)" "1 1"
box=$(xdotool search --name "^Confirm Uninstall$" | head -1)
if [ -n "$box" ]; then
  xdotool windowactivate --sync "$box" 2>/dev/null
  xdotool key n
fi
# A Yes would leave the program waiting in its completion or warning box.
wait_setup "$setup_pid" 20
expect "/uninstall: No ends the program with exit code" "$setup_rc" "0"

summary
