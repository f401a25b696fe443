#!/usr/bin/env bash
# Proves the end-to-end world before the suite relies on it. Runs inside
# scripts/e2e/world.sh (scripts/e2e-smoke.sh starts it so); every check
# prints one line, and the last line is "N passed, N failed".
#
# Checked with tools nobody here wrote wherever one exists: curl for what
# the servers answer, sha256sum for the bytes, `wine reg query` for the
# registry, objdump for imports and exports, wmctrl/xdotool for the window.
set -uo pipefail

# shellcheck source=scripts/e2e/world-lib.sh
. "$TSL_WORLD_LIB"

# shellcheck source=scripts/check-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../check-lib.sh"

sha() { sha256sum "$1" | cut -d' ' -f1; }

section() { echo "== $1 (at $SECONDS s)"; }

smoke="$TSL_WORLD/smoke"
mkdir -p "$smoke" "$WINEPREFIX/drive_c/tsl-smoke"
wsmoke='C:\tsl-smoke'
probe="$TSL_WORLD/standins/world_probe.exe"

# Wine console programs end their lines with CR LF. A program that printed
# nothing shows what Wine said instead, so a failed start has a reason.
wine_out() {
  local out status=0
  out="$(wine "$@" 2>"$smoke/wine-stderr" | tr -d '\r')" || status=$?
  if [ -n "$out" ]; then
    printf '%s\n' "$out"
  else
    printf '(no output, exit status %s; wine: %s)\n' "$status" \
      "$(tr '\r\n' '  ' <"$smoke/wine-stderr" | cut -c1-300)"
  fi
}

velquist_url=(deploy.maretto.example /executable/Velquist.exe)
loader_url=(deploy.maretto.example /executable/WebView2Loader.dll)
vc_url=(aka.ms /vs/17/release/vc_redist.x64.exe)
webview2_url=(go.microsoft.com "/fwlink/p/?LinkId=2124703")

# ---------------------------------------------------------------------------
section "stand-ins as built"
for file in Velquist.exe WebView2Loader.dll vc_redist.x64.exe MicrosoftEdgeWebview2Setup.exe \
  fwpuclnt.dll; do
  imports="$(x86_64-w64-mingw32-objdump -p "$TSL_WORLD/standins/$file" |
    awk '/DLL Name:/ { print $3 }' | tr '\n' ' ')"
  if grep -qiE '(^| )lib[^ ]*\.dll' <<<"$imports"; then
    fail "$file needs no MinGW runtime DLL" "imports $imports"
  else
    pass "$file needs no MinGW runtime DLL ($imports)"
  fi
done
expect_match "WebView2Loader.dll exports its function" \
  "$(x86_64-w64-mingw32-objdump -p "$TSL_WORLD/standins/WebView2Loader.dll")" \
  '\] TslLoaderStandInVersion$'
fwp_exports="$(x86_64-w64-mingw32-objdump -p "$TSL_WORLD/standins/fwpuclnt.dll")"
for function in FwpmEngineOpen0 FwpmTransactionBegin0 FwpmFilterCreateEnumHandle0 \
  FwpmFilterEnum0 FwpmFreeMemory0 FwpmFilterDestroyEnumHandle0 FwpmFilterDeleteById0 \
  FwpmSubLayerDeleteByKey0 FwpmProviderDeleteByKey0 FwpmTransactionCommit0 FwpmEngineClose0; do
  expect_match "fwpuclnt.dll exports $function" "$fwp_exports" "\] $function\$"
done

