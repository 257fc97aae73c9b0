# Sourced by the scripts that show tarvik-updater.exe under Wine: a Wine prefix of the
# window's own and a virtual X display.
#
#   wine_display_up PREFIX WIDTHxHEIGHT    exports WINEPREFIX and DISPLAY, or dies
#   wine_display_down                      ends the prefix's server, then the display
#
# The caller defines die(). Xvfb picks a free display number itself (-displayfd), so runs
# started at the same time, ours or anyone's on the machine, never take the same one.

wine_display_up() {
    export WINEPREFIX=$1
    export WINEDEBUG=-all
    # No Mono or Gecko: nothing here needs them, and their installers would ask on the display.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -d "$WINEPREFIX" ]; then
        DISPLAY='' wineboot -i >/dev/null 2>&1 || die "cannot make the Wine prefix $WINEPREFIX"
    fi
    # A desktop started without a display takes no window: whatever ran before goes first.
    wineserver -k 2>/dev/null || true
    wine_display_number=$(mktemp) || die "no temporary file"
    Xvfb -displayfd 3 -screen 0 "$2x24" -nolisten tcp 3>"$wine_display_number" 2>/dev/null &
    wine_display_xvfb=$!
    local tenths
    for ((tenths = 0; tenths < 100; tenths++)); do
        [ -s "$wine_display_number" ] && break
        sleep 0.1
    done
    [ -s "$wine_display_number" ] || die "Xvfb did not start"
    export DISPLAY=:$(head -n 1 "$wine_display_number")
}

wine_display_down() {
    # The prefix is ours alone: its server goes with whatever still runs in it.
    wineserver -k 2>/dev/null || true
    [ -n "${wine_display_xvfb:-}" ] && kill "$wine_display_xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -f "${wine_display_number:-}"
    return 0
}
