#!/usr/bin/env bash
# Installs what building, testing and running the tool needs on a Debian or
# Ubuntu machine: compilers, test libraries, the Firebird 3 server and its
# tools, Qt 6, fonts and the tools of the screenshot and window tests.
# Installs only what is missing; asks apt for nothing when all is present.
# Runs as root, or as a user who may use sudo.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

PACKAGES=(
    # building
    cmake g++ make pkg-config git clang clang-format
    # tests and benchmarks
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    # the database server, its tools and the client library
    firebird3.0-server firebird3.0-utils libfbclient2 firebird-dev
    # the window
    qt6-base-dev qt6-translations-l10n fonts-nanum fonts-dejavu-core
    # screenshots and the window benchmark without a desktop
    xvfb xauth x11-utils imagemagick
    # process tools (ps, pgrep); ip, which the server script's self-check
    # needs for the loopback of its own network namespace
    procps iproute2
    # the Windows builds: MinGW-w64 cross compilers, Wine (with its tools for
    # the tests' gds32.dll bridge and its fonts), the installer builder, and
    # the Korean locale the Windows tests run in
    mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
    wine64 wine64-tools fonts-wine nsis locales
    # 32-bit Windows programs under Wine (Debian's i386 architecture)
    wine32:i386
)

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

command -v dpkg-query >/dev/null 2>&1 || slv_die "this set-up needs a Debian or Ubuntu system (dpkg and apt)"

# The libFuzzer runtime of the installed clang (clang 14 on Debian 12).
CLANG_RT=libclang-rt-14-dev
if command -v clang >/dev/null 2>&1; then
    v=$(clang -dumpversion 2>/dev/null | cut -d. -f1)
    [ -n "$v" ] && CLANG_RT=libclang-rt-$v-dev
fi
PACKAGES+=("$CLANG_RT")

# wine32 comes from the i386 architecture; apt must know it first.
NEW_ARCH=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    slv_log "adding the i386 architecture (for wine32)"
    slv_as_root dpkg --add-architecture i386
    NEW_ARCH=1
fi

missing=()
for p in "${PACKAGES[@]}"; do
    installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    slv_log "all needed packages are installed"
else
    slv_log "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    slv_as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update
    # A package name that this release does not know would stop the whole
    # install; the fuzzing runtime is the only one whose name varies.
    if ! apt-cache show "$CLANG_RT" >/dev/null 2>&1; then
        slv_log "no package $CLANG_RT here; the fuzz build may be skipped"
        missing=("${missing[@]/$CLANG_RT/}")
    fi
    for p in "${missing[@]}"; do
        if [ "$p" = firebird3.0-server ]; then
            # The server package asks for the SYSDBA password on its first
            # install; answer it before apt runs.
            slv_log "preseeding the SYSDBA password of firebird3.0-server"
            printf 'firebird3.0-server shared/firebird/sysdba_password/first_install password %s\n' \
                "$SLV_FB_PASSWORD" | slv_as_root debconf-set-selections
        fi
    done
    pkgs=()
    for p in "${missing[@]}"; do [ -n "$p" ] && pkgs+=("$p"); done
    slv_as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get -o DPkg::Lock::Timeout=600 install -y "${pkgs[@]}"
fi

# The Windows tests run in the Korean locale, as on a Korean Windows.
if ! locale -a 2>/dev/null | grep -qi '^ko_KR\.utf-\?8$'; then
    slv_log "making the locale ko_KR.UTF-8"
    slv_as_root localedef -i ko_KR -f UTF-8 ko_KR.UTF-8
fi

# The SYSDBA password: checked now if a server answers; otherwise the server
# script checks it (and sets it if needed) when it starts the server.
rc=0
slv_fb_probe || rc=$?
case $rc in
    0) slv_log "the Firebird server on $SLV_FB_HOST answers with the suite's password" ;;
    1) slv_log "no Firebird server answers yet; scripts/fbserver.sh start will start one" ;;
    2) slv_die "a Firebird server answers on $SLV_FB_HOST:$SLV_FB_PORT but refuses the SYSDBA password
of the suite. It was not started by these scripts, so it is left alone. Stop it,
then run 'bash scripts/fbserver.sh start': with no server running it sets the
password in the security database. Answer: $SLV_FB_ANSWER" ;;
esac
exit 0
