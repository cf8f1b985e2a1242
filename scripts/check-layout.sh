#!/usr/bin/env bash
# Checks that each thing stays in its one home (the README's "Layout"):
#
#   1. The process file system and folder reading belong to the POSIX
#      platform layer: no "/proc" and no <dirent.h> in the production code
#      (platform, rtl, client, services, app, tools) outside platform/posix/.
#      Tests and benchmarks may look into /proc to watch the processes they
#      start and to measure memory: they run on Linux only.
#   2. The client library's header belongs to the database layers: no
#      <ibase.h> outside client/ and services/; in the tests only the Windows
#      tests may include it (their test-only gds32.dll bridge and the
#      replies they read through it).
#   3. Parameter blocks and replies are packed and read by the one writer and
#      reader of client/ParamBlock: no byte shifts by 8, 16 or 24 and no
#      isc_vax_integer / isc_portable_integer calls in the production code
#      elsewhere. (Tests may spell out the bytes a server sends by hand.)
#   4. Test files are named after the unit they test: a C or C++ file under
#      tests/ that defines tests is called <Unit>Test.cpp, and no other file
#      is.
#
# Comments are not checked. Prints each offending line and exits non-zero
# when there is one.
#
#   bash scripts/check-layout.sh
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

cd "$SLV_ROOT" || exit 1

PRODUCTION=(platform rtl client services app tools)
FAILED=0

# The C and C++ sources under the given folders, as git knows them (or as
# they lie, outside a git checkout).
sources() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -- "$@" | grep -E '\.(c|cc|cpp|h|hpp)$'
    else
        find "$@" -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' \
            -o -name '*.hpp' \) | sed 's|^\./||' | sort
    fi
}

# Lines (file:line: text) of the files on stdin whose code, with its //
# comment cut off, matches the extended regular expression $1; files whose
# path matches $2 are left out.
code_matching() {
    local pattern=$1 allowed=$2 file
    while IFS= read -r file; do
        [[ -n "$allowed" && "$file" =~ $allowed ]] && continue
        awk -v pattern="$pattern" -v file="$file" '
            { code = $0; sub(/[[:space:]]*\/\/.*$/, "", code) }
            /^[[:space:]]*\*/ { next }
            code ~ pattern { printf "%s:%d: %s\n", file, FNR, $0 }
        ' "$file"
    done
}

rule() {
    local title=$1 found=$2
    if [ -n "$found" ]; then
        printf '%s:\n%s\n' "$title" "$found" >&2
        FAILED=1
    fi
}

rule "/proc or <dirent.h> outside platform/posix/" \
    "$(sources "${PRODUCTION[@]}" | code_matching '"/proc[/"]|#[[:space:]]*include[[:space:]]*<dirent\.h>' '^platform/posix/')"

rule "<ibase.h> outside client/ and services/" \
    "$(sources . | code_matching '#[[:space:]]*include[[:space:]]*<ibase\.h>' '^(client|services|tests/windows)/')"

rule "little-endian packing outside client/ParamBlock" \
    "$(sources "${PRODUCTION[@]}" | code_matching '(<<|>>)[[:space:]]*(8|16|24)([^0-9]|$)|(isc_vax_integer|isc_portable_integer)[[:space:]]*\(' '^client/(ParamBlock\.cpp|include/client/IB_Intf\.h)$')"

# The test sources (file: reason) whose name breaks rule 4.
misnamed_tests() {
    local file base defines
    while IFS= read -r file; do
        base=${file##*/}
        defines=0
        grep -qE '^[[:space:]]*(TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)[[:space:]]*\(' "$file" &&
            defines=1
        if [ $defines -eq 1 ] && ! [[ $base =~ ^[A-Z][A-Za-z0-9]*Test\.cpp$ ]]; then
            echo "$file: defines tests; name it <Unit>Test.cpp"
        elif [ $defines -eq 0 ] && [[ $base =~ Test\.cpp$ ]]; then
            echo "$file: defines no tests; <Unit>Test.cpp is for the files that do"
        fi
    done < <(sources tests | grep -E '\.(c|cc|cpp)$')
}

rule "test files not named <Unit>Test.cpp" "$(misnamed_tests)"

if [ $FAILED -eq 0 ]; then
    echo "layout rules hold: /proc and <dirent.h> only in platform/posix/, <ibase.h> only in client/ and services/, byte packing only in client/ParamBlock, test files named <Unit>Test.cpp" >&2
fi
exit $FAILED
