#!/usr/bin/env bash
# The test command: installs what is missing, builds, starts the local
# Firebird server if none answers, and runs every test; then builds the
# Windows programs with MinGW-w64 and runs their tests under Wine; builds and
# runs the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each fuzz target for a bounded time.
# Stops the server again if it started it. Exits non-zero when anything
# failed.
#
#   bash scripts/test.sh [--quick] [--windows] [--no-windows] [--no-sanitize]
#                        [--no-fuzz] [--fuzz-time SECONDS] [--no-setup] [-L LABEL]
#
#   --quick        only the normal build and its tests
#   --windows      only the Windows builds and their tests (and the installer)
#   --no-windows   skip the Windows builds
#   --no-sanitize  skip the sanitizer build
#   --no-fuzz      skip the fuzz build
#   --fuzz-time N  seconds per fuzz target (default 20)
#   --no-setup     do not check the installed packages
#   -L LABEL       run only the tests with this label (platform, client,
#                  services, app, gui, integration); may be given more than once
#
# Build folders: build/ (normal), build-win64/ and build-win32/ (Windows),
# build-asan/ (sanitizers), build-fuzz/ (clang).
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

RUN_LINUX=1
RUN_WINDOWS=1
RUN_SANITIZE=1
RUN_FUZZ=1
RUN_SETUP=1
FUZZ_TIME=${SLV_FUZZ_TIME:-20}
LABELS=()
while [ $# -gt 0 ]; do
    case $1 in
        --quick) RUN_WINDOWS=0; RUN_SANITIZE=0; RUN_FUZZ=0; shift ;;
        --windows) RUN_LINUX=0; RUN_WINDOWS=1; RUN_SANITIZE=0; RUN_FUZZ=0; shift ;;
        --no-windows) RUN_WINDOWS=0; shift ;;
        --no-sanitize) RUN_SANITIZE=0; shift ;;
        --no-fuzz) RUN_FUZZ=0; shift ;;
        --fuzz-time) FUZZ_TIME=${2:?}; shift 2 ;;
        --fuzz-time=*) FUZZ_TIME=${1#*=}; shift ;;
        --no-setup) RUN_SETUP=0; shift ;;
        -L) LABELS+=(-L "${2:?}"); shift 2 ;;
        -h | --help) sed -n '2,27p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) slv_die "unknown option $1 (see --help)" ;;
    esac
done

JOBS=${SLV_JOBS:-2}
BUILD=$SLV_ROOT/build
BUILD_ASAN=$SLV_ROOT/build-asan
BUILD_FUZZ=$SLV_ROOT/build-fuzz
SERVER_STATE=$BUILD/fbserver-test.state
LOG_DIR=$BUILD/test-logs

RESULTS=()
FAILED=0
T_ALL=$(slv_now)

# Runs one stage, records its result and time. The stage's output goes to
# the terminal (and, for builds, also into a log file).
stage() {
    local name=$1
    shift
    local t0 rc=0
    t0=$(slv_now)
    printf '\n==== %s ====\n' "$name" >&2
    "$@" || rc=$?
    local took
    took=$(slv_elapsed "$t0")
    if [ $rc -eq 0 ]; then
        RESULTS+=("$(printf '%-34s passed  %5ss' "$name" "$took")")
    else
        RESULTS+=("$(printf '%-34s FAILED  %5ss  (exit %s)' "$name" "$took" "$rc")")
        FAILED=1
    fi
    return $rc
}

skip() {
    RESULTS+=("$(printf '%-34s skipped         (%s)' "$1" "$2")")
}

summary() {
    printf '\n==== summary ====\n'
    local r
    for r in "${RESULTS[@]}"; do printf '  %s\n' "$r"; done
    printf '  %-34s %s     %5ss\n' "total" "$([ $FAILED -eq 0 ] && echo passed || echo FAILED)" \
        "$(slv_elapsed "$T_ALL")"
    if [ $FAILED -ne 0 ] && [ -n "${SLV_TEST_DATA:-}" ] && [ -d "$SLV_TEST_DATA" ]; then
        printf '  test data kept for inspection in %s\n' "$SLV_TEST_DATA"
    fi
}

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    if [ -f "$SERVER_STATE" ]; then
        bash "$SLV_SCRIPTS_DIR/fbserver.sh" stop --state "$SERVER_STATE" || FAILED=1
    fi
    if [ $FAILED -eq 0 ] && [ -n "${SLV_TEST_DATA:-}" ] && [ -d "$SLV_TEST_DATA" ]; then
        rm -rf "$SLV_TEST_DATA" 2>/dev/null || slv_as_root rm -rf "$SLV_TEST_DATA" || true
    fi
    summary
    [ $rc -eq 0 ] && [ $FAILED -ne 0 ] && rc=1
    exit $rc
}
trap cleanup EXIT
trap 'FAILED=1; exit 130' INT TERM

