#!/usr/bin/env bash
# Runs every fuzz target for longer than the test command does, one after the other on one core:
#   tools/fuzz.sh [seconds per target, default 600]
# New corpus entries stay in build/fuzz/corpus/<target>, out of the repository, and the next run
# starts from them; a target stops at its first finding, which goes to build/fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
# shellcheck disable=SC2046 # the list holds one package name a line, each its own word
tools/ensure-packages.sh $(cat tools/fuzz-packages.txt)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2

found=0
report=()
for target in build/fuzz/tests/fuzz/fuzz_*; do
  [[ -f $target && -x $target ]] || continue
  name=$(basename "$target")
  corpus=build/fuzz/corpus/$name
  findings=build/fuzz/findings/$name
  log=build/fuzz/logs/$name.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  before=$(find "$corpus" -type f | wc -l)
  echo "$name: ${seconds} s"
  options=$(cat "tests/fuzz/options/$name" 2>/dev/null || true)
  # shellcheck disable=SC2086 # the options are words
  "$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 $options \
    -artifact_prefix="$findings/" "$corpus" "tests/fuzz/corpus/$name" >"$log" 2>&1 || true
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  added=$(($(find "$corpus" -type f | wc -l) - before))
  artifacts=$(find "$findings" -type f | wc -l)
  found=$((found + artifacts))
  report+=("$(printf '%-20s %7s exec/s %6d new corpus entries %3d findings' "$name" "${rate:-?}" \
    "$added" "$artifacts")")
  if [ "$artifacts" -gt 0 ]; then
    grep -m1 -E '^(broken:|==[0-9]+==ERROR|SUMMARY)' "$log" || true
    find "$findings" -type f
  fi
done
printf '%s\n' "${report[@]}"
[ "$found" -eq 0 ] && echo "Nothing found." || echo "Findings: see build/fuzz/findings and build/fuzz/logs."
