# shellcheck shell=bash
# Functions that change and read the end-to-end world between scenarios.
# Inside a command run by scripts/e2e/world.sh:
#
#   . "$TSL_WORLD_LIB"
#
# or, from a program in another language, one call at a time:
#
#   bash "$TSL_WORLD_LIB" fault aka.ms /vs/17/release/vc_redist.x64.exe 404
#
# (the first word names the function without its tsl_world_ prefix). Every
# function returns non-zero on failure and never exits the caller's shell.
#
# Serving
#   tsl_world_reset
#       every host trusted, no faults, the default stand-ins served, the
#       filtering engine stand-in removed; logs are kept
#   tsl_world_fault HOST PATH MODE [ARG...]
#       answer https://HOST PATH with a fault; MODE is one of 404, 500,
#       status N, empty, cut [BYTES], reset [BYTES], stall [BYTES],
#       trickle [BYTES [SECONDS]], redirect-http, redirect URL, or ok to take
#       the fault away (scripts/e2e/world_rules.py has the details)
#   tsl_world_host HOST trusted|untrusted|refused
#       where HOST resolves: the trusted server, a server whose certificate
#       comes from a CA nobody trusts, or an address nothing listens on
#   tsl_world_installer vc|webview2 [--signed microsoft|contoso|none|altered]
#                       [KEY=VALUE...]
#       serve a variant of a runtime installer stand-in; keys exit, sleep,
#       register, place, value (tests/e2e/standins/runtime_installer.c);
#       signed by the run's "Microsoft Corporation" certificate (default),
#       by another subject, not at all, or by Microsoft's and then altered
#   tsl_world_serve HOST PATH FILE
#       serve the bytes of FILE at https://HOST PATH
#   tsl_world_served HOST PATH
#       print the file served at https://HOST PATH (to compare with sha256sum)
#   tsl_world_requests
#       print the servers' request lines so far: scheme, client, host,
#       method, target, status, bytes sent, fault, user agent
#
# Wine
#   tsl_world_winpath PATH       print PATH (Linux) as Wine sees it (Z:\...)
#   tsl_world_standin_log        print where the stand-ins' log lies (Linux
#                                path of C:\tsl-standin.log)
#   tsl_world_clear_runtimes     delete the registry keys that the two runtime
#                                checks read, in every place they look
#   tsl_world_fwp_install        put the filtering engine stand-in into the
#                                prefix's system32 and add fwpuclnt=n to
#                                WINEDLLOVERRIDES (exported; a program
#                                calling this file must add it itself)
#   tsl_world_fwp_remove         put Wine's own DLL back, drop the override,
#                                delete the stand-in's store, log and faults
#   tsl_world_fwp_dir            print the folder of the stand-in's files
#                                (tsl-fwp-store.txt, tsl-fwp-calls.log,
#                                tsl-fwp-faults.txt)
#   tsl_world_screenshot FILE    the whole display as a PNG
#
# Waiting
#   tsl_world_until SECONDS COMMAND [ARG...]
#       runs COMMAND every 0.1 s until it succeeds (returns 0) or SECONDS
#       have passed (returns 1): a wait for a state, never for a time

tsl_world_lib_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=scripts/codesign-lib.sh
. "$tsl_world_lib_dir/../codesign-lib.sh"

tsl_world_rules() {
  python3 "$tsl_world_lib_dir/world_rules.py" "$TSL_WORLD" "$@"
}

tsl_world_served() {
  tsl_world_rules served "$1" "$2"
}

# Copies FILE to the served place by a rename, so no request sees half of it.
tsl_world_serve() {
  local target
  target="$(tsl_world_served "$1" "$2")" || return 1
  mkdir -p "$(dirname "$target")" || return 1
  cp "$3" "$target.new" && mv -f "$target.new" "$target"
}

tsl_world_fault() {
  if [ "$3" = ok ]; then
    tsl_world_rules clear "$1" "$2"
  else
    tsl_world_rules set "$@"
  fi
}

tsl_world_host() {
  local host="$1" address
  case "$2" in
    trusted) address=127.0.0.1 ;;
    untrusted) address=127.0.0.2 ;;
    refused) address=127.0.0.3 ;;
    *) echo "world: unknown host mode $2" >&2; return 1 ;;
  esac
  case "$host" in
    deploy.maretto.example | aka.ms | go.microsoft.com) ;;
    *) echo "world: $host is not one of the world's hosts" >&2; return 1 ;;
  esac
  # Written in place: the hosts file is bind-mounted, a rename would not show.
  local lines
  lines="$(awk -v host="$host" '$2 != host' "$TSL_WORLD/hosts")" || return 1
  printf '%s\n%s %s\n' "$lines" "$address" "$host" >"$TSL_WORLD/hosts"
}

tsl_world_installer() {
  local which="$1" host path file signed=microsoft
  shift
  if [ "${1-}" = --signed ]; then
    signed="$2"
    shift 2
  fi
  case "$which" in
    vc) host=aka.ms path=/vs/17/release/vc_redist.x64.exe file=vc_redist.x64.exe ;;
    webview2)
      host=go.microsoft.com path="/fwlink/p/?LinkId=2124703"
      file=MicrosoftEdgeWebview2Setup.exe
      ;;
    *) echo "world: unknown installer $which" >&2; return 1 ;;
  esac
  local variant="$TSL_WORLD/variant-$which.exe"
  {
    cat "$TSL_WORLD/standins/$file.unsigned"
    printf 'TSL-STANDIN-CONFIG\n'
    local setting
    for setting in "$@"; do printf '%s\n' "$setting"; done
    printf 'TSL-STANDIN-END\n'
  } >"$variant.unsigned" || return 1
  case "$signed" in
    none) cp "$variant.unsigned" "$variant" ;;
    microsoft | contoso)
      tsl_codesign_sign "$TSL_WORLD/codesign" "$signed" "$variant.unsigned" "$variant" ;;
    altered)
      tsl_codesign_sign "$TSL_WORLD/codesign" microsoft "$variant.unsigned" "$variant" &&
        # One letter of the DOS stub's text: the program still runs.
        printf 't' | dd of="$variant" bs=1 seek=78 conv=notrunc status=none ;;
    *) echo "world: unknown signing $signed" >&2; return 1 ;;
  esac || return 1
  tsl_world_serve "$host" "$path" "$variant"
}

