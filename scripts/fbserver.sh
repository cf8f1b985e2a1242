#!/usr/bin/env bash
# Starts, stops and reports the local Firebird 3 server used by the tests and
# by the demo set-up, without systemd.
#
#   fbserver.sh start  [--state FILE]   start the server unless one answers
#   fbserver.sh stop   [--state FILE]   stop the server recorded in FILE
#   fbserver.sh status [--state FILE]   tell whether a server answers
#
# The server runs as the user "firebird" under its guardian (fbguard). A
# server that already answers is reused and never stopped by this script:
# "start" records the guardian's process id in the state file only when it
# started the guardian itself, and "stop" only ever signals that recorded
# process. The default state file is /run/slv-fbserver.state.
#
# When the server we started refuses the suite's SYSDBA password (a machine
# where Firebird was installed before with another password), "start" stops
# it again, sets the password in the security database and starts it anew.
#
# The server we start listens on 127.0.0.1 (the address the scripts, the
# tests and the tool connect to), whatever "localhost" names on this machine:
# see own_root below. A server that listens on the port but not on that
# address is reported at once, with what to change.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

FBGUARD=/usr/sbin/fbguard
PIDFILE=/run/firebird3.0/firebird.pid
SECURITY_DB=/var/lib/firebird/3.0/system/security3.fdb
PASSWORD_FILE=/etc/firebird/3.0/SYSDBA.password
FB_LOG=/var/log/firebird/firebird3.0.log
FB_CONF=/etc/firebird/3.0/firebird.conf
# The server's root folder (the .conf files, firebird.msg, plugins, intl).
FB_ROOT_GLOB='/usr/lib/*/firebird/3.0'
# The root folder of our own that the server we start may get (own_root).
# Not under /run/firebird3.0: that folder belongs to the server's user, and
# root writes into this one.
OWN_ROOT=/run/slv-fbserver-root
START_TIMEOUT=${SLV_FB_START_TIMEOUT:-30}
STOP_TIMEOUT=${SLV_FB_STOP_TIMEOUT:-30}

usage() {
    echo "usage: $0 start|stop|status [--state FILE]" >&2
    exit 64
}

ACTION=${1:-}
[ -n "$ACTION" ] || usage
shift
STATE=${SLV_FBSERVER_STATE:-/run/slv-fbserver.state}
while [ $# -gt 0 ]; do
    case $1 in
        --state) [ $# -ge 2 ] || usage; STATE=$2; shift 2 ;;
        --state=*) STATE=${1#--state=}; shift ;;
        *) usage ;;
    esac
