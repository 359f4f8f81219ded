#!/bin/sh
# Runs every fuzz target for DURATION seconds each, two at a time (one per
# core); fails when any of them finds a crash.
# Usage: fuzz/run.sh DURATION [BUILD_DIR]
# BUILD_DIR defaults to build/fuzz and is configured with clang and
# -DVOST_FUZZ=ON when it does not exist yet.
set -eu
duration=${1:?duration in seconds}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build/fuzz}
targets="fuzz_header_reader fuzz_walkers fuzz_version_resource fuzz_scan fuzz_api_set_schema fuzz_exports fuzz_icon_resources fuzz_manifest fuzz_undecorate fuzz_managed"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVOST_FUZZ=ON -DVOST_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
# shellcheck disable=SC2086
make -C "$build" -j2 $targets make_seed_images

seeds="$build/fuzz/seeds"
[ -d "$seeds" ] || "$root/fuzz/make-seeds.sh" "$build" "$seeds"

run() {  # TARGET: runs it, writes its exit status to its .status file
  target=$1
  corpus="$build/fuzz/corpus-$target"
  artifacts="$build/fuzz/artifacts-$target/"
  mkdir -p "$corpus" "$artifacts"
  max_len=65536
  dict=""
  limits="-timeout=10 -rss_limit_mb=2048"
  case $target in
    fuzz_scan) max_len=131072; dict="-dict=$root/fuzz/scan.dict" ;;
    fuzz_walkers) max_len=8192 ;;
    # Past the length cap (4,096) every name comes back as it is. A name's
    # reading is measured before it is made: a few hundred bytes that read
    # as gigabytes must be caught here, so one allocation may take 16 MB (a
    # reading has at most 8,192 characters), the process 512 MB (ASan keeps
    # up to 256 MB of freed memory in quarantine), one name 2 s.
    fuzz_undecorate) max_len=4160; dict="-dict=$root/fuzz/undecorate.dict"
      limits="-timeout=2 -rss_limit_mb=512 -malloc_limit_mb=16" ;;
    fuzz_manifest) dict="-dict=$root/fuzz/manifest.dict" ;;
    fuzz_managed) dict="-dict=$root/fuzz/managed.dict" ;;  # the offset comes from the input: small inputs reach everything
  esac
  status=0
  # shellcheck disable=SC2086
  "$build/fuzz/$target" -max_total_time="$duration" -max_len="$max_len" $limits \
    -print_final_stats=1 -artifact_prefix="$artifacts" $dict \
    "$corpus" "$seeds" >"$build/fuzz/$target.log" 2>&1 || status=$?
  echo "$status" >"$build/fuzz/$target.status"
}

report() {  # TARGET: prints its figures; fails on a crash
  target=$1
  log="$build/fuzz/$target.log"
  status=$(cat "$build/fuzz/$target.status")
  echo "== $target (${duration}s)"
  grep -E "^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)" "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log" >&2
    echo "$target: crash (exit $status), see $log and $build/fuzz/artifacts-$target/" >&2
    return 1
  fi
}

failed=0
set -- $targets
while [ $# -gt 0 ]; do
  first=$1; shift
  if [ $# -gt 0 ]; then
    second=$1; shift
    run "$first" & pid=$!
    run "$second"
    wait "$pid" || true
    report "$first" || failed=1
    report "$second" || failed=1
  else
    run "$first"
    report "$first" || failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "all fuzz targets ran ${duration}s without a crash"
