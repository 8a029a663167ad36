#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A Debian 13 system to build, run and test on, from a Debian 12 machine: a
# root made with debootstrap from the machine's own package mirror (once; it
# is reused while it is complete), entered with the project's tree at the same
# path. What runs inside sees its own /tmp, /dev/shm, /run and process table,
# and every process and mount it made goes when it ends; the machine's own
# network and devices are shared, as a second system on the machine would
# (so are its abstract sockets: an X server inside and one outside may pick
# the same display number; run one test session at a time).
#
#   tools/debian13.sh [--user NAME] [COMMAND [ARGS...]]   (default: an interactive shell)
#     --user NAME   run COMMAND as NAME (made in the root with the same
#                   user id as on the machine, sudo allowed) instead of root
#   tools/debian13.sh --make                              make the root and stop
#
# Needs root, or sudo. The root lives in $QUORVEL_DEBIAN13_ROOT
# (default /var/cache/quorvel/debian13).
set -euo pipefail
project=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
root=${QUORVEL_DEBIAN13_ROOT:-/var/cache/quorvel/debian13}
release=trixie
marker=$root/.quorvel-root-complete

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ "$(id -u)" -ne 0 ]; then
  # Everything below needs root; the caller's name goes along for --user.
  exec sudo QUORVEL_DEBIAN13_ROOT="$root" "$0" "$@"
fi

user=
make_only=0
while [ $# -gt 0 ]; do
  case $1 in
    --user) user=${2:?--user needs a name}; shift 2 ;;
    --make) make_only=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done

# The machine's own mirror for Debian, from its apt sources (deb822 or
# one-line form); Debian's own address otherwise.
mirror() {
  local uri
  uri=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' \
          /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n1)
  [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $0 !~ /security/ { for (i = 2; i <= NF; i++) if ($i ~ /^https?:/) { print $i; exit } }' \
          /etc/apt/sources.list 2>/dev/null | head -n1)
  printf '%s\n' "${uri:-http://deb.debian.org/debian}"
}

make_root() {
  local url
  url=$(mirror)
  command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >/dev/null
  echo "debian13: making a Debian 13 root in $root from $url" >&2
  rm -rf --one-file-system "$root"
  mkdir -p "$root"
  debootstrap --variant=minbase "$release" "$root" "$url" >"$root.debootstrap.log" 2>&1 || {
    tail -n 20 "$root.debootstrap.log" >&2
    echo "debian13: debootstrap failed (log: $root.debootstrap.log)" >&2
    exit 1
  }
  local security=${url%/debian}/debian-security
  cat >"$root/etc/apt/sources.list" <<EOF
deb $url $release main
deb $url $release-updates main
deb $security $release-security main
EOF
  # Name resolution and the package index as on the machine; sudo for the
  # users the tests run as, as on a desktop.
  cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
  enter_root env DEBIAN_FRONTEND=noninteractive sh -c 'apt-get update -q && apt-get install -y -q --no-install-recommends sudo ca-certificates' \
    >>"$root.debootstrap.log" 2>&1 || {
    tail -n 20 "$root.debootstrap.log" >&2
    echo "debian13: the root's first packages did not install" >&2
    exit 1
  }
  rm -f "$root.debootstrap.log"
  date -u +%FT%TZ >"$marker"
}

# The user in the root: the machine's user id, group and name, a home of
# their own, and sudo without a password (only apt-get needs it).
add_user() {
  local name=$1 uid gid group
  uid=$(id -u "$name") gid=$(id -g "$name") group=$(id -gn "$name")
  if ! chroot "$root" getent group "$group" >/dev/null; then
    chroot "$root" groupadd -g "$gid" "$group"
  fi
  if ! chroot "$root" getent passwd "$name" >/dev/null; then
    chroot "$root" useradd -m -u "$uid" -g "$gid" -s /bin/bash "$name"
  fi
  printf '%s ALL=(root) NOPASSWD: ALL\n' "$name" >"$root/etc/sudoers.d/quorvel-$name"
  chmod 0440 "$root/etc/sudoers.d/quorvel-$name"
}

# Runs the rest of the command line inside the root, in a mount and process
# namespace of its own. The root becomes the namespace's root (pivot_root,
# not chroot), so that what runs inside may make user namespaces of its own,
# as the test fixtures of an ordinary user do.
enter_root() {
  unshare --mount --pid --fork --kill-child --propagation private -- "$0" --inside "$root" "$project" "$@"
}

if [ "${1:-}" = --inside ]; then
  root=$2 project=$3
  shift 3
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
  # Debian 13 keeps /tmp in memory.
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/tmp"
  mount -t tmpfs -o mode=0755,nosuid,nodev tmpfs "$root/run"
  mkdir -p "$root/run/lock" "$root/run/user"
  chmod 1777 "$root/run/lock"
  mkdir -p "$root$project"
  mount --rbind "$project" "$root$project"
  # The machine's name and name servers, so that sudo and lookups work.
  for f in resolv.conf hosts hostname; do cp -L "/etc/$f" "$root/etc/$f" 2>/dev/null || true; done
  cd "$root"
  mkdir -p .oldroot
  pivot_root . .oldroot
  umount -l /.oldroot
  rmdir /.oldroot
  cd /
  exec "$@"
fi

if [ ! -f "$marker" ]; then
  mkdir -p "$(dirname "$root")"
  make_root
fi
[ "$make_only" = 1 ] && exit 0

[ $# -gt 0 ] || set -- bash -l
# The command starts where the caller is, if that is in the project (the only
# part of the machine's files the root sees), else at the project's top.
case $PWD in
  "$project" | "$project"/*) start=$PWD ;;
  *) start=$project ;;
esac
if [ -n "$user" ]; then
  add_user "$user"
  home=$(chroot "$root" getent passwd "$user" | cut -d: -f6)
  enter_root setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" --init-groups -- \
    env -i HOME="$home" USER="$user" LOGNAME="$user" SHELL=/bin/bash PATH=/usr/local/bin:/usr/bin:/bin \
    LANG=C.UTF-8 TERM="${TERM:-dumb}" sh -c 'cd "$1" && shift && exec "$@"' sh "$start" "$@"
else
  enter_root env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 TERM="${TERM:-dumb}" sh -c 'cd "$1" && shift && exec "$@"' sh "$start" "$@"
fi
