#!/usr/bin/env bash
# The end-to-end scenarios of TessalineSetup.exe, run inside one world
# (scripts/e2e/world.sh) with one Wine prefix; scripts/e2e-test.sh starts it.
# Each scenario puts the machine into its starting state itself (product
# removed, runtimes registered or not, faults set), drives the program with
# clicks and keys, and checks the results with tools nobody here wrote:
# `wine reg query`, lnkinfo, sha256sum, the exit code (8 bits under Wine),
# the trace collector's records, the boxes' own text (tests/e2e/tools/box_text)
# and pixels of the window.
#
#   tests/e2e/suite.sh [SCENARIO...]     (default: all, in order)
#
# Every check prints one line; the last line is "N passed, N failed".
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=tests/e2e/lib.sh
. "$here/lib.sh"

# shellcheck source=scripts/check-lib.sh
. "$here/../../scripts/check-lib.sh"
sha() { sha256sum "$1" 2>/dev/null | cut -d' ' -f1; }

artifacts="$TSL_WORLD/artifacts"
mkdir -p "$artifacts"
trap 'e2e_stop' EXIT
e2e_init

deploy=deploy.maretto.example
velquist_path=/executable/Velquist.exe
loader_path=/executable/WebView2Loader.dll
programdata="$WINEPREFIX/drive_c/ProgramData"
program_files="$WINEPREFIX/drive_c/Program Files"
vc_url='https://aka.ms/vs/17/release/vc_redist.x64.exe'
webview2_url='https://go.microsoft.com/fwlink/p/?LinkId=2124703'
check_advice='Please check your internet connection and firewall settings.'
confirm_text="$(printf 'This will remove Tessaline and all associated data including:\n\n\xe2\x80\xa2 Application files\n\xe2\x80\xa2 Firewall rules\n\xe2\x80\xa2 Configuration data\n\xe2\x80\xa2 Scheduled tasks\n\nAre you sure you want to uninstall?')"
schtasks_line='[Install] schtasks returned: 1'
# The suite's setup is an unsigned build: it installs the unsigned stand-ins
# and says once that it does not check them.
unchecked_line='[Install] Setup is not signed: downloaded files are not checked'

# ---------------------------------------------------------------------------
# Starting states

runtimes() { e2e_runtimes "$@"; }

# Nothing of the product on the machine; the world's defaults served.
clean_machine() {
  tsl_world_reset
  rm -rf "$program_files/Maretto" "$program_files/Sarvenna Platform" \
    "$programdata/Maretto" "$programdata/Orlenda" "$E2E_DESKTOP_LNK"
  wine reg delete "$E2E_UNINSTALL_KEY" /f >/dev/null 2>&1
  rm -f "$(tsl_world_standin_log)"
}

# A scenario starts with none of the programs running: one that a failed
# check left behind (a late window, a holder) would answer for the next one.
scenario() {
  local left
  left="$(e2e_reap | tr '\n' ' ')"
  [ -z "$left" ] || echo "     ended, left running by the scenario before: $left"
  echo "== $1 (at $SECONDS s)"
  SCENARIO="$1"
}

# run_setup NAME [PROGRAM ARGS...]: starts it and waits for its window.
run_setup() {
  e2e_start "$@"
  if ! e2e_window 90; then
    fail "$SCENARIO: window" "no setup window within 90 s; running: $(e2e_leftovers | tr '\n' ' ');\
 output: $(tr '\n' ' ' <"$E2E_DIR/$E2E_NAME.out" 2>/dev/null); trace: $(e2e_trace | tr '\n' ';')"
    e2e_stop
    return 1
  fi
  e2e_painted || fail "$SCENARIO: window painted" "no painted header within 30 s"
}

# close_setup WANT_EXIT: closes the window as a person does and checks the exit code.
close_setup() {
  wmctrl -i -c "$E2E_WIN"
  if e2e_wait_exit 60; then
    expect "$SCENARIO: exit code" "$E2E_EXIT" "$1"
  else
    fail "$SCENARIO: exit code" "still running after 60 s"
    e2e_stop
  fi
}

# box CAPTION WANT_TEXT [WANT_BUTTONS]: the box's text, owner and buttons.
box() {
  if e2e_box "$1" 60; then
    expect "$SCENARIO: \"$1\" box text" "$E2E_BOX_TEXT" "$2"
    expect "$SCENARIO: \"$1\" box owner and buttons" "$E2E_BOX_INFO" \
      "owner=TSLInstallerClass buttons=${3:-[OK]}"
  else
    fail "$SCENARIO: \"$1\" box" "none within 60 s"
    return 1
  fi
}

answer() { e2e_answer "$1" "$2" || fail "$SCENARIO: answering \"$1\"" "the box did not go"; }

# The status|detail pairs seen must come in this order (a pair may be
# missed when it lives shorter than the follower's polling).
expect_screens_in_order() {
  local got
  got="$(e2e_labels)"
  python3 - "$got" "$@" <<'PY'
import sys
seen = [l for l in sys.argv[1].split("\n") if l]
order = sys.argv[2:]
pos = 0
for pair in seen:
    if pair not in order[pos:]:
        print("out of order or unknown: %r after %r" % (pair, order[pos - 1] if pos else None))
        sys.exit(1)
    pos = order.index(pair, pos) + 1
PY
  local status=$?
  if [ $status -eq 0 ]; then
    pass "$SCENARIO: screens in order ($(wc -l <<<"$got") seen)"
  else
    fail "$SCENARIO: screens in order" "$(tr '\n' ';' <<<"$got")"
  fi
}

# Each text change repaints at once, so a new status is on the screen with
# the old detail for a moment: those pairs are real screens too.
install_screens=(
  "Ready|" "Checking prerequisites...|" "Checking prerequisites...|Visual C++ Redistributable"
  "Checking prerequisites...|WebView2 Runtime"
  "Installing application...|WebView2 Runtime"
  "Installing application...|Creating installation directory"
  "Installing application...|Downloading WebView2Loader.dll"
  "Installing application...|Downloading application files"
  "Finishing installation...|Downloading application files"
  "Finishing installation...|Creating desktop shortcut"
  "Finishing installation...|Creating updater"
  "Finishing installation...|Scheduling automatic updates"
  "Finishing installation...|Registering application"
  "Installation complete!|Registering application"
  "Installation complete!|Ready to launch")

# install_ok NAME [PROGRAM]: a whole install (by PROGRAM, default the
# setup) from a click to the answered launch question, and the window closed.
install_ok() {
  run_setup "$@" || return 1
  e2e_click install
  box Tessaline "$(printf 'Installation complete!\n\nWould you like to launch Tessaline now?')" \
    '[&Yes][&No]' || return 1
  answer Tessaline n
  close_setup 0
}

trace_has() {
  if grep -xF -- "$2" <<<"$(e2e_trace)" >/dev/null; then pass "$SCENARIO: trace $1"; else
    fail "$SCENARIO: trace $1" "no line [$2] in: $(e2e_trace | tr '\n' ';')"; fi
}

no_product_files() {
  expect "$SCENARIO: nothing downloaded is left" \
    "$(find "$program_files/Maretto/TSL" -mindepth 1 -maxdepth 1 -printf '%f ' 2>/dev/null)" ""
}