done
case $STATE in /*) ;; *) STATE=$PWD/$STATE ;; esac

# Starting and stopping need root (the server runs as another user).
if [ "$ACTION" != status ] && [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || slv_die "'$ACTION' needs root rights and sudo is not installed"
    exec sudo env SLV_FB_HOST="$SLV_FB_HOST" SLV_FB_PORT="$SLV_FB_PORT" \
        SLV_FB_START_TIMEOUT="$START_TIMEOUT" SLV_FB_STOP_TIMEOUT="$STOP_TIMEOUT" \
        bash "$0" "$ACTION" --state "$STATE"
fi

# ---- processes ------------------------------------------------------------

# Start time of a process in clock ticks since boot (field 22 of its stat
# line): together with the process id it names one process for good.
start_ticks() {
    local line
    line=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    line=${line##*) }
    set -- $line
    printf '%s' "${20}"
}

# True when the process exists and is not a zombie. (A zombie still answers
# kill -0, so kill -0 alone is not enough.)
alive() {
    local stat
    stat=$(ps -o stat= -p "$1" 2>/dev/null | tr -d ' ') || return 1
    [ -n "$stat" ] && [ "${stat#Z}" = "$stat" ]
}

# True when the process is alive and is the very one recorded (same start).
same_process() {
    local pid=$1 ticks=$2
    alive "$pid" && [ "$(start_ticks "$pid" 2>/dev/null)" = "$ticks" ]
}

# Waits until the process is gone or a zombie; false after $2 seconds.
wait_gone() {
    local pid=$1 limit=$2 i=0
    while alive "$pid"; do
        [ "$i" -ge $((limit * 4)) ] && return 1
        sleep 0.25
        i=$((i + 1))
    done
    return 0
}

# True when a guardian or server process runs (zombies, which only wait for
# their parent, do not count).
any_firebird_process() {
    ps -C fbguard,firebird -o stat= 2>/dev/null | grep -qv '^ *Z'
}

log_tail() {
    if [ -r "$FB_LOG" ]; then
        echo "--- last lines of $FB_LOG ---" >&2
        tail -n 15 "$FB_LOG" >&2
    fi
}

# ---- addresses ----------------------------------------------------------------

# Prints the listeners on the server's port as "[::1]:3050, ..." and
# succeeds when there are some but none takes connections to $SLV_FB_HOST.
# Says nothing (and fails) for a host that is not an IPv4 address.
listens_elsewhere() {
    [[ $SLV_FB_HOST =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || return 1
    local addresses a list=""
    addresses=$(slv_listen_addresses)
    [ -n "$addresses" ] || return 1
    while IFS= read -r a; do
        case $a in
            "$SLV_FB_HOST" | 0.0.0.0 | :: | "::ffff:$SLV_FB_HOST") return 1 ;;
        esac
        case $a in *:*) a="[$a]" ;; esac
        list+="${list:+, }$a:$SLV_FB_PORT"
    done <<<"$addresses"
    printf '%s' "$list"
}

# The RemoteBindAddress set in firebird.conf (the last setting counts), or
# nothing when it is not set.
bind_setting() {
    sed -n 's/^[[:space:]]*RemoteBindAddress[[:space:]]*=[[:space:]]*\([^#[:space:]]*\).*/\1/Ip' \
        "$FB_CONF" 2>/dev/null | tail -n 1
}

# What to change, for a server that listens on $1 but not on $SLV_FB_HOST.
bind_advice() {
    local setting
    setting=$(bind_setting)
    printf 'it listens on %s, not on %s where these scripts, the tests and the tool connect.\n' \
        "$1" "$SLV_FB_HOST"
    if [ -n "$setting" ]; then
        printf '%s sets RemoteBindAddress = %s' "$FB_CONF" "$setting"
        local first
        first=$(getent ahosts localhost 2>/dev/null | awk 'NR == 1 { print $1 }')
        if [ "${setting,,}" = localhost ] && [ -n "$first" ]; then
            printf ', and on this machine localhost names %s first' "$first"
        fi
        printf '.\n'
    fi
    printf 'Set RemoteBindAddress = %s there (or remove the line to listen on every address)' \
        "$SLV_FB_HOST"
}

