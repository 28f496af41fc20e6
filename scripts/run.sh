#!/usr/bin/env bash
# Sets up, builds and starts Velto.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
exec "${VELTO_BUILD_DIR:-build}/velto"