# ---- the stages -------------------------------------------------------------

keep_going_flag() {
    case $(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$1/CMakeCache.txt" 2>/dev/null) in
        Ninja*) echo "-k 0" ;;
        *Makefiles) echo "-k" ;;
    esac
}

build_tree() {
    local dir=$1
    shift
    mkdir -p "$LOG_DIR"
    local log=$LOG_DIR/$(basename "$dir").log
    # Keep going after a failing file, so that the tests of the other parts
    # can still be built and run.
    {
        slv_configure "$dir" "$@" &&
            cmake --build "$dir" -j "$JOBS" -- $(keep_going_flag "$dir")
    } 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    if [ "$rc" -ne 0 ]; then
        echo "build failed; the full output is in $log" >&2
    fi
    return "$rc"
}

run_ctest() {
    local dir=$1
    shift
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS" "${LABELS[@]}" "$@"
}

# The environment every test gets.
test_environment() {
    unset ISC_USER ISC_PASSWORD
    export SLV_REQUIRE_SERVER=1
    export SLV_FB_HOST=$SLV_FB_HOST
    export LANG=C.UTF-8 LC_ALL=C.UTF-8
    export QT_QPA_PLATFORM=offscreen
    # The server runs as another user: the folders it writes into must be
    # open to it. Each run gets its own.
    SLV_TEST_DATA=/var/tmp/slv-test-$$
    mkdir -p "$SLV_TEST_DATA" && chmod 0777 "$SLV_TEST_DATA"
    export SLV_TEST_DATA
}

# intercept_tls_get_addr=0: the sanitizer runtime of this compiler misreads
# the dynamic thread-local blocks of modules loaded at run time (the Firebird
# client library, Qt's plugins), and LeakSanitizer's tracer then crashes on
# a bogus address at exit ("DTLS ... at 0x1e9-..."; "Tracer caught signal
# 11"). Without the interception those blocks are simply not scanned as leak
# roots: a leak is still found, and static thread-locals are still scanned.
sanitizer_environment() {
    local supp=$SLV_SCRIPTS_DIR/sanitizers
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:check_initialization_order=1:intercept_tls_get_addr=0"
    export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$supp/ubsan.supp"
}

run_fuzzers() {
    local found=0 rc=0 f name corpus seeds
    sanitizer_environment
    while IFS= read -r f; do
        found=1
        name=$(basename "$f")
        corpus=$BUILD_FUZZ/corpus/$name
        seeds=$SLV_ROOT/fuzz/corpus/$name
        mkdir -p "$corpus" "$BUILD_FUZZ/artifacts"
        local args=(-max_total_time="$FUZZ_TIME" -timeout=10 -rss_limit_mb=2048
            -print_final_stats=1 -artifact_prefix="$BUILD_FUZZ/artifacts/$name-" "$corpus")
        [ -d "$seeds" ] && args+=("$seeds")
        printf -- '-- %s (%ss)\n' "$name" "$FUZZ_TIME" >&2
        if ! timeout $((FUZZ_TIME + 120)) "$f" "${args[@]}" >"$BUILD_FUZZ/$name.log" 2>&1; then
            echo "$name FAILED; its output is in $BUILD_FUZZ/$name.log; last lines:" >&2
            tail -n 40 "$BUILD_FUZZ/$name.log" >&2
            rc=1
        else
            grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "$BUILD_FUZZ/$name.log" | tail -n 1 >&2 || true
        fi
    done < <(find "$BUILD_FUZZ" -type f -name 'fuzz_*' -perm -u+x ! -name '*.*' | sort)
    [ $found -eq 1 ] || echo "no fuzz targets were built" >&2
    return $rc
}

# ---- 1. packages ------------------------------------------------------------
if [ $RUN_SETUP -eq 1 ]; then
    stage "set-up (packages)" bash "$SLV_SCRIPTS_DIR/setup.sh" || exit 1
else
    skip "set-up (packages)" "--no-setup"
fi

# ---- 1b. layout ---------------------------------------------------------------
# Each thing in its one home: the greps of scripts/check-layout.sh.
stage "layout rules" bash "$SLV_SCRIPTS_DIR/check-layout.sh"

# ---- 2. server --------------------------------------------------------------
# The server script itself, on a private server in its own namespaces (root
# only; skipped elsewhere).
SELFTEST_SKIPPED=0
server_script_check() {
    local rc=0
    bash "$SLV_SCRIPTS_DIR/fbserver-selftest.sh" || rc=$?
    if [ $rc -eq 77 ]; then
        SELFTEST_SKIPPED=1
        return 0
    fi
    return $rc
}
if [ "$(id -u)" -eq 0 ]; then
    stage "server script check" server_script_check
    if [ $SELFTEST_SKIPPED -eq 1 ]; then
        unset 'RESULTS[-1]'
        skip "server script check" "namespaces not available"
    fi
