#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: installs what the project needs,
# then builds and runs the suite in a normal build and again under sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ clang libclang-rt-14-dev clang-format
          libgtest-dev libgmock-dev libbenchmark-dev)

install_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Run as root, or install: ${missing[*]}" >&2; exit 1; }
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build DIR [cmake options...]: configure, build and run every test of one build.
build_and_test() {
    local dir=$1
    shift
    echo "=== $dir"
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir"
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
}

install_packages

echo "=== formatting"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

build_and_test build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
# clang, so that the fuzz targets are built and run here too.
build_and_test build/asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DTARVIK_SANITIZE=address,undefined -DTARVIK_BUILD_BENCH=OFF
