#!/usr/bin/env bash
# Starts the Kestrane window on a virtual X display (Xvfb), waits for it to
# appear, saves a picture of it and ends the program. The program's log
# goes to stderr.
# Usage: scripts/screenshot.sh [PROGRAM [PNG]]
#        (defaults: build/app/kestrane and docs/kestrane.png)
set -euo pipefail
cd "$(dirname "$0")/.."

program=${1:-build/app/kestrane}
output=${2:-docs/kestrane.png}
[[ -x $program ]] || {
    echo "screenshot.sh: $program is not built (bash scripts/setup.sh test builds it)" >&2
    exit 2
}
bash scripts/install-packages.sh xvfb xauth x11-utils imagemagick
mkdir -p "$(dirname "$output")"

# Runs inside xvfb-run: $1 program, $2 picture.
capture='
    "$1" &
    pid=$!
    window=
    for _ in $(seq 100); do
        window=$(xwininfo -root -tree | awk "/\"Kestrane\": \\(/ { print \$1; exit }")
        [[ -n $window ]] && break
        sleep 0.1
    done
    if [[ -z $window ]]; then
        kill "$pid" 2>/dev/null
        echo "screenshot.sh: no window titled Kestrane appeared" >&2
        exit 1
    fi
    sleep 1 # the first paint
    import -window "$window" "$2"
    kill "$pid"
    wait "$pid" || true
'
xvfb-run -a -s "-screen 0 640x400x24" bash -c "$capture" screenshot "$program" "$output"
echo "screenshot.sh: $output ($(identify -format '%wx%h' "$output"))"
