#!/usr/bin/env bash
# Measures TessalineSetup.exe under Wine inside the end-to-end world
# (scripts/e2e/world.sh), each figure against a reference measured in the
# same run with a native tool or a program of our own:
#
#   install over a shaped loopback (tc token bucket, MTU 1500) at 100 Mbit/s
#     and 1 Gbit/s with a large application: Install click to the launch
#     question, against curl fetching the same two files from the same
#     server, once right before and once right after (their mean); and
#     against curl writing them into the prefix followed by a flush of each
#     (fsync), as the setup flushes its staged files before the swap;
#   peak memory (VmHWM) of the setup's process with the large application,
#     against the same with a 3 MB one: it must not grow with the file;
#   a silent uninstall of an install folder of many files in many folders,
#     against `cmd /c rd /s /q` of an identical tree in the same prefix;
#   start to the first painted window, against tests/bench/minimal_window.c;
#   the executable's size: code, data and resources, each against the same
#     part of minimal_window.exe (resources: against the icon file).
#
# Under Wine these are Wine's HTTP, TLS, file system and window start-up
# against native tools, not a comparison with other installers.
#
#   scripts/bench.sh            200 MB application, 20,000 files in 1,000
#                               folders, five starts of each program
#   scripts/bench.sh --tiny     a quick run that keeps the script working
#                               (small files, no shaping, one start each)
#   scripts/bench.sh --install  only the install figures, 100 MB at
#                               100 Mbit/s: for a machine that is not idle
#
# Writes build/bench/results.tsv, build/bench/report.md and
# build/bench/ratios.png, prints the table, and ends with "N passed, N
# failed" (a figure passes when it was measured, the memory figure when the
# large application took at most a quarter more). Needs root (namespaces).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$repo/build/bench"

if [ "${1-}" != --inside ]; then
  mode=full
  if [ "${1-}" = --tiny ]; then mode=tiny; fi
  if [ "${1-}" = --install ]; then mode=install; fi
  started=$SECONDS
  "$repo/scripts/build-windows.sh" TessalineSetup e2e_world e2e_tools bench_tools >/dev/null
  rm -rf "$out"
  mkdir -p "$out"
  status=0
  "$repo/scripts/e2e/world.sh" --no-build -- bash "$repo/scripts/bench.sh" --inside "$mode" ||
    status=$?
  # Debian's Python, which has Debian's matplotlib.
  /usr/bin/python3 "$repo/scripts/bench_report.py" "$out" "$mode" || status=$?
  echo "bench: $mode run in $((SECONDS - started)) s"
  exit "$status"
fi

# ---------------------------------------------------------------------------
# Inside the world: bash bench.sh --inside full|tiny
mode="$2"
# shellcheck source=tests/e2e/lib.sh
. "$repo/tests/e2e/lib.sh"
results="$out/results.tsv"
bin="$repo/build/windows"
deploy=deploy.maretto.example
app_path=/executable/Velquist.exe
loader_path=/executable/WebView2Loader.dll

if [ "$mode" = tiny ]; then
  big_mb=8 folders=10 files_per_folder=20 starts=1 rates=(unshaped)
elif [ "$mode" = install ]; then
  big_mb=100 folders=0 files_per_folder=0 starts=0 rates=(100mbit)
else
  big_mb=200 folders=1000 files_per_folder=20 starts=5 rates=(100mbit 1gbit)
fi
small_mb=3

setup_pid=""
trap 'e2e_stop; [ -z "$setup_pid" ] || kill "$setup_pid" 2>/dev/null; tc qdisc del dev lo root 2>/dev/null || true' EXIT

