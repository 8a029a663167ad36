#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian package as a school's machine would and checks that the
# installed program works: apt-get install ./quorvel_*.deb, start
# /usr/bin/quorvel as a plain user on its own X server with a window manager
# and a session bus, wait until the chart is drawn, close the window as a user
# does (Alt+F4), and check exit code 0, no process left and no file left.
# The package, and whatever its installation pulled in, is purged again on
# every path, also on failure or Ctrl-C.
#
#   tools/package-check.sh [PACKAGE.deb]    # default: build it (tools/build-package.sh)
#
# Needs root or sudo for apt-get. The last screen seen is kept in
# build-deb/package-check.png.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fail() { echo "package-check: FAIL: $*" >&2; exit 1; }
say() { echo "== $*"; }

apt() {
  local cmd=(apt-get -q -o DPkg::Lock::Timeout=600 "$@")
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive "${cmd[@]}"
  else
    sudo DEBIAN_FRONTEND=noninteractive "${cmd[@]}"
  fi
}
installed_packages() {
  dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" { print $2 }' | sort -u
}

# Its own X server, window manager and screenshots (the package's build
# installs what it needs itself).
"$root/tools/install-deps.sh" package
if [ $# -ge 1 ]; then
  deb=$(realpath "$1")
else
  "$root/tools/build-package.sh"
  deb=$(ls "$root"/build-deb/quorvel_*_amd64.deb)
fi
[ -f "$deb" ] || fail "no package $deb"
if dpkg-query -W -f='${Status}' quorvel 2>/dev/null | grep -q ' installed$'; then
  fail "quorvel is already installed; this check installs and then purges it: remove it first"
fi

work=$(mktemp -d /tmp/quorvel-pkgcheck.XXXXXX)
chmod 0755 "$work"
# What this script runs itself (the window manager's log, GLib's settings
# cache) stays in its folder, not in the caller's home.
export XDG_CACHE_HOME="$work/cache"
pids=()
session=
installing=0
started=$SECONDS
cleanup() {
  local rc=$?
  set +e
  # Whatever is left of the program's session, then the X server and the
  # window manager, each by its process id.
  if [ -n "$session" ]; then
    for pid in $(ps -o pid= -s "$session" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
  fi
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  if [ "$installing" = 1 ]; then
    say "purging the package"
    # The packages the installation pulled in as dependencies go too, unless
    # removing them would take anything else with them.
    local added=() remove=() planned
    mapfile -t added < <(comm -13 "$work/before" <(installed_packages) | grep -vx quorvel |
                         grep -Fxf <(apt-mark showauto) || true)
    if dpkg-query -W -f='${Status}' quorvel 2>/dev/null | grep -q ' installed$'; then remove+=(quorvel); fi
    remove+=("${added[@]}")
    if ((${#remove[@]})); then
      planned=$(apt -s purge "${remove[@]}" 2>/dev/null | awk '/^Purg / { print $2 }' | sort -u)
      if [ "$planned" != "$(printf '%s\n' "${remove[@]}" | sort -u)" ]; then
        echo "package-check: removing ${added[*]} would remove more; purging quorvel only" >&2
        remove=(quorvel)
      fi
      apt purge -y "${remove[@]}" >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; rc=1; }
      echo "purged: ${remove[*]}"
    fi
    if dpkg-query -W -f='${Status}' quorvel 2>/dev/null | grep -q ' installed$'; then
      echo "package-check: quorvel is still installed" >&2
      rc=1
    fi
    left=$(comm -13 "$work/before" <(installed_packages))
    [ -z "$left" ] || echo "package-check: still installed since the check began: $left" >&2
  fi
  rm -rf "$work"
  [ "$rc" -eq 0 ] && echo "Package check passed (install, run and purge: $((SECONDS - started)) s)."
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

started=$SECONDS
say "installing $(basename "$deb")"
installed_packages >"$work/before"
installing=1
apt update >/dev/null
apt install -y "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "apt-get install"; }
awk '/^The following NEW packages/ { on = 1; print; next } on && /^  / { print; next } { on = 0 }' "$work/install.log"
[ -x /usr/bin/quorvel ] || fail "/usr/bin/quorvel is not installed"
for f in /usr/share/applications/org.quorvel.Quorvel.desktop /usr/share/metainfo/org.quorvel.Quorvel.metainfo.xml \
         /usr/share/icons/hicolor/scalable/apps/quorvel.svg /usr/share/man/man1/quorvel.1.gz; do
  [ -f "$f" ] || fail "$f is not installed"
done
dynamic=$(readelf -d /usr/bin/quorvel) || fail "/usr/bin/quorvel is not a program"
if grep -qE 'RPATH|RUNPATH' <<<"$dynamic"; then fail "/usr/bin/quorvel has a run path"; fi
# The CUPS library is loaded when the printer list is read, so nothing but the
# package's own Depends brings it in.
dpkg-query -W -f='${Depends}' quorvel | grep -qE '(^|, )libcups2( |,|$)' || fail "the package does not depend on libcups2"

# A plain user: root runs the program as nobody, with a home (holding the
# folders every desktop user has) and a temporary folder of its own, which must
# be as they were at the end, and a runtime folder for the session's sockets,
# as a desktop login has.
mkdir -p "$work/home/.config" "$work/home/.cache" "$work/home/.local/share" "$work/tmp" "$work/run"
chmod 0700 "$work/run"
files() { (cd "$work" && find home tmp -mindepth 1 | sort); }
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody:nogroup "$work/home" "$work/tmp" "$work/run"
  as_user=(runuser -u nobody --)
else
  as_user=()
fi
# Where one of the system's font caches is out of date (a fresh Debian 13 has
# one: /usr/share/fonts/X11/Type1 changed while the packages were installed,
# after fontconfig had cached it), every fontconfig program writes its own
# cache of that folder into the home; fc-list does so here first, so that only
# what the program adds counts.
"${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$work/home" fc-list >/dev/null
files >"$work/files-before"

# Own X server and window manager.
exec 3<>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)

say "starting /usr/bin/quorvel as ${as_user[2]:-$(id -un)} on display $DISPLAY"
setsid "${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$work/home" TMPDIR="$work/tmp" DISPLAY="$DISPLAY" \
  XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8 dbus-run-session -- /usr/bin/quorvel >"$work/quorvel.log" 2>&1 &
program=$!
session=$program

win=
for _ in $(seq 600); do
  win=$(xdotool search --onlyvisible --name '^Quorvel' 2>/dev/null | head -n1) || true
  [ -n "$win" ] && break
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$win" ]; then
  cat "$work/quorvel.log"
  kill -0 "$program" 2>/dev/null || { wait "$program" && rc=0 || rc=$?; fail "the program ended (exit code $rc) without a window"; }
  fail "no window within 60 s"
fi
echo "window: $(xdotool getwindowname "$win")"
# The desktop matches the window to its menu entry (name, icon) by its class.
wmclass=$(xprop -id "$win" WM_CLASS | sed -n 's/^WM_CLASS(STRING) = "\([^"]*\)", "\([^"]*\)"$/\2/p')
entry_class=$(sed -n 's/^StartupWMClass=//p' /usr/share/applications/org.quorvel.Quorvel.desktop)
[ -n "$wmclass" ] && [ "$wmclass" = "$entry_class" ] ||
  fail "window class '$wmclass' is not the desktop entry's StartupWMClass '$entry_class'"

# The chart counts as drawn once the screen holds enough pixels of its pale
# cell colours (those of resources/make_chart.py, within 3 per channel), in at
# least three of them: no frame, toolbar or splash screen has that much.
chart_pixels() {
  convert "$1" -format %c histogram:info:- |
    sed -nE 's/^ *([0-9]+): *\( *([0-9.]+), *([0-9.]+), *([0-9.]+).*/\1 \2 \3 \4/p' | awk '
    BEGIN { n = split("247,168,168 249,211,156 248,238,159 207,231,182 167,220,200 " \
                      "184,212,243 191,233,240 220,202,241 245,201,225 227,210,176", c, " ")
            for (i = 1; i <= n; i++) { split(c[i], v, ","); r[i] = v[1]; g[i] = v[2]; b[i] = v[3] } }
    function near(x, y) { return x - y <= 3 && y - x <= 3 }
    { for (i = 1; i <= n; i++)
        if (near($2, r[i]) && near($3, g[i]) && near($4, b[i])) { count[i] += $1; break } }
    END { total = 0; colours = 0
          for (i = 1; i <= n; i++) { total += count[i]; if (count[i] >= 1000) colours++ }
          print total, colours }'
}
drawn=0
for _ in $(seq 120); do
  kill -0 "$program" 2>/dev/null || break
  import -window root -silent "$work/screen.png" 2>/dev/null || { sleep 1; continue; }
  read -r total colours < <(chart_pixels "$work/screen.png")
  if [ "$total" -ge 20000 ] && [ "$colours" -ge 3 ]; then drawn=1; break; fi
  sleep 1
done
mkdir -p "$root/build-deb"
[ -f "$work/screen.png" ] && cp "$work/screen.png" "$root/build-deb/package-check.png"
[ "$drawn" = 1 ] || { cat "$work/quorvel.log"; fail "the chart was not drawn within 120 s (last count: ${total:-none} pixels in ${colours:-0} colours)"; }
echo "chart drawn: $total chart-coloured pixels in $colours colours"

say "closing the window with Alt+F4"
xdotool windowactivate --sync "$win" key --clearmodifiers alt+F4
for _ in $(seq 600); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
kill -0 "$program" 2>/dev/null && fail "the program is still running 60 s after Alt+F4"
set +e
wait "$program"
rc=$?
set -e
[ "$rc" -eq 0 ] || { cat "$work/quorvel.log"; fail "exit code $rc after Alt+F4"; }
echo "exit code 0"

# Nothing left: no process of the program's session (the session bus goes
# with it), nothing in its temporary folder or home.
for _ in $(seq 100); do [ -z "$(ps -o pid= -s "$session")" ] && break; sleep 0.1; done
left=$(ps -o pid=,args= -s "$session" || true)
[ -z "$left" ] || fail "left running: $left"
session=
# One thing is allowed, as it is not the program's: fontconfig 2.15 (Debian 13)
# writes a cache file into the user's fontconfig cache for every font folder a
# program adds, empty ones too, and the engine adds two folders of its own
# install at start (LibreOffice Writer writes the same two files; fontconfig
# 2.14 on Debian 12 writes none). Only caches of folders under the engine's
# install pass; any other file fails.
engine_font_cache() {
  case $1 in
    home/.cache/fontconfig | home/.cache/fontconfig/CACHEDIR.TAG) return 0 ;;
    home/.cache/fontconfig/*.cache-*) ;;
    *) return 1 ;;
  esac
  fc-cat -v "$work/$1" 2>/dev/null | grep -q '^Directory: /usr/lib/libreoffice/'
}
leftfiles=
engine_caches=0
while IFS= read -r f; do
  if engine_font_cache "$f"; then
    case $f in *.cache-*) engine_caches=$((engine_caches + 1)) ;; esac
  else
    leftfiles+="$f"$'\n'
  fi
done < <(comm -13 "$work/files-before" <(files))
[ -z "$leftfiles" ] || fail "left behind: $leftfiles"
if [ "$engine_caches" -gt 0 ]; then
  echo "nothing left behind (but fontconfig's cache of $engine_caches of the engine's font folders)"
else
  echo "nothing left behind"
fi
