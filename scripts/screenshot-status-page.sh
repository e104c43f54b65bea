#!/usr/bin/env bash
# Takes a picture of kestrane-scpid's status page: the daemon on a simulated
# generator in a network of its own, the channels of the README's timing
# diagram set over SCPI, the page in headless Chromium. Fails unless the
# daemon answered the settings.
# Usage: scripts/screenshot-status-page.sh [PNG [DAEMON [SIMULATOR]]]
#        (defaults: docs/status-page.png, build/scpid/kestrane-scpid,
#        build/simulator/kestrane-sim)
set -euo pipefail
cd "$(dirname "$0")/.."

output=$(realpath -m "${1:-docs/status-page.png}")
daemon=$(realpath -m "${2:-build/scpid/kestrane-scpid}")
simulator=$(realpath -m "${3:-build/simulator/kestrane-sim}")
for built in "$daemon" "$simulator"; do
    [[ -x $built ]] || {
        echo "screenshot-status-page.sh: $built is not built (bash scripts/setup.sh test builds it)" >&2
        exit 2
    }
done
bash scripts/install-packages.sh chromium python3 iproute2 util-linux rpcbind netbase
mkdir -p "$(dirname "$output")"
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-page.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs in the isolated network, with a portmapper so that VXI-11 is served:
# $1 daemon, $2 simulator, $3 scratch folder, $4 picture.
capture='
    rpcbind -f -w &
    portmapper=$!
    for _ in $(seq 50); do rpcinfo -p 127.0.0.1 >/dev/null 2>&1 && break; sleep 0.1; done
    "$2" --link "$3/generator" >/dev/null &
    simulator=$!
    for _ in $(seq 50); do [[ -L $3/generator ]] && break; sleep 0.1; done
    "$1" --port "$3/generator" --no-mdns 2>"$3/log" &
    daemon=$!
    trap "kill $daemon $simulator $portmapper 2>/dev/null; wait $daemon $simulator $portmapper" EXIT
    for _ in $(seq 50); do grep -q "serving" "$3/log" && break; sleep 0.1; done
    python3 -c "
import socket
with socket.create_connection((\"127.0.0.1\", 5025), 5) as generator:
    generator.sendall(b\"PULS1:TIM 0,1NS;:PULS2:TIM 1NS,2NS;:PULS3:TIM 2805PS,2816PS;\"
                      b\":PULS8:TIM 500PS,11PS;:PULS10:TIM 4NS,1621PS;:PULS12:TIM 1500PS,500PS;\"
                      b\":PULS16:TIM 3NS,1NS;*OPC?\\n\")
    assert generator.makefile().readline() == \"1\\n\", \"the settings were not answered\"
"
    chromium --headless=new --no-sandbox --disable-gpu --disable-background-networking \
        --disable-component-update --disable-sync --disable-quic --no-first-run \
        --user-data-dir="$3/profile" --hide-scrollbars --window-size=1000,1460 \
        --screenshot="$4" http://127.0.0.1:8080/ 2>/dev/null
'
bash tests/support/isolated-network.sh bash -c "$capture" screenshot "$daemon" "$simulator" \
    "$work" "$output"
cat "$work/log" >&2
echo "screenshot-status-page.sh: $output"
