#!/usr/bin/env bash
# Builds the Debian packages the Debian way from a clean export of the
# committed tree (HEAD: uncommitted changes are not in it), fails on any
# lintian error or warning, installs them with apt, checks their files,
# manual pages and versions, runs their autopkgtest, has the installed window
# set and save on the installed simulator under Xvfb, and removes them again.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [[ $(id -u) -ne 0 ]]; then
    echo "package.sh: needs root (it installs the packages)" >&2
    exit 2
fi
fail() {
    echo "package.sh: $*" >&2
    exit 1
}
bash scripts/install-packages.sh git dpkg-dev lintian autopkgtest man-db desktop-file-utils appstream

version=$(dpkg-parsechangelog -l debian/changelog -S Version)
project_version=$(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt)
[[ $version == "$project_version" ]] \
    || fail "debian/changelog is at $version, CMakeLists.txt at $project_version"

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-package.XXXXXX")
chmod 755 "$work" # apt reads the packages as its own user
installed=()
cleanup() {
    [[ ${#installed[@]} -eq 0 ]] || apt-get purge -y -qq "${installed[@]}" >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
source_dir=$work/kestrane-$version
mkdir "$source_dir"
git archive HEAD | tar -x -C "$source_dir"

(cd "$source_dir" && DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -qq ./ >/dev/null)
started=$SECONDS
(cd "$source_dir" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc -b) \
    >"$work/build.log" 2>&1 || { tail -n 50 "$work/build.log" >&2; fail "dpkg-buildpackage failed"; }
echo "package.sh: dpkg-buildpackage -us -uc -b took $((SECONDS - started)) s"
changes=$(ls "$work"/kestrane_*.changes)
ls -1 "$work"/*.deb

# Root runs lintian here; it says so on stderr, which is not a finding.
lintian --fail-on error,warning "$changes" 2> >(grep -v '^running with root privileges' >&2) \
    || fail "lintian found errors or warnings"

deb() { echo "$work/$1_${version}_$(dpkg --print-architecture).deb"; }
packages=(kestrane kestrane-tango)
# kestrane-epics where the archive has EPICS Base's server (Debian 13 on), and
# nowhere else.
if apt-cache show epics-dev >/dev/null 2>&1; then
    packages+=(kestrane-epics)
elif [[ -f $(deb kestrane-epics) ]]; then
    fail "kestrane-epics was built without EPICS Base"
fi
for package in "${packages[@]}"; do
    for built in "$package" "$package-dbgsym"; do
        [[ -f $(deb "$built") ]] || fail "$built was not built"
    done
done
depends=$(dpkg-deb --field "$(deb kestrane)" Depends)
for library in libqt6widgets6 libqt6serialport6 libqt6network6 libqt6httpserver6 libqt6core6 \
    libavahi-client3 libc6; do
    [[ $depends == *"$library"* ]] || fail "kestrane's Depends lacks $library: $depends"
done
[[ $depends != *tango* && $depends != *epics* ]] \
    || fail "the base package pulls in Tango or EPICS: $depends"
[[ $(dpkg-deb --field "$(deb kestrane-tango)" Depends) == *libtango* ]] \
    || fail "kestrane-tango's Depends lacks libtango"

# Where this release keeps units and udev rules, as debian/rules puts them.
unit_dir=$(pkg-config --variable=systemdsystemunitdir systemd)
rules_dir=${unit_dir%/systemd/system}/udev/rules.d
installed=("${packages[@]}")
debs=()
for package in "${packages[@]}"; do debs+=("$(deb "$package")"); done
apt-get install -y -qq "${debs[@]}" >/dev/null
expected=(
    kestrane:/usr/bin/kestrane
    kestrane:/usr/bin/kestrane-ctl
    kestrane:/usr/bin/kestrane-sim
    kestrane:/usr/bin/kestrane-scpid
    "kestrane:$unit_dir/kestrane-scpid.service"
    "kestrane:$rules_dir/60-kestrane.rules"
    kestrane:/usr/share/applications/kestrane.desktop
    kestrane:/usr/share/metainfo/invalid.kestrane.Kestrane.metainfo.xml
    kestrane:/usr/share/doc/kestrane/copyright
    kestrane:/usr/share/man/man1/kestrane.1.gz
    kestrane:/usr/share/man/man1/kestrane-ctl.1.gz
    kestrane:/usr/share/man/man1/kestrane-sim.1.gz
    kestrane:/usr/share/man/man1/kestrane-scpid.1.gz
    kestrane-tango:/usr/bin/kestrane-tango
    kestrane-tango:/usr/share/doc/kestrane-tango/copyright
    kestrane-tango:/usr/share/man/man1/kestrane-tango.1.gz
)
if [[ ${packages[*]} == *kestrane-epics* ]]; then
    [[ $(dpkg-deb --field "$(deb kestrane-epics)" Depends) == *epics-base* ]] \
        || fail "kestrane-epics's Depends lacks epics-base"
    expected+=(
        kestrane-epics:/usr/bin/kestrane-epics
        "kestrane-epics:$unit_dir/kestrane-epics.service"
        kestrane-epics:/usr/share/doc/kestrane-epics/copyright
        kestrane-epics:/usr/share/man/man1/kestrane-epics.1.gz
    )
fi
for entry in "${expected[@]}"; do
    package=${entry%%:*} path=${entry#*:}
    [[ -e $path ]] || fail "$path is missing"
    grep -qx "$path" <<<"$(dpkg -L "$package")" || fail "$path is not listed as $package's"
done
# The services' user and their record's folder, made and owned by the package.
getent passwd _kestrane >/dev/null || fail "installing kestrane made no user _kestrane"
[[ " $(id -nG _kestrane) " == *" dialout "* ]] || fail "_kestrane is not in group dialout"
[[ $(stat -c '%U:%G %a' /var/lib/kestrane) == "_kestrane:_kestrane 750" ]] \
    || fail "/var/lib/kestrane is $(stat -c '%U:%G %a' /var/lib/kestrane)"
grep -qx /var/lib/kestrane <<<"$(dpkg -L kestrane)" || fail "/var/lib/kestrane is not kestrane's"
desktop-file-validate /usr/share/applications/kestrane.desktop
appstreamcli validate --no-net /usr/share/metainfo/invalid.kestrane.Kestrane.metainfo.xml >/dev/null
# The units are known to systemd's package helper, not enabled, never started.
units=(kestrane:kestrane-scpid.service)
[[ ${packages[*]} != *kestrane-epics* ]] || units+=(kestrane-epics:kestrane-epics.service)
for entry in "${units[@]}"; do
    package=${entry%%:*} unit=${entry#*:}
    [[ $(systemctl --root=/ is-enabled "$unit" || true) == disabled ]] \
        || fail "installing enabled $unit"
    [[ -e /var/lib/systemd/deb-systemd-helper-enabled/$unit.dsh-also ]] \
        || fail "$unit was not handed to deb-systemd-helper"
    dpkg-deb --control "$(deb "$package")" "$work/control-$package"
    if grep -q deb-systemd-invoke "$work/control-$package/postinst"; then
        fail "$package's postinst starts a service"
    fi
done
programs=(kestrane-ctl kestrane-sim kestrane-scpid kestrane-tango)
[[ ${packages[*]} != *kestrane-epics* ]] || programs+=(kestrane-epics)
for program in "${programs[@]}"; do
    [[ $($program --version) == "$program $version" ]] || fail "$program --version is not $version"
done
[[ $(QT_QPA_PLATFORM=offscreen kestrane --version 2>/dev/null) == "kestrane $version" ]] \
    || fail "kestrane --version is not $version"
for page in kestrane "${programs[@]}"; do
    [[ $(man "$page") == *"NAME"*"$page - "* ]] || fail "man $page shows no manual page"
done
[[ $(man kestrane-scpid) == *"--reply-timeout"* ]] || fail "man kestrane-scpid lacks the options"

# The packages' own tests, on this machine as it is (no container).
autopkgtest --no-built-binaries "$(deb kestrane)" "$(deb kestrane-tango)" "$source_dir/" -- null \
    >"$work/autopkgtest.log" 2>&1 || { cat "$work/autopkgtest.log" >&2; fail "autopkgtest failed"; }
sed -n '/@@@ summary/,$p' "$work/autopkgtest.log"

log=$(mktemp)
bash scripts/screenshot.sh /usr/bin/kestrane "$work/installed.png" /usr/bin/kestrane-sim 2>"$log" \
    || { cat "$log" >&2; fail "the installed window did not take Set and Save from the installed simulator"; }
grep -qx "Update device list" "$log" || { cat "$log" >&2; fail "the installed window logged nothing"; }
rm -f "$log"
echo "package.sh: ${packages[*]} $version build, pass lintian and their autopkgtest, install; the window sets and saves on the simulator"
