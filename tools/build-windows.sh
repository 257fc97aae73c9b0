#!/usr/bin/env bash
# The Windows build, from this Debian machine: cross-builds tarvik-flash.exe and the tests with
# mingw-w64 (linked statically: the .exe needs nothing beside it on Windows 10/11), runs the
# tests under Wine in a fresh prefix of the build's own, then the end-to-end run and the zip
# where the tree has them.
#
#   tools/build-windows.sh [BUILD_DIR]      (default build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."

started=$(date +%s)
trap 'echo "=== build-windows.sh: $(( $(date +%s) - started )) s"' EXIT

dir=${1:-build/windows}

source tools/install-deps.sh
packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest nlohmann-json3-dev)
install_packages

# A prefix of our own, made afresh: nothing a desktop's Wine has set up leaks into the tests.
# No display is needed; WINEDEBUG=-all keeps Wine's own chatter out of the test output.
export WINEDEBUG=-all
export WINEPREFIX="$(realpath -m "$dir")/wineprefix"
echo "=== Wine prefix $WINEPREFIX"
if [ -d "$WINEPREFIX" ]; then
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
fi
mkdir -p "$dir"
wineboot -i

echo "=== build $dir"
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTARVIK_WERROR=ON -DTARVIK_WINEPREFIX="$WINEPREFIX" >/dev/null
# Two jobs at most: the machine's cores are shared with other builds.
cmake --build "$dir" -j 2

echo "=== tests under Wine"
ctest --test-dir "$dir" --output-on-failure -j 2

if [ -f tools/windows-e2e.sh ]; then
    echo "=== end to end"
    bash tools/windows-e2e.sh "$dir"
fi
if [ -f "$dir/CPackConfig.cmake" ] && grep -q '^set(CPACK_GENERATOR ".*ZIP' "$dir/CPackConfig.cmake"; then
    echo "=== zip"
    (cd "$dir" && cpack -G ZIP)
fi