# ---------------------------------------------------------------------------
section "each path on its host, with curl"
# serve_check NAME HOST PATH STANDIN
for row in "Velquist.exe|deploy.maretto.example|/executable/Velquist.exe" \
  "WebView2Loader.dll|deploy.maretto.example|/executable/WebView2Loader.dll" \
  "vc_redist.x64.exe|aka.ms|/vs/17/release/vc_redist.x64.exe" \
  "MicrosoftEdgeWebview2Setup.exe|go.microsoft.com|/fwlink/p/?LinkId=2124703"; do
  IFS='|' read -r file host path <<<"$row"
  got="$smoke/curl-$file"
  code="$(curl -sS -o "$got" -w '%{http_code}' "https://$host$path" 2>&1)"
  if [ "$code" = 200 ] && [ "$(sha "$got")" = "$(sha "$TSL_WORLD/standins/$file")" ]; then
    pass "https://$host$path serves the $file stand-in"
  else
    fail "https://$host$path serves the $file stand-in" "status $code, $(stat -c %s "$got" 2>/dev/null) bytes"
  fi
done

# The runtime installers as Microsoft ships them: signed, here by the run's
# "Microsoft Corporation" certificate, and otherwise the stand-ins as built.
digest="$(dirname "${BASH_SOURCE[0]}")/../authenticode-digest.py"
for file in vc_redist.x64.exe MicrosoftEdgeWebview2Setup.exe; do
  if osslsigncode verify -in "$TSL_WORLD/standins/$file" -CAfile "$TSL_WORLD/codesign/ca.crt" \
    >"$smoke/verify-$file.log" 2>&1; then
    pass "$file verifies against the run's code-signing CA"
  else
    fail "$file verifies against the run's code-signing CA" "$(tail -3 "$smoke/verify-$file.log")"
  fi
  expect "$file signer" "$(grep -m1 -o 'Subject: .*' "$smoke/verify-$file.log")" \
    "Subject: /CN=Microsoft Corporation/O=Microsoft Corporation"
  expect "$file is the stand-in as built, signed" "$("$digest" "$TSL_WORLD/standins/$file")" \
    "$("$digest" "$TSL_WORLD_BIN/$file")"
done

# Nothing answers where the real hosts would not.
for url in https://aka.ms/executable/Velquist.exe \
  https://deploy.maretto.example/vs/17/release/vc_redist.x64.exe \
  https://go.microsoft.com/fwlink/p/ \
  "https://go.microsoft.com/fwlink/p/?LinkId=1" \
  "https://go.microsoft.com/fwlink/p/?linkid=2124703" \
  https://go.microsoft.com/_by-rule/go.microsoft.com/MicrosoftEdgeWebview2Setup.exe; do
  expect "404 for $url" "$(curl -sS -o /dev/null -w '%{http_code}' "$url" 2>&1)" 404
done

# ---------------------------------------------------------------------------
section "fault modes, with curl"
v_host=${velquist_url[0]} v_path=${velquist_url[1]}
v_url="https://$v_host$v_path"
v_size=$(stat -c %s "$TSL_WORLD_BIN/Velquist.exe")
half=$((v_size / 2))

# curl_result URL [curl options]: "<exit> <http code> <bytes>"
curl_result() {
  local url="$1" code rc=0
  shift
  rm -f "$smoke/fault"
  code="$(curl -sS -o "$smoke/fault" -w '%{http_code}' "$@" "$url" 2>/dev/null)" || rc=$?
  echo "$rc $code $(stat -c %s "$smoke/fault" 2>/dev/null || echo 0)"
}

# mode | arguments | want "<curl exit> <http code> <bytes>" (a pattern)
while IFS='|' read -r mode arguments want; do
  rm -f "$smoke/fault"
  # shellcheck disable=SC2086
  tsl_world_fault "$v_host" "$v_path" $mode $arguments
  expect_match "$mode $arguments" "$(curl_result "$v_url" --max-time 4)" "$want"
done <<EOF
404||^0 404 [0-9]+$
500||^0 500 [0-9]+$
status|503|^0 503 [0-9]+$
empty||^0 200 0$
cut||^18 200 $half$
cut|1000|^18 200 1000$
reset||^56 200 [0-9]+$
stall||^28 200 $half$
EOF

tsl_world_fault "$v_host" "$v_path" 404
expect "a fault on one path leaves the others alone" \
  "$(curl_result "https://${loader_url[0]}${loader_url[1]}")" \
  "0 200 $(stat -c %s "$TSL_WORLD_BIN/WebView2Loader.dll")"
