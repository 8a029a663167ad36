# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the benchmark scripts: a work folder, a virtual X server with a
# window manager, a private CUPS scheduler, and clean-up of all of it by PID.
# BUILD_DIR chooses the build to measure (default: build/ of the checkout).
set -euo pipefail

bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$bench_root/build}
# Writer's window-system back end: X11 "gen" unless WRITER_VCL names another
# (gtk3, as on GNOME desktops, needs the libreoffice-gtk3 package).
writer_vcl=${WRITER_VCL:-gen}
pids=()        # long-lived helpers (X server, window manager, buses), ended last
current=       # the measured process of the moment
current_group= # ... when it runs in a process group of its own
cups_dir=

# LibreOffice's single-instance sockets: always in /tmp, whatever TMPDIR says,
# and left behind when it is ended by a signal.
writer_pipes() { find /tmp -maxdepth 1 -type s -name "OSL_PIPE_$(id -u)_SingleOfficeIPC_*" | sort; }
pipes_before=
remove_writer_pipes() {
  local p
  # Only those made since we started, once nothing listens on them.
  for p in $(comm -13 <(printf '%s\n' "$pipes_before") <(writer_pipes)); do
    ss -xl | grep -qF -- "$p " || rm -f -- "$p"
  done
}

# Whether PID is there and not just a zombie.
running() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

# Ends the measured process of the moment without ever waiting for it
# unbounded: SIGTERM (to its group, if it has one), some time, then SIGKILL.
# oosplash, for one, outlives a SIGTERM that has ended its soffice.bin.
stop_current() {
  [ -n "$current" ] || return 0
  # firstpaint gets longer: on SIGTERM it first ends the program it watches.
  local target=$current budget=800 _
  if [ -n "$current_group" ]; then
    target=-$current_group budget=200
  fi
  kill -TERM -- "$target" 2>/dev/null || true
  for _ in $(seq "$budget"); do
    running "$current" || break
    sleep 0.05
  done
  kill -KILL -- "$target" 2>/dev/null || true
  wait "$current" 2>/dev/null || true
  current= current_group=
}

bench_cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  stop_current
  remove_writer_pipes
  if [ -n "$cups_dir" ]; then "$bench_root/tests/cups/cups-harness.sh" stop "$cups_dir" >/dev/null 2>&1 || true; fi
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for i in "${pids[@]}"; do wait "$i" 2>/dev/null || true; done
  # The buses run in process groups of their own (see start_session_bus).
  for i in "${bus_groups[@]}"; do kill -TERM -- "-$i" 2>/dev/null || true; done
  [ -n "${work:-}" ] && rm -rf -- "$work"
  exit "$rc"
}

# bench_init NAME: the work folder and the clean-up trap.
bench_init() {
  work=$(mktemp -d "/tmp/quorvel-bench-$1.XXXXXX")
  pipes_before=$(writer_pipes)
  trap bench_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  mkdir -p "$work/tmp" "$work/home"
  # The programs' temporary files and per-user caches stay in the work folder.
  export TMPDIR="$work/tmp" HOME="$work/home"
  export GDK_BACKEND=x11
  unset SESSION_MANAGER
}

need_writer_vcl() {
  [ "$writer_vcl" = gen ] || [ -e "/usr/lib/libreoffice/program/libvclplug_${writer_vcl}lo.so" ] ||
    { echo "Writer has no \"$writer_vcl\" back end here (for gtk3: apt-get install libreoffice-gtk3)" >&2; exit 2; }
}

need() {
  local f
  for f in "$@"; do
    [ -x "$f" ] || { echo "missing $f: build first (cmake --build ${build#$bench_root/})" >&2; exit 2; }
  done
}

# A virtual X server with a window manager, as on a desktop.
start_x() {
  exec 3<>"$work/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  local _
  for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
  exec 3>&-
  openbox >"$work/openbox.log" 2>&1 &
  pids+=($!)
  # openbox has taken over once it has set its _NET_SUPPORTING_WM_CHECK.
  for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.05
  done
  echo "openbox did not start" >&2
  exit 1
}

