#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Private CUPS scheduler for tests. Everything it owns lives under one
# folder, and it listens only on DIR/cups.sock, so it never touches a system
# cupsd or its queues. As root, cupsd runs filters and backends as lp, as
# installed; as an ordinary user (as CUPS's own test suite runs it) the
# scheduler, its filters and backends all run as that user, who is also its
# administrator.
#
#   cups-harness.sh start DIR [PORT]          prints the CUPS_SERVER value; with
#                                             PORT it also listens on 127.0.0.1:PORT
#   cups-harness.sh add-queue DIR NAME [MODE] [NAME-default=VALUE...] [printer-op-policy=password]
#                                             MODE: capture (default), fail, slow/SECONDS-A-PAGE,
#                                             nopaper or share (see capture-backend); then the
#                                             queue's own defaults, as lpadmin -o sets them; the
#                                             "password" policy wants a user name and password
#                                             (Basic, checked by PAM's "cups" service) for each job
#   cups-harness.sh load-paper DIR NAME       paper into a nopaper queue, which goes on
#   cups-harness.sh disable|enable DIR NAME   stop/start processing jobs
#   cups-harness.sh reject|accept DIR NAME    refuse/accept new jobs
#   cups-harness.sh delete-queue DIR NAME    the queue and the jobs it captured
#   cups-harness.sh wait-jobs DIR N [TIMEOUT] waits for N captured jobs
#   cups-harness.sh stop DIR                  kills cupsd, removes DIR
set -u
# The daemons and printer tools live in /usr/sbin, which an ordinary user's
# PATH leaves out.
PATH=$PATH:/usr/sbin:/sbin

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BACKEND_SRC="$HERE/capture-backend"
SYS_SERVERBIN=${CUPS_HARNESS_SERVERBIN:-/usr/lib/cups}
CUPSD=${CUPS_HARNESS_CUPSD:-/usr/sbin/cupsd}

die() { echo "cups-harness: $*" >&2; exit 1; }

