# shellcheck shell=bash
# The E2E_ variables are set here for the scripts that source this file.
# shellcheck disable=SC2034
# Driving TessalineSetup.exe inside the end-to-end world (scripts/e2e/world.sh)
# the way a person does: start it, click its painted buttons, read and
# answer its message boxes, and look at what it left, with tools nobody
# here wrote (xdotool, import, wine reg, lnkinfo, sha256sum) and three small
# helpers of ours in tests/e2e/tools that only read (box_text, window_labels)
# or hold a file (hold_file). Sourced by scripts/demo.sh and the suite.
#
#   e2e_init                     paths; copies the setup program into C:\tsl-e2e
#   e2e_start NAME [ARGS...]     runs PROGRAM (default: the setup) under the
#                                trace collector; E2E_PID, E2E_TRACE, E2E_LABELS
#   e2e_start_unseen NAME PROGRAM [ARGS...]
#                                the same in a window station of its own
#                                (tests/e2e/tools/run_in_station), as the
#                                task scheduler starts a SYSTEM task
#   e2e_window [SECONDS]         waits for the setup window: E2E_WIN
#   e2e_painted [SECONDS]        waits until that window is painted and active
#   e2e_wait_screen STATUS|DETAIL [SECONDS]
#                                waits until that pair is the last screen seen
#   e2e_click install|right      releases the mouse on a button slot, then
#                                moves the pointer off the window
#   e2e_box CAPTION [SECONDS]    waits for a message box: E2E_BOX_INFO, E2E_BOX_TEXT
#   e2e_answer CAPTION KEY       sends KEY (Return, n, ...) to that box
#   e2e_wait_exit [SECONDS]      waits for the run to end: E2E_EXIT (8 bits)
#   e2e_wait_exit_watching [SECONDS]
#                                the same, and E2E_SEEN: every window the
#                                display showed meanwhile that could be the
#                                program's, its boxes' or the application's
#   e2e_trace                    the run's debug lines, one per line
#   e2e_labels                   the run's status|detail lines as seen
#   e2e_shot FILE                a screenshot of the whole display
#   e2e_stop                     ends the run if it is still there, and
#                                every other program a scenario starts
#   e2e_reap                     ends those programs: "pid name" for each
#   e2e_runtimes all|no-vc|no-webview2   registers the runtimes (or not)
#   e2e_evidence WHAT            prints what tells why WHAT failed (the run's
#                                command, exit status, Wine's stderr, last
#                                trace lines and screens, the windows shown)
#                                and keeps it with a screenshot under
#                                $TSL_E2E_LOGS (default build/test-logs/e2e)

# shellcheck source=scripts/e2e/world-lib.sh
. "$TSL_WORLD_LIB"

e2e_repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
e2e_build="$e2e_repo/build/windows"

e2e_init() {
  E2E_DIR="$WINEPREFIX/drive_c/tsl-e2e"
  E2E_WDIR='C:\tsl-e2e'
  mkdir -p "$E2E_DIR"
  # TSL_E2E_SETUP: another build of the program to run (a signed one, say).
  cp "${TSL_E2E_SETUP:-$e2e_build/TessalineSetup.exe}" "$E2E_DIR/TessalineSetup.exe"
  E2E_SETUP="$E2E_DIR/TessalineSetup.exe"
  E2E_COLLECTOR="$e2e_build/tests/trace_collector.exe"
  E2E_TOOLS="$e2e_build/tests/e2e/tools"
  E2E_INSTALL="$WINEPREFIX/drive_c/Program Files/Maretto/TSL"
  E2E_DESKTOP_LNK="$(e2e_desktop)/Tessaline.lnk"
  E2E_UNINSTALL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tessaline'
  E2E_PID=""
  E2E_LABELS_PID=""
  E2E_NAME=""
  E2E_COMMAND=""
  E2E_EXIT=""
  E2E_RUNS=0
  E2E_EVIDENCE_SHOWN=""
}

