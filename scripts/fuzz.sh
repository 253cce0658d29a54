#!/bin/bash
# Builds the fuzz targets (fuzz/, with clang) and runs each for SECONDS (default 60), one
# after the other, from the seeds in fuzz/corpus/<name>. What a run learns is kept in
# build/fuzz/corpus/<name>; an input that makes a target fail is left in
# build/fuzz/findings/. The status is 1 when any target fails or does not build.
# Usage: fuzz.sh [SECONDS]
set -euo pipefail
. "$(dirname "$0")/env.sh"
seconds=${1:-60}
"$QM_ROOT/scripts/setup-packages" build fuzz

tree=$QM_ROOT/build/fuzz
mkdir -p "$tree"
if ! { cmake -S "$QM_ROOT/fuzz" -B "$tree" -DCMAKE_CXX_COMPILER=clang++ &&
       cmake --build "$tree" -j "$QM_JOBS"; } >"$tree/build.log" 2>&1; then
  echo "FAIL the fuzz targets do not build:" >&2
  tail -30 "$tree/build.log" >&2
  exit 1
fi

status=0
mkdir -p "$tree/findings"
for target in "$tree"/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target"); name=${name#fuzz_}
  mkdir -p "$tree/corpus/$name"
  echo "== $name (${seconds}s)"
  if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$tree/findings/$name-" "$tree/corpus/$name" "$QM_ROOT/fuzz/corpus/$name" \
      >"$tree/$name.log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^stat::new_units_added|cov: ' "$tree/$name.log" | tail -3
  else
    echo "FAIL $name: see $tree/$name.log" >&2
    tail -30 "$tree/$name.log" >&2
    status=1
  fi
done
exit $status
