#!/usr/bin/env bash
# A screenshot of tarvik-updater.exe's demo window under Wine, without a desktop: the window
# runs in a Wine virtual desktop (which draws its frame and caption) on a virtual X display,
# and the screen is saved as a PNG.
#
#   tools/screenshot-windows.sh OUT.png [BUILD_DIR]   (default build/windows)
#
# Wine runs in BUILD_DIR/wine-window, the window check's prefix (made when missing).
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 OUT.png [BUILD_DIR]" >&2
    exit 2
fi
out=$(realpath -m "$1")
build_dir=$(cd "${2:-build/windows}" && pwd)
exe=$build_dir/src/app/win32/tarvik-updater.exe
readonly caption='Olmen V1\.00  05-08-2014'
readonly size=640x300
readonly kShowLimit=600 # tenths of a second

die() {
    echo "screenshot-windows: $*" >&2
    exit 2
}
[ -f "$exe" ] || die "no $exe: build the Windows programs first (tools/build-windows.sh)"
for tool in wine wineserver Xvfb xdotool import; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
done

source "$(dirname "$0")/wine-display.sh"
trap wine_display_down EXIT
wine_display_up "$build_dir/wine-window" "$size"

wine explorer "/desktop=tarvik,$size" "$exe" --demo >/dev/null 2>&1 &
for ((tenths = 0; tenths < kShowLimit; tenths++)); do
    xdotool search --name "$caption" >/dev/null 2>&1 && break
    sleep 0.1
done
xdotool search --name "$caption" >/dev/null 2>&1 || die "the window did not appear"
sleep 1 # painted
mkdir -p "$(dirname "$out")"
import -window root "$out"
echo "saved $out"
