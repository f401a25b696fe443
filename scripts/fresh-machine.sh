#!/usr/bin/env bash
# Tries the README's two commands as a new user would: builds a new Debian 12
# root with debootstrap in a temp folder, clones this repository into it
# (its committed HEAD) and runs `scripts/demo.sh`, then `scripts/test.sh` in a
# second fresh clone, each in a chroot with /proc, /sys, /dev and /dev/shm
# mounted, as root. Prints each command's last lines and its time, keeps
# both logs (and the test command's build/test-logs/) in build/fresh-machine/.
# Downloads a whole system, so it is not part of the test command. Needs root.
#
#   scripts/fresh-machine.sh [--mirror URL] [--keep]
#
#   --mirror URL  the Debian mirror (default: the first one this machine's
#                 apt uses, or http://deb.debian.org/debian)
#   --keep        leave the root in place (printed) instead of removing it
#
# Everything runs in a mount namespace of its own, so nothing mounted for
# the chroot is seen outside it or outlives it; the mounts are also undone
# one by one, and the temp folder removed, on any exit.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

mirror=""
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
  --mirror) mirror="$2"; shift 2 ;;
  --keep) keep=1; shift ;;
  --inside) break ;;
  *) echo "usage: $0 [--mirror URL] [--keep]" >&2; exit 2 ;;
  esac
done

if [ "${1-}" != --inside ]; then
  [ "$(id -u)" -eq 0 ] || { echo "fresh-machine: needs root" >&2; exit 1; }
  # Both commands run the commit checked out now, whatever happens meanwhile.
  head="$(git -C "$repo" rev-parse HEAD)"
  if [ -z "$mirror" ]; then
    mirror="$(grep -hsE '^(URIs:|deb )' /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list |
      grep -oE 'https?://[^ ]*/debian/?' | head -1 || true)"
    mirror="${mirror:-http://deb.debian.org/debian}"
  fi
  command -v debootstrap >/dev/null || {
    echo "fresh-machine: installing debootstrap"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >/dev/null
  }
  exec unshare --mount --propagation private -- "$0" --inside "$mirror" "$keep" "$head"
fi

# ---------------------------------------------------------------------------
# In a private mount namespace.
mirror="$2"
keep="$3"
head="$4"
out="$repo/build/fresh-machine"
rm -rf "$out"
mkdir -p "$out"
tmp="$(mktemp -d /var/tmp/tsl-fresh.XXXXXX)"
root="$tmp/root"
mounted=()

cleanup() {
  local status=$? i
  set +e
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -l "${mounted[$i]}" || echo "fresh-machine: could not unmount ${mounted[$i]}" >&2
  done
  if [ -n "$keep" ]; then
    echo "fresh-machine: root kept in $root"
  else
    rm -rf "$tmp"
  fi
  exit "$status"
}
trap cleanup EXIT

mount_in() { # mount_in TARGET MOUNT-ARGS...
  local target="$root$1"
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounted+=("$target")
}

started=$SECONDS
echo "fresh-machine: debootstrap bookworm from $mirror into $root"
debootstrap bookworm "$root" "$mirror" >"$out/debootstrap.log" 2>&1 || {
  tail -20 "$out/debootstrap.log"
  exit 1
}
echo "fresh-machine: root ready in $((SECONDS - started)) s"
cp /etc/resolv.conf "$root/etc/resolv.conf"

# A machine's root is a mount point (unshare --mount makes it private, and
# fails on a root that is not one).
mount_in "" --bind "$root"
mount_in /proc -t proc proc
mount_in /sys -t sysfs sysfs
mount_in /dev --bind /dev
mount_in /dev/pts --bind /dev/pts
mount_in /dev/shm -t tmpfs tmpfs -o mode=1777

# in_root COMMAND: one login-like shell of the new machine, with its own
# environment only.
in_root() {
  env -i HOME=/root TERM=dumb LANG=C.UTF-8 USER=root \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    chroot "$root" bash -c "$1" </dev/null
}

# run_command NAME CLONE COMMAND: a fresh clone of HEAD, the command run in
# it from nothing; prints its last lines and time.
run_command() {
  local name="$1" clone="$2" command="$3" status=0 begun=$SECONDS
  git clone -q --no-hardlinks "$repo" "$root$clone"
  git -C "$root$clone" checkout -q "$head"
  echo "fresh-machine: $command (in $clone, commit ${head:0:7}) ..."
  in_root "cd $clone && $command" >"$out/$name.log" 2>&1 || status=$?
  echo "--- last lines of $command (exit $status, $((SECONDS - begun)) s; log build/fresh-machine/$name.log):"
  tail -15 "$out/$name.log"
  echo "fresh-machine: $command: exit $status in $((SECONDS - begun)) s"
  if [ -d "$root$clone/build/test-logs" ]; then
    cp -r "$root$clone/build/test-logs" "$out/$name-test-logs"
  fi
  return "$status"
}

status=0
run_command demo /root/demo scripts/demo.sh || status=1
run_command test /root/test scripts/test.sh || status=1
exit "$status"
