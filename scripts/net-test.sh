#!/usr/bin/env bash
# Runs tests/net (DownloadFile over the real WinHTTP, under Wine) against a
# real HTTPS server on loopback, inside private network, mount and pid
# namespaces. Needs root for unshare and mount.
#
#   scripts/net-test.sh [--fresh-prefix] [gtest arguments...]
#
# TSL_NET_WINEDEBUG, when set, replaces WINEDEBUG=-all for the test program.
#
# Per run, in a temp folder: a test CA and a second CA nobody trusts, their
# server certificates, the payloads, a hosts file and a CA bundle (system
# bundle + test CA). Inside the namespace the hosts file and the bundle are
# bind-mounted over /etc/hosts and /etc/ssl/certs/ca-certificates.crt, so
# nothing outside the temp folder and build/ changes, and the mounts vanish
# with the namespace.
#
#   deploy.maretto.example, aka.ms, go.microsoft.com  127.0.0.1  https 443, http 80
#   untrusted.maretto.example                         127.0.0.2  https 443, unknown CA
#   down.maretto.example                              127.0.0.3  nothing listening
#
# The Wine prefix is build/wine-prefix-net, kept between runs (its own, so
# that `wineserver -k` here cannot end anybody else's programs);
# --fresh-prefix uses a new one in the temp folder instead.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$repo/build/windows"
exe="$build/tests/net_tests.exe"
# shellcheck source=scripts/netns/lib.sh
. "$repo/scripts/netns/lib.sh"

# ---------------------------------------------------------------------------
# Inside the namespace: bash net-test.sh --inside TMP PREFIX [gtest args]
if [ "${1-}" = "--inside" ]; then
  tmp="$2"
  prefix="$3"
  shift 3
  tsl_netns_dir="$tmp"

  wine_started=""
  cleanup() {
    # Stopping carries on past whatever fails (`wineserver -k` with no
    # server left answers 1), and keeps the test's exit status.
    set +e
    # wineserver and every program of the prefix first, then our servers.
    if [ -n "$wine_started" ]; then tsl_wine_stop; fi
    tsl_netns_stop_servers
  }
  trap cleanup EXIT

  tsl_netns_enter
  tsl_netns_start_server main --address 127.0.0.1 --https-port 443 --http-port 80 \
    --cert "$tmp/deploy.crt" --key "$tmp/deploy.key" \
    --root "$tmp/www" --rules "$tmp/rules.json"
  tsl_netns_start_server untrusted --address 127.0.0.2 --https-port 443 \
    --cert "$tmp/untrusted.crt" --key "$tmp/untrusted.key" \
    --root "$tmp/www" --rules "$tmp/rules.json"
  tsl_netns_wait_servers

  # With curl, outside Wine: names resolve through the mounted hosts file,
  # the bundle trusts the main server, and the untrusted server fails on its
  # CA alone (its certificate is good for its name), so that is all the
  # UntrustedCertificate case can be failing on.
  expect_curl() {
    local want="$1" what="$2"
    shift 2
    local got=0
    curl -sS -o /dev/null --max-time 10 "$@" 2>"$tmp/curl.err" || got=$?
    if { [ "$want" = ok ] && [ "$got" != 0 ]; } || { [ "$want" = fail ] && [ "$got" = 0 ]; }; then
      echo "net-test: set-up check failed: $what (curl exit $got: $(cat "$tmp/curl.err"))" >&2
      exit 1
    fi
  }
  expect_curl ok "main server trusted" https://deploy.maretto.example/small
  expect_curl ok "plain http on port 80" http://deploy.maretto.example/small
  expect_curl fail "untrusted server refused" https://untrusted.maretto.example/small
  expect_curl ok "untrusted server valid under its own CA" \
    --cacert "$tmp/stranger-ca.crt" https://untrusted.maretto.example/small

  prefix_start=$SECONDS
  wine_started=1
  # shellcheck source=scripts/wine-env.sh
  . "$repo/scripts/wine-env.sh" "$prefix"
  echo "net-test: Wine prefix ready in $((SECONDS - prefix_start)) s ($prefix)"

  status=0
  # TSL_NET_WINEDEBUG=+winhttp,... for a run with Wine's traces.
  WINEDEBUG="${TSL_NET_WINEDEBUG:-$WINEDEBUG}" \
    TSL_NET_PAYLOADS="Z:${tmp//\//\\}\\www" wine "$exe" "$@" || status=$?

  for log in "$tmp"/server-*.log; do
    echo "---- $(basename "$log")"
    cat "$log"
  done
  exit "$status"
fi

# ---------------------------------------------------------------------------
# Outside: build, make the run's files, enter the namespace.
fresh_prefix=""
if [ "${1-}" = "--fresh-prefix" ]; then
  fresh_prefix=1
  shift
fi
tsl_netns_require_root net-test

start=$SECONDS
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$repo" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel
fi
ninja -C "$build" net_tests

tmp="$(mktemp -d /tmp/tsl-net.XXXXXX)"
trap 'rm -rf "$tmp"' EXIT
tsl_netns_dir="$tmp"

tsl_netns_make_ca test-ca "Tessaline net test CA"
tsl_netns_make_ca stranger-ca "Untrusted net test CA"
tsl_netns_make_server_cert test-ca deploy deploy.maretto.example aka.ms go.microsoft.com
tsl_netns_make_server_cert stranger-ca untrusted untrusted.maretto.example
tsl_netns_make_bundle test-ca

cat >"$tmp/hosts" <<'EOF'
127.0.0.1 localhost
127.0.0.1 deploy.maretto.example aka.ms go.microsoft.com
127.0.0.2 untrusted.maretto.example
127.0.0.3 down.maretto.example
::1 localhost
EOF

# Random payloads: the test compares what it downloaded with these files.
# Neither size is a multiple of the client's 8 KiB read.
mkdir "$tmp/www"
head -c $((20 * 1024 * 1024 + 123)) /dev/urandom >"$tmp/www/big"
head -c 300001 /dev/urandom >"$tmp/www/small"

# fault_delay lets the client read what came before the fault, so "data
# arrived, then the connection broke" is what the client sees every time.
cat >"$tmp/rules.json" <<'EOF'
{
  "/missing": {"status": 404},
  "/server-error": {"status": 500},
  "/empty": {"body": ""},
  "/truncated": {"file": "big", "cut_after": 1048576, "fault_delay": 0.5},
  "/reset": {"file": "big", "reset_after": 1048576, "fault_delay": 0.5},
  "/slow": {"file": "small", "trickle": [16384, 0.05]},
  "/redirect-http": {"status": 302, "location": "http://deploy.maretto.example/small"},
  "/redirect-https": {"status": 302, "location": "https://deploy.maretto.example/small"}
}
EOF

if [ -n "$fresh_prefix" ]; then
  prefix="$tmp/wine-prefix"
else
  prefix="$repo/build/wine-prefix-net"
fi

# One run at a time per prefix: another run's `wineserver -k` would end
# this run's programs.
exec 8>"$prefix.run-lock"
flock -w 900 8 || { echo "net-test: $prefix is busy with another run" >&2; exit 1; }

status=0
tsl_netns_unshare bash "$0" --inside "$tmp" "$prefix" "$@" || status=$?
echo "net-test: exit $status after $((SECONDS - start)) s"
exit "$status"
