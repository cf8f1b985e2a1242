#!/usr/bin/env bash
# Takes the picture of the window for docs/window.png: starts a private X
# server, runs the tool on a sample tool folder and grabs the window.
# Usage: app/gui/screenshot.sh <path of SolvaneDBMaint> <output .png>
set -euo pipefail
exe=$(readlink -f "$1")
out=$(readlink -m "$2")
# A short, fixed folder so the picture shows a readable path.
work=/tmp/Solvane
rm -rf "$work"
mkdir -p "$work"
display=:$((90 + RANDOM % 9))
cleanup() {
    [[ -n "${app_pid:-}" ]] && kill "$app_pid" 2>/dev/null || true
    [[ -n "${xvfb_pid:-}" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/backup"
cp "$exe" "$work/SolvaneDBMaint"
touch "$work/backup/SLV_Backup_240612_1805.fbk" "$work/backup/SLV_Backup_240619_2217.fbk" \
      "$work/backup/SOLVANE복원.fdb"
printf '[SYSTEM]\nDBSvrIP=127.0.0.1\nDBPathDB=/var/lib/firebird/data/SOLVANE.FDB\n[SYSSETUP]\nDBBackPOS=%s/backup/\n' \
    "$work" > "$work/Environment.ini"

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    DISPLAY=$display xwininfo -root >/dev/null 2>&1 && break
    sleep 0.1
done
(cd "$work" && DISPLAY=$display exec ./SolvaneDBMaint >/dev/null 2>&1) &
app_pid=$!
for _ in $(seq 100); do
    DISPLAY=$display xwininfo -name "Solvane Database Maintenance" >/dev/null 2>&1 && break
    sleep 0.1
done
sleep 1 # let the first paint finish
DISPLAY=$display import -window "Solvane Database Maintenance" "$out"
echo "wrote $out"