note() { echo "bench: $*" >&2; }
# record FIGURE OURS REFERENCE UNIT NOTE
record() { printf '%s\t%s\t%s\t%s\t%s\n' "$@" >>"$results"; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
median() { sort -n | awk '{v[NR] = $1} END {if (NR) print v[int((NR + 1) / 2)]}'; }

# The application stand-in padded to MB megabytes (random bytes after the
# program; Windows ignores what follows the last section).
serve_app() {
  local mb="$1" file="$TSL_WORLD/bench-app-$1.exe"
  if [ ! -f "$file" ]; then
    local program_bytes
    program_bytes="$(stat -c %s "$TSL_WORLD/standins/Velquist.exe")"
    { cat "$TSL_WORLD/standins/Velquist.exe"; head -c $((mb * 1024 * 1024 - program_bytes)) /dev/urandom; } >"$file"
  fi
  tsl_world_serve "$deploy" "$app_path" "$file"
}

# shape RATE: a token bucket on the world's loopback at RATE (tc's units),
# with Ethernet's MTU; "unshaped" takes it away.
shape() {
  tc qdisc del dev lo root 2>/dev/null || true
  if [ "$1" = unshaped ]; then
    ip link set lo mtu 65536
    return 0
  fi
  local bits
  bits="$(sed -e 's/gbit$/000000000/' -e 's/mbit$/000000/' <<<"$1")"
  ip link set lo mtu 1500
  # A bucket of 10 ms at the rate keeps the timer's granularity out of it.
  tc qdisc add dev lo root tbf rate "$1" burst $((bits / 8 / 100)) latency 200ms
}

# Milliseconds curl takes for the two files the setup downloads.
curl_both() {
  local total=0 path seconds
  for path in "$app_path" "$loader_path"; do
    seconds="$(curl -sS -o /dev/null -w '%{time_total}' "https://$deploy$path")"
    total="$(awk -v a="$total" -v b="$seconds" 'BEGIN {printf "%.0f", a + b * 1000}')"
  done
  echo "$total"
}

# Milliseconds curl takes to write the two files into the prefix's disk and
# flush each (fsync, as the setup does with its staged files).
curl_both_flushed() {
  local dir="$WINEPREFIX/drive_c/bench-curl" path file start
  mkdir -p "$dir"
  rm -f "$dir"/*
  start="$(now_ms)"
  for path in "$app_path" "$loader_path"; do
    file="$dir/$(basename "$path")"
    curl -sS -o "$file" "https://$deploy$path"
    dd if=/dev/null of="$file" conv=notrunc,fsync status=none
  done
  echo $(($(now_ms) - start))
  rm -rf "$dir"
}

# The highest VmHWM (kB) among the processes running TessalineSetup.exe.
setup_hwm() {
  local pid best=0 kb
  for pid in $(pgrep -f 'TessalineSetup\.exe' || true); do
    kb="$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)"
    if [ -n "$kb" ] && [ "$kb" -gt "$best" ]; then best="$kb"; fi
  done
  echo "$best"
}

clean_machine() {
  rm -rf "$WINEPREFIX/drive_c/Program Files/Maretto" "$E2E_DESKTOP_LNK"
  wine reg delete "$E2E_UNINSTALL_KEY" /f >/dev/null 2>&1 || true
}

# install_once: one install from the Install click to the launch question,
# answered No, the setup closed. Sets install_ms and install_kb.
install_once() {
  install_ms="" install_kb=""
  clean_machine
  wine "$E2E_WDIR\\TessalineSetup.exe" >/dev/null 2>&1 &
  setup_pid=$!
  e2e_window 60 || { note "no setup window"; return 1; }
  e2e_painted || { note "the setup window was not painted"; return 1; }
  e2e_click install
  local start
  start="$(now_ms)"
  for _ in $(seq 1 12000); do
    [ -n "$(e2e_box_windows Tessaline)" ] && break
    if [ -n "$(e2e_box_windows 'Installation Error')$(e2e_box_windows 'Download Error')" ]; then
      note "the install failed"
      return 1
    fi
    sleep 0.05
  done
  install_ms=$(($(now_ms) - start))
  install_kb="$(setup_hwm)"
  e2e_answer Tessaline n || note "the launch question did not go"
  wmctrl -c 'Tessaline Setup' 2>/dev/null || true
  timeout 60 tail --pid="$setup_pid" -f /dev/null || kill "$setup_pid" 2>/dev/null || true
  wait "$setup_pid" 2>/dev/null || true
  setup_pid=""
  [ -f "$E2E_INSTALL/Velquist.exe" ] || { note "Velquist.exe not installed"; return 1; }
}

# make_tree DIR: FOLDERS folders of FILES_PER_FOLDER small files each.
make_tree() {
  python3 - "$1" "$folders" "$files_per_folder" <<'PY'
import os, sys
root, folders, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for d in range(folders):
    folder = os.path.join(root, "data", "d%04d" % d)
    os.makedirs(folder, exist_ok=True)
    for f in range(files):
        with open(os.path.join(folder, "f%03d.bin" % f), "wb") as out:
            out.write(b"x" * (100 + f))
PY
}

e2e_init
e2e_runtimes all
mkdir -p "$out"
: >"$results"
note "mode $mode: application $big_mb MB and $small_mb MB, tree $((folders * files_per_folder)) files in $folders folders"

# ---- Install over the link, and memory with the large application ----
serve_app "$big_mb"
big_kb=""
for rate in "${rates[@]}"; do
  shape "$rate"
  before="$(curl_both)"
  flushed_before="$(curl_both_flushed)"
  if install_once; then
    after="$(curl_both)"
    flushed_after="$(curl_both_flushed)"
    reference=$(((before + after) / 2))
    flushed=$(((flushed_before + flushed_after) / 2))
    note "install at $rate: $install_ms ms; curl $before ms before, $after ms after;" \
      "curl + flush $flushed_before ms before, $flushed_after ms after"
    record "install, $big_mb MB, $rate" "$install_ms" "$reference" ms \
      "Install click to launch question; reference: curl, mean of before and after"
    record "install, $big_mb MB, $rate, against curl + flush" "$install_ms" "$flushed" ms \
      "the same install; reference: curl into the prefix and fsync of each file, mean of before and after"
    big_kb="$install_kb"
  else
    record "install, $big_mb MB, $rate" "" "$before" ms "failed"
  fi
done
shape unshaped
# Only the install figures on a machine that is not idle.
[ "$mode" != install ] || exit 0

serve_app "$small_mb"
if install_once; then
  note "peak memory: $big_kb kB with $big_mb MB, $install_kb kB with $small_mb MB"
  record "peak memory, $big_mb MB application" "$big_kb" "$install_kb" kB \
    "VmHWM of the setup's process; reference: the same with $small_mb MB"
else
  record "peak memory, $big_mb MB application" "$big_kb" "" kB "failed"
fi

# ---- Uninstall of a large tree against rd /s /q ----
# The install above is in place; the tree goes into its folder, and an
# identical one beside for rd.
rd_dir="$WINEPREFIX/drive_c/bench-rd"
rm -rf "$rd_dir"
make_tree "$E2E_INSTALL"
make_tree "$rd_dir"
count="$(find "$E2E_INSTALL/data" -type f | wc -l)"
start="$(now_ms)"
wine cmd /c rd /s /q 'C:\bench-rd' >/dev/null 2>&1 || true
rd_ms=$(($(now_ms) - start))
[ ! -e "$rd_dir" ] || { note "rd left the tree"; rd_ms=""; }
# The filtering engine stand-in: without an engine to open, the uninstall
# ends in a warning box, silent or not.
tsl_world_fwp_install
uninstall_string="$(e2e_reg "$E2E_UNINSTALL_KEY" UninstallString | sed 's/^REG_SZ *//')"
program="$(sed -E 's/^"([^"]*)".*/\1/' <<<"$uninstall_string")"
start="$(now_ms)"
timeout 600 wine "$program" /uninstall /silent >/dev/null 2>&1 || true
uninstall_ms=$(($(now_ms) - start))
if [ -e "$E2E_INSTALL" ]; then
  note "the uninstall left $(find "$E2E_INSTALL" | wc -l) entries"
  uninstall_ms=""
fi
tsl_world_fwp_remove
note "uninstall of $count files: $uninstall_ms ms; rd /s /q: $rd_ms ms"
record "uninstall, $count files in $folders folders" "$uninstall_ms" "$rd_ms" ms \
  "whole silent uninstall; reference: cmd /c rd /s /q of the same tree"

# ---- Start to the first painted window ----
# Both paint RGB(30, 30, 30) where the probe looks (below the setup's header).
cp "$bin/tests/bench/minimal_window.exe" "$E2E_DIR/"
# paint_ms PROGRAM TITLE: one start, in milliseconds (empty when it failed).
paint_ms() {
  wine "$bin/tests/bench/first_paint.exe" "$1" "$2" 5 150 30 30 30 2>/dev/null |
    tr -d '\r' | awk '/^first-paint-ms/ {print $2}' || true
}
ours=() reference=()
for _ in $(seq 1 "$starts"); do
  ours+=("$(paint_ms "$E2E_WDIR\\TessalineSetup.exe" 'Tessaline Setup')")
  reference+=("$(paint_ms "$E2E_WDIR\\minimal_window.exe" 'Bench Minimal Window')")
done
paint_ours="$(printf '%s\n' "${ours[@]}" | grep . | median || true)"
paint_reference="$(printf '%s\n' "${reference[@]}" | grep . | median || true)"
note "first paint: ${ours[*]} ms (ours), ${reference[*]} ms (minimal window)"
record "start to first painted window" "$paint_ours" "$paint_reference" ms \
  "median of $starts; reference: minimal_window.exe"

# ---- The executable's size ----
# section_bytes EXE REGEX: the file bytes of the sections whose names match.
section_bytes() {
  local total=0 name size
  while read -r _ name size _; do
    if [[ "$name" =~ $2 ]]; then total=$((total + 16#$size)); fi
  done < <(x86_64-w64-mingw32-objdump -h "$1" | grep -E '^ +[0-9]+ \.')
  echo "$total"
}
exe="$bin/TessalineSetup.exe"
minimal="$bin/tests/bench/minimal_window.exe"
icon_bytes="$(stat -c %s "$repo/resources/tessaline.ico")"
record "size: code (.text)" "$(section_bytes "$exe" '^\.text$')" \
  "$(section_bytes "$minimal" '^\.text$')" bytes "reference: minimal_window.exe"
record "size: data (other sections)" "$(section_bytes "$exe" '^\.(data|rdata|pdata|xdata|idata|CRT|tls|reloc)$')" \
  "$(section_bytes "$minimal" '^\.(data|rdata|pdata|xdata|idata|CRT|tls|reloc)$')" bytes \
  "reference: minimal_window.exe"
record "size: resources (.rsrc)" "$(section_bytes "$exe" '^\.rsrc$')" "$icon_bytes" bytes \
  "reference: the icon file resources/tessaline.ico"
record "size: whole file" "$(stat -c %s "$exe")" "$(stat -c %s "$minimal")" bytes \
  "reference: minimal_window.exe"
