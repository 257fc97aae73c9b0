#!/usr/bin/env bash
# Builds the Debian package of a build folder with cpack (into BUILD_DIR/package) and, on a
# throw-away machine, installs it the way a user would: apt-get install of the .deb, the
# files dpkg says it put in place, the installed tarvik-flash run from /usr/bin, then a
# purge that leaves nothing behind.
#
# The system install runs only as root with CI set (CI runs as root on a fresh machine that
# is thrown away afterwards); anywhere else it is skipped, with the reason, so that running
# this on a developer's machine never touches its /usr.
#
# tools/package-check.sh BUILD_DIR   (a configured and built build folder)
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
package_name=tarvik-firmware-utility
# shellcheck source-path=SCRIPTDIR/.. source=tests/packaging/expected-files.sh
source "$source_dir/tests/packaging/expected-files.sh"

echo "=== package: $build"
[ -f "$build/CPackConfig.cmake" ] || { echo "package-check: $build is not a configured build" >&2; exit 1; }
out=$build/package
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$build/package-cpack.log" 2>&1 || {
    cat "$build/package-cpack.log" >&2
    echo "package-check: cpack failed" >&2
    exit 1
}
debs=("$out"/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "package-check: expected one .deb in $out" >&2
    exit 1
fi
deb=${debs[0]}
echo "built $deb ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb -f "$deb" Package Version Architecture Depends

if [ "$(id -u)" -ne 0 ]; then
    echo "package-check: skipped the system install: not running as root"
    exit 0
fi
if [ -z "${CI:-}" ]; then
    echo "package-check: skipped the system install: CI is not set (it installs into /usr," \
        "so it runs only on CI's throw-away machine; set CI=1 to run it anyway)"
    exit 0
fi

have_updater=0
grep -q '^TARVIK_BUILD_QT:BOOL=ON$' "$build/CMakeCache.txt" && have_updater=1

installed=0
purge() {
    if [ $installed = 1 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "$package_name" >/dev/null || true
    fi
}
trap purge EXIT

echo "--- apt-get install $deb"
if dpkg-query -W -f='${Status}' "$package_name" 2>/dev/null | grep -q "install ok installed"; then
    echo "package-check: $package_name is already installed; refusing to replace it" >&2
    exit 1
fi
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb" >"$out/apt-install.log" 2>&1 || {
    cat "$out/apt-install.log" >&2
    echo "package-check: apt-get install failed" >&2
    exit 1
}
grep -E '^(Setting up|Processing triggers)' "$out/apt-install.log" || true

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
dpkg -L "$package_name" | sort >"$out/dpkg-L.txt"
while IFS= read -r file; do
    grep -qxF "/usr/$file" "$out/dpkg-L.txt" || fail "dpkg -L does not list /usr/$file"
    [ -f "/usr/$file" ] || fail "/usr/$file is not in place"
done < <(tarvik_expected_files "$have_updater")
grep -q '^/usr/local' "$out/dpkg-L.txt" && fail "the package put files under /usr/local"

programs=(/usr/bin/tarvik-flash)
[ $have_updater = 1 ] && programs+=(/usr/bin/tarvik-updater)
for program in "${programs[@]}"; do
    missing=$(ldd "$program" | grep 'not found' || true)
    [ -z "$missing" ] || fail "$program lacks libraries the package should depend on: $missing"
done
version=$(/usr/bin/tarvik-flash --version) || fail "tarvik-flash --version exited $?"
echo "tarvik-flash --version: $version"
[[ $version == "tarvik-flash $(dpkg-deb -f "$deb" Version)"* ]] ||
    fail "tarvik-flash --version printed '$version'"
# From PATH, as a user types it.
help=$(tarvik-flash --help) || fail "tarvik-flash --help exited $?"
[[ $help == "Usage: tarvik-flash"* ]] || fail "tarvik-flash --help printed no usage"
cmp -s "$source_dir/demo/tarvik-demo.bin" /usr/share/$package_name/tarvik-demo.bin ||
    fail "the installed demo firmware differs from demo/tarvik-demo.bin"

echo "--- apt-get purge $package_name"
DEBIAN_FRONTEND=noninteractive apt-get purge -y "$package_name" >"$out/apt-purge.log" 2>&1 || {
    cat "$out/apt-purge.log" >&2
    fail "apt-get purge failed"
}
installed=0
status=$(dpkg-query -W -f='${Status}' "$package_name" 2>/dev/null || true)
case $status in
    "" | *" not-installed") ;;
    *) fail "$package_name is left as '$status' after the purge" ;;
esac
while IFS= read -r file; do
    [ ! -e "/usr/$file" ] || fail "/usr/$file is still there after the purge"
done < <(tarvik_expected_files "$have_updater")

if [ $failures -ne 0 ]; then
    echo "package-check: $failures check(s) failed"
    exit 1
fi
echo "package-check: installed, ran and purged $(basename "$deb")"
