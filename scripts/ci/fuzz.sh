#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs each for KESTRANE_FUZZ_SECONDS
# (default 30) from its committed seed corpus. Any crash, leak, broken
# invariant or input that takes over 10 s fails the run; the input is left
# in build-fuzz/ (crash-*, leak-*, timeout-*).
set -euo pipefail
cd "$(dirname "$0")/../.."

bash scripts/install-packages.sh cmake ninja-build clang libclang-rt-14-dev \
    qt6-base-dev qt6-serialport-dev

seconds=${KESTRANE_FUZZ_SECONDS:-30}
build_dir=build-fuzz
targets=(channelrecords framereader simulatoroptions ctlrequest scpilines)

# Debian's Qt is built with gcc; clang links against it as it is.
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DKESTRANE_FUZZ=ON -DBUILD_TESTING=OFF
cmake --build "$build_dir" --parallel --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
    # New inputs go to the build folder; the committed seeds stay as they are.
    corpus=$build_dir/corpus/$target
    mkdir -p "$corpus"
    echo "=== fuzz_$target for $seconds s"
    (cd "$build_dir" && "./fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 "corpus/$target" "../fuzz/corpus/$target")
done
