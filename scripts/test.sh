#!/usr/bin/env bash
# Builds everything and runs every test: the native build, the release programs' check for test
# switches, the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, the Windows lane
# (MinGW-w64 builds run under Wine) and a bounded run of the fuzz targets. Each lane's time is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
# Lets ccache reuse objects across clones of the repository in other folders.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
export CTEST_OUTPUT_ON_FAILURE=1

# Prints how long the lane before took, then names the next one ("" after the last).
lane_name="" lane_began=$SECONDS
lane() {
    if [ -n "$lane_name" ]; then
        local took=$((SECONDS - lane_began))
        echo "== $lane_name: $((took / 60)) min $((took % 60)) s"
    fi
    lane_name=$1 lane_began=$SECONDS
    if [ -n "$1" ]; then
        echo "== $1"
    fi
}

lane "layers"
bash scripts/check-layers.sh

lane "native build and tests"
cmake --preset debug
cmake --build --preset debug -j "$jobs"
ctest --preset debug -j "$jobs"

lane "the release programs carry no test switch"
# The switches redirect the privileged side (service state, elevation, check pages, folder
# trust): a release build must not even contain their names. The test build must, or this check
# proves nothing.
cmake --preset release
cmake --build --preset release -j "$jobs" --target solvikvpn solvikvpn-tunnel
for name in SOLVIKVPN_SERVICE_ROOT SOLVIKVPN_ELEVATION SOLVIKVPN_CONNECTIVITY_CHECK_URLS \
    SOLVIKVPN_TRUST_FOLDERS SOLVIKVPN_NO_LOOKUPS SOLVIKVPN_RECORD_FIREWALL; do
    grep -q "$name" build/debug/bin/solvikvpn build/debug/bin/solvikvpn-tunnel
    if grep -q "$name" build/release/bin/solvikvpn build/release/bin/solvikvpn-tunnel; then
        echo "The release build contains the test switch $name." >&2
        exit 1
    fi
done

lane "AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$PWD/cmake/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

lane "fuzz targets (bounded)"
bash scripts/fuzz.sh "${SOLVIKVPN_FUZZ_SECONDS:-60}"

lane "Windows lane under Wine"
bash scripts/test-windows-lane.sh
lane ""
echo "== all lanes: $((SECONDS / 60)) min $((SECONDS % 60)) s"
