#!/bin/bash
# The set-up's package names, chosen by the release: Debian 12 and 13 each get
# their own, anything else is refused with a clear word, and every name
# chosen for the machine's own release is one its package archive has.
#
#   release-packages.sh SOURCE_DIR
set -u
deps="$1/tools/install-deps.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

list() {  # CODENAME: the names install-deps.sh chooses for it
  printf 'ID=debian\nVERSION_CODENAME=%s\n' "$1" >"$work/os-release"
  QUORVEL_OS_RELEASE="$work/os-release" "$deps" --list
}
has() { grep -qx -- "$2" <<<"$1" || fail "$3: $2 missing"; }
lacks() { ! grep -qx -- "$2" <<<"$1" || fail "$3: $2 is not a package there"; }

bookworm=$(list bookworm) || fail "bookworm refused"
has "$bookworm" libclang-rt-14-dev bookworm
has "$bookworm" fonts-liberation2 bookworm
lacks "$bookworm" libreofficekit-dev-gtk bookworm
trixie=$(list trixie) || fail "trixie refused"
has "$trixie" libreofficekit-dev-gtk trixie
has "$trixie" libclang-rt-dev trixie
has "$trixie" fonts-liberation trixie
lacks "$trixie" libclang-rt-14-dev trixie
for names in "$bookworm" "$trixie"; do has "$names" libreofficekit-dev both; done

if out=$(list noble 2>&1); then fail "an unknown release was not refused"; fi
grep -q "Debian 12 (bookworm) and Debian 13 (trixie) only" <<<"$out" || fail "refused without saying why: $out"

# This machine's own release: each name is in its archive.
missing=()
for p in $("$deps" --list); do
  [ -n "$(apt-cache show --no-all-versions "$p" 2>/dev/null)" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] || fail "not in this release's archive: ${missing[*]}"
echo "PASS"
