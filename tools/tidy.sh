#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over the product's sources (app, iap, i2c,
# driver, platform, field-check) and their headers, as the linux preset compiles them: its
# compile_commands.json must exist (cmake --preset linux) and the build's generated files too.
# One file per core at a time; exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck disable=SC2046 # the list holds one package name a line, each its own word
tools/ensure-packages.sh $(cat tools/lint-packages.txt)
product="^$PWD/(app|iap|i2c|driver|platform|field-check)/"
started=$SECONDS
run-clang-tidy -p build/linux -j "$(nproc)" -quiet -header-filter="$product" "$product" \
  >build/linux/clang-tidy.log 2>&1 || {
  grep -E -A3 'warning:|error:' build/linux/clang-tidy.log || cat build/linux/clang-tidy.log
  echo "clang-tidy: findings above (whole output in build/linux/clang-tidy.log)." >&2
  exit 1
}
echo "clang-tidy: the product's sources clean ($((SECONDS - started)) s)."
