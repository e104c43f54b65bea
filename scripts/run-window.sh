#!/usr/bin/env bash
# Opens the Kestrane window of a build. With no generator attached it first
# starts the simulated one, offers it in the window with --port, and ends it
# when the window closes (or is killed).
# Usage: scripts/run-window.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build}
window=("$build_dir/app/kestrane")
# A platform chosen by hand (offscreen, say) needs no display either.
if [[ -z ${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-} ]]; then
    echo "No display found: opening the window on a virtual X display (xvfb-run)."
    window=(xvfb-run -a "${window[@]}")
fi

if [[ -n $("$build_dir/cli/kestrane-ctl" list) ]]; then
    exec "${window[@]}"
fi

runtime=${XDG_RUNTIME_DIR:-${TMPDIR:-/tmp}}
state=$runtime/kestrane-sim.state
link_dir=$(mktemp -d "$runtime/kestrane-sim.XXXXXX")
link=$link_dir/generator
"$build_dir/simulator/kestrane-sim" --link "$link" --state "$state" >/dev/null &
simulator=$!
window_pid=
cleanup() {
    # The whole group: under xvfb-run the window and Xvfb are its children.
    [[ -n $window_pid ]] && kill -- "-$window_pid" 2>/dev/null
    kill "$simulator" 2>/dev/null && wait "$simulator" 2>/dev/null
    rm -rf "$link_dir"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

for _ in $(seq 50); do
    [[ -L $link ]] && break
    kill -0 "$simulator" 2>/dev/null || { echo "run-window.sh: kestrane-sim did not start" >&2; exit 1; }
    sleep 0.1
done
[[ -L $link ]] || { echo "run-window.sh: kestrane-sim made no link at $link" >&2; exit 1; }
echo "No generator attached: started the simulated one (kestrane-sim, state in $state); the window offers it as $link."

# In the background, so that a signal to this script is handled at once, and
# in a process group of its own, so that it can be ended whole.
setsid "${window[@]}" --port "$link" &
window_pid=$!
status=0
wait "$window_pid" || status=$?
window_pid=
exit "$status"
