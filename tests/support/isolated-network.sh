#!/usr/bin/env bash
# Runs a test in a network and mount namespace of its own: only loopback, up,
# and a private /run, so that nothing the test serves or discovers reaches
# or depends on the machine's network, and its daemons' files stay its own.
# Root makes the namespaces itself; anyone else gets them in a user namespace.
set -euo pipefail

if [[ ${KESTRANE_ISOLATED_NETWORK:-} != 1 ]]; then
    isolate=(unshare --net --mount --propagation private)
    [[ $(id -u) -eq 0 ]] || isolate=(unshare --map-root-user --net --mount --propagation private)
    KESTRANE_ISOLATED_NETWORK=1 exec "${isolate[@]}" bash "$0" "$@"
fi
ip link set lo up
mount -t tmpfs tmpfs /run
mkdir -p /run/lock
exec "$@"
