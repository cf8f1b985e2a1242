#!/usr/bin/env bash
# The Windows builds of the tool: cross-compiled with MinGW-w64 and tested
# under Wine against the real Firebird server (through a test-only gds32.dll
# that hands every call to the Linux client library).
#
#   bash scripts/windows.sh test [CTEST OPTIONS...]
#                              builds build-win64/ (x86_64) and build-win32/
#                              (i686), runs the x86_64 tests and the i686
#                              tests that need no server under Wine, builds
#                              the installer and checks a silent install
#   bash scripts/windows.sh build [x86_64|i686]    only build
#   bash scripts/windows.sh installer              builds the installer
#   bash scripts/windows.sh check-installer        installs it silently under
#                              Wine and checks the installed files
#   bash scripts/windows.sh run PROGRAM [ARGS...]  runs a Windows program in
#                              the builds' Wine prefix (the test emulator)
#   bash scripts/windows.sh boot | stop            starts / ends the prefix's
#                              Wine server
#   bash scripts/windows.sh screenshot FILE        the window's picture under
#                              Xvfb with the Korean locale
#
# The tests need the Firebird server on 127.0.0.1 (scripts/test.sh starts
# it) and the environment that scripts/test.sh sets. Programs run with
# LANG=ko_KR.UTF-8, as on a Korean Windows (ANSI code page 949), and without
# a display unless SLV_WINE_DISPLAY names one.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

WINE_DIR=/usr/lib/wine
BUILD_WIN64=$SLV_ROOT/build-win64
BUILD_WIN32=$SLV_ROOT/build-win32
JOBS=${SLV_JOBS:-2}

# ---- the Wine prefix ------------------------------------------------------------

slv_wine_env() {
    export WINEARCH=win64
    export WINEPREFIX=${SLV_WINEPREFIX:-$SLV_ROOT/build-wine/prefix}
    export WINEDEBUG=${SLV_WINEDEBUG:--all}
    # No .NET or browser engine downloads, no desktop menu entries.
    export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
    # The caller's locale must not leak in: a Korean Windows.
    export LANG=ko_KR.UTF-8 LC_ALL=ko_KR.UTF-8
    if [ -n "${SLV_WINE_DISPLAY:-}" ]; then
        export DISPLAY=$SLV_WINE_DISPLAY
    else
        unset DISPLAY WAYLAND_DISPLAY
    fi
}

# Starts the prefix's Wine server for good and boots the prefix, with the
# helper processes' output away from the caller: a test runner would
# otherwise wait for the helpers that inherit its output pipe.
slv_wine_boot() {
    slv_wine_env
    mkdir -p "$WINEPREFIX"
    local rc=0
    "$WINE_DIR/wineserver" -p >/dev/null 2>&1 || rc=$?
    # 2: a server runs already for this prefix; it was booted then.
    if [ $rc -eq 0 ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$WINE_DIR/wine64" wineboot -u </dev/null >/dev/null 2>&1
        "$WINE_DIR/wineserver" -p >/dev/null 2>&1 || true
        slv_wine_graphics "${SLV_WINE_DISPLAY:+x11}"
    fi
}

# Windows are made without a display through Wine's null graphics driver
# (the tests), or on the X display (pictures).
slv_wine_graphics() {
    "$WINE_DIR/wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "${1:-null}" /f \
        </dev/null >/dev/null 2>&1
}

slv_wine_stop() {
    slv_wine_env
    "$WINE_DIR/wineserver" -k >/dev/null 2>&1 || true
}

# The loader for a program: 32-bit programs need wine32's loader.
slv_wine_loader() {
    local offset machine
    offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    if [ "$machine" = 014c ]; then
        [ -x "$WINE_DIR/wine" ] || slv_die "32-bit Windows programs need the package wine32:i386"
        echo "$WINE_DIR/wine"
    else
        echo "$WINE_DIR/wine64"
    fi
}

wine_run() {
    [ $# -ge 1 ] || slv_die "usage: windows.sh run PROGRAM [ARGS...]"
    locale -a 2>/dev/null | grep -qi '^ko_KR\.utf-\?8$' ||
        slv_die "the locale ko_KR.UTF-8 is missing (scripts/setup.sh makes it)"
    slv_wine_boot
    local loader
    loader=$(slv_wine_loader "$1")
    exec "$loader" "$@"
}

# ---- builds -------------------------------------------------------------------------

build_windows() {
    local arch=$1 dir
    case $arch in
        x86_64) dir=$BUILD_WIN64 ;;
        i686) dir=$BUILD_WIN32 ;;
        *) slv_die "unknown architecture $arch" ;;
    esac
    slv_configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$SLV_ROOT/cmake/toolchains/mingw-$arch.cmake" \
        -DSLV_WERROR=ON -DSLV_BENCH=OFF &&
        cmake --build "$dir" -j "$JOBS"
}