# ---------------------------------------------------------------------------
scenario_clean_install() {
  scenario "clean install, both runtimes present"
  clean_machine
  runtimes both
  # A setup signed by "Maretto LTD" (TSL_E2E_SIGNED=1, scripts/sign-test.sh)
  # installs only files of that signer: serve such a pair, and expect no
  # line about unchecked files.
  local first_line="$unchecked_line;"
  if [ "${TSL_E2E_SIGNED-}" = 1 ]; then
    first_line=""
    { maretto_signer && serve_signed_pair -; } || { fail "$SCENARIO: serving a signed pair" "signing failed"; return; }
  fi
  run_setup clean || return
  # Idle colours at 96 DPI (app/render.cc): header, accent line, body and
  # the Install button's fill; no Uninstall button yet.
  local geometry w h
  geometry="$(xdotool getwindowgeometry "$E2E_WIN" | awk '/Geometry:/ {print $2}')"
  w="${geometry%x*}" h="${geometry#*x}"
  e2e_shot "$artifacts/clean-idle.png"
  expect "$SCENARIO: client area is 514x295 under Wine's frame" "$geometry" 514x295
  expect "$SCENARIO: idle pixels header/accent/body/install/right slot" \
    "$(e2e_pixel 5 5) $(e2e_pixel 5 88) $(e2e_pixel 5 200) $(e2e_pixel $((w - 230)) $((h - 50))) $(e2e_pixel $((w - 118)) $((h - 50)))" \
    "45,45,48 0,122,204 30,30,30 60,60,60 30,30,30"
  e2e_click install
  if box Tessaline "$(printf 'Installation complete!\n\nWould you like to launch Tessaline now?')" '[&Yes][&No]'; then
    e2e_shot "$artifacts/clean-complete.png"
    # 100 %: the bar is filled.
    expect "$SCENARIO: complete pixels bar/bar end" \
      "$(e2e_pixel 40 183) $(e2e_pixel $((w - 40)) 183)" "0,122,204 0,122,204"
    answer Tessaline n
    # The window is painted again after the question: the buttons are back
    # (Update, red Uninstall). Under the question it still shows Cancel: the
    # busy flag goes down without a repaint, which only a pointer resting on
    # the window used to hide.
    red_uninstall() { e2e_pixel_is $((w - 118)) $((h - 50)) 180,50,50; }
    tsl_world_until 30 red_uninstall
    expect "$SCENARIO: after the question, right slot" "$(e2e_pixel $((w - 118)) $((h - 50)))" "180,50,50"
  fi
  close_setup 0
  expect_screens_in_order "${install_screens[@]}"
  expect "$SCENARIO: last screen" "$(e2e_labels | tail -1)" "Installation complete!|Ready to launch"

  local file
  for file in Velquist.exe WebView2Loader.dll; do
    expect "$SCENARIO: $file as served" "$(sha "$E2E_INSTALL/$file")" \
      "$(sha "$(tsl_world_served $deploy "/executable/$file")")"
  done
  expect "$SCENARIO: updater.exe is the setup" "$(sha "$E2E_INSTALL/updater.exe")" "$(sha "$E2E_SETUP")"
  expect "$SCENARIO: nothing else in the install folder" "$(find "$E2E_INSTALL" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort | tr '\n' ' ')" \
    "Velquist.exe WebView2Loader.dll updater.exe "

  local today key="$E2E_UNINSTALL_KEY" name want
  today="$(date +%Y%m%d)"
  while IFS='|' read -r name want; do
    expect "$SCENARIO: entry $name" "$(e2e_reg "$key" "$name" | sed -E 's/ +/ /g')" "$want"
  done <<EOF
DisplayName|REG_SZ Tessaline
DisplayVersion|REG_SZ 1.0.0
Publisher|REG_SZ Maretto LTD
InstallLocation|REG_SZ C:\\Program Files\\Maretto\\TSL
UninstallString|REG_SZ "C:\\Program Files\\Maretto\\TSL\\updater.exe" /uninstall
DisplayIcon|REG_SZ C:\\Program Files\\Maretto\\TSL\\Velquist.exe,0
URLInfoAbout|REG_SZ https://www.maretto.example
HelpLink|REG_SZ https://www.maretto.example/support
EstimatedSize|REG_DWORD 0xc350
NoModify|REG_DWORD 0x1
NoRepair|REG_DWORD 0x1
InstallDate|REG_SZ $today
EOF
  expect "$SCENARIO: the entry has exactly twelve values" \
    "$(wine reg query "$key" 2>/dev/null | tr -d '\r' | grep -c '^    ')" 12

  local lnk
  lnk="$(lnkinfo "$E2E_DESKTOP_LNK" 2>&1)"
  lnk_field() { sed -nE "s/^\s*$1\s*: (.*)$/\1/p" <<<"$lnk" | head -1; }
  expect "$SCENARIO: shortcut on Wine's desktop, inside the world" \
    "$(dirname "$E2E_DESKTOP_LNK")" "$HOME/Desktop"
  expect "$SCENARIO: shortcut target" "$(lnk_field 'Local path')" 'C:\Program Files\Maretto\TSL\Velquist.exe'
  expect "$SCENARIO: shortcut working directory" "$(lnk_field 'Working directory')" 'C:\Program Files\Maretto\TSL'
  expect "$SCENARIO: shortcut icon" "$(lnk_field 'Icon location')" 'C:\Program Files\Maretto\TSL\Velquist.exe'
  expect "$SCENARIO: shortcut description" "$(lnk_field 'Description')" 'Tessaline'

  # Wine's schtasks cannot create the task (/RU SYSTEM) and exits 1: the
  # product's own line records it, as it would any refusal.
  expect "$SCENARIO: trace lines (schtasks: Wine's exit 1)" "$(e2e_trace | tr '\n' ';')" \
    "$first_line$schtasks_line;[Install] Registered in Add/Remove Programs;"
  expect "$SCENARIO: no runtime installer ran" "$(cat "$(tsl_world_standin_log)" 2>/dev/null)" ""
  expect "$SCENARIO: no request to Microsoft's hosts" \
    "$(tsl_world_requests | grep -cE 'aka\.ms|go\.microsoft\.com')" 0
}

scenario_update() {
  scenario "update over an install"
  # Starts from the clean install; a new application build is served.
  [ -f "$E2E_INSTALL/Velquist.exe" ] || install_ok update-base
  { cat "$TSL_WORLD/standins/Velquist.exe"; printf 'build 2\n'; } >"$TSL_WORLD/Velquist-2.exe"
  tsl_world_serve $deploy $velquist_path "$TSL_WORLD/Velquist-2.exe"
  run_setup update || return
  local geometry w h
  geometry="$(xdotool getwindowgeometry "$E2E_WIN" | awk '/Geometry:/ {print $2}')"
  w="${geometry%x*}" h="${geometry#*x}"
  expect "$SCENARIO: installed: the red Uninstall button is there" \
    "$(e2e_pixel $((w - 118)) $((h - 50)))" "180,50,50"
  e2e_click install
  box Tessaline "$(printf 'Installation complete!\n\nWould you like to launch Tessaline now?')" '[&Yes][&No]' &&
    answer Tessaline n
  close_setup 0
  expect "$SCENARIO: Velquist.exe replaced by the new build" "$(sha "$E2E_INSTALL/Velquist.exe")" \
    "$(sha "$TSL_WORLD/Velquist-2.exe")"
  expect "$SCENARIO: updater.exe is the setup" "$(sha "$E2E_INSTALL/updater.exe")" "$(sha "$E2E_SETUP")"
  expect "$SCENARIO: entry written again" "$(e2e_reg "$E2E_UNINSTALL_KEY" DisplayName | sed -E 's/ +/ /g')" "REG_SZ Tessaline"
  expect "$SCENARIO: trace lines" "$(e2e_trace | tr '\n' ';')" \
    "$unchecked_line;$schtasks_line;[Install] Registered in Add/Remove Programs;"
}

