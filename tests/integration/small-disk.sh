#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs COMMAND with a small file system of its own, for tests of a full
# temporary folder: a tmpfs in a private user and mount namespace, which
# needs no root. COMMAND finds it at $QUORVEL_SMALL_DISK and runs as the
# calling user (the session and accessibility buses take no other). The
# mount goes with the namespace when COMMAND ends, however it ends; the
# empty folder it sat on is removed.
#
#   small-disk.sh COMMAND [ARGS...]
#
# Exit status: COMMAND's; 77 when user namespaces are not available here.
set -u
[ $# -gt 0 ] || { sed -n '2,11p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2; }
skip() { echo "small-disk: $*; skipped" >&2; exit 77; }
command -v unshare >/dev/null || skip "unshare missing"
unshare --user --map-root-user --mount true 2>/dev/null || skip "no user namespaces"

dir=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-small-disk.XXXXXX") || exit 1
child=
cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    if [ -n "$child" ]; then
        kill "$child" 2>/dev/null
        wait "$child" 2>/dev/null
    fi
    rmdir -- "$dir"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# Root inside the namespace mounts the tmpfs (room for the engine's profile
# and temporary files), then COMMAND runs as the user again. Each step execs
# the next, so that $child is COMMAND in the end.
export QUORVEL_SMALL_DISK="$dir"
unshare --user --map-root-user --mount --propagation private -- /bin/sh -c '
    mount -t tmpfs -o size=64m,mode=0700 quorvel-small-disk "$QUORVEL_SMALL_DISK" || exit 1
    uid=$1 gid=$2
    shift 2
    exec unshare --user --map-user="$uid" --map-group="$gid" -- "$@"' \
    sh "$(id -u)" "$(id -g)" "$@" &
child=$!
wait "$child"
rc=$?
child=
exit "$rc"
