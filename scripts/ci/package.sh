#!/usr/bin/env bash
# Builds the Debian package, installs it with apt, checks that its files
# land where they should, starts the installed window under Xvfb, ends it,
# and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [[ $(id -u) -ne 0 ]]; then
    echo "package.sh: needs root (it installs the package)" >&2
    exit 2
fi
bash scripts/install-packages.sh dpkg-dev file desktop-file-utils

build_dir=build-package
rm -rf "$build_dir/_CPack_Packages" "$build_dir"/*.deb
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build "$build_dir" --parallel
(cd "$build_dir" && cpack -G DEB)
deb=$(ls "$PWD/$build_dir"/kestrane_*.deb)
dpkg-deb --info "$deb"

fail() {
    echo "package.sh: $*" >&2
    exit 1
}
depends=$(dpkg-deb --field "$deb" Depends)
for library in libqt6widgets6 libqt6serialport6 libqt6network6 libqt6core6 libc6; do
    [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
[[ $depends != *tango* ]] || fail "the base package pulls in Tango: $depends"
# The Tango device server comes in its own package where cppTango was found.
for tango_deb in "$build_dir"/kestrane-tango_*.deb; do
    [[ -e $tango_deb ]] || continue
    [[ $(dpkg-deb --field "$tango_deb" Depends) == *libtango* ]] || fail "$tango_deb lacks libtango"
    dpkg-deb --contents "$tango_deb" | grep -q ' \./usr/bin/kestrane-tango$' \
        || fail "$tango_deb lacks /usr/bin/kestrane-tango"
done

apt-get install -y -qq "$deb"
trap 'apt-get remove -y -qq kestrane >/dev/null' EXIT
expected=(
    /usr/bin/kestrane
    /usr/bin/kestrane-ctl
    /usr/bin/kestrane-sim
    /usr/bin/kestrane-scpid
    /usr/lib/systemd/system/kestrane-scpid.service
    /usr/share/applications/kestrane.desktop
    /usr/lib/udev/rules.d/60-kestrane.rules
)
listed=$(dpkg -L kestrane)
for path in "${expected[@]}"; do
    [[ -e $path ]] || fail "$path is missing"
    grep -qx "$path" <<<"$listed" || fail "$path is not listed as the package's"
done
desktop-file-validate /usr/share/applications/kestrane.desktop
kestrane-ctl --version
kestrane-sim --version
kestrane-scpid --version

log=$(mktemp)
bash scripts/screenshot.sh /usr/bin/kestrane "$(mktemp -d)/installed.png" /usr/bin/kestrane-sim 2>"$log" \
    || { cat "$log" >&2; fail "the installed window did not take Set and Save from the installed simulator"; }
grep -qx "Update device list" "$log" || { cat "$log" >&2; fail "the installed window logged nothing"; }
echo "package.sh: $(basename "$deb") installs; its window sets and saves on its simulator"