# Debian's firebird.conf sets RemoteBindAddress = localhost. Where localhost
# names ::1 first (Debian's stock /etc/hosts) the server then listens on
# [::1] only, while everything here connects to 127.0.0.1. So when the
# setting is that default and we connect to a loopback address, the server
# we start gets a root folder of its own (FIREBIRD names it): links to the
# real root's files, and a copy of firebird.conf that binds to the address
# we connect to. The machine's configuration is never changed, and any other
# choice of the user is kept as it is. Sets SERVER_ENV for the guardian.
own_root_needed() {
    local setting
    setting=$(bind_setting)
    [ "${setting,,}" = localhost ] || return 1
    case $SLV_FB_HOST in 127.*.*.* | ::1) return 0 ;; esac
    return 1
}
SERVER_ENV=()
own_root() {
    SERVER_ENV=()
    own_root_needed || return 0
    local root f
    for root in $FB_ROOT_GLOB; do
        [ -f "$root/firebird.msg" ] && break
        root=""
    done
    [ -n "$root" ] || slv_die "cannot find the Firebird server's root folder ($FB_ROOT_GLOB)"
    rm -rf "$OWN_ROOT.new"
    install -d -m 0755 "$OWN_ROOT.new"
    for f in "$root"/*; do
        ln -s "$f" "$OWN_ROOT.new/"
    done
    rm -f "$OWN_ROOT.new/firebird.conf"
    {
        echo "# Written by scripts/fbserver.sh when it started the server: a copy of"
        echo "# $FB_CONF with RemoteBindAddress = $SLV_FB_HOST instead of localhost."
        sed "s/^\([[:space:]]*RemoteBindAddress[[:space:]]*=[[:space:]]*\)localhost\b/\1$SLV_FB_HOST/I" "$FB_CONF"
    } >"$OWN_ROOT.new/firebird.conf" || slv_die "cannot write $OWN_ROOT.new/firebird.conf"
    chmod 0644 "$OWN_ROOT.new/firebird.conf"
    rm -rf "$OWN_ROOT"
    mv "$OWN_ROOT.new" "$OWN_ROOT"
    SERVER_ENV=(FIREBIRD="$OWN_ROOT")
    slv_log "the server will listen on $SLV_FB_HOST: $FB_CONF says RemoteBindAddress = localhost, its copy in $OWN_ROOT says $SLV_FB_HOST"
}

# ---- state file -----------------------------------------------------------

GUARDIAN_PID="" GUARDIAN_TICKS="" SERVER_PID="" SERVER_TICKS=""
read_state() {
    [ -f "$STATE" ] || return 1
    local k v
    while IFS='=' read -r k v; do
        case $k in
            guardian_pid) GUARDIAN_PID=$v ;;
            guardian_ticks) GUARDIAN_TICKS=$v ;;
            server_pid) SERVER_PID=$v ;;
            server_ticks) SERVER_TICKS=$v ;;
        esac
    done <"$STATE"
    [ -n "$GUARDIAN_PID" ] && [ -n "$GUARDIAN_TICKS" ]
}

write_state() {
    mkdir -p "$(dirname "$STATE")"
    local tmp=$STATE.tmp.$$
    {
        echo "guardian_pid=$GUARDIAN_PID"
        echo "guardian_ticks=$GUARDIAN_TICKS"
        echo "server_pid=$SERVER_PID"
        echo "server_ticks=$SERVER_TICKS"
    } >"$tmp"
    mv -f "$tmp" "$STATE"
}

# ---- start ----------------------------------------------------------------

prepare_dirs() {
    id firebird >/dev/null 2>&1 || slv_die "there is no user 'firebird'; is firebird3.0-server installed? (bash scripts/setup.sh)"
    [ -x "$FBGUARD" ] || slv_die "$FBGUARD is missing; run bash scripts/setup.sh"
    install -d -o firebird -g firebird -m 0770 /run/firebird3.0
    install -d -o firebird -g firebird -m 0770 /var/log/firebird
    install -d -o firebird -g firebird -m 0770 /tmp/firebird
    # Lock files left by tools run as root would keep the server out.
    chown -R firebird:firebird /tmp/firebird
}

# Starts the guardian; sets GUARDIAN_PID and GUARDIAN_TICKS.
launch_guardian() {
    # Without job control a background command is not a process group
    # leader, so setsid makes the new session in place and $! is the
    # guardian itself (setsid, setpriv and env all exec).
    # The server turns file names into the locale's character set: started
    # without a UTF-8 locale (cron, CI, a bare root shell) it refuses every
    # non-ASCII database or backup name ("Cannot transliterate character").
    setsid env -u ISC_USER -u ISC_PASSWORD -u LANGUAGE LANG=C.UTF-8 LC_ALL=C.UTF-8 "${SERVER_ENV[@]}" \
        setpriv --reuid=firebird --regid=firebird --init-groups \
        "$FBGUARD" -onetime -pidfile "$PIDFILE" </dev/null >/dev/null 2>&1 &
    GUARDIAN_PID=$!
    local i=0
    while [ "$(cat "/proc/$GUARDIAN_PID/comm" 2>/dev/null)" != fbguard ]; do
        if ! alive "$GUARDIAN_PID" || [ $i -ge 40 ]; then
            log_tail
            slv_die "the Firebird guardian did not start"
        fi
        sleep 0.05
        i=$((i + 1))
    done
    GUARDIAN_TICKS=$(start_ticks "$GUARDIAN_PID" || true)
}

# Polls the service manager until it answers. Returns 0 when it answers with
# our password, 2 when it refuses the password; dies on time-out, and at once
# when the server listens only where we do not connect.
wait_answer() {
    local i=0 rc elsewhere
    while :; do
        rc=0
        slv_fb_probe || rc=$?
        [ $rc -ne 1 ] && return $rc
        if ! alive "$GUARDIAN_PID"; then
            log_tail
            slv_die "the Firebird guardian (pid $GUARDIAN_PID) ended before the server answered"
        fi
        # A server binds its one address once; give another listener on the
        # port a moment to be ours before believing it.
        if [ $i -ge 4 ] && elsewhere=$(listens_elsewhere); then
            stop_recorded || true
            slv_die "the Firebird server started by these scripts does not answer on $(slv_service_address):
$(bind_advice "$elsewhere"), and run this command again."
        fi
        if [ $i -ge $((START_TIMEOUT * 4)) ]; then
            log_tail
            stop_recorded || true
            slv_die "the Firebird server did not answer on $(slv_service_address) within ${START_TIMEOUT}s: $SLV_FB_ANSWER"
        fi
        sleep 0.25
        i=$((i + 1))
    done
}

# The server process the guardian runs (for a forced stop only).
note_server_pid() {
    SERVER_PID="" SERVER_TICKS=""
    local pid
    pid=$(cat "$PIDFILE" 2>/dev/null | tr -d ' \n') || true
    if [ -n "$pid" ] && [ "$(ps -o ppid= -p "$pid" 2>/dev/null | tr -d ' ')" = "$GUARDIAN_PID" ]; then
        SERVER_PID=$pid
        SERVER_TICKS=$(start_ticks "$pid" || true)
    fi
}

# Sets the suite's SYSDBA password in the security database. Only called when
# no Firebird process runs at all: the database is then opened directly by
# isql-fb, as the user firebird so that every file it touches stays his.
set_sysdba_password() {
    any_firebird_process && slv_die "refusing to change the SYSDBA password while a Firebird process runs"
    [ -f "$SECURITY_DB" ] || slv_die "the security database $SECURITY_DB is missing; reinstall firebird3.0-server"
    slv_log "setting the SYSDBA password in $SECURITY_DB"
    local out
    if ! out=$(printf "create or alter user SYSDBA password '%s' using plugin Srp;\ncommit;\n" "$SLV_FB_PASSWORD" |
        env -u ISC_USER -u ISC_PASSWORD setpriv --reuid=firebird --regid=firebird --init-groups \
            isql-fb -q -b -user SYSDBA "$SECURITY_DB" 2>&1); then
        slv_die "could not set the SYSDBA password: $out"
    fi
    chown -R firebird:firebird /tmp/firebird
    # Keep the password note of the Debian package in step.
    if [ -f "$PASSWORD_FILE" ] && grep -q '^ *ISC_PASSWORD=' "$PASSWORD_FILE"; then
        local tmp
        tmp=$(mktemp "$PASSWORD_FILE.XXXXXX")
        chmod 0600 "$tmp"
        sed -e "s/^ *ISC_PASSWORD=.*/ISC_PASSWORD=\"$SLV_FB_PASSWORD\"/" "$PASSWORD_FILE" >"$tmp"
        mv -f "$tmp" "$PASSWORD_FILE"
    fi
}

