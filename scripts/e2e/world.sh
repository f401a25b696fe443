#!/usr/bin/env bash
# The local deployment world of the end-to-end suite: runs COMMAND where the
# deployment host and Microsoft's two download hosts are real HTTPS servers
# on loopback serving our stand-ins, with a private Wine prefix and an X
# display with a window manager. Needs root (namespaces and bind mounts).
#
#   scripts/e2e/world.sh [--prefix DIR] [--no-build] [--display] -- COMMAND [ARGS...]
#
#   --prefix DIR  use (and keep) the Wine prefix DIR instead of a fresh one in
#                 the temp folder; for iterating on a suite, not for its runs
#   --no-build    do not build the stand-ins first (scripts/build-windows.sh
#                 e2e_world); they must be in build/windows already
#   --display     use the caller's X display ($DISPLAY) and window manager
#                 instead of a private Xvfb with openbox, for a person to watch
#
# Exits with COMMAND's status. COMMAND runs inside private network, mount
# and pid namespaces, with:
#
#   TSL_WORLD        the run's temp folder: www/ (what is served), rules.json,
#                    hosts, server-trusted.log and server-untrusted.log (one
#                    line per request), world-ca.crt and stranger-ca.crt,
#                    standins/ (the stand-ins as served by default, the
#                    runtime installers signed), codesign/ (the run's
#                    code-signing CA and its signers microsoft and contoso)
#   TSL_WORLD_LIB    scripts/e2e/world-lib.sh: source it for the functions
#                    that change the world between scenarios (faults per
#                    path, hosts refused or untrusted, installer variants,
#                    the filtering engine stand-in); see that file
#   TSL_WORLD_BIN    the stand-ins and tools as built (build/windows/...)
#   WINEPREFIX, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES  as scripts/wine-env.sh
#                    sets them, for a prefix made by `wineboot -i` for this
#                    run (or --prefix)
#   DISPLAY          an Xvfb display of its own, with openbox managing it
#   TMPDIR           a folder in TSL_WORLD (Wine's server folder goes there;
#                    run every Wine program of the world with this TMPDIR, or
#                    it starts a wineserver of its own)
#   HOME             TSL_WORLD/home, where Wine links the user's Desktop
#
# What answers where (hosts file of the namespace, certificates of a CA made
# for this run and trusted through the bind-mounted bundle):
#
#   https://deploy.maretto.example/executable/Velquist.exe        Velquist.exe stand-in
#   https://deploy.maretto.example/executable/WebView2Loader.dll  WebView2Loader.dll stand-in
#   https://aka.ms/vs/17/release/vc_redist.x64.exe                vc_redist.x64.exe stand-in
#   https://go.microsoft.com/fwlink/p/?LinkId=2124703             WebView2 bootstrapper stand-in
#
# Each path answers only on its own host, and the last one only with that
# query. The three names resolve to 127.0.0.1 (the trusted server, https on
# 443 and plain http on 80); a name switched to "untrusted" resolves to
# 127.0.0.2, whose certificate has the same names from a CA nobody trusts; a
# name switched to "refused" resolves to 127.0.0.3, where nothing listens.
#
# Everything the world starts (two servers, Xvfb, openbox, the prefix's
# wineserver) is stopped by pid or by `wineserver -k` for the world's own
# prefix when COMMAND ends; the pid namespace ends whatever is left; the
# temp folder is removed.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
bin="$repo/build/windows/tests/e2e/standins"
# shellcheck source=scripts/netns/lib.sh
. "$repo/scripts/netns/lib.sh"

world_hosts=(deploy.maretto.example aka.ms go.microsoft.com)

# ---------------------------------------------------------------------------
# Inside the namespaces: bash world.sh --inside TMP PREFIX COMMAND...
if [ "${1-}" = "--inside" ]; then
  tmp="$2"
  prefix="$3"
  shift 3
  tsl_netns_dir="$tmp"

  wine_started=""
  cleanup() {
    local status=$?
    # Stopping carries on past whatever fails (no wineserver to end, say).
    set +e
    # The prefix's programs first (they may hold the display and sockets),
    # then the window manager and the display, then the servers.
    if [ -n "$wine_started" ]; then
      tsl_wine_stop
      tsl_wine_wm_stop
      tsl_wine_display_stop
    fi
    tsl_netns_stop_servers
    exit "$status"
  }
  trap cleanup EXIT

  started=$SECONDS
  tsl_netns_enter
  tsl_netns_start_server trusted --address 127.0.0.1 --https-port 443 --http-port 80 \
    --cert "$tmp/world.crt" --key "$tmp/world.key" \
    --root "$tmp/www" --host-dirs-only --rules "$tmp/rules.json"
  tsl_netns_start_server untrusted --address 127.0.0.2 --https-port 443 --http-port 80 \
    --cert "$tmp/untrusted.crt" --key "$tmp/untrusted.key" \
    --root "$tmp/www" --host-dirs-only --rules "$tmp/rules.json"
  tsl_netns_wait_servers
  echo "world: servers up in $((SECONDS - started)) s"

  # Wine makes its server folder (wine-XXXXXX) under TMPDIR and leaves it
  # there; in the world's folder it goes when the world goes.
  mkdir -p "$tmp/tmp"
  export TMPDIR="$tmp/tmp"
  export TSL_WINE_TMPDIR="$TMPDIR"

  # Wine links the user's Desktop (and the other shell folders) into $HOME
  # when it makes the prefix: a HOME of the world's own keeps the desktop
  # shortcut and every other file of the run inside its temp folder.
  export XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}"
  export HOME="$tmp/home"
  mkdir -p "$HOME/Desktop"

  started=$SECONDS
  wine_started=1
  # shellcheck source=scripts/wine-env.sh
  . "$repo/scripts/wine-env.sh" "$prefix"
  echo "world: Wine prefix ready in $((SECONDS - started)) s ($WINEPREFIX)"
  # One wineserver for the whole run. Left to itself it exits 3 s after the
  # last program, and a program that starts while it saves and exits loses
  # its connection ("recvmsg: Connection reset by peer"). cleanup ends it.
  wineserver -p || exit 1

  started=$SECONDS
  if [ -n "${TSL_WORLD_OWN_DISPLAY-}" ]; then
    # --display: the caller's X display and window manager, for a person.
    echo "world: display $DISPLAY (the caller's)"
  else
    tsl_wine_display_start || exit 1
    # openbox keeps its files inside the temp folder.
    tsl_wine_wm_start "$tmp/xdg" || exit 1
    echo "world: display $DISPLAY with openbox in $((SECONDS - started)) s"
  fi

  export TSL_WORLD="$tmp"
  export TSL_WORLD_LIB="$repo/scripts/e2e/world-lib.sh"
  export TSL_WORLD_BIN="$bin"
  status=0
  "$@" || status=$?
  exit "$status"