scenario_runtimes() {
  # which | installer settings | missing | want box ("" = completes) | want exit in log
  local which settings missing want_box role switches url name
  while IFS='|' read -r which settings missing want_box; do
    scenario "runtime missing: $which [$settings]"
    clean_machine
    runtimes "$missing"
    # shellcheck disable=SC2086
    tsl_world_installer "$which" $settings
    if [ "$which" = vc ]; then
      role=vc_redist switches='/install /quiet /norestart' url="$vc_url" name='Visual C++ Redistributable'
    else
      role=webview2_setup switches='/silent /install' url="$webview2_url" name='WebView2 Runtime'
    fi
    run_setup "runtime-$which-${settings//[^a-z0-9]/}" || continue
    e2e_click install
    if [ -z "$want_box" ]; then
      box Tessaline "$(printf 'Installation complete!\n\nWould you like to launch Tessaline now?')" '[&Yes][&No]' &&
        answer Tessaline n
      expect "$SCENARIO: application installed" "$(sha "$E2E_INSTALL/Velquist.exe")" \
        "$(sha "$(tsl_world_served $deploy $velquist_path)")"
    else
      box "Installation Error" "$(printf 'Failed to install %s.\n\n%s\n\nPlease install manually from:\n%s' "$name" "$want_box" "$url")" &&
        answer "Installation Error" Return
      e2e_wait_screen "Installation failed|See error message for details"
      expect "$SCENARIO: last screen" "$(e2e_labels | tail -1)" "Installation failed|See error message for details"
      expect "$SCENARIO: no install folder" "$(ls -d "$E2E_INSTALL" 2>/dev/null)" ""
    fi
    close_setup 0
    local log image
    log="$(cat "$(tsl_world_standin_log)" 2>/dev/null)"
    expect_match "$SCENARIO: installer ran once with the exact switches" \
      "$(grep -c "^$role start" <<<"$log") $(grep "^$role start" <<<"$log")" \
      "^1 $role start pid=[0-9]+ image=C:\\\\windows\\\\temp\\\\TSL-[0-9A-F]+\\\\TSL[0-9a-f]+\\.exe args=\\[$switches\\] "
    expect_match "$SCENARIO: installer started hidden (SW_HIDE)" "$log" "^$role start .* show=0$"
    expect_match "$SCENARIO: installer ended on its own" "$log" "^$role end pid=[0-9]+ exit="
    # The private folder the installer ran from is gone.
    image="$(sed -nE "s/^$role start .* image=C:\\\\(.*\\\\)TSL[0-9a-f]+\\.exe args=.*/\\1/p" <<<"$log" | tr "\\\\" /)"
    expect "$SCENARIO: the installer's private temp folder is removed" \
      "$([ -n "$image" ] && [ ! -e "$WINEPREFIX/drive_c/$image" ] && echo removed || echo "present: $image")" removed
  done <<'EOF'
vc|exit=0|no-vc|
vc|exit=3010|no-vc|
vc|exit=1638|no-vc|
vc|exit=1603|no-vc|Installer returned error code 1603
webview2|exit=0|no-webview2|
webview2|exit=3010|no-webview2|
webview2|exit=1638|no-webview2|
webview2|exit=1603|no-webview2|Installer returned error code 1603
EOF
}

scenario_signatures() {
  # signed | the reason in the box ("" = the install completes)
  local signed reason log
  while IFS='|' read -r signed reason; do
    scenario "runtime installer signed: $signed"
    clean_machine
    runtimes no-vc
    tsl_world_installer vc --signed "$signed"
    run_setup "signature-$signed" || continue
    e2e_click install
    if [ -z "$reason" ]; then
      box Tessaline "$(printf 'Installation complete!\n\nWould you like to launch Tessaline now?')" '[&Yes][&No]' &&
        answer Tessaline n
    else
      box "Installation Error" "$(printf 'Failed to install Visual C++ Redistributable.\n\n%s\n\nPlease install manually from:\n%s' "$reason" "$vc_url")" &&
        answer "Installation Error" Return
      e2e_wait_screen "Installation failed|See error message for details"
      expect "$SCENARIO: no install folder" "$(ls -d "$E2E_INSTALL" 2>/dev/null)" ""
    fi
    close_setup 0
    log="$(cat "$(tsl_world_standin_log)" 2>/dev/null)"
    expect "$SCENARIO: times the installer ran" "$(grep -c '^vc_redist start' <<<"$log")" \
      "$([ -z "$reason" ] && echo 1 || echo 0)"
    expect "$SCENARIO: no private folder is left" \
      "$(ls -d "$WINEPREFIX"/drive_c/users/*/Temp/TSL-* "$WINEPREFIX"/drive_c/windows/temp/TSL-* 2>/dev/null)" ""
  done <<'EOF'
microsoft|
none|Installer signature check failed (error 0x800B0100)
altered|Installer signature check failed (error 0x80096010)
contoso|Installer signature check failed (error 0x800B0004)
EOF
}

scenario_download_failures() {
  # how | host or path | mode | which box | reason (grep -E, whole line).
  # An untrusted certificate is 12157 under Wine 8 (Windows says 12175).
  local how target mode which reason
  while IFS='|' read -r how target mode which reason; do
    scenario "download: $how $target $mode"
    clean_machine
    runtimes both
    # A fault's mode and its arguments are one field of the table.
    # shellcheck disable=SC2086
    if [ "$how" = host ]; then tsl_world_host $deploy "$mode"; else tsl_world_fault $deploy "$target" $mode; fi
    run_setup "download-${mode//[^a-z0-9]/}-$(basename "$target")" || continue
    e2e_click install
    local first
    if [ "$which" = loader ]; then first='Failed to download WebView2Loader.dll.'; else first='Failed to download application.'; fi
    if e2e_box "Download Error" 60; then
      expect "$SCENARIO: owner and buttons" "$E2E_BOX_INFO" "owner=TSLInstallerClass buttons=[OK]"
      expect "$SCENARIO: box head and advice" \
        "$(sed -n '1p;2p;4p;5p' <<<"$E2E_BOX_TEXT" | tr '\n' ';')" "$first;;;$check_advice;"
      expect_match "$SCENARIO: reason" "$(sed -n 3p <<<"$E2E_BOX_TEXT")" "^$reason\$"
      expect "$SCENARIO: five lines" "$(wc -l <<<"$E2E_BOX_TEXT")" 5
      answer "Download Error" Return
    else
      fail "$SCENARIO: Download Error box" "none within 60 s"
    fi
    e2e_wait_screen "Installation failed|See error message for details"
    no_product_files
    expect "$SCENARIO: no entry" "$(e2e_reg "$E2E_UNINSTALL_KEY" DisplayName)" absent
    expect "$SCENARIO: no shortcut" "$(ls "$E2E_DESKTOP_LNK" 2>/dev/null)" ""
    close_setup 0
  done <<'EOF'
host|deploy|refused|loader|Failed to (send HTTP request|connect to deploy\.maretto\.example) \(error 12029\)
host|deploy|untrusted|loader|Failed to send HTTP request \(error 12157\)
fault|/executable/WebView2Loader.dll|404|loader|HTTP error 404
fault|/executable/Velquist.exe|404|app|HTTP error 404
fault|/executable/Velquist.exe|cut|app|Download interrupted \(error [0-9]+\)
fault|/executable/Velquist.exe|redirect-http|app|Failed to receive HTTP response \(error 12156\)
EOF
}