usage() {
    sed -n '2,20p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

absdir() {
    # Absolute path without requiring it to exist yet.
    case $1 in
        /*) printf '%s\n' "$1" ;;
        *) printf '%s/%s\n' "$(pwd)" "$1" ;;
    esac
}

need_dir() {
    [ -n "${1:-}" ] || usage
    DIR=$(absdir "$1")
    SOCK="$DIR/cups.sock"
}

alive() {
    # A zombie still answers kill -0, so look at its state too.
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

need_running() {
    [ -f "$DIR/cupsd.pid" ] || die "no harness scheduler in $DIR"
    local pid
    pid=$(cat "$DIR/cupsd.pid")
    alive "$pid" || die "cupsd (pid $pid) of $DIR is not running; see $DIR/log/error_log"
}

# A policy NAME: only the administrator changes queues; anyone local may
# print, with JOB_AUTH required for it, and cancel. Titles and users stay
# visible to every local client in job listings.
policy() {
    cat <<EOF
<Policy $1>
  JobPrivateAccess default
  JobPrivateValues none
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer CUPS-Add-Modify-Class CUPS-Delete-Class CUPS-Set-Default CUPS-Get-Devices Pause-Printer Resume-Printer Enable-Printer Disable-Printer Pause-Printer-After-Current-Job Hold-New-Jobs Release-Held-New-Jobs Deactivate-Printer Activate-Printer Restart-Printer Shutdown-Printer Startup-Printer Promote-Job Schedule-Job-After Cancel-Jobs CUPS-Accept-Jobs CUPS-Reject-Jobs>
    AuthType Default
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit Create-Job Print-Job Print-URI Validate-Job Send-Document Send-URI>
    $2
    Order deny,allow
  </Limit>
  <Limit Cancel-Job Cancel-My-Jobs Close-Job CUPS-Get-Document>
    Order deny,allow
  </Limit>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
}

write_config() {
    cat > "$DIR/cups-files.conf" <<EOF
ServerRoot $DIR
RequestRoot $DIR/spool
TempDir $DIR/spool/tmp
CacheDir $DIR/cache
StateDir $DIR/state
ServerBin $DIR/serverbin
ServerKeychain $DIR/ssl
AccessLog $DIR/log/access_log
ErrorLog $DIR/log/error_log
PageLog $DIR/log/page_log
Printcap $DIR/printcap
User $RUN_USER
Group $RUN_GROUP
SystemGroup $SYSTEM_GROUP
FileDevice No
CreateSelfSignedCerts no
LogFilePerm 0644
FatalErrors config
EOF

    cat > "$DIR/cupsd.conf" <<EOF
# Only the Unix socket (and the loopback port if asked for): no sharing,
# no DNS-SD.
Listen $SOCK
${PORT:+Listen 127.0.0.1:$PORT}
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
LogLevel debug
MaxLogSize 0
# The administrator (root, or the user running the scheduler) is known by
# peer credentials on the socket; only they may change queues, anyone local
# may print.
DefaultAuthType Basic
PreserveJobHistory Yes
PreserveJobFiles No
# Retry quickly so a "fail" queue does not stall a test for minutes.
JobRetryInterval 1
JobRetryLimit 1
ErrorPolicy abort-job
<Location />
  Order allow,deny
  Allow all
</Location>
$(policy default "")
# A print server that wants a user name and password for each job.
$(policy password "AuthType Basic
    Require valid-user")
EOF
}

build_serverbin() {
    local sb="$DIR/serverbin" sub
    mkdir -p "$sb/backend"
    for sub in "$SYS_SERVERBIN"/*; do
        [ -d "$sub" ] || continue
        [ "$(basename "$sub")" = backend ] && continue
        ln -s "$sub" "$sb/$(basename "$sub")"
    done
    # Network printers (driverless IPP queues that CUPS creates itself) need
    # the IPP backend; nothing else of the system's backends is offered.
    local b
    for b in ipp ipps http https; do
        [ -e "$SYS_SERVERBIN/backend/$b" ] && ln -s "$SYS_SERVERBIN/backend/$b" "$sb/backend/$b"
    done
    # A 0700 backend owned by root is run as root by cupsd, so it can write
    # into DIR/out whatever the permissions of DIR are. An ordinary user's
    # scheduler runs it as that user, who owns DIR.
    install -m 0700 "$BACKEND_SRC" "$sb/backend/capture"
}

# Who the scheduler runs as, and who may administer it.
set_run_user() {
    if [ "$(id -u)" = 0 ]; then
        RUN_USER=lp RUN_GROUP=lp SYSTEM_GROUP=root
    else
        RUN_USER=$(id -un) RUN_GROUP=$(id -gn) SYSTEM_GROUP=$(id -gn)
    fi
}

cmd_start() {
    need_dir "${1:-}"
    PORT=${2:-}
    [ -z "$PORT" ] || [[ $PORT =~ ^[0-9]+$ ]] || usage
    set_run_user
    [ -x "$CUPSD" ] || die "$CUPSD not found (apt-get install cups)"
    [ -f "$BACKEND_SRC" ] || die "missing $BACKEND_SRC"
    # sun_path holds 108 bytes including the terminating NUL.
    [ ${#SOCK} -le 100 ] || die "socket path too long for a Unix socket: $SOCK"
    if [ -e "$DIR" ]; then
        [ -d "$DIR" ] && [ -z "$(ls -A "$DIR")" ] || die "$DIR exists and is not an empty folder"
    fi
    mkdir -p "$DIR" || die "cannot create $DIR"
    chmod 0755 "$DIR"
    mkdir -p "$DIR"/{spool/tmp,cache,state,ssl,log,ppd,out,paper}
    [ "$(id -u)" != 0 ] || chown root:lp "$DIR/spool" "$DIR/spool/tmp" "$DIR/cache" "$DIR/state"
    chmod 0710 "$DIR/spool"
    chmod 1770 "$DIR/spool/tmp"
    chmod 0770 "$DIR/cache"
    chmod 0755 "$DIR/state"
    write_config
    build_serverbin
    # Only a scheduler run as root hands a job's credentials to its backend.
    [ "$(id -u)" != 0 ] || : >"$DIR/passes-credentials"

    # New session so a Ctrl-C in the calling shell does not reach cupsd, and
    # no inherited stdout keeps a caller's $(...) waiting for it.
    setsid "$CUPSD" -f -c "$DIR/cupsd.conf" -s "$DIR/cups-files.conf" \
        </dev/null >>"$DIR/log/cupsd.out" 2>&1 &
    local pid=$!
    echo "$pid" > "$DIR/cupsd.pid"
    # setsid execs in place here (we are not a group leader), so $! is cupsd.

    local i
    for i in $(seq 1 100); do
        if ! alive "$pid"; then
            tail -n 20 "$DIR/log/cupsd.out" "$DIR/log/error_log" >&2 2>/dev/null
            die "cupsd exited during startup"
        fi
        if [ -S "$SOCK" ] && lpstat -h "$SOCK" -r 2>/dev/null | grep -q 'scheduler is running'; then
            printf '%s\n' "$SOCK"
            return 0
        fi
        sleep 0.1
    done
    kill "$pid" 2>/dev/null
    die "cupsd did not answer on $SOCK within 10 s; see $DIR/log/error_log"
}

cmd_add_queue() {
    need_dir "${1:-}"
    local name=${2:-} mode=${3:-capture}
    [ -n "$name" ] || usage
    need_running
    local defaults=() d
    for d in "${@:4}"; do
        [[ $d =~ ^([a-z-]+-default=[^[:space:]]+|printer-op-policy=(default|password))$ ]] ||
            die "not a queue default or policy: '$d'"
        defaults+=(-o "$d")
    done
    local uri
    case $mode in
        capture) uri="capture:/store" ;;
        fail|nopaper) uri="capture:/$mode" ;;
        slow/[0-9]*) uri="capture:/$mode" ;;
        # What a queue printing to a Windows share asks of each job.
        share) uri="capture:/share"; defaults+=(-o auth-info-required=username,password) ;;
        *) die "unknown queue mode '$mode' (capture|fail|slow/N|nopaper|share)" ;;
    esac
    # Raw queue: no PPD, no filters, the backend gets the submitted bytes.
    # lpadmin warns that raw queues are deprecated; that line is dropped.
    local err
    if ! err=$(lpadmin -h "$SOCK" -p "$name" -E -v "$uri" -m raw \
            -D "quorvel test queue ($mode)" "${defaults[@]}" 2>&1); then
        printf '%s\n' "$err" >&2
        die "lpadmin could not create queue '$name'"
    fi
    printf '%s\n' "$err" | grep -v -e deprecated -e '^$' >&2
    return 0
}

cmd_simple() {
    local tool=$1
    need_dir "${2:-}"
    local name=${3:-}
    [ -n "$name" ] || usage
    need_running
    "$tool" -h "$SOCK" "$name"
}

# The jobs a queue of this name captured and the paper loaded into it: a
# queue made again under the name (a test run twice) starts with neither.
forget_queue() {
    rm -f -- "$DIR/paper/$1"
    local meta
    for meta in "$DIR"/out/*.meta; do
        [ -e "$meta" ] && grep -qxF "printer=$1" "$meta" || continue
        rm -f -- "$DIR/out/$(sed -n 's/^file=//p' "$meta")" "$meta"
    done
}

cmd_delete_queue() {
    need_dir "${1:-}"
    local name=${2:-}
    [ -n "$name" ] || usage
    need_running
    lpadmin -h "$SOCK" -x "$name" && forget_queue "$name"
}

cmd_load_paper() {
    need_dir "${1:-}"
    local name=${2:-}
    [ -n "$name" ] || usage
    need_running
    : >"$DIR/paper/$name" && cupsenable -h "$SOCK" "$name"
}

cmd_wait_jobs() {
    need_dir "${1:-}"
    local want=${2:-} timeout=${3:-30}
    [[ $want =~ ^[0-9]+$ ]] || usage
    [[ $timeout =~ ^[0-9]+$ ]] || usage
    local deadline=$((SECONDS + timeout)) have
    while :; do
        # A job counts once its .meta exists: the backend writes it last.
        have=$(find "$DIR/out" -maxdepth 1 -name '*.meta' 2>/dev/null | wc -l)
        [ "$have" -ge "$want" ] && { echo "$have"; return 0; }
        [ $SECONDS -ge $deadline ] && break
        sleep 0.1
    done
    echo "cups-harness: only $have of $want jobs captured after ${timeout}s" >&2
    lpstat -h "$SOCK" -W all -l -o 2>/dev/null | head -n 40 >&2
    return 1
}

cmd_stop() {
    need_dir "${1:-}"
    [ -d "$DIR" ] || return 0
    if [ -f "$DIR/cupsd.pid" ]; then
        local pid i
        pid=$(cat "$DIR/cupsd.pid")
        # Only signal the process if it really is our cupsd for this DIR.
        if alive "$pid" && grep -qa -- "$DIR/cupsd.conf" "/proc/$pid/cmdline" 2>/dev/null; then
            kill -TERM "$pid"
            for i in $(seq 1 100); do
                alive "$pid" || break
                sleep 0.1
            done
            if alive "$pid"; then
                kill -KILL "$pid"
                sleep 0.2
            fi
        fi
    fi
    # Refuse to remove anything that does not look like a harness folder.
    [ -f "$DIR/cups-files.conf" ] && [ -d "$DIR/serverbin" ] || die "$DIR is not a harness folder; not removing it"
    rm -rf -- "$DIR"
}

sub=${1:-}
[ $# -gt 0 ] && shift
case $sub in
    start) cmd_start "$@" ;;
    add-queue) cmd_add_queue "$@" ;;
    disable) cmd_simple cupsdisable "$@" ;;
    enable) cmd_simple cupsenable "$@" ;;
    reject) cmd_simple cupsreject "$@" ;;
    accept) cmd_simple cupsaccept "$@" ;;
    delete-queue) cmd_delete_queue "$@" ;;
    wait-jobs) cmd_wait_jobs "$@" ;;
    load-paper) cmd_load_paper "$@" ;;
    stop) cmd_stop "$@" ;;
    *) usage ;;
esac
