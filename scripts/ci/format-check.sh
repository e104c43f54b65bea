#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format makes of it.
# With --fix, formats the files in place instead.
set -euo pipefail
cd "$(dirname "$0")/../.."

command -v clang-format >/dev/null || {
    echo "format-check.sh: clang-format is not installed" >&2
    exit 2
}
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [[ ${1:-} == --fix ]]; then
    clang-format -i "${files[@]}"
else
    clang-format --dry-run --Werror "${files[@]}"
    echo "format-check.sh: ${#files[@]} files formatted as .clang-format says"
fi
