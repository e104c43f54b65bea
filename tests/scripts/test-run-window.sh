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

# Starts the script; sets script, window and simulator to their pids.
start() {
    bash "$source_dir/scripts/run-window.sh" "$build_dir" >"$XDG_RUNTIME_DIR/output" 2>&1 &
    script=$!
    window= simulator=
    for _ in $(seq 100); do
        window=$(pgrep -P "$script" -x kestrane || true)
        simulator=$(pgrep -P "$script" -x kestrane-sim || true)
        [[ -n $window && -n $simulator ]] && grep -q '^"/.*/generator"$' "$XDG_RUNTIME_DIR/output" && return
        sleep 0.1
    done
    fail "the window and the simulator did not both start"
}

# The script has ended, and with it the simulator and its link.
check_ended() {
    local what=$1
    for _ in $(seq 50); do
        kill -0 "$script" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$script" 2>/dev/null && fail "$what: the script still runs"
    kill -0 "$simulator" 2>/dev/null && fail "$what: kestrane-sim still runs"
    kill -0 "$window" 2>/dev/null && fail "$what: the window still runs"
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
echo "run-window.sh: simulator started with the window and ended with it"
