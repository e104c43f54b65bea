#!/usr/bin/env bash
# Builds Kestrane and runs every test against the Qt 6 of Debian 13, in a
# Debian 13 root made with debootstrap from the archive this machine's apt
# uses. The root is kept and reused while it is there.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
root=${KESTRANE_TRIXIE_ROOT:-/var/lib/kestrane-ci/trixie}
ready_mark=$root/.kestrane-root-ready

if [[ $(id -u) -ne 0 ]]; then
    echo "debian13.sh: needs root (debootstrap, chroot and mounts)" >&2
    exit 2
fi

archive_uri() {
    # The first plain Debian archive among apt's sources (not security, not updates).
    local uri
    uri=$(grep -hE '^(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/*.sources 2>/dev/null \
        | sed -E 's/^URIs:[[:space:]]*//; s/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?//; s/[[:space:]].*//' \
        | grep -E '/debian/?$' | head -n 1)
    [[ -n $uri ]] || { echo "debian13.sh: no Debian archive in apt's sources" >&2; exit 1; }
    echo "$uri"
}

make_root() {
    bash "$repo/scripts/install-packages.sh" debootstrap
    # A run that was killed may have left its mounts behind: never delete
    # through them.
    local point
    for point in dev/pts dev proc; do
        if mountpoint -q "$root/$point" 2>/dev/null; then umount -l "$root/$point"; fi
    done
    rm -rf --one-file-system "$root"
    mkdir -p "$(dirname "$root")"
    echo "debian13.sh: making a Debian 13 root in $root"
    debootstrap --variant=minbase trixie "$root" "$(archive_uri)" >"$root.log" 2>&1 \
        || { tail -n 20 "$root.log" >&2; exit 1; }
    touch "$ready_mark"
}

[[ -e $ready_mark ]] || make_root

mounted=()
cleanup() {
    local index
    for ((index = ${#mounted[@]} - 1; index >= 0; index--)); do
        umount -l "${mounted[index]}" 2>/dev/null || true
    done
}
trap cleanup EXIT
# The root is a mount point of its own, so that the tests' network
# namespaces can make their mounts private inside the chroot (unshare
# --propagation private fails on a root that is not a mount point).
if ! mountpoint -q "$root"; then
    mount --bind "$root" "$root"
    mounted+=("$root")
fi
for point in proc dev dev/pts; do
    mountpoint -q "$root/$point" && continue
    mount --bind "/$point" "$root/$point"
    mounted+=("$root/$point")
done
mkdir -p "$root/run/lock"
# Packages installed into the root never start their services there: they
# would run on this machine's network (avahi-daemon would announce on it).
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

# A fresh copy of the sources, without any build of this machine's.
rm -rf "$root/src/kestrane"
mkdir -p "$root/src/kestrane"
tar -C "$repo" --exclude='./build*' --exclude='./.git' -cf - . | tar -C "$root/src/kestrane" -xf -

chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    KESTRANE_WERROR=ON bash /src/kestrane/scripts/setup.sh test