# The installer, from stripped copies of both programs (build-win64/installer/).
build_installer() {
    local out=$BUILD_WIN64/installer
    local exe64=$BUILD_WIN64/app/win32/SolvaneDBMaint.exe exe32=$BUILD_WIN32/app/win32/SolvaneDBMaint.exe
    [ -f "$exe64" ] && [ -f "$exe32" ] ||
        slv_die "build both Windows builds first (windows.sh build x86_64; windows.sh build i686)"
    mkdir -p "$out/stage"
    x86_64-w64-mingw32-strip -o "$out/stage/SolvaneDBMaint64.exe" "$exe64" &&
        i686-w64-mingw32-strip -o "$out/stage/SolvaneDBMaint.exe" "$exe32" &&
        makensis -V2 -DVERSION="$(sed -n 's/^project(.* VERSION \([0-9.]*\) .*/\1/p' "$SLV_ROOT/CMakeLists.txt")" \
            -DWIN64_EXE="$out/stage/SolvaneDBMaint64.exe" -DWIN32_EXE="$out/stage/SolvaneDBMaint.exe" \
            -DOUTFILE="$out/SolvaneDBMaint-setup.exe" "$SLV_ROOT/packaging/windows/installer.nsi" &&
        echo "installer: $out/SolvaneDBMaint-setup.exe"
}

# Installs silently into a folder of the prefix and checks the installed
# files: under Wine the installer's exit code says nothing.
check_installer() {
    slv_wine_boot
    local stage=$BUILD_WIN64/installer/stage unix=$WINEPREFIX/drive_c/SolvaneSetupCheck
    rm -rf "$unix"
    "$WINE_DIR/wine64" "$BUILD_WIN64/installer/SolvaneDBMaint-setup.exe" /S '/D=C:\SolvaneSetupCheck' \
        </dev/null >/dev/null 2>&1 || true
    local rc=0 f
    for f in SolvaneDBMaint.exe SolvaneDBMaint64.exe; do
        if cmp -s "$unix/$f" "$stage/$f"; then
            echo "installed: $f"
        else
            echo "the silent install did not put $f in place" >&2
            rc=1
        fi
    done
    [ -s "$unix/SolvaneDBMaint-uninstall.exe" ] || { echo "no uninstaller installed" >&2; rc=1; }
    rm -rf "$unix"
    return $rc
}

run_tests() {
    slv_wine_boot
    local rc=0
    ctest --test-dir "$BUILD_WIN64" --output-on-failure -j "$JOBS" -L windows "$@" || rc=1
    # The i686 build: the tests that need no server (its bridge would need
    # the 32-bit Linux client library).
    ctest --test-dir "$BUILD_WIN32" --output-on-failure -j "$JOBS" -L windows -LE integration "$@" || rc=1
    return $rc
}

screenshot() {
    local file=${1:?usage: windows.sh screenshot FILE} dir
    dir=$(mktemp -d /var/tmp/slv-winshot-XXXXXX)
    mkdir -p "$dir/tool/backup"
    cp "$BUILD_WIN64/app/win32/SolvaneDBMaint.exe" "$dir/tool/"
    touch "$dir/tool/backup/SLV_Backup_240612_1805.fbk" "$dir/tool/backup/SLV_Backup_240619_2217.fbk" \
        "$dir/tool/backup/SOLVANE복원.fdb"
    printf '[SYSTEM]\r\nDBSvrIP=127.0.0.1\r\nDBPathDB=C:\\Solvane\\DB\\SOLVANE.FDB\r\n[SYSSETUP]\r\nDBBackPOS=C:\\Solvane\\backup\\\r\n' \
        >"$dir/tool/Environment.ini"
    slv_start_xvfb 60
    trap 'slv_stop_xvfb' RETURN
    SLV_WINE_DISPLAY=$SLV_XVFB_DISPLAY
    slv_wine_boot
    slv_wine_graphics x11
    # The backup folder of the picture lies on drive C: of the prefix.
    mkdir -p "$WINEPREFIX/drive_c/Solvane/backup"
    cp "$dir/tool/backup/"* "$WINEPREFIX/drive_c/Solvane/backup/"
    # Wine's own desktop window draws the title bar, as Windows would.
    (cd "$dir/tool" && "$WINE_DIR/wine64" explorer /desktop=shot,1200x720 SolvaneDBMaint.exe \
        </dev/null >/dev/null 2>&1 &)
    sleep "${SLV_SHOT_WAIT:-8}"
    import -display "$SLV_XVFB_DISPLAY" -window root "$dir/root.png"
    "$WINE_DIR/wine64" taskkill /f /im SolvaneDBMaint.exe >/dev/null 2>&1 || true
    convert "$dir/root.png" -crop "${SLV_SHOT_GEOMETRY:-572x427+527+187}" +repage "$file"
    slv_wine_graphics null
    unset SLV_WINE_DISPLAY
    rm -rf "$dir" "$WINEPREFIX/drive_c/Solvane"
    echo "picture: $file"
}

# ---- the command ---------------------------------------------------------------------

cmd=${1:-}
[ $# -gt 0 ] && shift
case $cmd in
    run) wine_run "$@" ;;
    boot) slv_wine_boot ;;
    stop) slv_wine_stop ;;
    build) build_windows "${1:-x86_64}" ;;
    installer) build_installer ;;
    check-installer) check_installer ;;
    screenshot) screenshot "$@" ;;
    test)
        rc=0
        build_windows x86_64 || rc=1
        build_windows i686 || rc=1
        run_tests "$@" || rc=1
        { build_installer && check_installer; } || rc=1
        slv_wine_stop
        exit $rc
        ;;
    -h | --help | "") sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//' ;;
    *) slv_die "unknown command $cmd (see --help)" ;;
esac