tsl_world_fault "$v_host" "$v_path" ok
expect "ok takes the fault away" "$(curl_result "$v_url")" "0 200 $v_size"

tsl_world_fault "$v_host" "$v_path" trickle 4096 0.1
started=$(date +%s%N)
result="$(curl_result "$v_url")"
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
if [ "$result" = "0 200 $v_size" ] && [ "$(sha "$smoke/fault")" = "$(sha "$TSL_WORLD_BIN/Velquist.exe")" ] &&
  [ "$elapsed_ms" -ge 900 ]; then
  pass "trickle 4096 0.1 sends every byte slowly (${elapsed_ms} ms)"
else
  fail "trickle 4096 0.1 sends every byte slowly" "$result in $elapsed_ms ms"
fi

for row in "${velquist_url[0]}|${velquist_url[1]}|Velquist.exe" \
  "${webview2_url[0]}|${webview2_url[1]}|MicrosoftEdgeWebview2Setup.exe"; do
  IFS='|' read -r host path file <<<"$row"
  tsl_world_fault "$host" "$path" redirect-http
  expect "redirect-http answers 302 to http://$host$path" \
    "$(curl -sS -o /dev/null -w '%{http_code} %{redirect_url}' "https://$host$path")" \
    "302 http://$host$path"
  curl -sS -L -o "$smoke/followed" "https://$host$path"
  expect "http://$host$path serves the same bytes" "$(sha "$smoke/followed")" \
    "$(sha "$TSL_WORLD/standins/$file")"
done
tsl_world_reset

# host mode | curl options | want
while IFS='|' read -r mode options want; do
  tsl_world_host "$v_host" "$mode"
  # shellcheck disable=SC2086
  expect "host $mode $options" "$(curl_result "$v_url" --max-time 4 $options)" "$want"
done <<EOF
untrusted||60 000 0
untrusted|--cacert $TSL_WORLD/stranger-ca.crt|0 200 $v_size
refused||7 000 0
trusted||0 200 $v_size
EOF
tsl_world_reset

# ---------------------------------------------------------------------------
section "downloads under Wine, with DownloadFile"
for row in "Velquist.exe|${velquist_url[0]}|${velquist_url[1]}" \
  "WebView2Loader.dll|${loader_url[0]}|${loader_url[1]}" \
  "vc_redist.x64.exe|${vc_url[0]}|${vc_url[1]}" \
  "MicrosoftEdgeWebview2Setup.exe|${webview2_url[0]}|${webview2_url[1]}"; do
  IFS='|' read -r file host path <<<"$row"
  rm -f "$WINEPREFIX/drive_c/tsl-smoke/$file"
  out="$(wine_out "$probe" fetch "$host" "$path" "$wsmoke\\$file")"
  if [ "$out" = "fetch ok" ] &&
    [ "$(sha "$WINEPREFIX/drive_c/tsl-smoke/$file")" = "$(sha "$TSL_WORLD/standins/$file")" ]; then
    pass "Wine fetches https://$host$path"
  else
    fail "Wine fetches https://$host$path" "$out"
  fi
done
expect "the server saw our user agent" \
  "$(tsl_world_requests | grep -c 'ua="TSL Installer/1.0"')" 4

# how (fault or host) | mode | want in the reason (as Wine's WinHTTP words it)
while IFS='|' read -r how mode want; do
  if [ "$how" = host ]; then
    tsl_world_host "${vc_url[0]}" "$mode"
  else
    # shellcheck disable=SC2086
    tsl_world_fault "${vc_url[0]}" "${vc_url[1]}" $mode
  fi
  out="$(wine_out "$probe" fetch "${vc_url[0]}" "${vc_url[1]}" "$wsmoke\\fault.exe")"
  expect_match "Wine sees $how $mode" "$out" "^fetch failed: .*$want"
  tsl_world_reset
done <<'EOF'
fault|404|HTTP error 404$
fault|500|HTTP error 500$
fault|empty|empty
fault|cut|interrupted
fault|redirect-http|error 12156\)$
host|untrusted|error 12157\)$
host|refused|error 12029\)$
EOF