fi

# ---------------------------------------------------------------------------
# Outside: build, make the run's files, enter the namespaces.
prefix=""
build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix="$(realpath -m "$2")"; shift 2 ;;
    --no-build) build=""; shift ;;
    --display)
      [ -n "${DISPLAY-}" ] || { echo "world: --display needs DISPLAY" >&2; exit 64; }
      export TSL_WORLD_OWN_DISPLAY=1
      shift
      ;;
    --) shift; break ;;
    *) break ;;
  esac
done
if [ $# -eq 0 ]; then
  echo "usage: scripts/e2e/world.sh [--prefix DIR] [--no-build] [--display] -- COMMAND [ARGS...]" >&2
  exit 64
fi
tsl_netns_require_root world

start=$SECONDS
if [ -n "$build" ]; then
  "$repo/scripts/build-windows.sh" e2e_world >/dev/null
fi

tmp="$(mktemp -d /tmp/tsl-world.XXXXXX)"
trap 'rm -rf "$tmp"' EXIT
tsl_netns_dir="$tmp"

tsl_netns_make_ca world-ca "Tessaline world CA"
tsl_netns_make_ca stranger-ca "Untrusted world CA"
tsl_netns_make_server_cert world-ca world "${world_hosts[@]}"
tsl_netns_make_server_cert stranger-ca untrusted "${world_hosts[@]}"
tsl_netns_make_bundle world-ca

# The stand-ins as they were when the run began: the world serves from this
# copy, so a rebuild during the run changes nothing.
mkdir "$tmp/standins"
for file in Velquist.exe WebView2Loader.dll vc_redist.x64.exe MicrosoftEdgeWebview2Setup.exe \
  fwpuclnt.dll fwp_seed.exe world_probe.exe; do
  cp "$bin/$file" "$tmp/standins/"
done

# The runtime installer stand-ins signed as Microsoft signs its own, by a
# certificate of this run (CN and O "Microsoft Corporation", from a CA no
# store holds); "contoso" signs the variants of another subject.
# shellcheck source=scripts/codesign-lib.sh
. "$repo/scripts/codesign-lib.sh"
mkdir "$tmp/codesign"
tsl_codesign_make_ca "$tmp/codesign" ca "Tessaline world code-signing CA"
tsl_codesign_make_signer "$tmp/codesign" ca microsoft "Microsoft Corporation" "Microsoft Corporation"
tsl_codesign_make_signer "$tmp/codesign" ca contoso "Contoso Ltd" "Contoso Ltd"
for file in vc_redist.x64.exe MicrosoftEdgeWebview2Setup.exe; do
  mv "$tmp/standins/$file" "$tmp/standins/$file.unsigned"
  tsl_codesign_sign "$tmp/codesign" microsoft "$tmp/standins/$file.unsigned" "$tmp/standins/$file"
done

# Default hosts, default rules and default files.
TSL_WORLD="$tmp" python3 "$repo/scripts/e2e/world_rules.py" "$tmp" init
# No WINEPREFIX yet: the caller's own prefix must not be touched.
env -u WINEPREFIX TSL_WORLD="$tmp" bash "$repo/scripts/e2e/world-lib.sh" reset

if [ -z "$prefix" ]; then
  prefix="$tmp/wine-prefix"
else
  # One run at a time per prefix: another run's `wineserver -k` would end
  # this run's programs.
  mkdir -p "$(dirname "$prefix")"
  exec 8>"$prefix.run-lock"
  flock -w 900 8 || { echo "world: $prefix is busy with another run" >&2; exit 1; }
fi

echo "world: set up in $((SECONDS - start)) s ($tmp)"
status=0
tsl_netns_unshare bash "$0" --inside "$tmp" "$prefix" "$@" || status=$?
echo "world: exit $status after $((SECONDS - start)) s"
exit "$status"
