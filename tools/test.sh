#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: installs what the project needs,
# then builds and runs the suite in a normal build, under AddressSanitizer with
# UndefinedBehaviorSanitizer (with the fuzz targets), and under ThreadSanitizer (all but the
# window: Qt's own libraries are not built for it; the logic's threads are covered there).
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/install-deps.sh

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

# A packager's build (plain Release with g++), here with warnings as errors; the Debian
# package comes from it.
build_and_test build/release -DCMAKE_BUILD_TYPE=Release -DTARVIK_WERROR=ON
# The Debian package of that build; on CI also installed, run and purged.
bash tools/package-check.sh build/release
# clang, so that the fuzz targets are built and run here too.
build_and_test build/asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DTARVIK_WERROR=ON \
    -DTARVIK_SANITIZE=address,undefined -DTARVIK_BUILD_BENCH=OFF
build_and_test build/tsan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVIK_WERROR=ON -DTARVIK_SANITIZE=thread -DTARVIK_BUILD_BENCH=OFF -DTARVIK_BUILD_QT=OFF
# The Windows programs, cross-built with mingw-w64, their tests and the end-to-end runs under
# Wine (the window's on an Xvfb display), the zip and the installer.
bash tools/build-windows.sh build/windows
