#!/usr/bin/env bash
# PackagingTest.DebianPackage: builds the Debian package with cpack into a scratch folder and
# checks it with dpkg-deb: the control fields (name, version, architecture, the computed
# dependencies), exactly the expected files under /usr with the right modes and owner,
# nothing under /usr/local or named after the build, and stripped programs that carry no
# search path into the build.
#
# debian-package-test.sh BUILD_DIR SOURCE_DIR HAVE_UPDATER PACKAGE_VERSION
set -uo pipefail

# shellcheck source-path=SCRIPTDIR source=test-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/test-common.sh"

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1; then
    cat "$tmp/cpack.log"
    echo "FAIL: cpack failed"
    exit 1
fi
arch=$(dpkg --print-architecture)
debs=("$tmp"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "FAIL: expected one .deb, cpack made: $(ls "$tmp/out")"
    exit 1
fi
deb=${debs[0]}
[ "$(basename "$deb")" = "tarvik-firmware-utility_${version}_${arch}.deb" ] ||
    fail "the package is named $(basename "$deb"), not tarvik-firmware-utility_${version}_${arch}.deb"

# --- Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tarvik-firmware-utility ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
[[ $(field Maintainer) == "Tarvik Firmware Utility developers <"*@*">" ]] ||
    fail "Maintainer is '$(field Maintainer)'"
[ -n "$(field Section)" ] || fail "the package has no Section"
[ -n "$(field Description)" ] || fail "the package has no Description"
depends=$(field Depends)
[ -n "$depends" ] || fail "Depends is empty"
# One package name a line, without versions.
tr ',' '\n' <<<"$depends" | sed 's/(.*)//; s/[[:space:]]//g' | grep -v '^$' >"$tmp/depends"
want_depends=(libc6 'libhidapi-.*' 'libstdc\+\+6')
[ "$have_updater" = 1 ] && want_depends+=('libqt6widgets6')
for name in "${want_depends[@]}"; do
    grep -qxE "$name" "$tmp/depends" || fail "Depends lacks $name: $depends"
done
# Computed from what the programs link against, never from the build's tools.
grep -E -- '-dev$|gtest|gmock|benchmark' "$tmp/depends" >/dev/null &&
    fail "Depends names a build-only package: $depends"
[ "$have_updater" = 1 ] || ! grep -q qt "$tmp/depends" ||
    fail "Depends names Qt without the window: $depends"

# --- Contents.
dpkg-deb -c "$deb" >"$tmp/contents"
# Lines are: mode owner/group size date time ./path
awk '$1 !~ /^d/ { print $6 }' "$tmp/contents" | sed 's|^\./||' | sort >"$tmp/files"
tarvik_expected_files "$have_updater" | sed 's|^|usr/|' | sort >"$tmp/expected"
if ! diff -u "$tmp/expected" "$tmp/files" >"$tmp/files.diff"; then
    cat "$tmp/files.diff"
    fail "the package's files differ from the expected list (- missing, + unexpected)"
fi
awk '{ print $6 }' "$tmp/contents" | grep -E '^\./usr/local(/|$)' >/dev/null &&
    fail "the package has entries under /usr/local"
for dir in "$build" "$source_dir"; do
    dir=$(cd "$dir" && pwd -P)
    awk '{ print $6 }' "$tmp/contents" | grep -F -- "${dir#/}" >/dev/null &&
        fail "the package has entries named after $dir"
done
awk '{ print $6 }' "$tmp/contents" | grep -vE '^\./(usr(/|$)|$)' >"$tmp/outside" &&
    fail "the package has entries outside /usr: $(cat "$tmp/outside")"
awk '$2 != "root/root" { print $6 " " $2 }' "$tmp/contents" >"$tmp/owners"
[ -s "$tmp/owners" ] && fail "entries not owned by root: $(cat "$tmp/owners")"
while read -r mode _ _ _ _ path; do
    case $mode in d*) continue ;; esac
    case $path in
        ./usr/bin/*) want=-rwxr-xr-x ;;
        *) want=-rw-r--r-- ;;
    esac
    [ "$mode" = "$want" ] || fail "$path has mode $mode, not $want"
done <"$tmp/contents"

# --- The programs as packaged: stripped, and no run path into the build.
dpkg-deb -x "$deb" "$tmp/x"
programs=(tarvik-flash)
[ "$have_updater" = 1 ] && programs+=(tarvik-updater)
for program in "${programs[@]}"; do
    binary=$tmp/x/usr/bin/$program
    [ -f "$binary" ] || continue
    file -b "$binary" | grep -q 'ELF.*, stripped' || fail "$program is not stripped: $(file -b "$binary")"
    readelf -d "$binary" | grep -E 'RPATH|RUNPATH' >"$tmp/rpath" &&
        fail "$program carries a run path: $(cat "$tmp/rpath")"
done
cmp -s "$source_dir/demo/tarvik-demo.bin" "$tmp/x/usr/share/tarvik-firmware-utility/tarvik-demo.bin" ||
    fail "the packaged demo firmware differs from demo/tarvik-demo.bin"
rule=$tmp/x/usr/lib/udev/rules.d/70-tarvik-loader.rules
grep -q 'TAG+="uaccess"' "$rule" 2>/dev/null || fail "the packaged udev rule has no uaccess tag"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "Debian package $(basename "$deb"): all checks passed; Depends: $depends"
