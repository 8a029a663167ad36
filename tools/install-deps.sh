#!/usr/bin/env bash
# Installs every package needed to build, run and test quorvel on Debian 12
# or Debian 13.
#
#   tools/install-deps.sh [--list]   --list prints the names and installs nothing
set -euo pipefail

# The few names that differ between the two releases, chosen by the release
# the machine says it is (QUORVEL_OS_RELEASE: another os-release file, for
# the test of this choice).
codename=$(. "${QUORVEL_OS_RELEASE:-/etc/os-release}" 2>/dev/null && echo "${VERSION_CODENAME:-}")
case $codename in
  bookworm)
    release_packages=(fonts-liberation2 libclang-rt-14-dev)
    ;;
  trixie)
    # The engine's GTK widget header has a package of its own here, and
    # Liberation 2 is fonts-liberation (fonts-liberation2 is only its
    # transitional name).
    release_packages=(libreofficekit-dev-gtk fonts-liberation libclang-rt-dev)
    ;;
  *)
    echo "install-deps: this is ${codename:-an unknown release}; Quorvel is built and tested on" \
      "Debian 12 (bookworm) and Debian 13 (trixie) only" >&2
    exit 1
    ;;
esac

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  libgtkmm-3.0-dev libjson-glib-dev libcups2-dev libreofficekit-dev liblibreofficekitgtk
  librsvg2-bin  # rsvg-convert: the window icon, drawn from its SVG at build time
  googletest libgtest-dev libgmock-dev
  # run: the document engine and fonts with Cyrillic coverage
  libreoffice-writer libreoffice-core fonts-dejavu-core
  # the layout's font: Wine's metric-compatible Tahoma, registered by the program itself
  fonts-wine
  gdb  # test: a test that hangs shows its threads' stacks
  # test: print server, virtual X server, window manager, screenshots, PDF text
  cups cups-client cups-bsd cups-filters printer-driver-cups-pdf
  xvfb xauth xdotool x11-utils x11-xkb-utils x11-xserver-utils openbox imagemagick poppler-utils dbus-daemon
  # test: network printers in a private namespace (DNS-SD, printer simulator)
  cups-ipp-utils avahi-daemon avahi-utils libnss-mdns iproute2 util-linux
  # test: a desktop session's buses, read as a screen reader does; Writer as the reference
  dbus dbus-bin at-spi2-core python3-gi gir1.2-atspi-2.0 python3-uno  # also the benchmarks: a desktop session's buses
  # test: a headless GNOME Shell session (Wayland, with Xwayland)
  gnome-shell mutter xwayland wmctrl
  libxext-dev libxtst-dev  # the start-up benchmark watches the screen and clicks into it
  # checks
  clang clang-format clang-tidy appstream desktop-file-utils
  # the Debian package
  dpkg-dev debhelper lintian
  fontconfig  # fc-cat: the package check reads which folder a font cache file is of
  "${release_packages[@]}"
)
if [ "${1:-}" = --list ]; then
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
