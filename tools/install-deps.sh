#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the packages Quorvel needs on Debian 12 or Debian 13, for what is
# named:
#   run       building the program and running it (tools/run.sh)
#   test      what the tests add (tools/test.sh installs run and test)
#   package   what building and checking the Debian package add
#             (tools/build-package.sh, tools/package-check.sh)
#
#   tools/install-deps.sh [--list] SET...   --list prints the names and installs nothing
set -euo pipefail

# The few names that differ between the two releases are chosen by the
# release the machine says it is (QUORVEL_OS_RELEASE: another os-release
# file, for the test of this choice).
codename=$(. "${QUORVEL_OS_RELEASE:-/etc/os-release}" 2>/dev/null && echo "${VERSION_CODENAME:-}")
case $codename in
  bookworm | trixie) ;;
  *)
    echo "install-deps: this is ${codename:-an unknown release}; Quorvel is built and tested on" \
      "Debian 12 (bookworm) and Debian 13 (trixie) only" >&2
    exit 1
    ;;
esac

# Every package, with what needs it and on which release (- for both).
table=$(cat <<'EOF'
run           -         build-essential cmake ninja-build pkg-config
run           -         libgtkmm-3.0-dev libjson-glib-dev libcups2-dev libreofficekit-dev liblibreofficekitgtk
# The engine's GTK widget header has a package of its own on Debian 13.
run           trixie    libreofficekit-dev-gtk
# rsvg-convert: the window icon, drawn from its SVG at build time; xmllint:
# the window's layout, stripped of blanks as it is compiled in.
run           -         librsvg2-bin libxml2-utils
# The engine (the build runs it too, to draw the chart's picture) and the
# chart's font; the layout's font is Wine's metric-compatible Tahoma, which
# the program registers itself.
run           -         libreoffice-writer libreoffice-core fonts-dejavu-core fonts-wine
test          -         googletest libgtest-dev libgmock-dev
# A test that hangs shows its threads' stacks.
test          -         gdb
# Print server, virtual X server, window manager, screenshots, PDF text.
test          -         cups cups-client cups-bsd cups-filters printer-driver-cups-pdf
test          -         x11-xkb-utils x11-xserver-utils poppler-utils
# Also the package check's: an X server with a window manager for the
# installed program, screenshots, a session bus, font caches (fc-cat).
test,package  -         xvfb xauth xdotool x11-utils openbox imagemagick dbus-daemon dbus-bin fontconfig
# Network printers in a private namespace (DNS-SD, printer simulator).
test          -         cups-ipp-utils avahi-daemon avahi-utils libnss-mdns iproute2 util-linux
# A desktop session's buses, read as a screen reader does; Writer as the
# reference (also the benchmarks').
test          -         dbus at-spi2-core python3-gi gir1.2-atspi-2.0 python3-uno
# A headless GNOME Shell session (Wayland, with Xwayland).
test          -         gnome-shell mutter xwayland wmctrl
# The start-up benchmark watches the screen and clicks into it.
test          -         libxext-dev libxtst-dev
# Checks, the fuzzers and their runtime.
test          -         clang clang-format clang-tidy appstream desktop-file-utils
test          bookworm  libclang-rt-14-dev
test          trixie    libclang-rt-dev
# Liberation 2 for the font tests (fonts-liberation2 is only its
# transitional name on Debian 13).
test          bookworm  fonts-liberation2
test          trixie    fonts-liberation
package       -         dpkg-dev debhelper lintian
EOF
)

list=0
if [ "${1:-}" = --list ]; then list=1; shift; fi
[ $# -gt 0 ] || { echo "install-deps: name what to install for: run, test or package (or several)" >&2; exit 2; }
for set in "$@"; do
  case $set in
    run | test | package) ;;
    *) echo "install-deps: '$set' is not run, test or package" >&2; exit 2 ;;
  esac
done

packages=()
while read -r sets release names; do
  [ -n "$sets" ] && [ "${sets:0:1}" != "#" ] || continue
  [ "$release" = - ] || [ "$release" = "$codename" ] || continue
  wanted=0
  for set in "$@"; do
    case ,$sets, in *,$set,*) wanted=1 ;; esac
  done
  [ "$wanted" = 1 ] || continue
  for p in $names; do
    printf '%s\n' "${packages[@]}" | grep -qx -- "$p" || packages+=("$p")
  done
done <<<"$table"

if [ "$list" = 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  # sudo drops DEBIAN_FRONTEND from the environment: it goes on the command
  # line, so apt never stops to ask.
  apt() {
    if [ "$(id -u)" -eq 0 ]; then
      DEBIAN_FRONTEND=noninteractive apt-get "$@"
    else
      sudo DEBIAN_FRONTEND=noninteractive apt-get "$@"
    fi
  }
  as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
  # libnss-mdns adds itself to the machine's name lookup; the tests use it
  # only inside their own namespace, so the machine's file stays as it was.
  nsswitch=$(cat /etc/nsswitch.conf 2>/dev/null || true)
  # Nor may installing start services here (avahi-daemon would announce
  # this machine on its networks): keep them from starting unless a policy
  # already says so.
  policy=
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    policy=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' | as_root tee "$policy" >/dev/null
    as_root chmod 0755 "$policy"
  fi
  apt update -q
  apt install -y -q --no-install-recommends "${missing[@]}" || {
    [ -z "$policy" ] || as_root rm -f "$policy"
    exit 1
  }
  [ -z "$policy" ] || as_root rm -f "$policy"
  if [ -n "$nsswitch" ] && [ "$(cat /etc/nsswitch.conf)" != "$nsswitch" ]; then
    printf '%s\n' "$nsswitch" | as_root tee /etc/nsswitch.conf >/dev/null
  fi
fi
