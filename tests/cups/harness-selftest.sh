#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the private scheduler end to end: queues, byte-exact capture through
# lp and through the CUPS C API, held/refused jobs, failing backend, and the
# errors clients see once the scheduler is gone. Needs root, cupsd, gcc,
# libcups2-dev, poppler-utils; uses soffice to make the test PDF.
set -u

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
H="$HERE/cups-harness.sh"
WORK=$(mktemp -d /tmp/quorvel-cups-test.XXXXXX)
DIR="$WORK/sched"
fails=0
started=0

cleanup() {
    [ $started = 1 ] && "$H" stop "$DIR" >/dev/null 2>&1
    rm -rf -- "$WORK"
}
trap cleanup EXIT

ok() { echo "ok   - $*"; }
bad() { echo "FAIL - $*"; fails=$((fails + 1)); }
check() { # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then ok "$what"; else bad "$what"; fi
}

meta_of() { # prints the .meta path whose title= line equals $1
    grep -lx -- "title=$1" "$DIR"/out/*.meta 2>/dev/null | head -n 1
}
data_of() { # data file named in a .meta
    echo "$DIR/out/$(sed -n 's/^file=//p' "$1")"
}

# --- test document with one marker per page
printf 'QUORVEL-MARK-PAGE-1\fQUORVEL-MARK-PAGE-2\n' > "$WORK/doc.txt"
(cd "$WORK" && timeout 120 soffice --headless \
    "-env:UserInstallation=file://$WORK/lo-profile" \
    --convert-to pdf doc.txt >/dev/null 2>&1)
[ -s "$WORK/doc.pdf" ] || { echo "FAIL - soffice did not produce a PDF"; exit 1; }
PDF="$WORK/doc.pdf"

gcc -Wall -o "$WORK/probe" "$HERE/cups-api-probe.c" -lcups \
    || { echo "FAIL - cannot build cups-api-probe.c"; exit 1; }
PROBE="$WORK/probe"

# --- start
t0=$(date +%s%N)
SERVER=$("$H" start "$DIR") || { echo "FAIL - harness start"; exit 1; }
started=1
ok "scheduler started in $((($(date +%s%N) - t0) / 1000000)) ms"
export CUPS_SERVER=$SERVER
check "CUPS_SERVER is the socket in DIR" [ "$SERVER" = "$DIR/cups.sock" -a -S "$SERVER" ]
PID=$(cat "$DIR/cupsd.pid")
check "cupsd.pid names a cupsd using our config" \
    grep -qa -- "$DIR/cupsd.conf" "/proc/$PID/cmdline"
if command -v ss >/dev/null; then
    check "cupsd listens on no TCP port" \
        bash -c "! ss -Hltnp | grep -q 'pid=$PID,'"
fi
check "start refuses a folder that is in use" bash -c "! '$H' start '$DIR' 2>/dev/null"

"$H" add-queue "$DIR" Q1 && "$H" add-queue "$DIR" Q2 && "$H" add-queue "$DIR" 'Принтер' \
    && "$H" add-queue "$DIR" Broken fail
check "queues created" [ $? = 0 ]

# --- lp submission: data must arrive untouched
lp -d Q1 -t "Title via lp" "$PDF" >/dev/null
"$H" wait-jobs "$DIR" 1 20 >/dev/null
m=$(meta_of "Title via lp")
if [ -n "$m" ]; then
    d=$(data_of "$m")
    check "lp job captured byte-identical" cmp -s "$PDF" "$d"
    check "pdftotext reads both page markers" \
        bash -c "pdftotext '$d' - | grep -q QUORVEL-MARK-PAGE-1 && pdftotext '$d' - | grep -q QUORVEL-MARK-PAGE-2"
    check "meta names queue Q1" grep -qx 'printer=Q1' "$m"
    check "meta records application/pdf" grep -qx 'content-type=application/pdf' "$m"
else
    bad "lp job captured"
fi

# --- C API submission with copies
out=$("$PROBE" submit Q2 "$PDF" "Title via API" 2)
check "C API submit returns a job id ($out)" bash -c "[[ '$out' == 'job-id '* ]]"
"$H" wait-jobs "$DIR" 2 20 >/dev/null
m=$(meta_of "Title via API")
if [ -n "$m" ]; then
    check "C API job captured byte-identical" cmp -s "$PDF" "$(data_of "$m")"
    check "copies reach the backend as argument" grep -qx 'copies=2' "$m"
    check "meta job-id matches API job id" grep -qx "job-id=${out#job-id }" "$m"
else
    bad "C API job captured"
fi

out=$("$PROBE" submit 'Принтер' "$PDF" 'Заголовок')
"$H" wait-jobs "$DIR" 3 20 >/dev/null
m=$(meta_of 'Заголовок')
check "Cyrillic queue and title work ($out)" bash -c "[ -n '$m' ] && grep -qx 'printer=Принтер' '$m'"

# --- destinations
out=$("$PROBE" dests)
check "cupsGetDests2 lists the queues" \
    bash -c "grep -qx 'dest Q1' <<<'$out' && grep -qx 'dest Q2' <<<'$out' && grep -qx 'dest Принтер' <<<'$out'"

# --- refused, unknown, held
"$H" reject "$DIR" Q1
out=$("$PROBE" submit Q1 "$PDF" refused)
check "rejecting queue: create-job fails with not-accepting-jobs" \
    grep -q '^error create-job server-error-not-accepting-jobs 0x0506' <<<"$out"
"$H" accept "$DIR" Q1

out=$("$PROBE" submit NoSuchQueue "$PDF" unknown)
check "unknown queue: create-job fails with internal-error/ENOENT" \
    grep -q '^error create-job server-error-internal-error 0x0500: No such file or directory' <<<"$out"
out=$("$PROBE" named NoSuchQueue)
check "unknown queue: lookup says not-found" \
    grep -q '^error get-named-dest client-error-not-found 0x0406' <<<"$out"

"$H" disable "$DIR" Q2
out=$("$PROBE" submit Q2 "$PDF" "held job")
check "disabled queue still takes the job ($out)" bash -c "[[ '$out' == 'job-id '* ]]"
sleep 2
check "disabled queue holds the job" [ -z "$(meta_of "held job")" ]
"$H" enable "$DIR" Q2
"$H" wait-jobs "$DIR" 4 20 >/dev/null
check "held job prints once enabled" [ -n "$(meta_of "held job")" ]

# --- failing backend: job ends aborted, nothing captured
out=$("$PROBE" submit Broken "$PDF" "doomed")
id=${out#job-id }
for _ in $(seq 1 50); do
    lpstat -W completed -o Broken 2>/dev/null | grep -q "^Broken-$id " && break
    sleep 0.1
done
check "failing backend: job completes without capture" \
    bash -c "lpstat -W completed -o Broken | grep -q '^Broken-$id ' && [ -z \"\$(grep -lx 'title=doomed' '$DIR'/out/*.meta)\" ]"

# --- wait-jobs is bounded
t0=$SECONDS
"$H" wait-jobs "$DIR" 99 2 >/dev/null 2>&1
rc=$?
check "wait-jobs gives up after its timeout" [ $rc -ne 0 -a $((SECONDS - t0)) -le 4 ]

"$H" delete-queue "$DIR" Q1
check "deleted queue is gone" bash -c "! lpstat -p Q1 >/dev/null 2>&1"

# --- stop, then what clients see with no scheduler
"$H" stop "$DIR"
started=0
check "stop removed DIR" [ ! -e "$DIR" ]
check "stop ended cupsd" bash -c "! grep -qa -- '$DIR/cupsd.conf' /proc/$PID/cmdline 2>/dev/null"
out=$("$PROBE" dests)
check "scheduler down: no dests, service-unavailable" \
    bash -c "grep -q '^count 0 ' <<<'$out' && grep -q 'server-error-service-unavailable' <<<'$out'"
out=$("$PROBE" submit Q2 "$PDF" down)
check "scheduler down: create-job fails like an unknown queue" \
    grep -q '^error create-job server-error-internal-error 0x0500' <<<"$out"
out=$("$PROBE" ping)
check "scheduler down: connect fails with service-unavailable" \
    grep -q '^error connect server-error-service-unavailable' <<<"$out"

echo
[ $fails = 0 ] && echo "all checks passed" || echo "$fails check(s) failed"
[ $fails = 0 ]
