#!/bin/sh
# A long fuzzing campaign, two targets at a time on two cores, all within
# SECONDS: fuzz_scan (the slowest) on one core for the whole time; on the
# other, fuzz_version_resource until RUNS executions, then fuzz_walkers until
# RUNS or half the time, then fuzz_header_reader until RUNS or the end.
# Corpora are kept in OUT_DIR, so a second campaign goes on from the first.
# Logs, corpora and crash artifacts go to OUT_DIR.
# Usage: fuzz/campaign.sh BUILD_DIR OUT_DIR [RUNS] [SECONDS]
set -eu
build=${1:?build dir}
out=${2:?output dir}
runs=${3:-10000000}
seconds=${4:-3600}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"
[ -d "$out/seeds" ] || "$root/fuzz/make-seeds.sh" "$build" "$out/seeds"
start=$(date +%s)
end=$(( start + seconds ))
half=$(( start + seconds / 2 ))

run() {  # TARGET MAX_LEN UNTIL
  target=$1
  log="$out/$target.log"
  began=$(date +%s)
  left=$(( $3 - began ))
  [ "$left" -gt 10 ] || { echo "$target: no time left" >"$log"; return 0; }
  mkdir -p "$out/corpus-$target" "$out/artifacts-$target"
  dict=""
  [ "$target" = fuzz_scan ] && dict="-dict=$root/fuzz/scan.dict"
  "$build/fuzz/$target" -runs="$runs" -max_total_time="$left" -max_len="$2" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/artifacts-$target/" $dict \
    "$out/corpus-$target" "$out/seeds" >"$log" 2>&1 || echo "exit $?" >>"$log"
  echo "$target wall seconds: $(( $(date +%s) - began ))" >>"$log"
}

run fuzz_scan 131072 "$end" &
scan=$!
run fuzz_version_resource 65536 "$end"
# The walkers take the new-header offset from the input, so small inputs
# reach every structure; 8 KiB keeps each execution cheap.
run fuzz_walkers 8192 "$half"
run fuzz_header_reader 65536 "$end"
wait "$scan"
echo "campaign done $(date)" >"$out/done"
