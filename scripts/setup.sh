#!/usr/bin/env bash
# Installs what Velto needs to build, run and test: missing Debian packages, then the pinned web
# assets (KaTeX, highlight.js, Mermaid, Swagger UI) from the npm registry. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev-tools qt6-websockets-dev qt6-svg-dev
  qt6-webengine-dev qt6-webengine-dev-tools libgl-dev
  qcoro-qt6-dev libcmark-gfm-dev libcmark-gfm-extensions-dev libavahi-client-dev libicu-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core poppler-utils xvfb xauth
  qt6-translations-l10n
  openbox xdotool imagemagick
  clang libclang-rt-14-dev
)
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  if ! $sudo apt-get install -y --no-install-recommends "${missing[@]}"; then
    $sudo apt-get update
    $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  fi
fi

# Web assets: install from the lock file when node_modules is missing or older than the lock.
web=resources/web
stamp="$web/node_modules/.package-lock.json"
if [[ ! -f "$stamp" || "$web/package-lock.json" -nt "$stamp" ]]; then
  # --ignore-scripts: one of the packages carries a telemetry postinstall that must not run.
  (cd "$web" && npm ci --ignore-scripts --no-audit --no-fund)
fi

# The MCP client test's node packages (the official MCP SDK), pinned by tests/mcp/package-lock.json.
mcp=tests/mcp
stamp="$mcp/node_modules/.package-lock.json"
if [[ ! -f "$stamp" || "$mcp/package-lock.json" -nt "$stamp" ]]; then
  (cd "$mcp" && npm ci --ignore-scripts --no-audit --no-fund)
fi