scenario_cancel() {
  scenario "cancel during a slow download"
  clean_machine
  runtimes both
  # About 40 KB at 1 KB every 0.25 s: ten seconds of download.
  tsl_world_fault $deploy $velquist_path trickle 1024 0.25
  run_setup cancel || return
  e2e_click install
  wait_for_detail 'Downloading application files' || return
  wait_for_staged_bytes || return
  e2e_click right
  box "Cancel Operation" "Are you sure you want to cancel?" '[&Yes][&No]' && answer "Cancel Operation" Return
  box "Download Error" "$(printf 'Failed to download application.\n\nDownload cancelled by user\n\n%s' "$check_advice")" &&
    answer "Download Error" Return
  e2e_wait_screen "Ready|"
  # "Installation cancelled" lives for one repaint before "Ready": too short
  # to be seen reliably by polling.
  expect "$SCENARIO: last screen" "$(e2e_labels | tail -1)" "Ready|"
  no_product_files
  close_setup 0
}

# uninstall_checks: nothing of the product is left.
nothing_left() {
  local folder
  for folder in "$program_files/Maretto/TSL" "$program_files/Maretto" "$program_files/Sarvenna Platform" \
    "$programdata/Maretto" "$programdata/Orlenda"; do
    expect "$SCENARIO: ${folder#"$WINEPREFIX/drive_c/"} gone" "$(ls -d "$folder" 2>/dev/null)" ""
  done
  expect "$SCENARIO: entry gone" "$(e2e_reg "$E2E_UNINSTALL_KEY" DisplayName)" absent
  expect "$SCENARIO: shortcut gone" "$(ls "$E2E_DESKTOP_LNK" 2>/dev/null)" ""
}

fwp_seed() { e2e_wine "$TSL_WORLD/standins/fwp_seed.exe" "$@"; }

