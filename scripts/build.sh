#!/usr/bin/env bash
# Configures and builds Velto (Release) in build/. Used by run.sh and test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VELTO_BUILD_DIR:-build}
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
# VELTO_WERROR=ON (test.sh sets it) makes warnings in our code fail the build.
if [[ -n "${VELTO_WERROR:-}" ]]; then
  cmake -S . -B "$build" -DVELTO_WERROR="$VELTO_WERROR" >/dev/null
fi
# VELTO_JOBS limits the build jobs on a shared machine.
cmake --build "$build" --parallel "${VELTO_JOBS:-$(nproc)}"
