#!/usr/bin/env bash
# Sets up, builds (warnings are errors) and runs every test (headless), runs the core and editor
# tests again under ASan+UBSan and the threaded ones under TSan, then runs each fuzz target for 20
# seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Every C++ file keeps the project's format (.clang-format); a change that does not fails here.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
VELTO_WERROR=ON scripts/build.sh
(cd "${VELTO_BUILD_DIR:-build}" && ctest --output-on-failure --parallel "${VELTO_JOBS:-$(nproc)}" "$@")
scripts/sanitize.sh address
scripts/sanitize.sh thread
scripts/fuzz.sh 20
