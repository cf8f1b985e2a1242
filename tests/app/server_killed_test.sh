#!/usr/bin/env bash
# The database server dies in the middle of make-server's restore. The test
# needs a server that may be killed, so it starts a private one in its own
# process, network and mount namespaces (the machine's server is never
# touched), runs the disabled test MakeServerFaultTest.DISABLED_ServerKilledMidRestore
# of the given test program there, and everything ends with the namespaces.
#
#   server_killed_test.sh <commands_fault_tests program>
#
# Needs root, unshare and ip; exits 77 (skipped) without them.
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SCRIPTS=$HERE/../../scripts

if [ "${1:-}" != --inside ]; then
    PROGRAM=${1:?usage: $0 <test program>}
    if [ "$(id -u)" -ne 0 ]; then
        echo "skipped: needs root" >&2
        exit 77
    fi
    if ! command -v ip >/dev/null 2>&1 || ! command -v unshare >/dev/null 2>&1; then
        echo "skipped: unshare or ip is missing" >&2
        exit 77
    fi
    if ! unshare --pid --fork --mount-proc --net --mount true 2>/dev/null; then
        echo "skipped: new namespaces are not allowed here" >&2
        exit 77
    fi
    SBX=$(mktemp -d /tmp/slv-server-killed.XXXXXX)
    trap 'rm -rf "$SBX"' EXIT
    mkdir -p "$SBX/etc" "$SBX/system" "$SBX/log" "$SBX/lock" "$SBX/run"
    cp -a /etc/firebird/3.0/. "$SBX/etc/"
    # The same accounts as the machine's server: a copy of its security
    # database.
    cp -a /var/lib/firebird/3.0/system/. "$SBX/system/"
    chown firebird:firebird "$SBX/system" "$SBX/log" "$SBX/lock" "$SBX/run"
    chmod 0770 "$SBX/system" "$SBX/log" "$SBX/lock" "$SBX/run"
    unshare --pid --fork --mount-proc --net --mount \
        env SBX="$SBX" bash "${BASH_SOURCE[0]}" --inside "$PROGRAM"
    exit $?
fi

# ---- inside the namespaces ----------------------------------------------------
PROGRAM=$2
ip link set lo up || exit 1
mkdir -p /tmp/firebird /run/firebird3.0
mount --bind "$SBX/etc" /etc/firebird/3.0
mount --bind "$SBX/system" /var/lib/firebird/3.0/system
mount --bind "$SBX/log" /var/log/firebird
mount --bind "$SBX/lock" /tmp/firebird
mount --bind "$SBX/run" /run/firebird3.0
bash "$SCRIPTS/fbserver.sh" start --state "$SBX/state" || exit 1
SLV_PRIVATE_SERVER=1 \
    SLV_PRIVATE_SERVER_RESTART="bash '$SCRIPTS/fbserver.sh' start --state '$SBX/state'" \
    "$PROGRAM" --gtest_also_run_disabled_tests \
    --gtest_filter=MakeServerFaultTest.DISABLED_ServerKilledMidRestore
rc=$?
bash "$SCRIPTS/fbserver.sh" stop --state "$SBX/state" >/dev/null 2>&1
exit $rc
