#!/usr/bin/env bash
# Builds tests as Debug with a sanitizer, in a build folder of their own, and runs them under it; a
# finding aborts the test that caused it, so it fails the run.
#   scripts/sanitize.sh address [label...]   ASan + UBSan, build-asan/
#   scripts/sanitize.sh thread [label...]    TSan, build-tsan/
# Only the test executables of the chosen labels are built. By default ASan+UBSan runs the core
# areas and the editor; the shell, chat, API and install tests mostly put those same libraries
# together behind widgets, and building them once more would take CI past its time budget. TSan
# defaults to the areas that start threads. Qt and glib are not built with it, so their own
# hand-overs between threads are invisible to it: TSan checks only the accesses our code makes
# (ignore_noninstrumented_modules), which is where a race of ours shows, and our code names the
# hand-overs it makes through Qt's queues (platform/ThreadHandOver.h).
# Suppressions: tests/sanitizers/.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:?usage: scripts/sanitize.sh address|thread [label...]}
shift
labels=("$@")
case "$kind" in
address)
  build=${VELTO_ASAN_BUILD_DIR:-build-asan}
  sanitize=address,undefined
  # live is left out: a forwarding coroutine still suspended when its engine goes at the end of a
  # test is resumed only from the event loop, which no longer runs, so its frame stays allocated.
  ((${#labels[@]})) || labels=(platform markdown model editor)
  ;;
thread)
  build=${VELTO_TSAN_BUILD_DIR:-build-tsan}
  sanitize=thread
  ((${#labels[@]})) || labels=(editor preview platform sync model)
  # A memory bound means nothing in TSan's shadow memory, and the test takes minutes under it.
  exclude='thirtyMebibytesOfNewlinesKeepMemoryBounded|pdfPanelUnderWindowManager'
  # The preview's threads of our own (its render worker, parses freed in the background) run with
  # a real view in the binding and controller tests. What the other preview tests add is work in
  # the web engine's page, which runs on Chromium's threads, out of TSan's sight, and takes most
  # of ten minutes under it. Discovered tests name themselves on the command line, which wins.
  export GTEST_FILTER=${GTEST_FILTER:--PreviewWebTest.*:PreviewPage.*:PreviewPatch.*:HTMLExport.*:PDFExport.*}
  ;;
*)
  echo "sanitize: unknown kind '$kind' (address or thread)" >&2
  exit 2
  ;;
esac

# The sanitizer builds link the cmark-gfm that setup.sh builds for the main build folder.
scripts/setup.sh
main_build=$(cd "${VELTO_BUILD_DIR:-build}" && pwd)
configure=(-DVELTO_CMARK_GFM_PREFIX="$main_build/cmark-gfm")
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  configure+=(-G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELTO_SANITIZE="$sanitize"
    -DVELTO_BUILD_BENCHMARKS=OFF)
fi
cmake -S . -B "$build" "${configure[@]}" >/dev/null

targets=()
for label in "${labels[@]}"; do
  targets+=("test_$label")
done
cmake --build "$build" --parallel "${VELTO_JOBS:-$(nproc)}" --target "${targets[@]}"

supp=$(pwd)/tests/sanitizers
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$supp/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp}
# The PDF export forks a helper process from a threaded one; the child only execs.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:die_after_fork=0:suppressions=$supp/tsan.supp}

regex=$(
  IFS='|'
  echo "${labels[*]}"
)
cd "$build"
ctest --output-on-failure --parallel "${VELTO_JOBS:-$(nproc)}" -L "^($regex)\$" -E "${exclude:-^$}"