do_start() {
    local rc=0
    slv_fb_probe || rc=$?
    if [ $rc -eq 0 ]; then
        slv_log "reusing the Firebird server that answers on $(slv_service_address) (it will not be stopped)"
        return 0
    fi
    if read_state; then
        if same_process "$GUARDIAN_PID" "$GUARDIAN_TICKS"; then
            slv_log "a guardian started by these scripts runs (pid $GUARDIAN_PID); waiting for it"
            rc=0
            wait_answer || rc=$?
            [ $rc -eq 0 ] && return 0
        else
            rm -f "$STATE"
        fi
    fi
    if [ $rc -eq 2 ]; then
        slv_die "a Firebird server answers on $(slv_service_address) but refuses the suite's SYSDBA password.
It was not started by these scripts, so it is left alone: stop it and run this
command again (with no server running it sets the password)."
    fi
    local elsewhere
    if elsewhere=$(listens_elsewhere); then
        local ours=""
        own_root_needed && ours=" (the server these scripts start listens on $SLV_FB_HOST without that change)"
        slv_die "a Firebird server runs but does not answer on $(slv_service_address):
$(bind_advice "$elsewhere")
and restart it, or stop it and run this command again$ours.
It was not started by these scripts, so it is left alone."
    fi
    if any_firebird_process; then
        slv_die "a Firebird process runs but does not answer on $(slv_service_address); it was not started
by these scripts, so it is left alone. Stop it (or wait for it) and try again. Processes:
$(ps -o pid=,user=,stat=,args= -C fbguard,firebird 2>/dev/null)"
    fi

    prepare_dirs
    own_root
    local attempt
    for attempt in 1 2; do
        local t0
        t0=$(slv_now)
        launch_guardian
        write_state
        rc=0
        wait_answer || rc=$?
        if [ $rc -eq 0 ]; then
            note_server_pid
            write_state
            slv_log "started the Firebird server (guardian pid $GUARDIAN_PID) in $(slv_elapsed "$t0")s; state in $STATE"
            return 0
        fi
        # rc 2: our own server refuses the password.
        [ "$attempt" -eq 2 ] && break
        slv_log "the server we started refuses the suite's SYSDBA password; fixing it"
        stop_recorded
        set_sysdba_password
    done
    stop_recorded || true
    slv_die "the server still refuses the SYSDBA password after setting it: $SLV_FB_ANSWER"
}

