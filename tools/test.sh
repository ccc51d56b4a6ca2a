#!/usr/bin/env bash
# Builds everything and runs every test: the lints first, unit and end-to-end tests on Linux beside
# clang-tidy over the product's sources, then the same unit tests under AddressSanitizer and UBSan,
# then a short run of every fuzz target, then the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/lint.sh
# shellcheck disable=SC2046 # the list holds one package name a line, each its own word
tools/ensure-packages.sh $(cat tools/linux-packages.txt)
jobs=$(nproc)

cmake --preset linux
cmake --build --preset linux -j "$jobs"
# clang-tidy reads this build's compile commands and generated files. It runs beside the tests,
# whose end-to-end runs mostly wait on the emulated controller, and both must pass.
tools/tidy.sh &
tidy=$!
status=0
ctest --preset linux -j "$jobs" || status=1
wait "$tidy" || status=1
[ "$status" -eq 0 ]

cmake --preset linux-sanitize
cmake --build --preset linux-sanitize -j "$jobs"
ctest --preset linux-sanitize -j "$jobs"

# Every fuzz target for about 20 s over its committed seeds, two at a time.
# shellcheck disable=SC2046 # the list holds one package name a line, each its own word
tools/ensure-packages.sh $(cat tools/fuzz-packages.txt)
cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz -j 2

# The Windows build, cross-compiled with MinGW-w64; its end-to-end tests run it under Wine. The
# package is made of the substitute image, marked as such, so that its test has a zip to open.
# shellcheck disable=SC2046 # the list holds one package name a line, each its own word
tools/ensure-packages.sh $(cat tools/windows-packages.txt)
cmake --preset windows -DARGB_ALLOW_SUBSTITUTE_PACKAGE=ON
cmake --build --preset windows -j "$jobs"
cmake --build --preset windows --target package
ctest --preset windows -j "$jobs"
