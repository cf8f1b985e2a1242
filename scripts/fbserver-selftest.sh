#!/usr/bin/env bash
# Proves scripts/fbserver.sh on a private Firebird server, without touching
# the server of this machine: the check runs in its own process, network and
# mount namespaces, with a fresh security database (as left by a package
# install that could not start the server) in place of the real one.
#
# Checked: start from nothing (which needs the SYSDBA password to be set),
# from a shell without a locale (the server must still take non-ASCII file
# names), reuse of a server that answers, stop of only the recorded guardian, a stale
# state file, and stop when nothing was started. The namespace gets Debian's
# stock /etc/hosts, where localhost names ::1 first: the server started must
# still answer on 127.0.0.1 (without a change to firebird.conf), and a server
# that listens only on ::1, or where the user's own setting says, is reported
# at once.
#
# Needs root, unshare and ip; exits 77 (skipped) without them.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

if [ "${1:-}" != --inside ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "skipped: needs root" >&2
        exit 77
    fi
    if ! command -v ip >/dev/null 2>&1; then
        echo "skipped: the ip tool (iproute2) is not installed" >&2
        exit 77
    fi
    if ! err=$(unshare --pid --fork --mount-proc --net --mount true 2>&1); then
        echo "skipped: new namespaces cannot be made here: $err" >&2
        case $err in
            *propagation*) echo "(in a chroot, bind-mount its root folder onto itself before entering it)" >&2 ;;
        esac
        exit 77
    fi
    [ -x /usr/sbin/fbguard ] && [ -f /usr/share/firebird/3.0/security.sql ] ||
        slv_die "firebird3.0-server is not installed (bash scripts/setup.sh)"
    SBX=$(mktemp -d /tmp/slv-fbserver-check.XXXXXX)
    trap 'rm -rf "$SBX"' EXIT
    mkdir -p "$SBX/etc" "$SBX/system" "$SBX/log" "$SBX/lock" "$SBX/run" "$SBX/data"
    chmod 0755 "$SBX"
    chmod 0777 "$SBX/data"
    cp -a /etc/firebird/3.0/. "$SBX/etc/"
    printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\nff02::1\t\tip6-allnodes\nff02::2\t\tip6-allrouters\n' \
        >"$SBX/hosts"
    chmod 0644 "$SBX/hosts"
    chown firebird:firebird "$SBX/system" "$SBX/log" "$SBX/lock" "$SBX/run"
    chmod 0770 "$SBX/system" "$SBX/log" "$SBX/lock" "$SBX/run"
    unshare --pid --fork --mount-proc --net --mount \
        env SBX="$SBX" bash "${BASH_SOURCE[0]}" --inside
    exit $?
fi

# ---- inside the namespaces ----------------------------------------------------
FAILS=0
ok() { printf 'ok    %s\n' "$*"; }
bad() {
    printf 'FAIL  %s\n' "$*"
    FAILS=$((FAILS + 1))
}
check() {
    local what=$1
    shift
    if "$@"; then ok "$what"; else bad "$what"; fi
}
fb_processes() { ps -C fbguard,firebird -o stat= 2>/dev/null | grep -qv '^ *Z'; }
FBS=$SLV_SCRIPTS_DIR/fbserver.sh
ST=$SBX/state

ip link set lo up || slv_die "cannot bring up the loopback interface"
# A /run of our own: the server script keeps files there.
mount -t tmpfs -o mode=0755 tmpfs /run
mkdir -p /tmp/firebird /run/firebird3.0
mount --bind "$SBX/etc" /etc/firebird/3.0
mount --bind "$SBX/system" /var/lib/firebird/3.0/system
mount --bind "$SBX/log" /var/log/firebird
mount --bind "$SBX/lock" /tmp/firebird
mount --bind "$SBX/run" /run/firebird3.0
mount --bind "$SBX/hosts" /etc/hosts

# A fresh security database, made the way the package makes it.
(
    setpriv --reuid=firebird --regid=firebird --init-groups bash -c '
        set -e
        export LANG=C
        echo "create database '\''/var/lib/firebird/3.0/system/security3.fdb'\'';" | isql-fb -q
        isql-fb -q -user SYSDBA -i /usr/share/firebird/3.0/security.sql /var/lib/firebird/3.0/system/security3.fdb
    ' >/dev/null
) || slv_die "cannot make a fresh security database"
sed -i 's/^ *ISC_PASSWORD=.*/ISC_PASSWORD="not-the-suites"/' /etc/firebird/3.0/SYSDBA.password 2>/dev/null || true

CONF=/etc/firebird/3.0/firebird.conf
CONF_SUM=$(md5sum <"$CONF")
listens_on() { slv_listen_addresses | grep -qxF "$1"; }
# Starts a guardian the way a system service would (not through the script),
# and waits until its server listens somewhere. Sets OTHER_GUARDIAN.
start_other_server() {
    setsid setpriv --reuid=firebird --regid=firebird --init-groups \
        /usr/sbin/fbguard -onetime -pidfile /run/firebird3.0/firebird.pid </dev/null >/dev/null 2>&1 &
    OTHER_GUARDIAN=$!
    local _
    for _ in $(seq 60); do
        [ -n "$(slv_listen_addresses)" ] && return 0
        sleep 0.25
    done
    return 1
}
stop_other_server() {
    kill -TERM "$OTHER_GUARDIAN" 2>/dev/null
    local _
    for _ in $(seq 80); do
        fb_processes || return 0
        sleep 0.25
    done
    return 1
}
# Runs "start" that must fail: true when it failed within 15 seconds (the
# time-out is 30) with every given text in its output (left in START_OUT).
start_fails_at_once_saying() {
    local t0=$SECONDS rc=0
    START_OUT=$(bash "$FBS" start --state "$ST" 2>&1) || rc=$?
    sed 's/^/      | /' <<<"$START_OUT"
    [ $rc -ne 0 ] || return 1
    local text
    for text in "$@"; do
        grep -qF -- "$text" <<<"$START_OUT" || { echo "missing: $text"; return 1; }
    done
    [ $((SECONDS - t0)) -lt 15 ] || { echo "took $((SECONDS - t0))s"; return 1; }
}
HAS_IPV6=0
grep -q . /proc/net/if_inet6 2>/dev/null && HAS_IPV6=1
if [ $HAS_IPV6 -eq 1 ]; then
    check "localhost names ::1 first here, as in Debian's stock hosts file" \
        test "$(getent ahosts localhost | awk 'NR == 1 { print $1 }')" = ::1