# The folder Wine's shell gives as the user's desktop, resolved on Linux.
e2e_desktop() {
  local user
  for user in "$WINEPREFIX"/drive_c/users/*/; do
    [ "$(basename "$user")" = Public ] && continue
    realpath -m "$user/Desktop"
    return 0
  done
  return 1
}

# Wine console output ends lines with CR LF. What Wine said on stderr is
# kept for e2e_evidence.
# A program that fails says so on stderr, with what Wine said.
e2e_wine() {
  local status=0
  wine "$@" >"$TSL_WORLD/e2e-wine.out" 2>"$TSL_WORLD/e2e-wine.err" || status=$?
  tr -d '\r' <"$TSL_WORLD/e2e-wine.out"
  [ "$status" -eq 0 ] && return 0
  echo "e2e_wine: [$*] exited $status; Wine's stderr: $(tail -5 "$TSL_WORLD/e2e-wine.err" | tr '\r\n' '  ')" >&2
  return "$status"
}

# The runs' own Wine messages: errors, and each message box's text
# (MSGBOX_OnInit), the evidence of a box the harness did not see.
e2e_winedebug="${TSL_E2E_WINEDEBUG:-err+all,fixme-all,trace+msgbox}"

# e2e_new_run NAME COMMAND...: the run's name, files and command line.
e2e_new_run() {
  E2E_NAME="$1"
  shift
  E2E_COMMAND="$*"
  E2E_EXIT=""
  E2E_RUNS=$((E2E_RUNS + 1))
  E2E_TRACE="$E2E_DIR/$E2E_NAME.trace"
  E2E_LABELS="$E2E_DIR/$E2E_NAME.labels"
  rm -f "$E2E_TRACE" "$E2E_LABELS"
}

# e2e_start NAME [WINDOWS PROGRAM [ARGS...]]: NAME names the run's files.
e2e_start() {
  local name="$1"
  shift
  [ $# -gt 0 ] || set -- "$E2E_WDIR\\TessalineSetup.exe"
  e2e_new_run "$name" "$@"
  wine "$E2E_TOOLS/window_labels.exe" "$E2E_WDIR\\$name.labels" 600 >/dev/null 2>&1 &
  E2E_LABELS_PID=$!
  WINEDEBUG="$e2e_winedebug" wine "$E2E_COLLECTOR" "$E2E_WDIR\\$name.trace" "$@" \
    >"$E2E_DIR/$name.out" 2>&1 &
  E2E_PID=$!
}

e2e_start_unseen() {
  local name="$1" trace
  shift
  e2e_new_run "$name" "$@"
  E2E_LABELS_PID=""
  trace="$(tsl_world_winpath "$E2E_TRACE")"
  # The collector runs in the station too; its child inherits the desktop.
  WINEDEBUG="$e2e_winedebug" wine "$E2E_TOOLS/run_in_station.exe" 300 "$(tsl_world_winpath "$E2E_COLLECTOR")" "$trace" "$@" \
    >"$E2E_DIR/$name.out" 2>&1 &
  E2E_PID=$!
}

e2e_window() {
  E2E_WIN="$(timeout "${1:-30}" xdotool search --sync --onlyvisible --name '^Tessaline Setup$' 2>/dev/null | head -1)"
  [ -n "$E2E_WIN" ]
}

# Button slots at 96 DPI, from the client area's bottom-right corner (app/render.cc):
# the left slot spans x = w-237..w-137, the right one w-125..w-25, both
# y = h-57..h-25. The X window of a managed Wine window is its client area.
e2e_click() {
  local geometry w h x y
  geometry="$(xdotool getwindowgeometry "$E2E_WIN" | awk '/Geometry:/ {print $2}')" || return 1
  w="${geometry%x*}"
  h="${geometry#*x}"
  case "$1" in
    install) x=$((w - 187)) ;;
    right) x=$((w - 75)) ;;
    *) return 1 ;;
  esac
  y=$((h - 41))
  # Off the window in the same call: a pointer resting over it when a box
  # opens can answer the box under Wine (WM_MOUSEACTIVATE, then EndDialog).
  xdotool mousemove --window "$E2E_WIN" "$x" "$y" sleep 0.2 click 1 mousemove 1 1
}

e2e_pixel_is() { [ "$(e2e_pixel "$1" "$2")" = "$3" ]; }

# The window is painted (the header's colour at its top-left corner,
# app/render.cc) and openbox has made it, or a box of its program (the
# question of a command-line uninstall), the active window: a click before
# that can be lost.
e2e_ready_now() {
  local active pid
  active="$(xdotool getactivewindow 2>/dev/null)" || return 1
  if [ "$active" != "$E2E_WIN" ]; then
    pid="$(xdotool getwindowpid "$E2E_WIN" 2>/dev/null)"
    [ -n "$pid" ] && [ "$(xdotool getwindowpid "$active" 2>/dev/null)" = "$pid" ] || return 1
  fi
  e2e_pixel_is 5 5 45,45,48
}
e2e_painted() { tsl_world_until "${1:-30}" e2e_ready_now; }

e2e_last_screen_is() { [ "$(e2e_labels | tail -1)" = "$1" ]; }
e2e_wait_screen() { tsl_world_until "${2:-30}" e2e_last_screen_is "$1"; }

e2e_box() {
  local caption="$1" out
  out="$(wine "$E2E_TOOLS/box_text.exe" "$caption" "$(( ${2:-30} * 1000 ))" 2>/dev/null)" || {
    E2E_BOX_INFO="" E2E_BOX_TEXT=""
    return 1
  }
  E2E_BOX_INFO="$(head -1 <<<"$out")"
  E2E_BOX_TEXT="$(tail -n +2 <<<"$out")"
}

# A message box is a dialog window of Wine's on the X display with its
# caption as title; openbox gives it the focus it needs for a key.
# The X windows titled CAPTION, without the application stand-in's own
# window, whose title ("Tessaline") is also the caption of two boxes.
e2e_box_windows() {
  local win
  for win in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    xprop -id "$win" WM_CLASS 2>/dev/null | grep -qi velquist || echo "$win"
  done
}

e2e_answer() {
  local caption="$1" key="$2" win="" i
  for i in $(seq 1 300); do
    win="$(e2e_box_windows "$caption" | tail -1)"
    [ -n "$win" ] && break
    sleep 0.2
  done
  [ -n "$win" ] || return 1
  # A real key press (XTEST) to the focused box: Wine takes synthetic
  # events sent to a window differently.
  xdotool windowactivate --sync "$win" 2>/dev/null
  sleep 0.2
  xdotool key --clearmodifiers "$key"
  # The box must go away, or the key did not reach it.
  for _ in $(seq 1 300); do
    [ -n "$(e2e_box_windows "$caption")" ] || return 0
    sleep 0.1
  done
  return 1
}

# The windows that could be the program's (its own, a box, the application
# stand-in), by title, as "id:title" lines.
e2e_program_windows() {
  local win
  for win in $(xdotool search --onlyvisible --name 'Tessaline|Error|Uninstall|Administrator' 2>/dev/null); do
    echo "$win:$(xdotool getwindowname "$win" 2>/dev/null)"
  done
}

e2e_wait_exit_watching() {
  local end=$((SECONDS + ${1:-60}))
  E2E_SEEN=""
  while kill -0 "$E2E_PID" 2>/dev/null && [ $SECONDS -lt $end ]; do
    E2E_SEEN="$(printf '%s\n%s' "$E2E_SEEN" "$(e2e_program_windows)" | sed '/^$/d' | sort -u)"
    sleep 0.2
  done
  e2e_wait_exit 5
}

e2e_wait_exit() {
  local limit="${1:-60}"
  E2E_EXIT=""
  if timeout "$limit" tail --pid="$E2E_PID" -f /dev/null; then
    E2E_EXIT=0
    wait "$E2E_PID" || E2E_EXIT=$?
    E2E_PID=""
  else
    return 1
  fi
  # The follower ends with the window.
  if [ -n "$E2E_LABELS_PID" ]; then
    timeout 10 tail --pid="$E2E_LABELS_PID" -f /dev/null || kill "$E2E_LABELS_PID" 2>/dev/null
    wait "$E2E_LABELS_PID" 2>/dev/null
    E2E_LABELS_PID=""
  fi
}

# Every record of the collector, "%0A" and the other escapes undone, the
# final line feed dropped; W records are marked with "W ".
e2e_trace() {
  [ -f "${E2E_TRACE-}" ] || return 0
  python3 - "$E2E_TRACE" <<'PY'
import sys, urllib.parse
for record in open(sys.argv[1], encoding="utf-8", errors="replace"):
    kind, _, text = record.rstrip("\n").partition("\t")
    text = urllib.parse.unquote(text)
    if text.endswith("\n"):
        text = text[:-1]
    print(("W " if kind == "W" else "") + text)
PY
}

# status|detail, one line per change seen, without the times.
e2e_labels() {
  [ -f "${E2E_LABELS-}" ] || return 0
  cut -f2- "$E2E_LABELS" | tr '\t' '|'
}

e2e_shot() { tsl_world_screenshot "$1"; }

# The colour of client pixel X,Y of the setup window as "r,g,b".
e2e_pixel() {
  import -window "$E2E_WIN" -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null |
    sed -nE '2s/.*srgb\(([0-9]+,[0-9]+,[0-9]+)\).*/\1/p'
}

