# shellcheck shell=bash
# tsl_netns_dir is the caller's (see below).
# shellcheck disable=SC2154
# Shared by the scripts that run our programs against real HTTPS hosts on
# loopback inside private network, mount and pid namespaces
# (scripts/net-test.sh, scripts/e2e/world.sh).
#
#   . scripts/netns/lib.sh
#
# Every file goes to the run's temp folder, named by $tsl_netns_dir, which
# the caller sets before calling anything here. Inside the namespace the
# hosts file and the CA bundle of that folder are bind-mounted over
# /etc/hosts and /etc/ssl/certs/ca-certificates.crt; the mounts vanish with
# the namespace, so nothing outside the temp folder changes.
#
# Outside the namespace:
#   tsl_netns_require_root WHO          exit 2 unless root (unshare, mount)
#   tsl_netns_make_ca NAME CN           NAME.crt / NAME.key, a CA valid a day
#   tsl_netns_make_server_cert CA NAME DNS...
#                                       NAME.crt / NAME.key for those names
#   tsl_netns_make_bundle CA            bundle.crt: system bundle + CA.crt
#   tsl_netns_unshare COMMAND...        run COMMAND in new namespaces
# Inside:
#   tsl_netns_enter                     loopback up, hosts and bundle mounted
#   tsl_netns_start_server NAME ARGS... fault_server.py in the background
#   tsl_netns_wait_servers              until every started server listens
#   tsl_netns_stop_servers              stop them (by pid) and reap them

tsl_netns_lib_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
tsl_netns_server="$tsl_netns_lib_dir/fault_server.py"
# shellcheck source=scripts/codesign-lib.sh
. "$tsl_netns_lib_dir/../codesign-lib.sh"
tsl_netns_server_names=()
tsl_netns_server_pids=()

tsl_netns_require_root() {
  if [ "$(id -u)" != 0 ]; then
    echo "$1: needs root (unshare --net --mount, mount --bind)" >&2
    exit 2
  fi
}

tsl_netns_make_ca() {
  tsl_codesign_make_ca "$tsl_netns_dir" "$1" "$2"
}

tsl_netns_make_server_cert() {
  local ca="$1" name="$2" san="" host d="$tsl_netns_dir"
  shift 2
  for host in "$@"; do san="${san:+$san,}DNS:$host"; done
  openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$d/$name.key" \
    -out "$d/$name.csr" -subj "/CN=$1" 2>/dev/null || return 1
  printf '%s\n' "subjectAltName=$san" "basicConstraints=critical,CA:FALSE" \
    "keyUsage=critical,digitalSignature,keyEncipherment" \
    "extendedKeyUsage=serverAuth" >"$d/$name.ext"
  openssl x509 -req -sha256 -days 1 -in "$d/$name.csr" \
    -CA "$d/$ca.crt" -CAkey "$d/$ca.key" -CAcreateserial \
    -extfile "$d/$name.ext" -out "$d/$name.crt" 2>/dev/null
}

tsl_netns_make_bundle() {
  cat /etc/ssl/certs/ca-certificates.crt "$tsl_netns_dir/$1.crt" >"$tsl_netns_dir/bundle.crt"
}

# A pid namespace too: whatever Wine leaves running ends with it.
tsl_netns_unshare() {
  # unshare --mount makes the root's mounts private, which fails on a root
  # that is no mount point (a bare chroot) with only "Invalid argument".
  if ! mountpoint -q /; then
    echo "netns: / is not a mount point (a chroot?); bind-mount the root onto itself first" >&2
    return 1
  fi
  unshare --net --mount --pid --fork --mount-proc -- "$@"
}

tsl_netns_enter() {
  mount --make-rprivate / &&
    ip link set lo up &&
    mount --bind "$tsl_netns_dir/hosts" /etc/hosts &&
    mount --bind "$tsl_netns_dir/bundle.crt" /etc/ssl/certs/ca-certificates.crt || return 1
  # WinHTTP's default proxy must not point anywhere.
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
}

tsl_netns_start_server() {
  local name="$1"
  shift
  python3 "$tsl_netns_server" "$@" --ready "$tsl_netns_dir/ready-$name" \
    2>"$tsl_netns_dir/server-$name.log" &
  tsl_netns_server_pids+=($!)
  tsl_netns_server_names+=("$name")
}

tsl_netns_wait_servers() {
  local name
  for name in "${tsl_netns_server_names[@]}"; do
    for _ in $(seq 1 100); do
      [ -s "$tsl_netns_dir/ready-$name" ] && break
      sleep 0.1
    done
    if [ ! -s "$tsl_netns_dir/ready-$name" ]; then
      echo "netns: server $name not ready" >&2
      cat "$tsl_netns_dir"/server-*.log >&2
      return 1
    fi
  done
}

tsl_netns_stop_servers() {
  local pid
  for pid in "${tsl_netns_server_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${tsl_netns_server_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  tsl_netns_server_pids=()
  tsl_netns_server_names=()
}