# A session bus with the accessibility bus on it, as every desktop has: the
# programs find the services they look for (without one, GLib's bus
# autolaunch helper would sit in the measured program's process group).
bus_groups=()
start_session_bus() {
  local conf="$work/session.conf"
  # The system's session bus, but with its socket in the work folder.
  sed "s|<listen>.*</listen>|<listen>unix:dir=$work</listen>|" /usr/share/dbus-1/session.conf >"$conf"
  setsid dbus-daemon --config-file="$conf" --nofork --print-address=3 3>"$work/bus" >"$work/bus.log" 2>&1 &
  bus_groups+=($!)
  local _
  for _ in $(seq 200); do [ -s "$work/bus" ] && break; sleep 0.05; done
  [ -s "$work/bus" ] || { echo "the session bus did not start" >&2; exit 1; }
  DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
  export DBUS_SESSION_BUS_ADDRESS
  if [ -x /usr/libexec/at-spi-bus-launcher ]; then
    setsid /usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/a11y.log" 2>&1 &
    bus_groups+=($!)
    for _ in $(seq 200); do
      dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        >/dev/null 2>&1 && return 0
      sleep 0.05
    done
    echo "the accessibility bus did not start" >&2
    exit 1
  fi
}

# GTK 3 on X11 probes OpenGL once per display (loading Mesa's software
# renderer, some 48 MB) and keeps the result on the root window for the GTK
# programs after it. Forgetting it before each measured run measures every
# run as the first GTK program on the display, as a fresh X server sees it.
forget_gl_probe() { xprop -root -remove GDK_VISUALS 2>/dev/null || true; }
# Writer with its GTK 3 back end probes too. On a desktop some GTK program
# has long since done so, and Writer finds the result: its first run leaves
# it (keep_gl_probe), and it is given back before every later run.
gl_probe=
keep_gl_probe() {
  [ -n "$gl_probe" ] || gl_probe=$(xprop -root -notype GDK_VISUALS 2>/dev/null | sed -n 's/^GDK_VISUALS = //p')
}
restore_gl_probe() { [ -z "$gl_probe" ] || xprop -root -f GDK_VISUALS 32ii -set GDK_VISUALS "$gl_probe"; }

# A private scheduler with one capture queue: start_cups QUEUE
start_cups() {
  cups_dir="$work/cups"
  CUPS_SERVER=$("$bench_root/tests/cups/cups-harness.sh" start "$cups_dir")
  export CUPS_SERVER
  "$bench_root/tests/cups/cups-harness.sh" add-queue "$cups_dir" "$1"
}

# Jobs the capture queues have stored so far.
captured() { find "$cups_dir/out" -maxdepth 1 -name '*.meta' | wc -l; }
wait_captured() { "$bench_root/tests/cups/cups-harness.sh" wait-jobs "$cups_dir" "$1" "${2:-60}" >/dev/null; }

# Milliseconds on the shell's own clock (no process started to read it).
now_ms() {
  local t=${EPOCHREALTIME/./}
  echo $((t / 1000))
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 }
    END { if (NR == 0) print "n/a"; else if (NR % 2) printf "%.1f\n", a[(NR + 1) / 2];
          else printf "%.1f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f\n", a / b; else print "n/a" }'; }

# The value of KEY in a line of key=value pairs.
field() { tr ' ' '\n' <<<"$2" | sed -n "s/^$1=//p"; }

machine() {
  echo "machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)," \
    "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) RAM"
  # Other work on the machine moves every figure: say how busy it was.
  echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
}

# Runs a command in a process group of its own, waiting for it in a way the
# traps can interrupt: group CMD... ; the exit status is in $group_rc.
group() {
  setsid "$@" &
  current=$! current_group=$!
  group_rc=0
  wait "$current" || group_rc=$?
  # What it started must be gone too before the next run.
  local _
  for _ in $(seq 200); do
    kill -0 -- "-$current_group" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 -- "-$current_group" 2>/dev/null; then
    echo "process group $current_group outlived its leader; ending it" >&2
    kill -TERM -- "-$current_group" 2>/dev/null || true
    sleep 1
    kill -KILL -- "-$current_group" 2>/dev/null || true
  fi
  current= current_group=
}

# Runs a command in the background and waits for it (so the traps can end
# it): run CMD... ; the exit status is in $run_rc.
run() {
  "$@" &
  current=$!
  run_rc=0
  wait "$current" || run_rc=$?
  current=
}