tsl_world_reset() {
  tsl_world_rules reset || return 1
  {
    echo "127.0.0.1 localhost"
    echo "::1 localhost"
    echo "127.0.0.1 deploy.maretto.example"
    echo "127.0.0.1 aka.ms"
    echo "127.0.0.1 go.microsoft.com"
  } >"$TSL_WORLD/hosts" || return 1
  tsl_world_serve deploy.maretto.example /executable/Velquist.exe \
    "$TSL_WORLD/standins/Velquist.exe" &&
    tsl_world_serve deploy.maretto.example /executable/WebView2Loader.dll \
      "$TSL_WORLD/standins/WebView2Loader.dll" &&
    tsl_world_serve aka.ms /vs/17/release/vc_redist.x64.exe \
      "$TSL_WORLD/standins/vc_redist.x64.exe" &&
    tsl_world_serve go.microsoft.com "/fwlink/p/?LinkId=2124703" \
      "$TSL_WORLD/standins/MicrosoftEdgeWebview2Setup.exe" || return 1
  # Only once the prefix exists (world.sh resets before making it).
  if [ -n "${WINEPREFIX-}" ] && [ -d "$WINEPREFIX/drive_c" ]; then tsl_world_fwp_remove; fi
}

tsl_world_requests() {
  cat "$TSL_WORLD"/server-*.log
}

tsl_world_winpath() {
  local path
  path="$(realpath -m "$1")" || return 1
  printf 'Z:%s\n' "${path//\//\\}"
}

tsl_world_standin_log() {
  printf '%s\n' "$WINEPREFIX/drive_c/tsl-standin.log"
}

tsl_world_clear_runtimes() {
  # One regedit run for the five keys: a `reg delete` each costs a Wine start.
  local client='Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}'
  local runtime='Microsoft\VisualStudio\14.0\VC\Runtimes\x64' key
  {
    printf 'Windows Registry Editor Version 5.00\r\n'
    for key in "HKEY_LOCAL_MACHINE\\SOFTWARE\\$runtime" \
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\$runtime" \
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\$client" \
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\$client" \
      "HKEY_CURRENT_USER\\SOFTWARE\\$client"; do
      printf '\r\n[-%s]\r\n' "$key"
    done
  } >"$TSL_WORLD/clear-runtimes.reg" || return 1
  # Wine's regedit now and then exits non-zero for an import that took
  # effect or not at all; a second run of the same deletions is harmless.
  local attempt
  for attempt in 1 2 3; do
    wine regedit /s "$(tsl_world_winpath "$TSL_WORLD/clear-runtimes.reg")" \
      >"$TSL_WORLD/clear-runtimes.log" 2>&1 && return 0
    echo "tsl_world_clear_runtimes: regedit attempt $attempt failed:" \
      "$(tr '\r\n' '  ' <"$TSL_WORLD/clear-runtimes.log" | cut -c1-300)" >&2
  done
  return 1
}

tsl_world_fwp_dir() {
  printf '%s\n' "$WINEPREFIX/drive_c/windows/system32"
}

tsl_world_fwp_install() {
  local dir
  dir="$(tsl_world_fwp_dir)"
  # Wine's own file is kept to be put back by tsl_world_fwp_remove.
  if [ ! -f "$TSL_WORLD/fwpuclnt.wine.dll" ]; then
    cp "$dir/fwpuclnt.dll" "$TSL_WORLD/fwpuclnt.wine.dll" || return 1
  fi
  cp "$TSL_WORLD/standins/fwpuclnt.dll" "$dir/fwpuclnt.dll" || return 1
  case ";$WINEDLLOVERRIDES;" in
    *";fwpuclnt=n;"*) ;;
    *) export WINEDLLOVERRIDES="fwpuclnt=n;$WINEDLLOVERRIDES" ;;
  esac
}

tsl_world_fwp_remove() {
  local dir
  dir="$(tsl_world_fwp_dir)"
  if [ -f "$TSL_WORLD/fwpuclnt.wine.dll" ]; then
    cp "$TSL_WORLD/fwpuclnt.wine.dll" "$dir/fwpuclnt.dll" || return 1
  fi
  rm -f "$dir/tsl-fwp-store.txt" "$dir/tsl-fwp-store.txt.new" "$dir/tsl-fwp-store.lock" \
    "$dir/tsl-fwp-calls.log" "$dir/tsl-fwp-faults.txt"
  WINEDLLOVERRIDES="${WINEDLLOVERRIDES//fwpuclnt=n;/}"
  export WINEDLLOVERRIDES
}

tsl_world_screenshot() {
  import -display "$DISPLAY" -window root "$1"
}

tsl_world_until() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

# Run as a program: the first argument names the function.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  if [ $# -eq 0 ] || ! declare -F "tsl_world_$1" >/dev/null; then
    echo "usage: world-lib.sh FUNCTION [ARG...] (functions: see the comment at the top)" >&2
    exit 64
  fi
  function_name="tsl_world_$1"
  shift
  "$function_name" "$@"
fi
