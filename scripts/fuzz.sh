#!/usr/bin/env bash
# Builds the fuzz targets (clang with libFuzzer, ASan and UBSan) in their own build folder and runs
# each for the given number of seconds, several at once. Inputs the fuzzers find go to
# <build>/fuzz/corpus/<name>/, crashing inputs to <build>/fuzz/crashes/<name>/; any crash, hang or
# memory blow-up fails the run.
#   scripts/fuzz.sh [seconds] [name...]     (default: 20 seconds, every target)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
build=${VELTO_FUZZ_BUILD_DIR:-build-fuzz}
jobs=${VELTO_FUZZ_JOBS:-${VELTO_JOBS:-$(nproc)}}

# clang and the Markdown parser: the fuzzers link the cmark-gfm that setup.sh builds for the main
# build folder, the same one the application uses.
scripts/setup.sh
main_build=$(cd "${VELTO_BUILD_DIR:-build}" && pwd)
configure=(-DVELTO_CMARK_GFM_PREFIX="$main_build/cmark-gfm")
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  configure+=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++
    -DVELTO_FUZZ=ON -DVELTO_BUILD_TESTS=OFF -DVELTO_BUILD_BENCHMARKS=OFF)
fi
cmake -S . -B "$build" "${configure[@]}" >/dev/null
cmake --build "$build" --target velto_fuzzers --parallel "${VELTO_JOBS:-$(nproc)}"

names=("$@")
if ((${#names[@]} == 0)); then
  for dir in tests/fuzz/corpus/*/; do
    names+=("$(basename "$dir")")
  done
fi

work="$build/fuzz"
mkdir -p "$work/logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run() {
  local name=$1
  mkdir -p "$work/corpus/$name" "$work/crashes/$name"
  local rc=0
  "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/crashes/$name/" \
    "$work/corpus/$name" "tests/fuzz/corpus/$name" >"$work/logs/$name.log" 2>&1 || rc=$?
  echo "$rc" >"$work/logs/$name.rc"
}

rm -f "$work"/logs/*.rc
running=0
for name in "${names[@]}"; do
  if ((running >= jobs)); then
    wait -n || true
    running=$((running - 1))
  fi
  run "$name" &
  running=$((running + 1))
done
wait

failed=0
for name in "${names[@]}"; do
  rc=$(cat "$work/logs/$name.rc" 2>/dev/null || echo missing)
  runs=$(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$work/logs/$name.log" | tail -1 || true)
  if [[ "$rc" == 0 ]]; then
    echo "fuzz_$name: ok (${runs:-no summary})"
  else
    failed=1
    echo "fuzz_$name: FAILED (exit $rc); log $work/logs/$name.log"
    tail -n 40 "$work/logs/$name.log"
  fi
done
exit "$failed"
