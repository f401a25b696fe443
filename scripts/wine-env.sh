# shellcheck shell=bash
# Sourceable set-up for running our Windows programs under Wine.
#
#   . scripts/wine-env.sh [PREFIX]
#
# Exports a private WINEPREFIX (PREFIX, else $TSL_WINEPREFIX, else
# <repo>/build/wine-prefix), created once with `wineboot -i` and reused, with
# WINEARCH=win64, WINEDEBUG=-all and WINEDLLOVERRIDES that keep Wine from
# offering Mono/Gecko and from writing desktop menu entries.
#
# Console programs run without an X display (checked with Wine 8.0). Tests
# that need windows call tsl_wine_display_start / tsl_wine_display_stop.
#
# Functions (each returns non-zero on failure; none exits the caller's shell):
#   tsl_wine_display_start  start Xvfb on a free display number, export DISPLAY
#   tsl_wine_display_stop   stop that Xvfb (by pid) and restore DISPLAY
#   tsl_wine_wm_start [DIR] start openbox on $DISPLAY and wait until it
#                           manages the display; with DIR its files and log
#                           (DIR/openbox.log) stay in DIR
#   tsl_wine_wm_stop        stop that openbox (by pid)
#   tsl_wine_wait [SECONDS] wait (default 60 s) for this prefix's wineserver to
#                           exit on its own once its programs have ended
#   tsl_wine_stop           end this prefix's wineserver and every program in
#                           it (only for a prefix the caller has to itself)

tsl_wine_repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

export WINEPREFIX="${1:-${TSL_WINEPREFIX:-$tsl_wine_repo/build/wine-prefix}}"
export WINEARCH=win64
# TSL_WINEDEBUG lets a person debugging a run see Wine's own messages.
export WINEDEBUG="${TSL_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine keeps its server's folders under TMPDIR; they stay inside build/.
export TMPDIR="${TSL_WINE_TMPDIR:-$tsl_wine_repo/build/wine-tmp}"
mkdir -p "$TMPDIR"

# Creates the prefix when it is new. A lock keeps two scripts that start at
# once from both initialising it. The wineserver writes `system.reg` when it
# saves the registry on exit, so its presence marks a finished prefix (an
# interrupted one is simply initialised again).
tsl_wine_prepare_prefix() {
  mkdir -p "$WINEPREFIX" || return 1
  (
    flock 9 || exit 1
    [ ! -f "$WINEPREFIX/system.reg" ] || exit 0
    echo "wine-env: creating Wine prefix $WINEPREFIX" >&2
    # Now and then a first wineboot fails within seconds on a busy machine;
    # what Wine said is kept, and a second one starts over.
    local attempt log="$WINEPREFIX/.tsl-wineboot.log"
    for attempt in 1 2 3; do
      # Without DISPLAY wineboot runs headless; a DISPLAY of the caller's
      # would only let it open a progress window.
      if env -u DISPLAY wineboot -i >"$log" 2>&1 &&
        # wineboot returns before the prefix's wineserver has written it out.
        wineserver -w && [ -f "$WINEPREFIX/system.reg" ]; then
        exit 0
      fi
      echo "wine-env: wineboot attempt $attempt failed: $(tail -5 "$log" | tr '\r\n' '  ' | cut -c1-400)" >&2
      wineserver -k 2>/dev/null
      wineserver -w 2>/dev/null
    done
    exit 1
  ) 9>"$WINEPREFIX/.tsl-wine-env.lock"
}

tsl_wine_display_pid=""
tsl_wine_saved_display=""
tsl_wine_display_log=""

tsl_wine_display_start() {
  [ -z "$tsl_wine_display_pid" ] || return 0
  local fdfile
  fdfile="$(mktemp)" || return 1
  tsl_wine_display_log="$(mktemp)" || return 1
  # -displayfd lets Xvfb pick a free display number and tell us which.
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$fdfile" >"$tsl_wine_display_log" 2>&1 &
  tsl_wine_display_pid=$!
  for _ in $(seq 1 100); do
    if [ -s "$fdfile" ]; then break; fi
    if ! kill -0 "$tsl_wine_display_pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  local number
  number="$(tr -dc '0-9' <"$fdfile")"
  rm -f "$fdfile"
  if [ -z "$number" ]; then
    echo "wine-env: Xvfb did not start" >&2
    sed 's/^/  Xvfb: /' "$tsl_wine_display_log" >&2
    tsl_wine_display_stop
    return 1
  fi
  tsl_wine_saved_display="${DISPLAY-}"
  export DISPLAY=":$number"
}

