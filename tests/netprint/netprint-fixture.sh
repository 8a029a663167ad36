#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Network printers for tests, on this machine only. Runs COMMAND inside a
# private mount, network and PID namespace holding:
#   - loopback only, with multicast on, so DNS-SD stays inside;
#   - a private /run with its own system bus and avahi-daemon;
#   - a private /etc/nsswitch.conf that resolves .local names (libnss-mdns);
#   - a CUPS scheduler (cups-harness.sh) with one capture queue, local_queue;
#   - ippeveprinter "Quorvel Net", a driverless IPP printer that can print on
#     both sides and keeps each document it gets, with the job's attributes;
#   - a queue for it set up by hand, as many school printers are: two-sided
#     and two copies unless a job says otherwise;
#   - ippeveprinter "Quorvel Silent", announced but stopped (SIGSTOP);
#   - "Quorvel Nowhere", announced on a host name that does not resolve;
#   - ippeveprinter "Quorvel Slow", a driverless printer that takes a second
#     a page, reports each page done, and runs out of paper for a while
#     after the first page of each job;
#   - a second, "remote" CUPS scheduler on 127.0.0.1 with one capture queue,
#     and one that wants a user name and password for each job (Basic,
#     checked by a PAM service of the fixture's own).
# When COMMAND ends (or this script is killed) the namespace goes and with
# it every process and mount: the machine's own files, buses and queues are
# never touched. An ordinary user gets the namespace through a user namespace
# of their own (Debian's kernels allow it), and every daemon runs as them.
#
#   netprint-fixture.sh COMMAND [ARGS...]
#
# COMMAND sees CUPS_SERVER, QUORVEL_CUPS_DIR and QUORVEL_CUPS_HARNESS as
# under tools/test.sh, and:
#   QUORVEL_LOCAL_QUEUE                       the capture queue
#   QUORVEL_NET_PRINTER / QUORVEL_NET_SPOOL   the working printer, its folder: each
#                                             document N-NAME.pdf, and N-NAME.pdf.attrs with
#                                             the job's attributes as the printer got them
#                                             (IPP_SIDES=..., and the printer's own IPP_SIDES_DEFAULT=...)
#   QUORVEL_TWO_SIDED_QUEUE                   the queue for it, two-sided, two copies
#   QUORVEL_NET_SILENT                        the stopped one
#   QUORVEL_NET_NOWHERE                       the one whose host does not resolve
#   QUORVEL_NET_SLOW / QUORVEL_NET_SLOW_SPOOL the slow one, its folder: N-NAME.pdf, and
#                                             N-NAME.pdf.done once it is all out
#   QUORVEL_REMOTE_SERVER / QUORVEL_REMOTE_DIR / QUORVEL_REMOTE_QUEUE
#   QUORVEL_PASSWORD_QUEUE / QUORVEL_PASSWORD the remote queue that wants a password, and
#                                             the password of the user running this there
# Exit status: COMMAND's; 77 when the fixture cannot be set up here.
set -u
# The daemons and printer tools live in /usr/sbin, which an ordinary user's
# PATH leaves out.
PATH=$PATH:/usr/sbin:/sbin
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
HARNESS="$HERE/../cups/cups-harness.sh"

skip() { echo "netprint-fixture: $*; skipped" >&2; exit 77; }

