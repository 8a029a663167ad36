#!/usr/bin/env bash
# Installs every Debian 12 package needed to build, run and test quorvel.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  libgtkmm-3.0-dev libjson-glib-dev libcups2-dev libreofficekit-dev liblibreofficekitgtk
  googletest libgtest-dev libgmock-dev
  # run: the document engine and fonts with Cyrillic coverage
  libreoffice-writer libreoffice-core fonts-dejavu-core fonts-liberation2
  # test: print server, virtual X server, window manager, screenshots, PDF text
  cups cups-client cups-bsd cups-filters printer-driver-cups-pdf
  xvfb xauth xdotool x11-utils openbox imagemagick poppler-utils dbus-daemon
  # checks
  clang clang-format clang-tidy libclang-rt-14-dev appstream desktop-file-utils
  # the Debian package
  dpkg-dev debhelper lintian
)

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
  apt update -q
  apt install -y -q --no-install-recommends "${missing[@]}"
fi
