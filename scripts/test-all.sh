#!/usr/bin/env bash
# Builds every flavour and runs every test:
#   native (g++), native under ASan+UBSan (clang), Windows 32-bit (mingw i686,
#   under 32-bit Wine and Xvfb), Windows 64-bit (mingw x86_64, under 64-bit
#   Wine, with the 32-bit programs beside it), and a short bounded fuzzing run
#   (clang, libFuzzer).
# Usage: scripts/test-all.sh [native|sanitize|windows|windows64|fuzz ...]   (default: all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh"
echo "== install-deps: ok ($SECONDS s)"

stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(native sanitize windows windows64 fuzz)
jobs=$(nproc)
passed=0
failed=0
record() {  # name status seconds
  if [ "$2" -eq 0 ]; then passed=$((passed + 1)); echo "== $1: ok ($3 s)"
  else failed=$((failed + 1)); echo "== $1: FAILED ($3 s)"; fi
}

native() {
  cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/native -j"$jobs"
  ctest --test-dir build/native --output-on-failure -j"$jobs"
}

sanitize() {
  cmake -S . -B build/sanitize -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=Debug -DVOST_SANITIZE=ON >/dev/null
  cmake --build build/sanitize -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/sanitize --output-on-failure -j"$jobs" -LE slow
}

windows() {
  FLAVOUR=i686 "$root/scripts/build-windows.sh" test
}

windows64() {
  FLAVOUR=x86_64 "$root/scripts/build-windows.sh" test
}

fuzz() {
  "$root/fuzz/run.sh" "${VOST_FUZZ_SECONDS:-30}"
}

for stage in "${stages[@]}"; do
  echo "== $stage"
  started=$SECONDS
  set +e
  ( set -e; "$stage" )
  status=$?
  set -e
  record "$stage" "$status" $((SECONDS - started))
done

echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
