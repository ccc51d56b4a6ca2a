#!/usr/bin/env bash
# One fuzz target's short run in the test command, as CTest starts it (tests/fuzz/CMakeLists.txt):
#   tools/fuzz-short-run.sh TARGET WORK SEEDS SECONDS [libFuzzer options...]
# Every run starts from an empty corpus in WORK over the committed SEEDS; a finding goes to WORK.
set -euo pipefail
target=$1 work=$2 seeds=$3 seconds=$4
shift 4
rm -rf "$work"
mkdir -p "$work/corpus"
exec "$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$work/" "$@" "$work/corpus" "$seeds"
