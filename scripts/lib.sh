# Shared helpers of the scripts in this folder. Sourced, never run.
# shellcheck shell=bash

SLV_SCRIPTS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SLV_ROOT=$(cd "$SLV_SCRIPTS_DIR/.." && pwd)

# The suite's fixed database account. The local server is set up with it.
# The programs take it from client/include/client/SuiteAccount.h: keep both
# in step.
SLV_FB_USER=SYSDBA
SLV_FB_PASSWORD='jwx+[]'
SLV_FB_HOST=${SLV_FB_HOST:-127.0.0.1}
# Port of the server these scripts start and check (the default one).
SLV_FB_PORT=${SLV_FB_PORT:-3050}

slv_log() { printf '[%s] %s\n' "$(basename "$0")" "$*" >&2; }
slv_die() {
    printf '[%s] ERROR: %s\n' "$(basename "$0")" "$*" >&2
    exit 1
}

# Runs a command as root: directly when we are root, else through sudo.
slv_as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        slv_die "this step needs root rights and sudo is not installed: $*"
    fi
}

# The service manager address of the local server.
slv_service_address() {
    if [ "$SLV_FB_PORT" = 3050 ]; then
        printf '%s:service_mgr' "$SLV_FB_HOST"
    else
        printf '%s/%s:service_mgr' "$SLV_FB_HOST" "$SLV_FB_PORT"
    fi
}

# Asks the server for its version with the suite's account.
# Returns 0 when it answers, 2 when it answers but refuses the password,
# 1 when nothing answers (or the tools are missing).
# The text of the answer is left in SLV_FB_ANSWER.
slv_fb_probe() {
    SLV_FB_ANSWER=""
    command -v fbsvcmgr >/dev/null 2>&1 || return 1
    local out rc=0
    out=$(env -u ISC_USER -u ISC_PASSWORD timeout 10 \
        fbsvcmgr "$(slv_service_address)" -user "$SLV_FB_USER" -password "$SLV_FB_PASSWORD" \
        info_server_version 2>&1) || rc=$?
    SLV_FB_ANSWER=$out
    if [ "$rc" -eq 0 ] && printf '%s' "$out" | grep -q 'Server version'; then
        return 0
    fi
    if printf '%s' "$out" | grep -qiE 'user name and password|login|authentication|Install incomplete'; then
        return 2
    fi
    return 1
}

# The addresses that listen on the server's port, one a line ("127.0.0.1",
# "0.0.0.0", "::1", "::", "::ffff:127.0.0.1"), from the kernel's socket tables
# of this network namespace. Needs no tool beyond awk.
slv_listen_addresses() {
    local port
    port=$(printf '%04X' "$SLV_FB_PORT")
    awk -v port="$port" '
        function hex(s,   i, n) {
            n = 0
            for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789ABCDEF", toupper(substr(s, i, 1))) - 1
            return n
        }
        # The kernel prints each 32-bit word of an address in host (little-
        # endian) order: the bytes of a word come in reverse.
        function bytes(h, out,   w, b, n) {
            n = 0
            for (w = 0; w < length(h) / 8; w++)
                for (b = 3; b >= 0; b--) out[n++] = hex(substr(h, w * 8 + b * 2 + 1, 2))
            return n
        }
        function v4(out, from) {
            return out[from] "." out[from + 1] "." out[from + 2] "." out[from + 3]
        }
        function v6(out,   i, g, text, best, bestLen, run, start) {
            for (i = 0; i < 10; i++) if (out[i] != 0) break
            if (i == 10 && out[10] == 255 && out[11] == 255) return "::ffff:" v4(out, 12)
            for (i = 0; i < 8; i++) g[i] = out[2 * i] * 256 + out[2 * i + 1]
            best = -1; bestLen = 1; run = 0
            for (i = 0; i <= 8; i++) {
                if (i < 8 && g[i] == 0) { if (run == 0) start = i; run++ }
                else { if (run > bestLen) { best = start; bestLen = run }; run = 0 }
            }
            text = ""
            for (i = 0; i < 8; i++) {
                if (i == best) { text = text "::"; i += bestLen - 1; continue }
                if (text != "" && substr(text, length(text)) != ":") text = text ":"
                text = text sprintf("%x", g[i])
            }
            return text
        }
        $4 == "0A" {
            split($2, a, ":")
            if (toupper(a[2]) != port) next
            n = bytes(a[1], out)
            print (n == 4 ? v4(out, 0) : v6(out))
        }
    ' /proc/net/tcp /proc/net/tcp6 2>/dev/null | sort -u
}

# Seconds since the epoch with fractions, for timings.
slv_now() { date +%s.%N; }
slv_elapsed() { awk -v a="$1" -v b="$(slv_now)" 'BEGIN { printf "%.0f", b - a }'; }

# The build configuration shared by the run and test commands.
slv_configure() {
    local dir=$1
    shift
    cmake -S "$SLV_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

# ---- a private X server, for pictures and the window's start-up benchmark --

# Starts Xvfb on a display between :$1 and :$1+8 (so that runs side by side
# rarely meet) and waits until it answers. Sets SLV_XVFB_DISPLAY and
# SLV_XVFB_PID; slv_stop_xvfb ends it.
slv_start_xvfb() {
    SLV_XVFB_DISPLAY=:$(($1 + RANDOM % 9))
    Xvfb "$SLV_XVFB_DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    SLV_XVFB_PID=$!
    local _
    for _ in $(seq 50); do
        DISPLAY=$SLV_XVFB_DISPLAY xwininfo -root >/dev/null 2>&1 && return 0
        sleep 0.1
    done
}

slv_stop_xvfb() {
    if [[ -n "${SLV_XVFB_PID:-}" ]]; then
        kill "$SLV_XVFB_PID" 2>/dev/null && wait "$SLV_XVFB_PID" 2>/dev/null || true
    fi
}

# Lays out a tool folder as on a user's machine: the window's program
# (given as $2), an Environment.ini that points at a database and at the
# folder's backup/ folder, and empty backup files named by the remaining
# arguments.
slv_sample_tool_folder() {
    local dir=$1 exe=$2 name
    shift 2
    mkdir -p "$dir/backup"
    cp "$exe" "$dir/SolvaneDBMaint"
    for name in "$@"; do touch "$dir/backup/$name"; done
    printf '[SYSTEM]\nDBSvrIP=127.0.0.1\nDBPathDB=/var/lib/firebird/data/SOLVANE.FDB\n[SYSSETUP]\nDBBackPOS=%s/backup/\n' \
        "$dir" >"$dir/Environment.ini"
}