e2e_stop() {
  if [ -n "$E2E_PID" ]; then
    kill "$E2E_PID" 2>/dev/null
    wait "$E2E_PID" 2>/dev/null
    E2E_PID=""
  fi
  if [ -n "$E2E_LABELS_PID" ]; then
    kill "$E2E_LABELS_PID" 2>/dev/null
    wait "$E2E_LABELS_PID" 2>/dev/null
    E2E_LABELS_PID=""
  fi
  # A program started by a Windows program is not a Unix child of it
  # (Wine hands it to init), so ending the collector leaves the setup.
  e2e_reap >/dev/null
}

# The programs the scenarios run, by the last part of their argv[0].
e2e_program_names=' TessalineSetup.exe updater.exe Velquist.exe trace_collector.exe window_labels.exe hold_file.exe run_in_station.exe box_text.exe '

# "pid name" of each of them still running in this world (its network
# namespace), so worlds of other runs on the machine are left alone.
e2e_leftovers() {
  local p arg0 name net
  net="$(readlink /proc/self/ns/net)"
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/ns/net" 2>/dev/null)" = "$net" ] || continue
    arg0="$(tr '\0' '\n' <"$p/cmdline" 2>/dev/null | head -1)"
    name="${arg0##*[/\\]}"
    case "$e2e_program_names" in *" $name "*) echo "${p#/proc/} $name" ;; esac
  done
}

