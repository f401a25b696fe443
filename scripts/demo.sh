#!/usr/bin/env bash
# Shows TessalineSetup.exe doing its whole job under Wine, against a local
# deployment host (scripts/e2e/world.sh): install (the two runtime
# installers included), the launch question, an update, then the uninstall
# that Add/Remove Programs would start (its UninstallString), confirmed. The
# filtering engine stand-in holds the product's provider, sublayer and
# filters, so the uninstall's firewall step removes real objects.
#
#   scripts/demo.sh            on a private Xvfb display, clicked by xdotool
#   scripts/demo.sh --show     on your own X display ($DISPLAY), still
#                              clicked by xdotool, for you to watch
#
# Installs what is missing (scripts/install-deps.sh, the test command's
# installer), builds what is missing, saves a screenshot of every state in build/demo/,
# prints the debug trace of each run and a report of what was installed and
# what was removed. Needs root (namespaces). Everything it starts it stops.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

if [ "${1-}" != --inside ]; then
  world_options=()
  if [ "${1-}" = --show ]; then world_options+=(--display); fi
  started=$SECONDS
  # What a failure leaves, with the whole output, is kept where the test
  # command keeps its logs.
  export TSL_E2E_LOGS="$repo/build/test-logs/demo"
  rm -rf "$TSL_E2E_LOGS"
  mkdir -p "$TSL_E2E_LOGS"
  # before COMMAND...: a step before the world; on failure its status and
  # the last lines of what it printed.
  before() {
    local status=0 log
    log="$TSL_E2E_LOGS/$(basename "$1" .sh).log"
    "$@" >"$log" 2>&1 || status=$?
    [ "$status" -ne 0 ] || return 0
    echo "demo: [$*] exited $status; its last lines (all in ${log#"$repo"/}):" >&2
    tail -25 "$log" | sed 's/^/  | /' >&2
    echo "demo: FAILED ($status) in $((SECONDS - started)) s" >&2
    exit "$status"
  }
  before "$repo/scripts/install-deps.sh"
  before "$repo/scripts/build-windows.sh" TessalineSetup trace_collector e2e_world e2e_tools
  rm -rf "$repo/build/demo"
  mkdir -p "$repo/build/demo"
  status=0
  "$repo/scripts/e2e/world.sh" --no-build "${world_options[@]}" -- \
    bash "$repo/scripts/demo.sh" --inside 2>&1 | tee "$TSL_E2E_LOGS/run.log" || status=${PIPESTATUS[0]}
  outcome="FAILED ($status)"
  if [ "$status" -eq 0 ]; then outcome="done"; fi
  echo "demo: $outcome in $((SECONDS - started)) s; screenshots in build/demo/"
  if [ "$status" -ne 0 ]; then
    echo "demo: the whole output and what the failure left are in build/test-logs/demo/"
  fi
  exit "$status"
fi

# ---------------------------------------------------------------------------
# Inside the world.
# shellcheck source=tests/e2e/lib.sh
. "$repo/tests/e2e/lib.sh"
out="$repo/build/demo"
current_step="(before the first step)"
demo_reported=""

# Whatever ends the demo early says where and why: the step, the command
# and its exit status, and what the last run left (e2e_evidence).
demo_end() {
  local status="$1" command="$2"
  if [ "$status" -ne 0 ] && [ -z "$demo_reported" ]; then
    echo "demo: step \"$current_step\" failed: [$command] exited $status" >&2
    e2e_evidence "$current_step: $command" >&2
  fi
  e2e_stop
}
trap 'demo_end $? "$BASH_COMMAND"' EXIT

step() { current_step="$*"; echo; echo "### $*"; }
die() {
  echo "demo: step \"$current_step\" failed: $*" >&2
  e2e_evidence "$current_step: $*" >&2
  demo_reported=1
  exit 1
}

