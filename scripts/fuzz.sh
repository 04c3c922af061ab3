#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time: fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz
targets=(fuzz_tunnelprofile fuzz_tunnelprofilefile fuzz_sealedblob fuzz_servicerecord fuzz_landoutline)
cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]}"
export ASAN_OPTIONS="detect_leaks=0"
for name in "${targets[@]}"; do
    target=build/fuzz/bin/$name
    corpus="tests/fuzz/corpus/${name#fuzz_}"
    work=$(mktemp -d)
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
    echo "-- $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -print_final_stats=1 "$work" 2>&1 | tail -n 12
    rm -rf "$work"
done