tsl_wine_display_stop() {
  [ -n "$tsl_wine_display_pid" ] || return 0
  kill "$tsl_wine_display_pid" 2>/dev/null
  wait "$tsl_wine_display_pid" 2>/dev/null
  tsl_wine_display_pid=""
  rm -f "$tsl_wine_display_log"
  tsl_wine_display_log=""
  if [ -n "$tsl_wine_saved_display" ]; then
    export DISPLAY="$tsl_wine_saved_display"
  else
    unset DISPLAY
  fi
}

# Without a window manager Wine waits two seconds for every window it shows.
tsl_wine_wm_pid=""
tsl_wine_wm_tmplog=""

# One openbox start (LOG, then openbox's own options), with the XDG folders
# of tsl_wine_wm_xdg. Ready once it answers as the display's window manager:
# a busy machine may take a while, a dead openbox never will. A failure says
# which of the two it was, with openbox's own words and the display's state.
tsl_wine_wm_xdg=()
tsl_wine_wm_said() {
  sed 's/^/  openbox: /' "$1" >&2
  [ -n "$tsl_wine_display_pid" ] || return 0
  if kill -0 "$tsl_wine_display_pid" 2>/dev/null; then
    echo "  Xvfb (pid $tsl_wine_display_pid) is running" >&2
  else
    echo "  Xvfb (pid $tsl_wine_display_pid) has ended:" >&2
    sed 's/^/  Xvfb: /' "$tsl_wine_display_log" >&2
  fi
}
tsl_wine_wm_try() {
  local log=$1 _ status
  shift
  env "${tsl_wine_wm_xdg[@]}" openbox --sm-disable "$@" >"$log" 2>&1 &
  tsl_wine_wm_pid=$!
  for _ in $(seq 1 600); do
    wmctrl -m >/dev/null 2>&1 && return 0
    if ! kill -0 "$tsl_wine_wm_pid" 2>/dev/null; then
      wait "$tsl_wine_wm_pid"
      status=$?
      tsl_wine_wm_pid=""
      echo "wine-env: openbox${*:+ $*} ended with status $status before it managed the display $DISPLAY" >&2
      tsl_wine_wm_said "$log"
      return 1
    fi
    sleep 0.1
  done
  echo "wine-env: openbox${*:+ $*} did not manage the display $DISPLAY within 60 s" >&2
  tsl_wine_wm_said "$log"
  kill "$tsl_wine_wm_pid" 2>/dev/null
  wait "$tsl_wine_wm_pid" 2>/dev/null
  tsl_wine_wm_pid=""
  return 1
}

tsl_wine_wm_start() {
  [ -z "$tsl_wine_wm_pid" ] || return 0
  local dir="${1-}" log
  tsl_wine_wm_xdg=()
  if [ -n "$dir" ]; then
    mkdir -p "$dir/config" "$dir/cache" "$dir/data" || return 1
    tsl_wine_wm_xdg=("XDG_CONFIG_HOME=$dir/config" "XDG_CACHE_HOME=$dir/cache" "XDG_DATA_HOME=$dir/data")
    log="$dir/openbox.log"
  else
    tsl_wine_wm_tmplog="$(mktemp)" || return 1
    log=$tsl_wine_wm_tmplog
  fi
  # A second try takes the display from whatever claimed it first ("a
  # window manager is already running"); the first failure stays printed.
  tsl_wine_wm_try "$log" && return 0
  tsl_wine_wm_try "$log" --replace && return 0
  tsl_wine_wm_stop
  return 1
}

tsl_wine_wm_stop() {
  if [ -n "$tsl_wine_wm_pid" ]; then
    kill "$tsl_wine_wm_pid" 2>/dev/null
    wait "$tsl_wine_wm_pid" 2>/dev/null
    tsl_wine_wm_pid=""
  fi
  [ -z "$tsl_wine_wm_tmplog" ] || rm -f "$tsl_wine_wm_tmplog"
  tsl_wine_wm_tmplog=""
  return 0
}

tsl_wine_wait() {
  # wineserver -w waits without ending anything, so it is safe while others
  # share the prefix.
  timeout "${1:-60}" wineserver -w 2>/dev/null
}

tsl_wine_stop() {
  # wineserver -k acts on this WINEPREFIX's server only.
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  return 0
}

if ! tsl_wine_prepare_prefix; then
  echo "wine-env: could not create Wine prefix $WINEPREFIX" >&2
  return 1 2>/dev/null || exit 1
fi
