#!/usr/bin/env bash
# Runs the start-up benchmark under a private X server.
# Usage: bench/startup/run.sh <build folder> [rounds]
set -euo pipefail
build=$(readlink -f "${1:?build folder}")
rounds=${2:-15}
tool=$(find "$build" -name SolvaneDBMaint -type f -perm -u+x | head -n1)
bare=$(find "$build" -name bench_bare_window -type f -perm -u+x | head -n1)
label=$(find "$build" -name bench_label_window -type f -perm -u+x | head -n1)
bench=$(find "$build" -name startup_bench -type f -perm -u+x | head -n1)
[[ -n "$tool" && -n "$bare" && -n "$label" && -n "$bench" ]] || {
    echo "build SolvaneDBMaint bench_bare_window bench_label_window startup_bench first" >&2
    exit 2
}

# The window runs from a folder of its own with settings and a few backups,
# as on a user's machine.
work=$(mktemp -d)
display=:$((80 + RANDOM % 9))
cleanup() {
    [[ -n "${xvfb_pid:-}" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/backup"
cp "$tool" "$work/SolvaneDBMaint"
for d in 240601 240608 240615 240622; do touch "$work/backup/SLV_Backup_${d}_2200.fbk"; done
printf '[SYSTEM]\nDBSvrIP=127.0.0.1\nDBPathDB=/var/lib/firebird/data/SOLVANE.FDB\n[SYSSETUP]\nDBBackPOS=%s/backup/\n' \
    "$work" > "$work/Environment.ini"

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    DISPLAY=$display xwininfo -root >/dev/null 2>&1 && break
    sleep 0.1
done
cd "$work"
DISPLAY=$display XDG_RUNTIME_DIR=$work "$bench" "$work/SolvaneDBMaint" "$bare" "$rounds" "$label"
