#!/usr/bin/env bash
# A whole firmware download on the built-in simulated devices: installs what is needed and
# builds, then opens the window in demo mode where a display is available, and runs the
# command-line demo (serial, then USB, at real speed) where none is.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/install-deps.sh
install_packages
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    cmake --build build/release --target tarvik-updater >/dev/null
    exec build/release/src/app/qt/tarvik-updater --demo "$@"
fi
cmake --build build/release --target tarvik-flash >/dev/null
exec build/release/src/cli/tarvik-flash --demo "$@"
