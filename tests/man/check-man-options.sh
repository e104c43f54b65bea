#!/usr/bin/env bash
# Fails when a program's --help lists an option that its manual page does not
# describe, or the page describes a long option that the program lacks.
# Usage: check-man-options.sh PROGRAM PAGE.scd
set -euo pipefail
program=$1
page=$2

help=$(QT_QPA_PLATFORM=offscreen "$program" --help)
# Option lines of --help start with two spaces and a dash; the names end
# where the description starts, after two or more spaces.
listed=$(sed -n 's/^  \(-.*\)$/\1/p' <<<"$help" | sed 's/   *.*$//' \
    | grep -o -- '--\?[a-z][a-z0-9-]*' | sort -u)
# The page describes an option as a bold term at the start of a line.
described=$(grep -o -- '^\*--[a-z][a-z0-9-]*\*' "$page" | tr -d '*' | sort -u)

status=0
for option in $listed; do
    grep -qF -- "*$option*" "$page" || {
        echo "$page does not describe $option, which $program --help lists" >&2
        status=1
    }
done
for option in $described; do
    grep -qx -- "$option" <<<"$listed" || {
        echo "$page describes $option, which $program --help does not list" >&2
        status=1
    }
done
[[ $status == 0 ]] && echo "$(basename "$page"): all $(wc -w <<<"$listed") options of --help described"
exit "$status"