# ---------------------------------------------------------------------------
section "runtime installer stand-ins under Wine"
log="$(tsl_world_standin_log)"
vc_key='HKLM\SOFTWARE\Microsoft\VisualStudio\14.0\VC\Runtimes\x64'
vc_wow_key='HKLM\SOFTWARE\WOW6432Node\Microsoft\VisualStudio\14.0\VC\Runtimes\x64'
wv_client='Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}'
wv_key="HKLM\\SOFTWARE\\$wv_client"
wv_wow_key="HKLM\\SOFTWARE\\WOW6432Node\\$wv_client"
wv_user_key="HKCU\\SOFTWARE\\$wv_client"

# Lines in the stand-ins' log so far (none before the first run).
log_lines() { if [ -f "$log" ]; then wc -l <"$log"; else echo 0; fi; }

# reg_value KEY NAME: "<type> <data>", "absent", or why reg failed (a
# failed Wine start must not pass for a missing value)
reg_value() {
  local out attempt
  for attempt in 1 2 3; do
    if out="$(wine reg query "$1" /v "$2" 2>&1 | tr -d '\r')"; then
      awk -v name="$2" '$1 == name { print $2, $3 }' <<<"$out"
      return
    elif grep -q '^reg: Unable to find the specified registry' <<<"$out"; then
      echo absent
      return
    fi
    echo "reg_value: attempt $attempt: $(tr '\n' ' ' <<<"$out" | cut -c1-300)" >&2
  done
  echo "reg failed: $(tr '\n' ' ' <<<"$out" | cut -c1-200)"
}

expect "a fresh prefix has no VC runtime" "$(reg_value "$vc_key" Installed)" absent
expect "a fresh prefix has no WebView2 runtime" "$(reg_value "$wv_wow_key" pv)" absent

# which | settings | switches | want exit | key | value name | want value
while IFS='|' read -r which settings switches want_exit key name want_value; do
  # Rows that want "absent" after one that registered prove the clearing.
  tsl_world_clear_runtimes || fail "clearing the runtime keys" "regedit failed"
  # shellcheck disable=SC2086
  tsl_world_installer "$which" $settings
  if [ "$which" = vc ]; then url=("${vc_url[@]}"); else url=("${webview2_url[@]}"); fi
  wexe="$wsmoke\\TSL$RANDOM.exe"
  fetched="$(wine_out "$probe" fetch "${url[0]}" "${url[1]}" "$wexe")"
  lines_before=$(log_lines)
  out="$(wine_out "$probe" run "$wexe" "$switches" 120000)"
  name_of="$which [$settings] \"$switches\""
  expect "$name_of: exit" "$fetched / $out" "fetch ok / run exit=$want_exit"
  expect "$name_of: $name under $key" "$(reg_value "$key" "$name")" "$want_value"
  # The exact switches reached the installer.
  expect_match "$name_of: logged" "$(tail -n +"$((lines_before + 1))" "$log")" \
    "start pid=[0-9]+ image=C:\\\\tsl-smoke\\\\TSL[0-9]+\\.exe args=\\[$switches\\]"
