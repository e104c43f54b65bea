#!/usr/bin/env bash
# Runs clang-tidy with the committed .clang-tidy over every C++ source of
# the project; any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/../.."

for tool in clang-tidy run-clang-tidy; do
    command -v "$tool" >/dev/null || {
        echo "tidy.sh: $tool is not installed (Debian package clang-tidy)" >&2
        exit 2
    }
done

build_dir=build-tidy
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# The generated sources (moc, uic) must exist before anything is analysed.
cmake --build "$build_dir" --parallel
mapfile -t sources < <(git ls-files '*.cpp')
run-clang-tidy -quiet -p "$build_dir" -j "$(nproc)" "${sources[@]/#/$PWD/}"