if [ "${1:-}" != --inside ]; then
    [ $# -gt 0 ] || { sed -n '2,41p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2; }
    userns=()
    if [ "$(id -u)" != 0 ]; then
        userns=(--map-current-user --keep-caps)
        unshare "${userns[@]}" --mount --net true 2>/dev/null || skip "no user namespaces here"
    fi
    for tool in unshare ip dbus-daemon avahi-daemon avahi-publish ippeveprinter; do
        command -v "$tool" >/dev/null || skip "$tool missing (tools/install-deps.sh)"
    done
    [ -e /lib/x86_64-linux-gnu/libnss_mdns4_minimal.so.2 ] || ls /lib/*/libnss_mdns4_minimal.so.2 >/dev/null 2>&1 ||
        skip "libnss-mdns missing"
    # A PID namespace: when this script's inner half ends, however it ends,
    # the kernel ends every daemon it started; ending the outer half (a test
    # timeout, Ctrl-C) ends the inner half through its clean-up.
    exec unshare "${userns[@]}" --mount --net --pid --fork --kill-child=TERM --mount-proc --propagation private -- "$0" --inside "$@"
fi
shift
[ -n "${NETPRINT_DEBUG:-}" ] && set -x

work=$(mktemp -d /tmp/quorvel-netprint.XXXXXX)
# Before the namespace's user database gives an ordinary user avahi's name.
login_name=$(id -un)
# Filters and backends run as lp and must reach the schedulers' folders.
chmod 0755 "$work"
pids=()
cleanup() {
    local rc=$? i
    trap - EXIT INT TERM
    [ -n "${remote_dir:-}" ] && "$HARNESS" stop "$remote_dir" >/dev/null 2>&1
    [ -n "${cups_dir:-}" ] && "$HARNESS" stop "$cups_dir" >/dev/null 2>&1
    # One at a time, last started first, each gone before the next is asked:
    # avahi-daemon asked to stop while the system bus goes away can spin for
    # good, so what does not end within a few seconds is killed.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        stop_pid "${pids[i]}"
    done
    rm -rf -- "$work"
    exit "$rc"
}
stop_pid() {
    local _
    kill -CONT "$1" 2>/dev/null
    kill "$1" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
fail() { echo "netprint-fixture: $*" >&2; exit 1; }
wait_for() { # SECONDS COMMAND...: until COMMAND succeeds
    local limit=$(($1 * 10)) _
    shift
    for _ in $(seq "$limit"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}

ip link set lo up && ip link set lo multicast on || fail "cannot set up loopback"

# Private /run: system bus, avahi's socket. XDG_RUNTIME_DIR moves along.
mount -t tmpfs -o mode=0755 tmpfs /run || fail "cannot mount a private /run"
mkdir -p /run/dbus /run/avahi-daemon /run/lock
mkdir -p -m 0700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"

sed -E 's/^(hosts:).*/\1 files mdns4_minimal [NOTFOUND=return] dns/' /etc/nsswitch.conf >"$work/nsswitch.conf"
mount --bind "$work/nsswitch.conf" /etc/nsswitch.conf || fail "cannot bind nsswitch.conf"

dbus-daemon --config-file="$HERE/../support/open-system-bus.conf" --address=unix:path=/run/dbus/system_bus_socket \
    --nofork --nopidfile >"$work/dbus.log" 2>&1 &
pids+=($!)
wait_for 10 test -S /run/dbus/system_bus_socket || fail "no system bus"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket

cat >"$work/avahi.conf" <<CONF
[server]
host-name=quorvel-fixture
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
# avahi-daemon insists that its runtime folder belongs to its own user; for
# an ordinary user, the namespace's user database names them so.
if [ "$(id -u)" != 0 ]; then
    awk -F: -v OFS=: -v u="$(id -u)" -v g="$(id -g)" '$1 == "avahi" { $3 = u; $4 = g } 1' /etc/passwd >"$work/passwd"
    awk -F: -v OFS=: -v g="$(id -g)" '$1 == "avahi" { $3 = g } 1' /etc/group >"$work/group"
    mount --bind "$work/passwd" /etc/passwd && mount --bind "$work/group" /etc/group ||
        fail "cannot give avahi's name to $(id -un)"
fi
avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-chroot --no-rlimits >"$work/avahi.log" 2>&1 &
pids+=($!)
wait_for 10 avahi-resolve -4 -n quorvel-fixture.local || fail "avahi does not answer: $(tail -n5 "$work/avahi.log")"

cups_dir="$work/cups"
CUPS_SERVER=$("$HARNESS" start "$cups_dir") || fail "cannot start the scheduler"
export CUPS_SERVER QUORVEL_CUPS_DIR="$cups_dir" QUORVEL_CUPS_HARNESS="$HARNESS"
"$HARNESS" add-queue "$cups_dir" local_queue || fail "no local queue"
export QUORVEL_LOCAL_QUEUE=local_queue

remote_dir="$work/remote"
remote_port=8631
"$HARNESS" start "$remote_dir" "$remote_port" >/dev/null || fail "cannot start the remote scheduler"
"$HARNESS" add-queue "$remote_dir" remote_queue || fail "no remote queue"
export QUORVEL_REMOTE_SERVER="127.0.0.1:$remote_port" QUORVEL_REMOTE_DIR="$remote_dir"
export QUORVEL_REMOTE_QUEUE=remote_queue

# The schedulers check a password through PAM's "cups" service: here, inside
# this mount namespace only, one that takes the user running this with this
# password (pam_exec hands the password over on stdin, ended by a NUL).
export QUORVEL_PASSWORD="Школа 7 пароль"
printf '%s' "$QUORVEL_PASSWORD" >"$work/password"
cat >"$work/check-password" <<CHECK
#!/bin/bash
IFS= read -r -d '' given
[ "\${PAM_USER:-}" = "$login_name" ] && [ "\$given" = "\$(cat "$work/password")" ]
CHECK
chmod 0755 "$work/check-password"
printf 'auth required pam_exec.so expose_authtok quiet %s\naccount required pam_permit.so\n' \
    "$work/check-password" >"$work/pam-cups"
mount --bind "$work/pam-cups" /etc/pam.d/cups || fail "cannot put a PAM service of the fixture's own in place"
"$HARNESS" add-queue "$remote_dir" password_queue capture printer-op-policy=password ||
    fail "no queue that wants a password"
export QUORVEL_PASSWORD_QUEUE=password_queue

# The printers' print command: it keeps the attributes of each job (given
# to it as IPP_* variables) next to the job's document.
cat >"$work/keep-attributes" <<'EOF'
#!/bin/sh
env | grep '^IPP_' | sort >"$1.attrs.part" && mv -f "$1.attrs.part" "$1.attrs"
EOF
chmod 0755 "$work/keep-attributes"

# A printer that takes its time: a second a page, each page reported done,
# out of paper for four seconds after the first page (it says so), and a
# mark once the whole job is out.
cat >"$work/print-slowly" <<'SLOW'
#!/bin/sh
pages=$(pdfinfo "$1" 2>/dev/null | awk '/^Pages:/ { print $2 }')
i=0
while [ "$i" -lt "${pages:-1}" ]; do
    sleep 1
    i=$((i + 1))
    echo "ATTR: job-impressions-completed=$i" >&2
    if [ "$i" = 1 ]; then
        echo "STATE: +media-empty" >&2
        sleep 4
        echo "STATE: -media-empty" >&2
    fi
done
: >"$1.done"
SLOW
chmod 0755 "$work/print-slowly"

# name PORT [COMMAND]: an IPP Everywhere printer taking PDF, two-sided if
# asked, keeping each document; COMMAND prints it (by default, keeps the
# job's attributes).
printer() {
    mkdir -p "$work/spool-$2"
    ippeveprinter -2 -f application/pdf -k -c "${3:-$work/keep-attributes}" -d "$work/spool-$2" -p "$2" "$1" \
        >"$work/ippeve-$2.log" 2>&1 &
    pids+=($!)
    ippeve_pid=$!
}
printer "Quorvel Net" 8632
export QUORVEL_NET_PRINTER=Quorvel_Net QUORVEL_NET_SPOOL="$work/spool-8632"
printer "Quorvel Silent" 8633
silent_pid=$ippeve_pid
export QUORVEL_NET_SILENT=Quorvel_Silent
printer "Quorvel Slow" 8635 "$work/print-slowly"
export QUORVEL_NET_SLOW=Quorvel_Slow QUORVEL_NET_SLOW_SPOOL="$work/spool-8635"
# A service whose host name nobody answers for.
avahi-publish -s -H quorvel-nowhere.local "Quorvel Nowhere" _ipp._tcp 8634 \
    rp=ipp/print "ty=Quorvel Nowhere" pdl=application/pdf UUID=6a1ce7e4-3c1e-4e0f-9d5f-0d0d0d0d0d0d \
    >"$work/publish.log" 2>&1 &
pids+=($!)
export QUORVEL_NET_NOWHERE=Quorvel_Nowhere

# All three announced and the live one answering before the test begins.
# (Parsable output writes a blank as \032.)
for name in Quorvel.032Net Quorvel.032Silent Quorvel.032Nowhere Quorvel.032Slow; do
    wait_for 15 sh -c "avahi-browse -t -p -k _ipp._tcp | grep -q '^+;lo;IPv4;$name;'" ||
        fail "$name not announced"
done
wait_for 15 ipptool -q ipp://127.0.0.1:8632/ipp/print get-printer-attributes.test ||
    fail "Quorvel Net does not answer"
# Its queue set up by hand. Such a queue takes its sides from its driver's
# Duplex setting (a sides-default of its own is not kept), so that is set,
# once the scheduler has made the driver from the printer (it does so after
# lpadmin has returned).
ppd="$cups_dir/ppd/two_sided_queue.ppd"
lpadmin -p two_sided_queue -E -v ipp://127.0.0.1:8632/ipp/print -m everywhere &&
    wait_for 15 grep -q '^\*DefaultDuplex:' "$ppd" &&
    lpadmin -p two_sided_queue -o Duplex=DuplexNoTumble -o copies-default=2 &&
    wait_for 15 grep -q '^\*DefaultDuplex: DuplexNoTumble' "$ppd" ||
    fail "cannot set up the two-sided queue"
export QUORVEL_TWO_SIDED_QUEUE=two_sided_queue
kill -STOP "$silent_pid"

"$@"
