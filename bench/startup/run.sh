#!/usr/bin/env bash
# Runs the start-up benchmark under a private X server.
# Usage: bench/startup/run.sh <build folder> [rounds]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
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
cleanup() {
    slv_stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT
slv_sample_tool_folder "$work" "$tool" SLV_Backup_240601_2200.fbk SLV_Backup_240608_2200.fbk \
    SLV_Backup_240615_2200.fbk SLV_Backup_240622_2200.fbk

slv_start_xvfb 80
cd "$work"
DISPLAY=$SLV_XVFB_DISPLAY XDG_RUNTIME_DIR=$work "$bench" "$work/SolvaneDBMaint" "$bare" "$rounds" "$label"
