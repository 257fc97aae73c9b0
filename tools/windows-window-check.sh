#!/usr/bin/env bash
# tarvik-updater.exe's window under Wine, on a virtual display: starts `tarvik-updater.exe
# --demo`, waits (60 s at most) for a window with the dialog's caption and the demo's note,
# prints how long it took from launch (Wine's server already running), closes it with Esc and
# waits for the program to end with status 0.
# Prints PASS or FAIL; exits 1 on failure, 2 when the check cannot run.
#
#   tools/windows-window-check.sh BUILD_DIR   (BUILD_DIR/src/app/win32/tarvik-updater.exe)
#
# Wine runs in a prefix of its own, BUILD_DIR/wine-window (made when missing). No serial port
# or device is opened: the demo's devices are simulated inside the program.
set -uo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build_dir=$(cd "$1" && pwd) || exit 2
exe=$build_dir/src/app/win32/tarvik-updater.exe
readonly caption='Olmen V1\.00  05-08-2014 — demo: simulated devices'
readonly kShowLimit=3000 # fiftieths of a second: the window appears
readonly kEndLimit=300  # tenths of a second: the program ends once closed

die() {
    echo "windows-window-check: $*" >&2
    exit 2
}
[ -f "$exe" ] || die "no $exe: build the Windows programs first (tools/build-windows.sh)"
for tool in wine wineserver Xvfb xdotool; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
done

source "$(dirname "$0")/wine-display.sh"
app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    wine_display_down
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
wine_display_up "$build_dir/wine-window" 1024x768
# The prefix's server up before the clock starts: the time is the program's, not the server's.
wine cmd /c exit >/dev/null 2>&1

started=$(date +%s%N)
wine "$exe" --demo >/dev/null 2>&1 &
app=$!
window=
for ((fiftieths = 0; fiftieths < kShowLimit; fiftieths++)); do
    window=$(xdotool search --name "$caption" 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$app" 2>/dev/null || break
    sleep 0.02
done
if [ -z "$window" ]; then
    echo "FAIL  no window \"$caption\" within $((kShowLimit / 50)) s"
    exit 1
fi
shown=$(date +%s%N)
echo "PASS  window \"$(xdotool getwindowname "$window")\" shown"
printf 'start time: %d ms from launch to the window (Wine server running)\n' \
    $(((shown - started) / 1000000))

# Esc: nothing runs, so the window closes at once and the program ends.
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key Escape
for ((tenths = 0; tenths < kEndLimit; tenths++)); do
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$app" 2>/dev/null; then
    echo "FAIL  the window did not close on Esc within $((kEndLimit / 10)) s"
    exit 1
fi
wait "$app"
status=$?
app=
if [ "$status" -ne 0 ]; then
    echo "FAIL  tarvik-updater.exe ended with status $status"
    exit 1
fi
echo "PASS  closed with Esc, exit status 0"