# shot NAME: a numbered screenshot of the display.
# (Numbered from the files: it is also called from command substitutions.)
shot() {
  local file
  file="$(printf '%s/%02d-%s.png' "$out" "$(($(find "$out" -mindepth 1 -maxdepth 1 | wc -l) + 1))" "$1")"
  e2e_shot "$file" && echo "  screenshot $(basename "$file")"
}

slug() { e2e_slug "$1" | tr '[:upper:]' '[:lower:]'; }

# follow_until CAPTION...: screenshots each new status/detail pair the
# window shows, until a box with one of the captions appears; prints the
# caption found.
follow_until() {
  local seen lines caption
  seen="$(cat "$TSL_WORLD/demo-seen" 2>/dev/null || echo 0)"
  for _ in $(seq 1 1200); do
    lines="$(e2e_labels | wc -l)"
    while [ "$seen" -lt "$lines" ]; do
      seen=$((seen + 1))
      echo "$seen" >"$TSL_WORLD/demo-seen"
      local pair
      pair="$(e2e_labels | sed -n "${seen}p")"
      echo "  screen: ${pair/|/ — }" >&2
      shot "$(slug "${pair}")" >&2
    done
    for caption in "$@"; do
      if [ -n "$(e2e_box_windows "$caption")" ]; then
        # The last screens may have come with the box.
        lines="$(e2e_labels | wc -l)"
        while [ "$seen" -lt "$lines" ]; do
          seen=$((seen + 1))
          echo "$seen" >"$TSL_WORLD/demo-seen"
          echo "  screen: $(e2e_labels | sed -n "${seen}p" | sed 's/|/ — /')" >&2
        done
        echo "$caption"
        return 0
      fi
    done
    sleep 0.1
  done
  return 1
}

show_box() {
  e2e_box "$1" 10 || die "no \"$1\" box"
  echo "  box \"$1\" ($E2E_BOX_INFO):"
  printf '%s\n' "$E2E_BOX_TEXT" | sed 's/^/  | /'
}

show_trace() {
  echo "  trace of the $1 (exit code $E2E_EXIT):"
  e2e_trace | sed 's/^/  > /'
}

e2e_init

step "The world"
tsl_world_fwp_install
e2e_wine "$TSL_WORLD/standins/fwp_seed.exe" seed --product 6 --other 2 | sed 's/^/  /'
e2e_wine "$TSL_WORLD/standins/fwp_seed.exe" dump | grep -v '^filter ' | sed 's/^/  /'
# The application arrives slowly, so its download is seen on the screen.
tsl_world_fault deploy.maretto.example /executable/Velquist.exe trickle 8192 0.15
echo "  runtimes: none registered in this fresh prefix; their installers will run"
echo "  desktop: $(e2e_desktop)"

step "Install"
e2e_start install
e2e_window || die "no setup window"
e2e_painted || die "the setup window was not painted"
shot idle
e2e_click install
caption="$(follow_until Tessaline "Installation Error" "Download Error")" || die "no end of the install"
show_box "$caption"
shot "box-$(slug "$caption")"
[ "$caption" = Tessaline ] || die "the install failed"
echo "  answering Yes: the application starts"
e2e_answer Tessaline Return || die "the launch question did not go"
timeout 20 xdotool search --sync --onlyvisible --name '^Tessaline$' >/dev/null 2>&1 || die "no application window"
application_managed() { wmctrl -l | grep -qE ' Tessaline$'; }
tsl_world_until 30 application_managed || die "openbox did not take the application window"
shot application-started
# The update replaces Velquist.exe: it must not be running then.
wmctrl -F -c Tessaline
application_ended() { grep -q '^Velquist end' "$(tsl_world_standin_log)"; }
tsl_world_until 30 application_ended || die "the application did not end"
shot installed-idle

step "What was installed"
printf '  %-20s %s\n' file sha256
for file in Velquist.exe WebView2Loader.dll updater.exe; do
  printf '  %-20s %s\n' "$file" "$(sha256sum "$E2E_INSTALL/$file" | cut -d' ' -f1)"
