#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole test suite; any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/../.."

build_dir=build-sanitize
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DKESTRANE_SANITIZE=ON -DKESTRANE_WERROR=ON
cmake --build "$build_dir" --parallel

# Tests run programs as nobody too, who may not enter the folder holding this
# tree (a 0700 home folder): the suppressions go where every user can read them.
suppressions=$(mktemp -d)
trap 'rm -rf "$suppressions"' EXIT
install -m 644 scripts/ci/asan.supp scripts/ci/lsan.supp "$suppressions"
chmod 755 "$suppressions"
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:suppressions=$suppressions/asan.supp
export LSAN_OPTIONS=suppressions=$suppressions/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Tests that leave the program under test no file descriptor skip themselves.
export KESTRANE_SANITIZED=1
ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)"