# ---- stop -----------------------------------------------------------------

# Stops the guardian recorded in the state file, and nothing else.
stop_recorded() {
    if ! read_state; then
        slv_log "no server started by these scripts is recorded in $STATE; nothing to stop"
        return 0
    fi
    if ! same_process "$GUARDIAN_PID" "$GUARDIAN_TICKS"; then
        slv_log "the recorded guardian (pid $GUARDIAN_PID) is already gone"
        rm -f "$STATE"
        return 0
    fi
    slv_log "stopping the Firebird guardian (pid $GUARDIAN_PID)"
    kill -TERM "$GUARDIAN_PID" 2>/dev/null || true
    if ! wait_gone "$GUARDIAN_PID" "$STOP_TIMEOUT"; then
        # The guardian waits for its server; a server that ignores SIGTERM
        # is ended by force, but only the one our guardian runs.
        if [ -n "$SERVER_PID" ] && same_process "$SERVER_PID" "$SERVER_TICKS"; then
            slv_log "the server (pid $SERVER_PID) did not end within ${STOP_TIMEOUT}s; killing it"
            kill -KILL "$SERVER_PID" 2>/dev/null || true
        fi
        if ! wait_gone "$GUARDIAN_PID" 10; then
            slv_log "the guardian did not end; killing it"
            kill -KILL "$GUARDIAN_PID" 2>/dev/null || true
            wait_gone "$GUARDIAN_PID" 10 || slv_die "the guardian (pid $GUARDIAN_PID) does not end"
        fi
    fi
    # The server normally ends with its guardian.
    if [ -n "$SERVER_PID" ] && same_process "$SERVER_PID" "$SERVER_TICKS"; then
        if ! wait_gone "$SERVER_PID" 10; then
            slv_log "the server (pid $SERVER_PID) outlived its guardian; killing it"
            kill -KILL "$SERVER_PID" 2>/dev/null || true
            wait_gone "$SERVER_PID" 10 || slv_die "the server (pid $SERVER_PID) does not end"
        fi
    fi
    rm -f "$STATE"
    slv_log "the Firebird server started by these scripts is stopped"
}

# ---- status ---------------------------------------------------------------

do_status() {
    local rc=0 ours=""
    if read_state && same_process "$GUARDIAN_PID" "$GUARDIAN_TICKS"; then
        ours=" (started by these scripts, guardian pid $GUARDIAN_PID)"
    fi
    slv_fb_probe || rc=$?
    case $rc in
        0) echo "running on $(slv_service_address)$ours: $(printf '%s' "$SLV_FB_ANSWER" | head -n 1)" ;;
        2) echo "running on $(slv_service_address)$ours, but it refuses the suite's SYSDBA password" ;;
        *) echo "not answering on $(slv_service_address)$ours" ;;
    esac
    return $rc
}

case $ACTION in
    start) do_start ;;
    stop) stop_recorded ;;
    status) do_status ;;
    *) usage ;;
esac
