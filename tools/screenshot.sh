#!/usr/bin/env bash
# Starts the window in demo mode on a virtual display and saves a screenshot of it, so a
# reviewer can look at the window without a desktop: tools/screenshot.sh [out.png] [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/tarvik-updater.png}
wait_s=${2:-3}

source tools/install-deps.sh
packages+=(xvfb x11-apps imagemagick)
install_packages
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target tarvik-updater >/dev/null

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 800x480x24 -nolisten tcp &
xvfb=$!
trap 'kill "$app" "$xvfb" 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb build/release/src/app/qt/tarvik-updater --demo &
app=$!
sleep "$wait_s"
mkdir -p "$(dirname "$out")"
DISPLAY=$display import -window root "$out"
echo "saved $out"
