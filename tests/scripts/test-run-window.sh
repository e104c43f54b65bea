#!/usr/bin/env bash
# scripts/run-window.sh with no generator attached: it starts kestrane-sim,
# offers its link in the window, and ends it when the window is killed or
# when the script itself is told to stop.
# Usage: test-run-window.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES=default.debug=true
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT

fail() {
    echo "FAIL: $*" >&2
    cat "$XDG_RUNTIME_DIR/output" >&2 || true
    exit 1
}

alive() {
    local pid
    for pid in "$@"; do kill -0 "$pid" 2>/dev/null && return 0; done
    return 1
}

# Starts the script; sets script, simulator, window and session (the
# window's session: the window alone, or xvfb-run, Xvfb and the window).
start() {
    bash "$source_dir/scripts/run-window.sh" "$build_dir" >"$XDG_RUNTIME_DIR/output" 2>&1 &
    script=$!
    window= simulator= session=
    for _ in $(seq 100); do
        simulator=$(pgrep -P "$script" -x kestrane-sim || true)
        session=$(pgrep -P "$script" -x kestrane || pgrep -P "$script" -x xvfb-run || true)
        [[ -n $session ]] && window=$(pgrep -s "$session" -x kestrane || true)
        [[ -n $window && -n $simulator ]] && grep -q '^"/.*/generator"$' "$XDG_RUNTIME_DIR/output" && return
        sleep 0.1
    done
    fail "the window and the simulator did not both start"
}

# The script has ended, and with it the simulator, its link and the window's
# whole session (which may take a moment to go after a signal).
check_ended() {
    local what=$1
    for _ in $(seq 50); do
        alive "$script" "$simulator" || pgrep -s "$session" >/dev/null || break
        sleep 0.1
    done
    alive "$script" && fail "$what: the script still runs"
    alive "$simulator" && fail "$what: kestrane-sim still runs"
    pgrep -s "$session" >/dev/null && fail "$what: the window (or its Xvfb) still runs"
    compgen -G "$XDG_RUNTIME_DIR/kestrane-sim.*/generator" >/dev/null && fail "$what: the link is left"
    return 0
}

start
[[ $(grep -c '^No generator attached: started the simulated one' "$XDG_RUNTIME_DIR/output") == 1 ]] \
    || fail "the script did not say in one line what it did"
link=$(compgen -G "$XDG_RUNTIME_DIR/kestrane-sim.*/generator")
grep -qx "\"$link\"" "$XDG_RUNTIME_DIR/output" || fail "the window does not offer $link"
kill -KILL "$window"
check_ended "window killed"

start
kill -TERM "$script"
check_ended "script stopped"

# Without a display the window runs under xvfb-run, which must end too.
if command -v xvfb-run >/dev/null; then
    (unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY && start && kill -TERM "$script" \
        && check_ended "script stopped, window on Xvfb") || exit 1
fi
echo "run-window.sh: simulator started with the window and ended with it"
