#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The set-up's package names: chosen by the release (Debian 12 and 13 each get
# their own, anything else is refused with a clear word) and by what needs
# them (building and running the program gets nothing of the tests' or the
# package's), and every name chosen for the machine's own release is one its
# package archive has.
#
#   release-packages.sh SOURCE_DIR
set -u
deps="$1/tools/install-deps.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

list() {  # CODENAME SET...: the names install-deps.sh chooses for them
  local codename=$1
  shift
  printf 'ID=debian\nVERSION_CODENAME=%s\n' "$codename" >"$work/os-release"
  QUORVEL_OS_RELEASE="$work/os-release" "$deps" --list "$@"
}
has() { grep -qx -- "$2" <<<"$1" || fail "$3: $2 missing"; }
lacks() { ! grep -qx -- "$2" <<<"$1" || fail "$3: $2 should not be there"; }

for release in bookworm trixie; do
  run=$(list "$release" run) || fail "$release refused"
  # What the build and the program need.
  for p in build-essential cmake ninja-build pkg-config libgtkmm-3.0-dev libjson-glib-dev libcups2-dev \
           libreofficekit-dev liblibreofficekitgtk librsvg2-bin libxml2-utils libreoffice-writer fonts-dejavu-core \
           fonts-wine; do
    has "$run" "$p" "$release run"
  done
  # Nothing only the tests or the package need: no desktop session, window
  # manager, X server, printer simulator, service, debugger or checker.
  for p in gnome-shell mutter xwayland openbox xvfb xdotool imagemagick googletest libgtest-dev gdb \
           cups cups-ipp-utils printer-driver-cups-pdf avahi-daemon libnss-mdns at-spi2-core python3-uno \
           clang clang-tidy clang-format appstream lintian debhelper dpkg-dev fonts-liberation fonts-liberation2 \
           libclang-rt-dev libclang-rt-14-dev; do
    lacks "$run" "$p" "$release run"
  done
done

# The names that differ between the releases.
bookworm_run=$(list bookworm run) bookworm_test=$(list bookworm test)
trixie_run=$(list trixie run) trixie_test=$(list trixie test)
lacks "$bookworm_run" libreofficekit-dev-gtk "bookworm run (not a package there)"
has "$trixie_run" libreofficekit-dev-gtk "trixie run"
has "$bookworm_test" libclang-rt-14-dev "bookworm test"
has "$bookworm_test" fonts-liberation2 "bookworm test"
has "$trixie_test" libclang-rt-dev "trixie test"
has "$trixie_test" fonts-liberation "trixie test"
lacks "$trixie_test" libclang-rt-14-dev "trixie test (not a package there)"

if out=$(list noble run 2>&1); then fail "an unknown release was not refused"; fi
grep -q "Debian 12 (bookworm) and Debian 13 (trixie) only" <<<"$out" || fail "refused without saying why: $out"
# Nothing named, or a name that is not a set: refused, never everything.
if out=$(list bookworm 2>&1); then fail "--list without a set was taken: $out"; fi
grep -q "run, test or package" <<<"$out" || fail "refused without saying why: $out"
if out=$(list bookworm run tests 2>&1); then fail "an unknown set was taken: $out"; fi
grep -q "'tests' is not" <<<"$out" || fail "refused without naming the set: $out"

# This machine's own release: each name is in its archive.
missing=()
for p in $("$deps" --list run test package); do
  [ -n "$(apt-cache show --no-all-versions "$p" 2>/dev/null)" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] || fail "not in this release's archive: ${missing[*]}"
echo "PASS"
