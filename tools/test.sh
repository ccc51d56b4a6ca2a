#!/usr/bin/env bash
# Builds everything and runs every test: unit and end-to-end tests on Linux, then the same unit
# tests under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-packages.sh $(cat tools/linux-packages.txt)
jobs=$(nproc)

cmake --preset linux
cmake --build --preset linux -j "$jobs"
ctest --preset linux -j "$jobs"

cmake --preset linux-sanitize
cmake --build --preset linux-sanitize -j "$jobs"
ctest --preset linux-sanitize -j "$jobs"
