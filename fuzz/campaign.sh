#!/bin/sh
# A long fuzzing campaign: every target until RUNS executions (or MAX_SECONDS
# each), two at a time on two cores: fuzz_scan on one, the other three one
# after another on the other. Logs, corpora and artifacts go to OUT_DIR.
# Usage: fuzz/campaign.sh BUILD_DIR OUT_DIR [RUNS] [MAX_SECONDS]
set -eu
build=${1:?build dir}
out=${2:?output dir}
runs=${3:-10000000}
seconds=${4:-4200}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"
[ -d "$out/seeds" ] || "$root/fuzz/make-seeds.sh" "$build" "$out/seeds"

run() {  # TARGET MAX_LEN
  target=$1
  log="$out/$target.log"
  mkdir -p "$out/corpus-$target" "$out/artifacts-$target"
  dict=""
  [ "$target" = fuzz_scan ] && dict="-dict=$root/fuzz/scan.dict"
  start=$(date +%s)
  "$build/fuzz/$target" -runs="$runs" -max_total_time="$seconds" -max_len="$2" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/artifacts-$target/" $dict \
    "$out/corpus-$target" "$out/seeds" >"$log" 2>&1 || echo "exit $?" >>"$log"
  echo "$target wall seconds: $(( $(date +%s) - start ))" >>"$log"
}

run fuzz_scan 131072 &
scan=$!
run fuzz_header_reader 65536
run fuzz_walkers 65536
run fuzz_version_resource 65536
wait "$scan"
echo "campaign done $(date)" >"$out/done"