else
    skip "server script check" "needs root"
fi

mkdir -p "$BUILD"
stage "Firebird server" bash "$SLV_SCRIPTS_DIR/fbserver.sh" start --state "$SERVER_STATE" || exit 1
test_environment
echo "tests get SLV_FB_HOST=$SLV_FB_HOST SLV_REQUIRE_SERVER=1 SLV_TEST_DATA=$SLV_TEST_DATA" >&2

# ---- 3. normal build and tests ----------------------------------------------
# After a failed build the tests that could be built still run; the ones that
# could not count as failed.
if [ $RUN_LINUX -eq 1 ]; then
    stage "build (RelWithDebInfo, -Werror)" build_tree "$BUILD" -DSLV_WERROR=ON
    if [ -f "$BUILD/CTestTestfile.cmake" ]; then
        stage "tests" run_ctest "$BUILD"
    else
        skip "tests" "not configured"
    fi
else
    skip "build and tests (Linux)" "--windows"
fi

# ---- 3b. Windows ------------------------------------------------------------
# Both Windows builds (x86_64 and i686) with MinGW-w64; the tests under Wine
# (the i686 build's without the server), the installer and its silent
# install.
windows_part() {
    mkdir -p "$LOG_DIR"
    bash "$SLV_SCRIPTS_DIR/windows.sh" test 2>&1 | tee "$LOG_DIR/windows.log"
    return "${PIPESTATUS[0]}"
}
if [ $RUN_WINDOWS -eq 1 ]; then
    stage "Windows builds and tests (Wine)" windows_part
else
    skip "Windows builds and tests" "not asked for"
fi

# ---- 4. sanitizers ----------------------------------------------------------
# Test discovery runs the test programs during the build, so the sanitizer
# settings hold for the build as well. (Subshells keep them out of the rest.)
asan_build() (
    sanitizer_environment
    build_tree "$BUILD_ASAN" -DSLV_SANITIZE=ON -DSLV_BENCH=OFF -DSLV_WERROR=OFF -DCMAKE_BUILD_TYPE=Debug
)
# Leak detection is on for every test. Should LeakSanitizer's own
# thread-stopping tracer still crash at the exit of a process ("Tracer caught
# signal 11", then "LeakSanitizer has encountered a fatal error"; see
# sanitizer_environment), that is a fault of the sanitizer runtime, not a
# finding: when every failure of a run is exactly that, and nothing else was
# reported, the failed tests run once more; any other failure stands.
asan_tests() (
    sanitizer_environment
    local log=$LOG_DIR/ctest-asan.log rc failed tracer
    mkdir -p "$LOG_DIR"
    run_ctest "$BUILD_ASAN" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    [ "$rc" -eq 0 ] && return 0
    failed=$(grep -cE '\*\*\*(Failed|Exception|Timeout)' "$log")
    tracer=$(grep -c 'LeakSanitizer has encountered a fatal error' "$log")
    if [ "$failed" -gt 0 ] && [ "$failed" -eq "$tracer" ] &&
        ! grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer: detected)|runtime error:|^\[  FAILED  \]' "$log"; then
        echo "all $failed failure(s) are crashes of LeakSanitizer's tracer at exit; running them once more" >&2
        ctest --test-dir "$BUILD_ASAN" --rerun-failed --output-on-failure -j "$JOBS"
        return $?
    fi
    return "$rc"
)
if [ $RUN_SANITIZE -eq 1 ]; then
    stage "build (ASan+UBSan)" asan_build
    if [ -f "$BUILD_ASAN/CTestTestfile.cmake" ]; then
        stage "tests (ASan+UBSan)" asan_tests
    else
        skip "tests (ASan+UBSan)" "not configured"
    fi
else
    skip "build and tests (ASan+UBSan)" "not asked for"
fi

# ---- 5. fuzzing -------------------------------------------------------------
fuzz_build() (
    export CC=clang CXX=clang++
    build_tree "$BUILD_FUZZ" -DSLV_FUZZ=ON -DSLV_BUILD_GUI=OFF -DSLV_BUILD_TESTS=OFF -DSLV_BENCH=OFF
)
if [ $RUN_FUZZ -eq 1 ]; then
    if command -v clang >/dev/null 2>&1 && command -v clang++ >/dev/null 2>&1; then
        stage "build (clang, fuzz targets)" fuzz_build
        stage "fuzz (${FUZZ_TIME}s per target)" run_fuzzers
    else
        skip "fuzz" "clang is not installed"
    fi
else
    skip "fuzz" "not asked for"
fi

exit $FAILED
