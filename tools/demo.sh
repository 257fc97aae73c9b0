#!/usr/bin/env bash
# A whole firmware download on the built-in simulated device: installs what is needed,
# builds the command line, and flashes the demo firmware at the real line speed.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/install-deps.sh
install_packages
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target tarvik-flash >/dev/null
exec build/release/src/cli/tarvik-flash --demo "$@"
