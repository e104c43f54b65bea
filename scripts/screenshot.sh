#!/usr/bin/env bash
# Starts the Kestrane window on a virtual X display (Xvfb) with a simulated
# generator, connects, sets channel 3 to 1000 ps delay and 2000 ps width,
# saves, takes a picture of the window and ends both programs. Fails unless
# Set and Save were both answered "OK\r\n". The window's log goes to stderr.
# Usage: scripts/screenshot.sh [WINDOW [PNG [SIMULATOR]]]
#        (defaults: build/app/kestrane, docs/kestrane.png, build/simulator/kestrane-sim)
set -euo pipefail
cd "$(dirname "$0")/.."

program=${1:-build/app/kestrane}
output=${2:-docs/kestrane.png}
simulator=${3:-build/simulator/kestrane-sim}
for built in "$program" "$simulator"; do
    [[ -x $built ]] || {
        echo "screenshot.sh: $built is not built (bash scripts/setup.sh test builds it)" >&2
        exit 2
    }
done
bash scripts/install-packages.sh xvfb xauth x11-utils xdotool imagemagick
mkdir -p "$(dirname "$output")"
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-sim.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs inside xvfb-run: $1 window, $2 picture, $3 simulator, $4 scratch folder.
# The keys follow the form's focus chain: the port list has the focus at
# start; after Connect the next Tab reaches the channel field.
capture='
    "$3" --link "$4/generator" --state "$4/state" >/dev/null &
    simulator=$!
    for _ in $(seq 50); do [[ -L $4/generator ]] && break; sleep 0.1; done
    QT_LOGGING_RULES=default.debug=true "$1" --port "$4/generator" 2>"$4/log" &
    pid=$!
    trap "kill $pid $simulator 2>/dev/null; wait $pid $simulator" EXIT
    window=
    for _ in $(seq 100); do
        window=$(xdotool search --name "^Kestrane\$" 2>/dev/null | head -n 1) && [[ -n $window ]] && break
        sleep 0.1
    done
    [[ -n $window ]] || { echo "screenshot.sh: no window titled Kestrane appeared" >&2; exit 1; }
    sleep 0.5 # the first paint
    xdotool mousemove --window "$window" 5 5 click 1 # focus the window
    key() { xdotool key --delay 30 "$@"; sleep 0.2; }
    text() { xdotool type --delay 30 "$1"; }
    key Tab space # Connect
    key Tab; text 3; key Tab; text 1000; key Tab; text 2000
    key Tab space Tab space # Set, Save
    key shift+Tab # back to Set, for the picture
    import -window "$window" "$2"
'
# From a display number of its own: :99, xvfb-run's first choice, may still
# be held by an X server of another test that is ending (its socket outlives
# its lock file), and Xvfb then fails without a word.
status=0
xvfb-run -a -n $((100 + RANDOM % 900)) -e "$work/xvfb.log" -s "-screen 0 640x400x24" \
    bash -c "$capture" screenshot "$program" "$output" "$simulator" "$work" || status=$?
cat "$work/log" >&2
if [[ $status != 0 ]]; then
    cat "$work/xvfb.log" >&2
    exit "$status"
fi
answers=$(grep -cx 'answer:  "OK\\r\\n"' "$work/log" || true)
[[ $answers == 2 ]] || { echo "screenshot.sh: Save and Set were not both answered OK" >&2; exit 1; }
echo "screenshot.sh: $output ($(identify -format '%wx%h' "$output"))"