# e2e_reap: ends every program of a scenario still running and waits (at
# most 30 s) until they are gone; prints what it ended, one line each.
e2e_reap() {
  local left pids
  left="$(e2e_leftovers)"
  [ -n "$left" ] || return 0
  echo "$left"
  pids="$(cut -d' ' -f1 <<<"$left")"
  # shellcheck disable=SC2086
  kill -9 $pids 2>/dev/null
  for _ in $(seq 1 300); do
    [ -n "$(e2e_leftovers)" ] || return 0
    sleep 0.1
  done
}

# wine reg query KEY /v NAME: "<type> <data...>", or "absent".
e2e_reg() {
  local out
  if out="$(wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r')"; then
    awk -v name="$2" '$1 == name { $1 = ""; sub(/^ +/, ""); print; exit }' <<<"$out"
  else
    echo absent
  fi
}

# e2e_runtimes all|no-vc|no-webview2: both runtimes as their installers
# register them (32-bit view), or one of them missing; one regedit run.
e2e_runtimes() {
  local want="$1" client='Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}'
  tsl_world_clear_runtimes
  {
    printf 'Windows Registry Editor Version 5.00\r\n'
    if [ "$want" != no-vc ]; then
      printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64]\r\n"Installed"=dword:00000001\r\n'
    fi
    if [ "$want" != no-webview2 ]; then
      printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\%s]\r\n"pv"="120.0.2210.91"\r\n' "$client"
    fi
  } >"$TSL_WORLD/runtimes.reg"
  wine regedit /s "$(tsl_world_winpath "$TSL_WORLD/runtimes.reg")" >/dev/null 2>&1
}

e2e_slug() { tr -c 'A-Za-z0-9\n' '-' <<<"$1" | sed -E 's/-+/-/g; s/^-|-$//g' | cut -c1-80; }

e2e_logs="${TSL_E2E_LOGS:-$e2e_repo/build/test-logs/e2e}"

# Once per run: later failures of the same run have the same evidence.
e2e_evidence() {
  local file
  case " ${E2E_EVIDENCE_SHOWN-} " in *" ${E2E_RUNS:-0} "*) return 0 ;; esac
  E2E_EVIDENCE_SHOWN="${E2E_EVIDENCE_SHOWN-} ${E2E_RUNS:-0}"
  mkdir -p "$e2e_logs"
  file="$e2e_logs/$(printf '%02d' "${E2E_RUNS:-0}")-$(e2e_slug "$1")"
  {
    echo "  why: $1"
    echo "  run ${E2E_NAME:-(none)}: ${E2E_COMMAND:-(none)}"
    echo "  exit status: ${E2E_EXIT:-(not ended, or not waited for)}"
    echo "  Wine's stderr of the run (last 15 lines):"
    tail -15 "${E2E_DIR-}/${E2E_NAME:-none}.out" 2>/dev/null | tr -d '\r' | sed 's/^/  | /'
    echo "  Wine's stderr of the last helper program:"
    tail -5 "$TSL_WORLD/e2e-wine.err" 2>/dev/null | tr -d '\r' | sed 's/^/  | /'
    echo "  trace (last 15 lines):"
    e2e_trace | tail -15 | sed 's/^/  > /'
    echo "  screens (last 5):"
    e2e_labels | tail -5 | sed 's/^/  = /'
    echo "  windows: $(e2e_program_windows | tr '\n' ' ')"
  } | tee "$file.log"
  if e2e_shot "$file.png" 2>/dev/null; then echo "  kept: ${file#"$e2e_repo"/}.log and .png"; fi
}

# check-lib.sh calls this after every failed check.
tsl_check_on_fail() { e2e_evidence "$1"; }
