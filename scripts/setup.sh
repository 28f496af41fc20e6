#!/usr/bin/env bash
# Installs what Velto needs to build, run and test: missing Debian packages, the Markdown parser
# (built once into the build folder), then the pinned web assets (KaTeX, highlight.js, Mermaid,
# Swagger UI) from the npm registry. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev-tools qt6-websockets-dev qt6-svg-dev
  qt6-webengine-dev qt6-webengine-dev-tools libgl-dev
  qcoro-qt6-dev libavahi-client-dev libicu-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core poppler-utils xvfb xauth
  qt6-translations-l10n
  openbox xdotool imagemagick
  clang libclang-rt-14-dev clang-format
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

# cmark-gfm 0.29.0.gfm.13, the parser version Velto is written against (Debian 12 ships gfm.6, which
# lacks later fixes for inputs that take polynomial time). The upstream tarball of the source package
# of the Debian release that carries this version is fetched through apt, from the mirror this
# system already uses, checked against the pinned hash and built once into a private prefix inside
# the build folder, where CMake looks for it. Only the tarball: the archive does not serve the rest.
cmark_version=0.29.0.gfm.13
cmark_sha256=5abc61798ebd9de5660bc076443c07abad2b8d15dbc11094a3a79644b8ad243a
cmark_suite=trixie
build=${VELTO_BUILD_DIR:-build}
mkdir -p "$build"
build=$(cd "$build" && pwd)
cmark_prefix="$build/cmark-gfm"
cmark_stamp="$cmark_version $cmark_sha256"

build_cmark_gfm() {
  local work="$build/cmark-gfm-work"
  local tarball="cmark-gfm_$cmark_version.orig.tar.gz"
  rm -rf "$work" "$cmark_prefix"
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"

  # The private source list names the mirror the system's own Debian sources use.
  local codename mirror
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mirror=$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(TARGET_OF)' |
    awk -v release="$codename" '!found && $2 == release && $3 == "deb" { print $1; found = 1 }')
  if [[ -z "$mirror" ]]; then
    echo "setup: no Debian source for '$codename' in the apt configuration" >&2
    return 1
  fi
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $cmark_suite main" \
    >"$work/sources.list"
  local apt=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o Debug::NoLocking=1
    -o APT::Sandbox::User="$(id -un)")
  apt-get "${apt[@]}" -qq update
  local uri
  uri=$(apt-get "${apt[@]}" --print-uris source cmark-gfm |
    awk -v file="$tarball" '$2 == file { gsub("\047", "", $1); print $1 }')
  if [[ -z "$uri" ]]; then
    echo "setup: $cmark_suite has no source package with $tarball" >&2
    return 1
  fi
  /usr/lib/apt/apt-helper -o APT::Sandbox::User="$(id -un)" download-file "$uri" "$work/$tarball" \
    "SHA256:$cmark_sha256"
  echo "$cmark_sha256  $work/$tarball" | sha256sum --check --quiet

  tar -xzf "$work/$tarball" -C "$work"
  local log="$work/build.log"
  {
    cmake -S "$work/cmark-gfm-$cmark_version" -B "$work/build" -G Ninja -Wno-dev \
      -DCMAKE_BUILD_TYPE=Release -DCMARK_TESTS=OFF -DCMARK_SHARED=OFF -DCMARK_STATIC=ON \
      -DCMAKE_INSTALL_PREFIX="$cmark_prefix" -DCMAKE_INSTALL_LIBDIR=lib &&
      cmake --build "$work/build" --parallel "${VELTO_JOBS:-$(nproc)}" &&
      cmake --install "$work/build"
  } >"$log" 2>&1 || {
    cat "$log" >&2
    return 1
  }
  echo "$cmark_stamp" >"$cmark_prefix/.stamp"
  rm -rf "$work"
}

if [[ "$(cat "$cmark_prefix/.stamp" 2>/dev/null)" != "$cmark_stamp" ]]; then
  echo "Building cmark-gfm $cmark_version into $cmark_prefix"
  build_cmark_gfm
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
