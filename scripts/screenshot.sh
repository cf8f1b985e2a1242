#!/usr/bin/env bash
# Takes the picture of the window for docs/window.png: starts a private X
# server, runs the tool on a sample tool folder and grabs the window.
# Usage: scripts/screenshot.sh <path of SolvaneDBMaint> <output .png>
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
exe=$(readlink -f "$1")
out=$(readlink -m "$2")
# A short, fixed folder so the picture shows a readable path.
work=/tmp/Solvane
rm -rf "$work"
cleanup() {
    [[ -n "${app_pid:-}" ]] && kill "$app_pid" 2>/dev/null || true
    slv_stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT

slv_sample_tool_folder "$work" "$exe" SLV_Backup_240612_1805.fbk SLV_Backup_240619_2217.fbk \
    SOLVANE복원.fdb
slv_start_xvfb 90
display=$SLV_XVFB_DISPLAY
(cd "$work" && DISPLAY=$display exec ./SolvaneDBMaint >/dev/null 2>&1) &
app_pid=$!
for _ in $(seq 100); do
    DISPLAY=$display xwininfo -name "Solvane Database Maintenance" >/dev/null 2>&1 && break
    sleep 0.1
done
sleep 1 # let the first paint finish
DISPLAY=$display import -window "Solvane Database Maintenance" "$out"
echo "wrote $out"