scenario_uninstall() {
  scenario "uninstall from the UninstallString, confirmed"
  clean_machine
  runtimes both
  install_ok uninstall-base
  # Product data of the other product folders, and filtering objects.
  mkdir -p "$programdata/Maretto/logs" "$programdata/Orlenda" "$program_files/Sarvenna Platform"
  echo log >"$programdata/Maretto/logs/a.log"
  echo cfg >"$programdata/Orlenda/engine.cfg"
  echo x >"$program_files/Sarvenna Platform/x.dat"
  tsl_world_fwp_install
  expect "$SCENARIO: seeded" "$(fwp_seed seed --product 7 --other 3)" "seeded product=7 other=3 foreign=0"
  local command program
  command="$(e2e_reg "$E2E_UNINSTALL_KEY" UninstallString | sed -E 's/^REG_SZ +//')"
  program="$(sed -E 's/^"([^"]*)".*/\1/' <<<"$command")"
  expect "$SCENARIO: UninstallString" "$command" '"C:\Program Files\Maretto\TSL\updater.exe" /uninstall'
  run_setup uninstall "$program" /uninstall || return
  box "Confirm Uninstall" "$confirm_text" '[&Yes][&No]' && answer "Confirm Uninstall" Return
  box Tessaline "$(printf 'Uninstallation complete.\n\nAll components have been removed.')" && answer Tessaline Return
  if e2e_wait_exit 60; then expect "$SCENARIO: exit code" "$E2E_EXIT" 0; else fail "$SCENARIO: exit" "still running"; e2e_stop; fi
  nothing_left
  local dump
  dump="$(fwp_seed dump)"
  expect "$SCENARIO: filters left" "$(tail -1 <<<"$dump")" "filters total=3 product=0 other=3"
  expect_match "$SCENARIO: provider gone" "$dump" '^provider \{8A7B6C5D-4E3F-2A1B-9C8D-7E6F5A4B3C2D\} product absent$'
  expect_match "$SCENARIO: sublayer gone" "$dump" '^sublayer \{9B8C7D6E-5F4A-3B2C-AD9E-8F7A6B5C4D3E\} product absent$'
  # Six files, less updater.exe: the running program is moved out, not deleted.
  for line in '[NWX Cleanup] Found 7 filters to delete' '[NWX Cleanup] Deleted 7 filters, 0 failed' \
    'Deleted 7 firewall rules' '[Uninstall] Removed from Add/Remove Programs' \
    '[Uninstall] Files deleted: 5, failed: 0'; do
    trace_has "[$line]" "$line"
  done

  scenario "second uninstall, /uninstall /silent, converges"
  # Nothing to do: the window may come and go before anyone sees it.
  e2e_start uninstall-again "$E2E_WDIR\\TessalineSetup.exe" /uninstall /silent
  if e2e_wait_exit 60; then expect "$SCENARIO: exit code" "$E2E_EXIT" 0; else fail "$SCENARIO: exit" "still running"; e2e_stop; fi
  nothing_left
  trace_has "[shortcut absent]" '[Uninstall] Desktop shortcut deletion returned false (may not exist)'
  trace_has "[nothing deleted]" '[Uninstall] Files deleted: 0, failed: 0'
}

scenario_silent_uninstall() {
  scenario "uninstall /silent from updater.exe"
  clean_machine
  runtimes both
  install_ok silent-base
  # Without an engine to open the uninstall would warn, silent or not.
  tsl_world_fwp_install
  # Without a box the window may come and go before anyone sees it.
  e2e_start silent "C:\\Program Files\\Maretto\\TSL\\updater.exe" /uninstall /silent
  if e2e_wait_exit 60; then expect "$SCENARIO: exit code" "$E2E_EXIT" 0; else fail "$SCENARIO: exit" "still running"; e2e_stop; fi
  expect "$SCENARIO: no box was shown" "$(e2e_box_windows Tessaline)" ""
  nothing_left
}

scenario_held_file() {
  scenario "uninstall with a file held open in C:\\ProgramData\\Orlenda"
  clean_machine
  runtimes both
  install_ok held-base
  tsl_world_fwp_install
  mkdir -p "$programdata/Orlenda"
  rm -f "$E2E_DIR/release"
  wine "$E2E_TOOLS/hold_file.exe" 'C:\ProgramData\Orlenda\engine.dat' "$E2E_WDIR\\release" 120 \
    >"$E2E_DIR/hold.out" 2>&1 &
  local holder=$!
  wait_held || return
  run_setup held "C:\\Program Files\\Maretto\\TSL\\updater.exe" /uninstall /silent || return
  box "Uninstall Warning" "$(printf 'Uninstallation completed, but some items could not be removed:\n\n\xe2\x80\xa2 Could not fully remove: C:\\ProgramData\\Orlenda\n\nYou may need to manually delete remaining files or restart your computer and try again.')" &&
    answer "Uninstall Warning" Return
  if e2e_wait_exit 60; then expect "$SCENARIO: exit code" "$E2E_EXIT" 1; else fail "$SCENARIO: exit" "still running"; e2e_stop; fi
  touch "$E2E_DIR/release"
  timeout 10 tail --pid="$holder" -f /dev/null || kill "$holder" 2>/dev/null
  wait "$holder" 2>/dev/null
  expect "$SCENARIO: the held file stays" "$(ls "$programdata/Orlenda")" engine.dat
  expect "$SCENARIO: the install folder is gone" "$(ls -d "$program_files/Maretto" 2>/dev/null)" ""
  expect "$SCENARIO: entry gone" "$(e2e_reg "$E2E_UNINSTALL_KEY" DisplayName)" absent
  # A wide trace line arrives narrow on Wine 8 (trace_collector.cc).
  trace_has "[the held file]" '[Uninstall] Failed to delete file: C:\ProgramData\Orlenda\engine.dat error: 32'
  rm -rf "$programdata/Orlenda"
}

# ---------------------------------------------------------------------------
# Updates that never break what is installed

# The staging and backup files an update may leave for the next run.
leftovers() {
  local file
  for file in "$E2E_INSTALL"/*.tsl-new "$E2E_INSTALL"/*.tsl-old "$E2E_INSTALL"/*.tsl-restart; do
    [ -e "$file" ] && printf '%s ' "$(basename "$file")"
  done
}

# installed_pair: the sha256 of the installed application and loader.
installed_pair() { echo "$(sha "$E2E_INSTALL/Velquist.exe") $(sha "$E2E_INSTALL/WebView2Loader.dll")"; }

# A new application build and loader for the update scenarios.
serve_build_2() {
  { cat "$TSL_WORLD/standins/Velquist.exe"; printf 'build 2\n'; } >"$TSL_WORLD/Velquist-2.exe"
  { cat "$TSL_WORLD/standins/WebView2Loader.dll"; printf 'build 2\n'; } >"$TSL_WORLD/Loader-2.dll"
  tsl_world_serve $deploy $velquist_path "$TSL_WORLD/Velquist-2.exe"
  tsl_world_serve $deploy $loader_path "$TSL_WORLD/Loader-2.dll"
}

# wait_for_detail TEXT: until the setup shows TEXT on its detail line.
wait_for_detail() {
  for _ in $(seq 1 600); do
    e2e_labels | grep -qF "|$1" && return 0
    sleep 0.1
  done
  fail "$SCENARIO: detail [$1]" "not shown within 60 s"
  return 1
}

# The application's staged file has its first bytes: the download is under way.
staged_has_bytes() { find "$E2E_INSTALL" -maxdepth 1 -name 'Velquist.exe*.tsl-new' -size +0c 2>/dev/null | grep -q .; }
wait_for_staged_bytes() {
  tsl_world_until 60 staged_has_bytes && return 0
  fail "$SCENARIO: download under way" "no staged Velquist.exe with bytes within 60 s"
  return 1
}

# hold_file.exe (started by the caller into hold.out) holds its file.
wait_held() {
  for _ in $(seq 1 600); do
    grep -q '^held' "$E2E_DIR/hold.out" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "$SCENARIO: file held" "not within 60 s: $(cat "$E2E_DIR/hold.out" 2>/dev/null)"
  return 1
}

scenario_update_cut() {
  scenario "update with the application body cut short"
  clean_machine
  runtimes both
  install_ok update-cut-base || return
  local before
  before="$(installed_pair)"
  serve_build_2
  tsl_world_fault $deploy $velquist_path cut
  run_setup update-cut || return
  e2e_click install
  if e2e_box "Download Error" 60; then
    expect_match "$SCENARIO: reason" "$(sed -n 3p <<<"$E2E_BOX_TEXT")" '^Download interrupted \(error [0-9]+\)$'
    answer "Download Error" Return
  else
    fail "$SCENARIO: Download Error box" "none within 60 s"
  fi
  e2e_wait_screen "Installation failed|See error message for details"
  close_setup 0
  expect "$SCENARIO: the installed pair is the old one" "$(installed_pair)" "$before"
  expect "$SCENARIO: no staging or backup file" "$(leftovers)" ""
}

scenario_update_running() {
  scenario "update while Velquist.exe runs from the install folder"
  clean_machine
  runtimes both
  install_ok update-running-base || return
  rm -f "$(tsl_world_standin_log)"
  wine 'C:\Program Files\Maretto\TSL\Velquist.exe' >/dev/null 2>&1 &
  local app=$! app_win=""
  for _ in $(seq 1 900); do
    app_win="$(xdotool search --onlyvisible --class velquist 2>/dev/null | head -1)"
    [ -n "$app_win" ] && break
    sleep 0.1
  done
  if [ -z "$app_win" ]; then
    fail "$SCENARIO: application window" "none within 90 s"
    kill "$app" 2>/dev/null
    return
  fi
  serve_build_2
  run_setup update-running || { kill "$app" 2>/dev/null; return; }
  e2e_click install
  box Tessaline "$(printf 'Installation complete!\n\nWould you like to launch Tessaline now?')" '[&Yes][&No]' &&
    answer Tessaline n
  close_setup 0
  expect "$SCENARIO: the installed pair is the new one" "$(installed_pair)" \
    "$(sha "$TSL_WORLD/Velquist-2.exe") $(sha "$TSL_WORLD/Loader-2.dll")"
  expect "$SCENARIO: the running application is untouched" \
    "$(kill -0 "$app" 2>/dev/null && xdotool getwindowname "$app_win" 2>/dev/null)" "Tessaline"
  expect_match "$SCENARIO: its old file waits as a backup" "$(leftovers)" '^Velquist\.exe\.[0-9]+\.tsl-old $'
  expect "$SCENARIO: the application did not restart" \
    "$(grep -c '^Velquist start' "$(tsl_world_standin_log)")" 1

  # The application ends; the next run removes what it held.
  xdotool windowclose "$app_win" 2>/dev/null || wmctrl -i -c "$app_win"
  timeout 30 tail --pid="$app" -f /dev/null || kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  install_ok update-running-next
  expect "$SCENARIO: next run: no backup left" "$(leftovers)" ""
}

scenario_second_setup() {
  scenario "a second setup while the first downloads"
  clean_machine
  runtimes both
  # About 40 KB at 1 KB every 0.25 s: ten seconds of download.
  tsl_world_fault $deploy $velquist_path trickle 1024 0.25
  run_setup second-first || return
  local first_win="$E2E_WIN" first_pid="$E2E_PID" first_labels_pid="$E2E_LABELS_PID"
  local first_trace="$E2E_TRACE" first_labels="$E2E_LABELS"
  e2e_click install
  wait_for_detail 'Downloading application files' || return
  e2e_start second-second
  local second_win=""
  for _ in $(seq 1 900); do
    second_win="$(xdotool search --onlyvisible --name '^Tessaline Setup$' 2>/dev/null | grep -vx "$first_win" | head -1)"
    [ -n "$second_win" ] && break
    sleep 0.1
  done
  if [ -z "$second_win" ]; then
    fail "$SCENARIO: second window" "none within 90 s"
  else
    E2E_WIN="$second_win"
    e2e_painted || fail "$SCENARIO: second window painted" "no painted header within 30 s"
    e2e_click install
    box "Installation Error" "$(printf 'Another Tessaline Setup is running.\n\nPlease wait for it to finish and try again.')" &&
      answer "Installation Error" Return
    e2e_wait_screen "Installation failed|See error message for details"
    expect "$SCENARIO: the second one touched nothing" \
      "$(e2e_labels | grep -c 'Checking prerequisites')" 0
    wmctrl -i -c "$second_win"
    if e2e_wait_exit 60; then expect "$SCENARIO: second exit code" "$E2E_EXIT" 0; else e2e_stop; fi
  fi
  E2E_WIN="$first_win" E2E_PID="$first_pid" E2E_LABELS_PID="$first_labels_pid"
  E2E_TRACE="$first_trace" E2E_LABELS="$first_labels"
  box Tessaline "$(printf 'Installation complete!\n\nWould you like to launch Tessaline now?')" '[&Yes][&No]' &&
    answer Tessaline n
  close_setup 0
  expect "$SCENARIO: the first one installed the application" "$(sha "$E2E_INSTALL/Velquist.exe")" \
    "$(sha "$(tsl_world_served $deploy $velquist_path)")"
  expect "$SCENARIO: no staging or backup file" "$(leftovers)" ""
}

scenario_killed_setup() {
  scenario "a setup killed mid-download, then run again"
  clean_machine
  runtimes both
  tsl_world_fault $deploy $velquist_path trickle 1024 0.25
  run_setup killed || return
  e2e_click install
  wait_for_detail 'Downloading application files' || return
  wait_for_staged_bytes || return
  local setup_pid
  setup_pid="$(xdotool getwindowpid "$E2E_WIN" 2>/dev/null)"
  if [ -n "$setup_pid" ]; then kill -9 "$setup_pid"; else fail "$SCENARIO: setup pid" "unknown"; fi
  e2e_wait_exit 60 || e2e_stop
  expect_match "$SCENARIO: the killed run left its staging files" "$(leftovers)" '\.tsl-new '
  tsl_world_fault $deploy $velquist_path ok
  install_ok killed-again
  expect "$SCENARIO: the next run completed the install" "$(installed_pair)" \
    "$(sha "$(tsl_world_served $deploy $velquist_path)") $(sha "$(tsl_world_served $deploy $loader_path)")"
  expect "$SCENARIO: nothing else in the install folder" "$(find "$E2E_INSTALL" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort | tr '\n' ' ')" \
    "Velquist.exe WebView2Loader.dll updater.exe "
}

scenario_firewall_rolled_back() {
  scenario "uninstall whose firewall clean-up is rolled back"
  clean_machine
  runtimes both
  install_ok fwp-fail-base
  tsl_world_fwp_install
  expect "$SCENARIO: seeded" "$(fwp_seed seed --product 2 --other 0)" "seeded product=2 other=0 foreign=0"
  local faults
  faults="$(tsl_world_fwp_dir)/tsl-fwp-faults.txt"
  echo "fail FwpmTransactionCommit0 5" >"$faults"
  run_setup fwp-fail "C:\\Program Files\\Maretto\\TSL\\updater.exe" /uninstall /silent || return
  box "Uninstall Warning" "$(printf 'Uninstallation completed, but some items could not be removed:\n\n\xe2\x80\xa2 Could not remove all firewall rules\n\nYou may need to manually delete remaining files or restart your computer and try again.')" &&
    answer "Uninstall Warning" Return
  if e2e_wait_exit 60; then expect "$SCENARIO: exit code" "$E2E_EXIT" 1; else fail "$SCENARIO: exit" "still running"; e2e_stop; fi
  rm -f "$faults"
  expect "$SCENARIO: filters left" "$(fwp_seed dump | tail -1)" "filters total=2 product=2 other=0"
  trace_has "[the commit]" '[NWX Cleanup] FwpmTransactionCommit failed: 5'
  nothing_left
}

# Wine 8 makes no junctions; a Unix symbolic link is its folder link, which
# it reports with FILE_ATTRIBUTE_REPARSE_POINT as Windows does a junction.
scenario_install_folder_link() {
  scenario "install with a link in place of C:\\Program Files\\Maretto"
  clean_machine
  runtimes both
  local elsewhere="$WINEPREFIX/drive_c/tsl-elsewhere"
  rm -rf "$elsewhere"
  mkdir -p "$elsewhere"
  ln -s "$elsewhere" "$program_files/Maretto"
  run_setup folder-link || return
  e2e_click install
  box "Installation Error" "$(printf 'Failed to create installation directory.\n\nError code: 1921\n\nPlease ensure you have administrator privileges and the disk has free space.')" &&
    answer "Installation Error" Return
  e2e_wait_screen "Installation failed|See error message for details"
  expect "$SCENARIO: nothing made through the link" "$(find "$elsewhere" -mindepth 1 -maxdepth 1 -printf '%f ')" ""
  expect "$SCENARIO: no entry" "$(e2e_reg "$E2E_UNINSTALL_KEY" DisplayName)" absent
  close_setup 0
  rm -f "$program_files/Maretto"
  rm -rf "$elsewhere"
}

scenario_start_folder() {
  scenario "a schtasks.bat in the folder the setup is started from"
  clean_machine
  runtimes both
  local folder="$E2E_DIR/start" marker="$E2E_DIR/start/bat-ran.txt"
  rm -rf "$folder"
  mkdir -p "$folder"
  cp "$E2E_SETUP" "$folder/TessalineSetup.exe"
  local name
  for name in schtasks.bat schtasks.cmd; do
    printf '@echo %s>>"%s\\start\\bat-ran.txt"\r\n@exit /b 0\r\n' "$name" "$E2E_WDIR" >"$folder/$name"
  done
  # The setup's current folder is the one it lies in, as after a double-click
  # in Downloads.
  pushd "$folder" >/dev/null || return
  run_setup start-folder "$E2E_WDIR\\start\\TessalineSetup.exe"
  local started=$?
  popd >/dev/null || return
  [ "$started" -eq 0 ] || return
  e2e_click install
  box Tessaline "$(printf 'Installation complete!\n\nWould you like to launch Tessaline now?')" \
    '[&Yes][&No]' && answer Tessaline n
  close_setup 0
  # Wine's own schtasks.exe answers /Create with 1: the line reached it.
  trace_has "[schtasks.exe ran]" "$schtasks_line"
  tsl_world_fwp_install
  pushd "$folder" >/dev/null || return
  e2e_start start-folder-uninstall "C:\\Program Files\\Maretto\\TSL\\updater.exe" /uninstall /silent
  popd >/dev/null || return
  if e2e_wait_exit 60; then expect "$SCENARIO: uninstall exit code" "$E2E_EXIT" 0; else fail "$SCENARIO: uninstall exit" "still running"; e2e_stop; fi
  expect "$SCENARIO: no schtasks.bat or .cmd ran" "$(cat "$marker" 2>/dev/null)" ""
  rm -rf "$folder"
}

scenario_renamed_source() {
  scenario "the setup's own file renamed and replaced during the install"
  clean_machine
  runtimes both
  local folder="$E2E_DIR/src" wfolder="$E2E_WDIR\\src" original
  rm -rf "$folder"
  mkdir -p "$folder"
  cp "$E2E_SETUP" "$folder/TessalineSetup.exe"
  original="$(sha "$folder/TessalineSetup.exe")"
  # Ten seconds of download to act in.
  tsl_world_fault $deploy $velquist_path trickle 1024 0.25
  run_setup renamed-source "$wfolder\\TessalineSetup.exe" || return
  e2e_click install
  wait_for_detail 'Downloading application files' || return
  # A program of the user's tries to rename the running setup away...
  e2e_wine cmd /c move "$wfolder\\TessalineSetup.exe" "$wfolder\\moved.exe" >/dev/null
  expect "$SCENARIO: renaming the held setup is refused" "$(find "$folder" -mindepth 1 -maxdepth 1 -printf '%f ')" "TessalineSetup.exe "
  # ...and where Windows' rules are bypassed (a rename from Linux), another
  # program takes its name: the copy is made from the held file all the same.
  mv "$folder/TessalineSetup.exe" "$folder/moved.exe"
  cp "$(tsl_world_served $deploy $velquist_path)" "$folder/TessalineSetup.exe"
  box Tessaline "$(printf 'Installation complete!\n\nWould you like to launch Tessaline now?')" \
    '[&Yes][&No]' && answer Tessaline n
  close_setup 0
  expect "$SCENARIO: updater.exe is the elevated setup" "$(sha "$E2E_INSTALL/updater.exe")" "$original"
  rm -rf "$folder"
}


# ---------------------------------------------------------------------------
# Runs nobody sees: the installed updater.exe started the way the weekly task
# starts it, with no arguments, and the uninstall command of a deployment
# tool, each in a window station of its own.

# unseen_run NAME WANT_EXIT [ARGS...]: updater.exe with ARGS where no user
# sees it; it must end by itself, and nothing may appear on the display.
unseen_run() {
  local name="$1" want="$2"
  shift 2
  rm -f "$(tsl_world_standin_log)"
  e2e_start_unseen "$name" 'C:\Program Files\Maretto\TSL\updater.exe' "$@"
  if e2e_wait_exit_watching 300; then
    expect "$SCENARIO: ends by itself with exit code $want" "$E2E_EXIT" "$want"
  else
    fail "$SCENARIO: ends by itself" "still running after 300 s: $(cat "$E2E_DIR/$name.out")"
    e2e_stop
  fi
  expect "$SCENARIO: no window or box on the display" "$E2E_SEEN" ""
  # A log that was never written counts as no start.
  # shellcheck disable=SC2002
  expect "$SCENARIO: the application was not started" \
    "$(cat "$(tsl_world_standin_log)" 2>/dev/null | grep -c '^Velquist start')" 0
  expect_match "$SCENARIO: the run knew it was unattended" "$(e2e_trace)" \
    '^(W )?\[(Install|Uninstall)\] Running unattended'
  echo "     its trace: $(e2e_trace | tr '\n' ';')"
}

scenario_unattended_update() {
  scenario "weekly update, unattended"
  [ -f "$E2E_INSTALL/Velquist.exe" ] || { clean_machine; runtimes both; install_ok unattended-base; }
  { cat "$TSL_WORLD/standins/Velquist.exe"; printf 'build 3\n'; } >"$TSL_WORLD/Velquist-3.exe"
  tsl_world_serve $deploy $velquist_path "$TSL_WORLD/Velquist-3.exe"
  unseen_run unattended-update 0
  expect "$SCENARIO: the new Velquist.exe, byte for byte" "$(sha "$E2E_INSTALL/Velquist.exe")" \
    "$(sha "$TSL_WORLD/Velquist-3.exe")"
  expect "$SCENARIO: the loader as served" "$(sha "$E2E_INSTALL/WebView2Loader.dll")" \
    "$(sha "$(tsl_world_served $deploy $loader_path)")"

  scenario "weekly update, unattended, application download fails"
  local before
  before="$(installed_pair)"
  { cat "$TSL_WORLD/standins/Velquist.exe"; printf 'build 4\n'; } >"$TSL_WORLD/Velquist-4.exe"
  tsl_world_serve $deploy $velquist_path "$TSL_WORLD/Velquist-4.exe"
  tsl_world_fault $deploy $velquist_path 404
  unseen_run unattended-update-fails 1
  expect_match "$SCENARIO: the box's words are in the trace" "$(e2e_trace)" \
    '^(W )?\[Install\] Download Error: Failed to download application\.'
  expect "$SCENARIO: the installed pair is unchanged" "$(installed_pair)" "$before"
}

scenario_unattended_uninstall() {
  scenario "updater.exe /uninstall, unattended"
  clean_machine
  runtimes both
  install_ok unattended-uninstall-base
  tsl_world_fwp_install
  unseen_run unattended-uninstall 0 /uninstall
  nothing_left
}

# Yes to the launch question: the application starts through the desktop
# shell (Wine 8's explorer is one); only without a shell would the setup
# start it itself, and its trace would say so.
scenario_launch() {
  scenario "launch question answered Yes"
  clean_machine
  runtimes both
  rm -f "$(tsl_world_standin_log)"
  run_setup launch || return
  e2e_click install
  box Tessaline "$(printf 'Installation complete!\n\nWould you like to launch Tessaline now?')" \
    '[&Yes][&No]' && answer Tessaline y
  local app_win=""
  for _ in $(seq 1 900); do
    app_win="$(xdotool search --onlyvisible --class velquist 2>/dev/null | head -1)"
    [ -n "$app_win" ] && break
    sleep 0.1
  done
  expect "$SCENARIO: the application's window" \
    "$([ -n "$app_win" ] && xdotool getwindowname "$app_win" 2>/dev/null)" "Tessaline"
  close_setup 0
  # shellcheck disable=SC2002
  expect "$SCENARIO: the application started once" \
    "$(cat "$(tsl_world_standin_log)" 2>/dev/null | grep -c '^Velquist start')" 1
  expect "$SCENARIO: started by the desktop shell, not by the setup" \
    "$(e2e_trace | grep -c 'No desktop shell')" 0
  [ -n "$app_win" ] || return
  xdotool windowclose "$app_win" 2>/dev/null || wmctrl -i -c "$app_win"
  for _ in $(seq 1 300); do
    xdotool search --onlyvisible --class velquist >/dev/null 2>&1 || break
    sleep 0.1
  done
}

# A program holds Velquist.exe without delete sharing: the update is queued
# for the restart (the information box, exit 0, the old pair in place);
# once the holder is gone the next run swaps the queued pair in at once.
scenario_held_update() {
  scenario "update while another program holds Velquist.exe open: queued for the restart"
  clean_machine
  runtimes both
  install_ok held-update-base || return
  local before holder queue
  before="$(installed_pair)"
  serve_build_2
  rm -f "$E2E_DIR/release"
  wine "$E2E_TOOLS/hold_file.exe" 'C:\Program Files\Maretto\TSL\Velquist.exe' "$E2E_WDIR\\release" 120 \
    >"$E2E_DIR/hold.out" 2>&1 &
  holder=$!
  wait_held || return
  run_setup held-update || return
  e2e_click install
  if e2e_box Tessaline 120; then
    expect_match "$SCENARIO: the box speaks of the restart" "$E2E_BOX_TEXT" 'restart your computer'
    answer Tessaline Return
  else
    fail "$SCENARIO: the information box" "none within 120 s"
  fi
  close_setup 0
  expect "$SCENARIO: the installed pair is the old one" "$(installed_pair)" "$before"
  queue="$(wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' \
    /v PendingFileRenameOperations 2>/dev/null | tr -d '\r')"
  expect_match "$SCENARIO: the application is queued" "$queue" 'Velquist\.exe\.[0-9]+\.tsl-restart'
  expect_match "$SCENARIO: the loader is queued" "$queue" 'WebView2Loader\.dll\.[0-9]+\.tsl-restart'
  expect_match "$SCENARIO: the queued pair waits beside the old one" "$(leftovers)" \
    '^Velquist\.exe\.[0-9]+\.tsl-restart WebView2Loader\.dll\.[0-9]+\.tsl-restart $'

  touch "$E2E_DIR/release"
  timeout 10 tail --pid="$holder" -f /dev/null || kill "$holder" 2>/dev/null
  wait "$holder" 2>/dev/null
  install_ok held-update-next
  expect_match "$SCENARIO: next run: the queued pair went in at once" "$(e2e_trace)" \
    'waited for a restart swapped in'
  expect "$SCENARIO: next run: the new pair" "$(installed_pair)" \
    "$(sha "$TSL_WORLD/Velquist-2.exe") $(sha "$TSL_WORLD/Loader-2.dll")"
  expect "$SCENARIO: next run: nothing left behind" "$(leftovers)" ""
}

# ---------------------------------------------------------------------------
# Only the publisher's files: a setup signed by the run's "Maretto LTD"
# certificate (scripts/sign.sh) installs only what that certificate signed
# (the loader may be Microsoft's), never older than what is installed.

# signed_setup: E2E_SIGNED_SETUP, the setup signed once per run, and
# E2E_SIGNED_WSETUP, its Windows path.
signed_setup() {
  local dir="$TSL_WORLD/codesign"
  E2E_SIGNED_SETUP="$E2E_DIR/signed/TessalineSetup.exe"
  E2E_SIGNED_WSETUP="$E2E_WDIR\\signed\\TessalineSetup.exe"
  [ -f "$E2E_SIGNED_SETUP" ] && return 0
  mkdir -p "$E2E_DIR/signed"
  maretto_signer || return 1
  "$e2e_repo/scripts/sign.sh" --pfx "$dir/maretto.pfx" --password-file "$dir/maretto.pass" \
    --ca "$dir/ca.crt" "$e2e_build/TessalineSetup.exe" "$E2E_SIGNED_SETUP" >/dev/null
}

# maretto_signer: the run's "Maretto LTD" code-signing key and its PFX.
maretto_signer() {
  local dir="$TSL_WORLD/codesign"
  [ -f "$dir/maretto.pfx" ] && return 0
  tsl_codesign_make_signer "$dir" ca maretto "Maretto LTD" "Maretto LTD" &&
    printf 'tsl-e2e\n' >"$dir/maretto.pass" &&
    openssl pkcs12 -export -inkey "$dir/maretto.key" -in "$dir/maretto-chain.crt" \
      -passout "file:$dir/maretto.pass" -out "$dir/maretto.pfx"
}

# variant PROGRAM VERSION SIGNER OUT: PROGRAM with its file version set to
# VERSION ("-": as built), signed by maretto, microsoft or contoso (none:
# unsigned).
variant() {
  cp "$1" "$4.unsigned" || return 1
  if [ "$2" != - ]; then python3 "$e2e_repo/scripts/e2e/set-version.py" "$4.unsigned" "$2" || return 1; fi
  if [ "$3" = none ]; then mv -f "$4.unsigned" "$4"; else
    tsl_codesign_sign "$TSL_WORLD/codesign" "$3" "$4.unsigned" "$4" && rm -f "$4.unsigned"; fi
}

# serve_signed_pair VERSION [SIGNER]: Velquist.exe of that version signed by
# SIGNER (default maretto) and the loader signed by Microsoft, served.
serve_signed_pair() {
  variant "$TSL_WORLD/standins/Velquist.exe" "$1" "${2:-maretto}" "$TSL_WORLD/Velquist-$1.exe" &&
    variant "$TSL_WORLD/standins/WebView2Loader.dll" - microsoft "$TSL_WORLD/Loader-signed.dll" &&
    tsl_world_serve $deploy $velquist_path "$TSL_WORLD/Velquist-$1.exe" &&
    tsl_world_serve $deploy $loader_path "$TSL_WORLD/Loader-signed.dll"
}

# signed_base NAME: a clean machine on which the signed setup installed
# Velquist.exe 1.2.0.0 (signed by the publisher) and the loader (Microsoft's).
signed_base() {
  signed_setup || { fail "$SCENARIO: signing the setup" "sign.sh failed"; return 1; }
  clean_machine
  runtimes both
  serve_signed_pair 1.2.0.0 || { fail "$SCENARIO: signed stand-ins" "not made"; return 1; }
  install_ok "$1" "$E2E_SIGNED_WSETUP"
}

scenario_publisher_check() {
  scenario "signed setup: first install of signed files"
  signed_base signed-base || return
  expect "$SCENARIO: Velquist.exe as served" "$(sha "$E2E_INSTALL/Velquist.exe")" \
    "$(sha "$TSL_WORLD/Velquist-1.2.0.0.exe")"
  # signer | version | what the Download Error box says (grep -E; "" = installs)
  local signer version reason before
  while IFS='|' read -r signer version reason; do
    scenario "signed setup: update to Velquist.exe $version signed by $signer"
    before="$(installed_pair)"
    serve_signed_pair "$version" "$signer" || { fail "$SCENARIO: stand-in" "not made"; continue; }
    run_setup "publisher-$signer-$version" "$E2E_SIGNED_WSETUP" || continue
    e2e_click install
    if [ -z "$reason" ]; then
      box Tessaline "$(printf 'Installation complete!\n\nWould you like to launch Tessaline now?')" \
        '[&Yes][&No]' && answer Tessaline n
      close_setup 0
      expect "$SCENARIO: Velquist.exe as served" "$(sha "$E2E_INSTALL/Velquist.exe")" \
        "$(sha "$TSL_WORLD/Velquist-$version.exe")"
      continue
    fi
    if e2e_box "Download Error" 60; then
      expect_match "$SCENARIO: the box gives the reason" "$E2E_BOX_TEXT" "$reason"
      answer "Download Error" Return
    else
      fail "$SCENARIO: \"Download Error\" box" "none within 60 s"
    fi
    close_setup 0
    expect "$SCENARIO: the installed pair is unchanged" "$(installed_pair)" "$before"
    expect "$SCENARIO: nothing staged is left" \
      "$(find "$E2E_INSTALL" -mindepth 1 -maxdepth 1 -name '*.tsl-*' -printf '%f ')" ""
  done <<'EOF'
maretto|1.3.0.0|
none|1.4.0.0|0x800B0100
contoso|1.4.0.0|0x800B0004
maretto|1.2.9.0|Older than the installed version 1\.3\.0\.0
EOF
}

# The weekly run of a signed updater.exe replaces it only with a newer setup
# signed by the same publisher; nothing served (404), an older or an unsigned
# one leave it (the last fails the run).
scenario_updater_refresh() {
  scenario "signed updater: base install"
  signed_base refresh-base || return
  expect "$SCENARIO: updater.exe is the signed setup" "$(sha "$E2E_INSTALL/updater.exe")" \
    "$(sha "$E2E_SIGNED_SETUP")"
  local setup_path=/executable/TessalineSetup.exe version signer want_exit outcome before variant_file
  # version | signer ("-": nothing served) | exit code | updater.exe afterwards
  while IFS='|' read -r version signer want_exit outcome; do
    scenario "weekly run of the signed updater, setup served: $version $signer"
    before="$(sha "$E2E_INSTALL/updater.exe")"
    variant_file="$TSL_WORLD/Setup-$version-$signer.exe"
    rm -f "$(tsl_world_served $deploy $setup_path)"
    if [ "$signer" != - ] && ! { variant "$e2e_build/TessalineSetup.exe" "$version" "$signer" \
      "$variant_file" && tsl_world_serve $deploy $setup_path "$variant_file"; }; then
      fail "$SCENARIO: served setup" "not made"
      continue
    fi
    unseen_run "refresh-$version-$signer" "$want_exit"
    if [ "$outcome" = replaced ]; then
      expect "$SCENARIO: updater.exe is the served setup" "$(sha "$E2E_INSTALL/updater.exe")" \
        "$(sha "$variant_file")"
    else
      expect "$SCENARIO: updater.exe is unchanged" "$(sha "$E2E_INSTALL/updater.exe")" "$before"
    fi
  done <<'EOF'
-|-|0|kept
0.9.0.0|maretto|0|kept
1.0.0.1|none|1|kept
1.0.0.1|maretto|0|replaced
EOF
  rm -f "$(tsl_world_served $deploy $setup_path)"
}

all=(clean_install update runtimes signatures download_failures cancel uninstall silent_uninstall
  held_file start_folder renamed_source firewall_rolled_back install_folder_link
  update_cut update_running second_setup killed_setup unattended_update
  unattended_uninstall launch held_update publisher_check updater_refresh)
[ $# -gt 0 ] && all=("$@")
for name in "${all[@]}"; do "scenario_$name"; done

echo
summary