else
    echo "note: no IPv6 here; the checks of a server on ::1 are left out"
fi

check "nothing answers at first" bash -c "! bash '$FBS' status --state '$ST' >/dev/null"
# Started from a shell without a locale, as from cron or a bare root shell.
check "start sets the password and starts the server" \
    env -u LANG -u LC_ALL -u LC_CTYPE bash "$FBS" start --state "$ST"
check "the state file records a guardian" grep -q '^guardian_pid=[0-9]' "$ST"
gpid=$(sed -n 's/^guardian_pid=//p' "$ST")
check "the guardian runs as firebird" test "$(ps -o user= -p "$gpid" | tr -d ' ')" = firebird
check "the server listens on 127.0.0.1 (localhost names ::1 first)" listens_on 127.0.0.1
check "... and firebird.conf is left as it was" test "$(md5sum <"$CONF")" = "$CONF_SUM"
check "the server answers with the suite's password" slv_fb_probe
korean_database() {
    local out
    out=$(printf "CREATE DATABASE '%s:%s' USER '%s' PASSWORD '%s';\n" \
        "$SLV_FB_HOST" "$SBX/data/백업 자료.fdb" "$SLV_FB_USER" "$SLV_FB_PASSWORD" |
        env -u ISC_USER -u ISC_PASSWORD LC_ALL=C.UTF-8 isql-fb -q -b -ch UTF8 2>&1) || { echo "$out"; return 1; }
    test -f "$SBX/data/백업 자료.fdb"
}
check "... and takes a Korean database name (the server has a UTF-8 locale)" korean_database
check "the password note is in step" grep -qF "ISC_PASSWORD=\"$SLV_FB_PASSWORD\"" /etc/firebird/3.0/SYSDBA.password
check "a second start reuses the server" bash "$FBS" start --state "$ST.other"
check "... and records nothing" test ! -e "$ST.other"
check "stop without a record stops nothing" bash "$FBS" stop --state "$ST.other"
check "... and the server still answers" slv_fb_probe
check "stop ends the recorded guardian" bash "$FBS" stop --state "$ST"
check "... and the server no longer answers" bash -c "! bash '$FBS' status >/dev/null"
check "... and no Firebird process is left" bash -c "! ps -C fbguard,firebird -o stat= | grep -qv '^ *Z'"
check "... and the state file is gone" test ! -e "$ST"
check "a second stop is harmless" bash "$FBS" stop --state "$ST"
check "start again (password already set)" bash "$FBS" start --state "$ST"
gpid=$(sed -n 's/^guardian_pid=//p' "$ST")
kill -KILL "$gpid"
spid=$(cat /run/firebird3.0/firebird.pid 2>/dev/null || true)
[ -n "$spid" ] && kill -KILL "$spid" 2>/dev/null
sleep 1
check "start after the guardian died behind our back" bash "$FBS" start --state "$ST"
check "... answers" slv_fb_probe
check "final stop" bash "$FBS" stop --state "$ST"
check "... leaves nothing behind" bash -c "! ps -C fbguard,firebird -o stat= | grep -qv '^ *Z'"

if [ $HAS_IPV6 -eq 1 ]; then
    # A server started outside these scripts with the stock configuration.
    if start_other_server; then
        check "a server started with the stock configuration listens on ::1 only" \
            test "$(slv_listen_addresses)" = ::1
        check "start says at once what to change about a server on ::1" \
            start_fails_at_once_saying "[::1]:3050" "RemoteBindAddress = localhost" \
            "RemoteBindAddress = 127.0.0.1" "left alone"
        check "... records nothing" test ! -e "$ST"
        check "... and leaves that server running" kill -0 "$OTHER_GUARDIAN"
        check "... until it is stopped" stop_other_server
    else
        bad "a server started with the stock configuration listens"
        stop_other_server
    fi

    # The user's own choice of address is kept, and reported.
    sed -i 's/^\([[:space:]]*RemoteBindAddress[[:space:]]*=\).*/\1 ::1/' "$CONF"
    check "start with RemoteBindAddress = ::1 fails at once, saying so" \
        start_fails_at_once_saying "[::1]:3050" "RemoteBindAddress = ::1" "RemoteBindAddress = 127.0.0.1"
    check "... stops the server it started" bash -c "! ps -C fbguard,firebird -o stat= | grep -qv '^ *Z'"
    check "... forgets it" test ! -e "$ST"
    check "... and keeps the user's setting" grep -qE '^ *RemoteBindAddress *= *::1$' "$CONF"
fi

if fb_processes; then
    ps -o pid=,user=,stat=,args= -C fbguard,firebird
fi
if [ $FAILS -eq 0 ]; then
    echo "fbserver.sh: all checks passed"
else
    echo "fbserver.sh: $FAILS check(s) failed"
fi
[ $FAILS -eq 0 ]
