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

export WINEPREFIX=$build_dir/wine-window
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX" ]; then
    DISPLAY='' wineboot -i >/dev/null 2>&1 || die "cannot make the Wine prefix $WINEPREFIX"
fi
# A desktop started without a display takes no window: whatever ran before goes first.
wineserver -k 2>/dev/null || true

number=$(mktemp)
xvfb=
cleanup() {
    wineserver -k 2>/dev/null || true # the prefix's server, and the window with it
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null || true
    rm -f "$number"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$number" 2>/dev/null &
xvfb=$!
for ((tenths = 0; tenths < 100; tenths++)); do
    [ -s "$number" ] && break
    sleep 0.1
done
[ -s "$number" ] || die "Xvfb did not start"
export DISPLAY=:$(head -n 1 "$number")

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
