#!/bin/sh
# Runs every fuzz target for DURATION seconds each; fails on the first crash.
# Usage: fuzz/run.sh DURATION [BUILD_DIR]
# BUILD_DIR defaults to build/fuzz and is configured with clang and
# -DVOST_FUZZ=ON when it does not exist yet.
set -eu
duration=${1:?duration in seconds}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build/fuzz}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVOST_FUZZ=ON -DVOST_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
make -C "$build" -j2 fuzz_header_reader fuzz_walkers make_seed_images

seeds="$build/fuzz/seeds"
[ -d "$seeds" ] || "$root/fuzz/make-seeds.sh" "$build" "$seeds"

for target in fuzz_header_reader fuzz_walkers; do
  corpus="$build/fuzz/corpus-$target"
  artifacts="$build/fuzz/artifacts-$target/"
  mkdir -p "$corpus" "$artifacts"
  echo "== $target for ${duration}s"
  log="$build/fuzz/$target.log"
  status=0
  "$build/fuzz/$target" -max_total_time="$duration" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts" \
    "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  grep -E "^#[0-9]+ +DONE|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)" "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log" >&2
    echo "$target: crash (exit $status), see $log and $artifacts" >&2
    exit 1
  fi
done
echo "all fuzz targets ran ${duration}s without a crash"