done
printf '  %-20s %s (served)\n' Velquist.exe \
  "$(sha256sum "$(tsl_world_served deploy.maretto.example /executable/Velquist.exe)" | cut -d' ' -f1)"
printf '  %-20s %s (the setup)\n' TessalineSetup.exe "$(sha256sum "$E2E_SETUP" | cut -d' ' -f1)"
echo "  registry ($E2E_UNINSTALL_KEY):"
wine reg query "$E2E_UNINSTALL_KEY" 2>/dev/null | tr -d '\r' | sed -n 's/^    /    /p'
echo "  shortcut $E2E_DESKTOP_LNK (lnkinfo):"
lnkinfo "$E2E_DESKTOP_LNK" 2>/dev/null |
  grep -E 'Description|Working directory|Icon location|Local path|Relative path' | sed 's/^\s*/    /'
echo "  task: schtasks /Create is run (see the trace); Wine's schtasks cannot create it and returns 1"
printf '  runtime installers run (%s):\n' 'C:\tsl-standin.log'
sed 's/^/    /' "$(tsl_world_standin_log)"

step "Update"
e2e_click install
caption="$(follow_until Tessaline "Installation Error" "Download Error")" || die "no end of the update"
show_box "$caption"
shot "box-update-$(slug "$caption")"
e2e_answer Tessaline n || die "the launch question did not go"
e2e_painted || die "the setup window was not painted again"
shot updated-idle
wmctrl -c 'Tessaline Setup' 2>/dev/null
e2e_wait_exit 30 || die "the setup did not end"
show_trace "setup run (install, then update)"

step "Uninstall from the Add/Remove Programs entry"
uninstall_string="$(e2e_reg "$E2E_UNINSTALL_KEY" UninstallString | sed 's/^REG_SZ *//')"
echo "  UninstallString: $uninstall_string"
program="$(sed -E 's/^"([^"]*)".*/\1/' <<<"$uninstall_string")"
arguments="$(sed -E 's/^"[^"]*" *//' <<<"$uninstall_string")"
rm -f "$TSL_WORLD/demo-seen"
# The arguments split into words as the command line's own.
# shellcheck disable=SC2086
e2e_start uninstall "$program" $arguments
e2e_box "Confirm Uninstall" 30 || die "no confirmation"
show_box "Confirm Uninstall"
shot confirm-uninstall
e2e_answer "Confirm Uninstall" Return || die "the confirmation did not go"
caption="$(follow_until Tessaline "Uninstall Warning")" || die "no end of the uninstall"
show_box "$caption"
shot "box-$(slug "$caption")"
e2e_answer "$caption" Return || die "the box did not go"
e2e_wait_exit 30 || die "the uninstall did not end"
show_trace "uninstall run"

step "What was removed"
gone() { if [ -e "$2" ]; then echo "  LEFT  $1"; else echo "  gone  $1"; fi; }
gone 'C:\Program Files\Maretto\TSL' "$E2E_INSTALL"
gone 'C:\Program Files\Maretto' "$WINEPREFIX/drive_c/Program Files/Maretto"
gone "desktop shortcut" "$E2E_DESKTOP_LNK"
if [ "$(e2e_reg "$E2E_UNINSTALL_KEY" DisplayName)" = absent ]; then
  echo "  gone  $E2E_UNINSTALL_KEY"
else
  echo "  LEFT  $E2E_UNINSTALL_KEY"
fi
echo "  filtering engine now:"
e2e_wine "$TSL_WORLD/standins/fwp_seed.exe" dump | grep -v '^filter ' | sed 's/^/    /'
echo "  the stand-in engine's deletions:"
grep -E 'DeleteById0|DeleteByKey0|TransactionCommit0' "$(tsl_world_fwp_dir)/tsl-fwp-calls.log" 2>/dev/null |
  sed 's/^/    /'
echo
echo "demo: $(find "$out" -mindepth 1 -maxdepth 1 | wc -l) screenshots in build/demo/"
