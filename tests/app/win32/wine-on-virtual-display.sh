#!/bin/sh
# Runs a Windows program under Wine on a virtual X display of its own:
#   wine-on-virtual-display.sh PREFIX PROGRAM [ARG]...
# Wine's user32 creates no window without a display driver, so the window's tests need one.
# They get a Wine prefix of their own as well, made here when missing: in a prefix whose
# desktop was started without a display (the console tests' prefix) no window can be created.
# Xvfb picks a free display number itself (-displayfd): runs started at the same time, ours or
# anyone's on the machine, never take the same one.
set -u
readonly start_limit=100 # tenths of a second

export WINEPREFIX=$1
shift
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask on the display.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX" ]; then
    DISPLAY='' wineboot -i >/dev/null 2>&1 || exit 1
    wineserver -k 2>/dev/null # its desktop, started without a display, would take no window
fi

number=$(mktemp) || exit 1
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number" 2>/dev/null &
xvfb=$!
stop() {
    # The prefix is ours alone: its server goes with whatever still runs in it (the desktop),
    # before the display it shows on.
    wineserver -k 2>/dev/null
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
    rm -f "$number"
}
trap 'stop; exit 143' TERM
trap 'stop; exit 130' INT

tenths=0
while [ ! -s "$number" ]; do
    if ! kill -0 "$xvfb" 2>/dev/null || [ "$tenths" -ge "$start_limit" ]; then
        echo "wine-on-virtual-display.sh: Xvfb did not start" >&2
        stop
        exit 1
    fi
    sleep 0.1
    tenths=$((tenths + 1))
done
DISPLAY=:$(head -n 1 "$number") wine "$@"
status=$?
stop
exit "$status"