done <<EOF
vc||/install /quiet /norestart|0|$vc_wow_key|Installed|REG_DWORD 0x1
vc||/install /quiet /norestart|0|$vc_key|Installed|absent
vc|exit=3010|/install /quiet /norestart|3010|$vc_wow_key|Installed|REG_DWORD 0x1
vc|exit=1638|/install /quiet /norestart|1638|$vc_wow_key|Installed|REG_DWORD 0x1
vc|exit=1603|/install /quiet /norestart|1603|$vc_wow_key|Installed|absent
vc|exit=0x80070005|/install /quiet /norestart|2147942405|$vc_wow_key|Installed|absent
vc|place=native|/install /quiet /norestart|0|$vc_key|Installed|REG_DWORD 0x1
vc|value=0|/install /quiet /norestart|0|$vc_wow_key|Installed|REG_DWORD 0x0
vc|exit=0 register=0|/install /quiet /norestart|0|$vc_wow_key|Installed|absent
vc|exit=1603 register=1|/install /quiet /norestart|1603|$vc_wow_key|Installed|REG_DWORD 0x1
vc||/install /passive /norestart|1639|$vc_wow_key|Installed|absent
webview2||/silent /install|0|$wv_wow_key|pv|REG_SZ 120.0.2210.91
webview2||/install /silent|0|$wv_wow_key|pv|REG_SZ 120.0.2210.91
webview2|place=native value=0.0.0.0|/silent /install|0|$wv_key|pv|REG_SZ 0.0.0.0
webview2|place=user|/silent /install|0|$wv_user_key|pv|REG_SZ 120.0.2210.91
webview2||/install /quiet /norestart|1639|$wv_wow_key|pv|absent
EOF

# A long run is ended from outside: its start line stays without an end line.
# The probe waits 5 s: long enough for a loaded machine to start the stand-in
# and log its start, far short of its shortest sleep.
no_sleeper() { ! pgrep -f 'sleeper\.exe' >/dev/null; }
for sleep_setting in 30 100000; do
  tsl_world_installer vc "sleep=$sleep_setting"
  fetched="$(wine_out "$probe" fetch "${vc_url[0]}" "${vc_url[1]}" "$wsmoke\\sleeper.exe")"
  lines_before=$(log_lines)
  out="$(wine_out "$probe" run "$wsmoke\\sleeper.exe" "/install /quiet /norestart" 5000)"
  expect "sleep=$sleep_setting outlasts the wait" "$fetched / $out" "fetch ok / run timeout"
  tsl_world_until 30 no_sleeper
  new_lines="$(tail -n +"$((lines_before + 1))" "$log")"
  want_sleep=$sleep_setting
  [ "$sleep_setting" -gt 600 ] && want_sleep=600
  expect_match "sleep=$sleep_setting: started with sleep=$want_sleep" "$new_lines" "vc_redist start .* sleep=$want_sleep "
  expect "sleep=$sleep_setting: no end line" "$(grep -c 'vc_redist end' <<<"$new_lines")" 0
  expect "sleep=$sleep_setting: the process was ended" "$(pgrep -fc 'sleeper\.exe')" 0
done
tsl_world_reset

# ---------------------------------------------------------------------------
section "the application stand-in under Wine, on the display"
app="$WINEPREFIX/drive_c/tsl-smoke/app"
mkdir -p "$app"
for row in "Velquist.exe|${velquist_url[0]}|${velquist_url[1]}" \
  "WebView2Loader.dll|${loader_url[0]}|${loader_url[1]}"; do
  IFS='|' read -r file host path <<<"$row"
  wine_out "$probe" fetch "$host" "$path" "$wsmoke\\app\\$file" >/dev/null
done
lines_before=$(log_lines)
wine "$wsmoke\\app\\Velquist.exe" >/dev/null 2>&1 &
velquist_pid=$!
window="$(timeout 30 xdotool search --sync --name '^Tessaline$' 2>/dev/null | head -1)"
if [ -n "$window" ]; then
  pass "Velquist.exe shows a window titled Tessaline"
  # The window exists (and has its title) before openbox has taken it and
  # before it is painted: wait for each, up to 30 s.
  managed=""
  for _ in $(seq 1 300); do
    managed="$(wmctrl -l)"
    grep -qE 'Tessaline$' <<<"$managed" && break
    sleep 0.1
  done
  expect_match "openbox manages it" "$managed" "Tessaline$"
  colours=0
  for _ in $(seq 1 60); do
    tsl_world_screenshot "$smoke/velquist.png"
    colours="$(convert "$smoke/velquist.png" -format '%k' info: 2>/dev/null)"
    [ "${colours:-0}" -gt 2 ] && break
    sleep 0.5
  done
  if [ "${colours:-0}" -gt 2 ]; then pass "the display shows it ($colours colours)"; else fail "the display shows it" "$colours colours"; fi
  wmctrl -i -c "$window"
