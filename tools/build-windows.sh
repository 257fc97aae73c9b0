#!/usr/bin/env bash
# The Windows build, from this Debian machine: cross-builds tarvik-flash.exe, the window
# tarvik-updater.exe and the tests with mingw-w64 (linked statically: the .exe files need nothing
# beside them on Windows 10/11), runs the tests under Wine in a fresh prefix of the build's own,
# then the end-to-end run, the window's check on a virtual display, the zip and the installer,
# which is installed silently into that prefix, run, and uninstalled again.
#
#   tools/build-windows.sh [BUILD_DIR]      (default build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."

started=$(date +%s)
trap 'echo "=== build-windows.sh: $(( $(date +%s) - started )) s"' EXIT

dir=${1:-build/windows}

source tools/install-deps.sh
packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest nlohmann-json3-dev
          nsis unzip xvfb xdotool)
install_packages

# A prefix of our own, made afresh: nothing a desktop's Wine has set up leaks into the tests.
# The command line needs no display; the window's tests and check bring up an Xvfb display
# and a prefix of their own. WINEDEBUG=-all keeps Wine's own chatter out of the test output.
export WINEDEBUG=-all
export WINEPREFIX="$(realpath -m "$dir")/wineprefix"
echo "=== Wine prefix $WINEPREFIX"
if [ -d "$WINEPREFIX" ]; then
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
fi
rm -rf "$dir/wineprefix-window" "$dir/wine-window"
mkdir -p "$dir"
wineboot -i

# The installer, as an operator runs it, silently (/S), in the test prefix: what the zip holds
# is installed per machine under Program Files, registered for uninstalling, with the window
# in the Start menu when the build has one; the installed program runs; the uninstaller
# (which copies itself away and returns at once) leaves none of it behind.
check_installer() {
    local installer name="Tarvik Firmware Utility"
    installer=$(ls "$dir"/tarvik-firmware-utility-*-win64-setup.exe)
    local folder="$WINEPREFIX/drive_c/Program Files/$name"
    local menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$name"
    local key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name"
    local exe="C:\\Program Files\\$name\\tarvik-flash.exe"
    local failed=0 file version
    fail() { echo "FAIL  installer: $*"; failed=1; }

    echo "  $(basename "$installer"): $(stat -c %s "$installer") bytes"
    timeout 120 wine "$installer" /S || fail "the installer exited $?"
    while IFS= read -r file; do
        [ -f "$folder/$file" ] || fail "$file is not installed"
    done < <(unzip -Z1 "$dir"/tarvik-firmware-utility-*-win64.zip | sed -n 's|^[^/]*/\(.\)|\1|p')
    [ -f "$folder/Uninstall.exe" ] || fail "no uninstaller"
    if [ -f "$folder/tarvik-updater.exe" ] && [ ! -f "$menu/$name.lnk" ]; then
        fail "no Start-menu entry for the window"
    fi
    timeout 60 wine reg query "$key" >/dev/null 2>&1 || fail "not registered for uninstalling"
    version=$(timeout 60 wine "$exe" --version | tr -d '\r') || true
    [ "$version" = "tarvik-flash 2.0.0.0" ] || fail "the installed program answers \"$version\""
    # From a folder whose name has a space, each port's child is this program again.
    timeout 120 wine "$exe" --simulate --quiet --port COM3 --port usb \
        "C:\\Program Files\\$name\\tarvik-demo.bin" ||
        fail "the installed program did not flash the demo firmware on two ports"

    timeout 60 wine "$folder/Uninstall.exe" /S || fail "the uninstaller exited $?"
    local tenths
    for ((tenths = 0; tenths < 600; tenths++)); do
        [ -e "$folder" ] || [ -e "$menu" ] || break
        sleep 0.1
    done
    [ -e "$folder" ] && fail "left behind: $(find "$folder" | tr '\n' ' ')"
    [ -e "$menu" ] && fail "the Start-menu folder is left behind"
    timeout 60 wine reg query "$key" >/dev/null 2>&1 && fail "still registered for uninstalling"
    [ "$failed" = 0 ] || return 1
    echo "PASS  installer: installed, \"$version\", demo firmware on two ports, uninstalled in $((tenths / 10)).$((tenths % 10)) s"
}

echo "=== build $dir"
# ccache, where there is one, keeps a rebuild of the same sources to seconds.
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTARVIK_WERROR=ON -DTARVIK_WINEPREFIX="$WINEPREFIX" \
    "${launcher[@]}" >/dev/null
# Two jobs at most: the machine's cores are shared with other builds.
cmake --build "$dir" -j 2

echo "=== tests under Wine"
ctest --test-dir "$dir" --output-on-failure -j 2

if [ -f tools/windows-e2e.sh ]; then
    echo "=== end to end"
    bash tools/windows-e2e.sh "$dir"
fi
echo "=== window"
bash tools/windows-window-check.sh "$dir"
if [ -f "$dir/CPackConfig.cmake" ] && grep -q '^set(CPACK_GENERATOR ".*ZIP' "$dir/CPackConfig.cmake"; then
    echo "=== zip"
    (cd "$dir" && cpack -G ZIP)
fi
if [ -f "$dir/CPackConfig.cmake" ] && grep -q '^set(CPACK_GENERATOR ".*NSIS' "$dir/CPackConfig.cmake"; then
    echo "=== installer"
    (cd "$dir" && cpack -G NSIS)
    check_installer
fi
