#!/usr/bin/env bash
# Installs what is missing from Debian's packages, builds Kestrane, then
# opens the window (run) or runs the whole test suite (test).
# Set KESTRANE_WERROR=ON to treat compiler warnings as errors.
set -euo pipefail

usage() {
    echo "usage: $0 run|test" >&2
    exit 2
}

[[ $# -eq 1 ]] || usage
mode=$1
[[ $mode == run || $mode == test ]] || usage

cd "$(dirname "$0")/.."
# The tests' build has everything, with debugging information; the window's
# only the programs it runs, optimized: about a minute less to wait.
if [[ $mode == test ]]; then
    build_dir=build build_type=RelWithDebInfo
else
    build_dir=build-run build_type=Release
fi

# VXI-11's RPC code is generated with rpcgen and runs on libtirpc.
packages=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev pkg-config rpcsvc-proto libtirpc-dev)
# The daemon's web pages (Qt HTTP Server's CMake package asks for Qt
# WebSockets) and its announcements through avahi-daemon.
packages+=(qt6-httpserver-dev qt6-websockets-dev libavahi-client-dev)
# The host's record of each generator: Qt SQL's SQLite driver, and SQLite's
# own interface for the statements every frame runs.
packages+=(libqt6sql6-sqlite libsqlite3-dev)
has_display() { [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; }
if [[ $mode == run ]] && ! has_display; then
    packages+=(xvfb xauth)
fi
configure=()
if [[ $mode == test ]]; then
    # The network daemon's tests drive it with clients written elsewhere, each
    # in a network namespace of its own.
    packages+=(python3 python3-pyvisa python3-pyvisa-py socat netcat-openbsd iproute2 util-linux)
    # The record is checked with SQLite's own shell.
    packages+=(sqlite3)
    # VXI-11's: a portmapper of their own (rpcbind needs netbase's
    # /etc/services, which minimal systems lack) and lxi-tools.
    packages+=(rpcbind netbase lxi-tools)
    # HiSLIP's: Wireshark's decoder (installed without asking; others may not capture).
    packages+=(tshark)
    # The Tango device server, always built for the tests, and its client.
    packages+=(libtango-dev python3-tango)
    configure+=(-DKESTRANE_TANGO=ON)
    # The timing diagrams are checked against SVG 1.1's document type.
    packages+=(libxml2-utils w3c-sgml-lib)
    # The status page in a headless browser; discovery with a dbus-daemon and
    # avahi-daemon of each test's own, seen by avahi-browse and lxi-tools.
    packages+=(chromium chromium-driver python3-selenium dbus avahi-daemon avahi-utils lxi-tools)
    # The run script's test opens the window on a virtual display too.
    packages+=(xvfb xauth procps)
fi

bash scripts/install-packages.sh "${packages[@]}"
# EPICS Base's PVAccess server (headers in epics-dev, libraries and the
# clients pvget, pvput, pvmonitor, pvinfo in epics-base), where the archive
# has it: Debian 13 on. The lists are fresh from the install above.
if [[ $mode == test ]] && apt-cache show epics-dev >/dev/null 2>&1; then
    bash scripts/install-packages.sh epics-dev epics-base
    configure+=(-DKESTRANE_EPICS=ON)
fi

cmake -S . -B "$build_dir" -G Ninja \
    -DCMAKE_BUILD_TYPE="$build_type" \
    -DKESTRANE_WERROR="${KESTRANE_WERROR:-OFF}" "${configure[@]}"
targets=()
[[ $mode == test ]] || targets=(--target kestrane kestrane-sim kestrane-ctl)
cmake --build "$build_dir" --parallel "${targets[@]}"

if [[ $mode == test ]]; then
    ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)"
else
    exec bash scripts/run-window.sh "$build_dir"
fi