else
  fail "Velquist.exe shows a window titled Tessaline" "no window within 30 s"
  kill "$velquist_pid" 2>/dev/null
fi
rc=0
timeout 20 tail --pid="$velquist_pid" -f /dev/null || rc=$?
wait "$velquist_pid"
app_exit=$?
expect "closing the window ends it with 0" "$rc/$app_exit" "0/0"
new_lines="$(tail -n +"$((lines_before + 1))" "$log")"
expect_match "it loaded the downloaded WebView2Loader.dll" "$new_lines" \
  'Velquist start pid=[0-9]+ args=\[\] loader=\[WebView2Loader.dll: loaded, version 1\]'
expect_match "it logged its end" "$new_lines" 'Velquist end pid=[0-9]+ exit=0'

# ---------------------------------------------------------------------------
section "the filtering engine stand-in"
seed="$TSL_WORLD/standins/fwp_seed.exe"
fwp_dir="$(tsl_world_fwp_dir)"
# Why the stand-in exists: Wine's own DLL refuses the engine.
expect "Wine 8's own fwpuclnt answers RPC_S_CANNOT_SUPPORT" "$(wine_out "$seed" probe)" \
  "FwpmEngineOpen0 -> 1764"
tsl_world_fwp_install
expect "with the stand-in the engine opens" "$(wine_out "$seed" probe)" "FwpmEngineOpen0 -> 0"

if wine "$TSL_WORLD_BIN/fwp_standin_tests.exe" >"$smoke/fwp_standin_tests.log" 2>&1; then
  pass "fwp_standin_tests.exe ($(grep -oE '^\[  PASSED  \] [0-9]+ tests' "$smoke/fwp_standin_tests.log" | tr -d '\r'))"
else
  fail "fwp_standin_tests.exe" "$(grep -E 'FAILED|Failure' "$smoke/fwp_standin_tests.log" | head -5)"
fi

rm -f "$fwp_dir/tsl-fwp-store.txt" "$fwp_dir/tsl-fwp-calls.log"
expect "seed in one process" "$(wine_out "$seed" seed --product 250 --other 30 --foreign 0)" \
  "seeded product=250 other=30 foreign=0"
dump="$(wine_out "$seed" dump)"
expect "dump in another process" "$(tail -1 <<<"$dump")" "filters total=280 product=250 other=30"
expect_match "the product's provider is there" "$dump" \
  '^provider \{8A7B6C5D-4E3F-2A1B-9C8D-7E6F5A4B3C2D\} product present$'
expect_match "the product's sublayer is there" "$dump" \
  '^sublayer \{9B8C7D6E-5F4A-3B2C-AD9E-8F7A6B5C4D3E\} product present$'
expect "the store file holds them" "$(grep -c '^filter ' "$fwp_dir/tsl-fwp-store.txt")" 280

printf 'fail FwpmEngineOpen0 5\n' >"$fwp_dir/tsl-fwp-faults.txt"
expect "a fault written from Linux reaches the engine" "$(wine_out "$seed" probe)" "FwpmEngineOpen0 -> 5"
rm -f "$fwp_dir/tsl-fwp-faults.txt"

tsl_world_fwp_remove
expect "removed: Wine's own DLL again" "$(wine_out "$seed" probe)" "FwpmEngineOpen0 -> 1764"
expect "removed: no store left" "$(find "$fwp_dir" -maxdepth 1 -name 'tsl-fwp-*' | wc -l)" 0

# The world's folder goes with it: what the failed checks left is kept.
if [ "$failed" -gt 0 ] && [ -n "${TSL_E2E_LOGS-}" ]; then
  mkdir -p "$TSL_E2E_LOGS"
  cp -r "$smoke" "$TSL_E2E_LOGS/smoke-files"
  tsl_world_screenshot "$TSL_E2E_LOGS/display.png"
  echo "kept: the smoke's files and a screenshot in $TSL_E2E_LOGS"
fi
echo
summary
