#!/usr/bin/env bash
# Runs both benchmarks once and prints their tables: kestrane-bench with its
# start-up rows on a virtual X display (Xvfb), and kestrane-scpid-bench in a
# network of its own with a portmapper of its own, for VXI-11, and a
# dbus-daemon and avahi-daemon of its own, for the announcements. Fails only
# when a measurement fails: a missed goal is printed, not fatal, so a slow
# machine does not fail CI.
set -euo pipefail
cd "$(dirname "$0")/../.."

bench=build/bench/kestrane-bench
daemon_bench=build/bench/scpid/kestrane-scpid-bench
for program in "$bench" "$daemon_bench"; do
    [[ -x $program ]] || {
        echo "bench.sh: $program is not built (bash scripts/setup.sh test builds it)" >&2
        exit 2
    }
done
bash scripts/install-packages.sh xvfb xauth rpcbind netbase iproute2 util-linux
xvfb-run -a "$bench"
bash tests/support/isolated-network.sh bash -c '
    rpcbind -f -w &
    portmapper=$!
    mkdir -p /run/dbus /run/avahi-daemon
    bus=$(dbus-daemon --system --fork --print-pid)
    avahi-daemon --daemonize --no-drop-root --no-chroot
    trap "avahi-daemon -k; kill $bus $portmapper" EXIT
    for _ in $(seq 50); do rpcinfo -p 127.0.0.1 >/dev/null 2>&1 && break; sleep 0.1; done
    for _ in $(seq 50); do avahi-daemon --check && break; sleep 0.1; done
    "$1"' bash "$daemon_bench"
