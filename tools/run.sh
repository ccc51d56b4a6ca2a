#!/usr/bin/env bash
# Builds the updater for Linux and runs it against the emulated driver and LED controller.
# Emulator settings (ARGB_EMU_*) in the environment pass through; see emulator/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck disable=SC2046 # the list holds one package name a line, each its own word
tools/ensure-packages.sh $(cat tools/linux-packages.txt)
cmake --preset linux >/dev/null
cmake --build --preset linux --target argb-fw-updater >/dev/null
exec build/linux/argb-fw-updater
