#!/usr/bin/env bash
# Installs Corvane's Debian package into a minimal root made of nothing but the packages it
# depends on, and runs both programs there: a run-time dependency the package forgets (a library,
# a Qt plugin such as the SQLite driver of the account store) fails here, while it would pass on
# a machine that happens to have it.
#
# The root holds exactly the packages apt chooses for the package on an empty system, without
# recommends or suggests, from the archive the system's apt sources name. They are fetched into
# CACHE_DIR (kept for the next run, so only the first run downloads) and unpacked with
# dpkg-deb (the library cache built as libc6's trigger would); the programs run in the root
# with chroot and an empty environment: corvane-cli --version, accounts add and accounts list,
# and the desktop program offscreen until SIGTERM ends it.
#   scripts/minimal-root-check.sh PACKAGE.deb|FOLDER WORK_DIR CACHE_DIR
# Run by ctest as install/minimal-root on the package that install/check builds. It needs root
# for chroot; where it cannot run (not root, no apt) it exits 77 (skipped), under CI=true 1.
# The root is removed when every check passed, and kept in WORK_DIR for a look when one failed.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 PACKAGE.deb|FOLDER WORK_DIR CACHE_DIR" >&2; exit 2; }
deb=$1
work=$2
cache=$3
# A folder stands for the one corvane_*.deb it holds.
if [ -d "$deb" ]; then
  found=("$deb"/corvane_*.deb)
  [ ${#found[@]} -eq 1 ] && [ -f "${found[0]}" ] ||
    { echo "minimal-root: no single corvane_*.deb in $deb" >&2; exit 1; }
  deb=${found[0]}
fi
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")

fail() { echo "minimal-root: $*" >&2; exit 1; }
skip() {
  [ "${CI:-}" = true ] && fail "$*"
  echo "minimal-root: $*; skipped" >&2
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "chroot needs root"
for tool in apt-get dpkg-deb chroot timeout; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
chroot=$(command -v chroot)

rm -rf "$work"
mkdir -p "$work/state" "$cache/archives/partial"
: >"$work/state/status"
# apt as on an empty system: no package installed, its own cache, no recommends or suggests.
apt_options=(-q -o "Dir::State::status=$work/state/status" -o "Dir::Cache=$cache"
  -o "Dir::Cache::archives=$cache/archives" -o Debug::NoLocking=1
  -o APT::Install-Recommends=0 -o APT::Install-Suggests=0)

echo "-- the package's dependencies, as apt chooses them for an empty system"
timeout 120 apt-get "${apt_options[@]}" -s install "$deb" >"$work/plan.txt" 2>"$work/plan.err" ||
  skip "apt cannot resolve the package's dependencies (is 'apt-get update' done?): $(cat "$work/plan.err")"
# "Inst NAME (VERSION ARCHIVE [ARCH])", perhaps followed by more: the file apt keeps is
# NAME_VERSION_ARCH.deb, an epoch's colon written %3a.
sed -n 's/^Inst \([^ ]*\) (\([^ ]*\) [^[]*\[\([a-z0-9]*\)\]).*$/\1 \2 \3/p' "$work/plan.txt" \
  >"$work/packages.txt"
[ "$(wc -l <"$work/packages.txt")" -eq "$(grep -c '^Inst ' "$work/plan.txt")" ] ||
  fail "cannot read apt's plan: $(grep '^Inst ' "$work/plan.txt")"
grep -q '^corvane ' "$work/packages.txt" || fail "apt does not plan to install corvane: $(cat "$work/plan.txt")"
count=$(grep -vc '^corvane ' "$work/packages.txt" || true)
timeout 600 apt-get "${apt_options[@]}" -y -d install "$deb" >"$work/fetch.log" 2>&1 ||
  fail "the dependencies could not be fetched: $(tail -5 "$work/fetch.log")"
echo "   $count packages (cached in $cache/archives)"

echo "-- unpacked into $work/root"
root=$work/root
mkdir -p "$root"
while read -r name version arch; do
  if [ "$name" = corvane ]; then
    file=$deb
  else
    file=$cache/archives/${name}_${version//:/%3a}_${arch}.deb
  fi
  [ -f "$file" ] || fail "$file was not fetched"
  dpkg-deb --extract "$file" "$root" || fail "cannot unpack $file"
done <"$work/packages.txt"
mkdir -p "$root/tmp/desktop" "$root/root"
# The library cache that libc6's trigger would build on installation.
ldconfig=$(command -v ldconfig || echo /sbin/ldconfig)
"$ldconfig" -r "$root" || fail "ldconfig -r $root failed"
chmod 1777 "$root/tmp"

# Runs a program in the root with nothing of this system's environment.
in_root() {
  timeout 60 env -i HOME=/root XDG_DATA_HOME=/tmp/data LANG=C.UTF-8 PATH=/usr/bin \
    QT_QPA_PLATFORM=offscreen \
    "$chroot" "$root" "$@"
}

echo "-- corvane-cli in the minimal root"
version=$(in_root /usr/bin/corvane-cli --version 2>"$work/run.err") ||
  fail "corvane-cli --version failed: $(cat "$work/run.err")"
[ "$version" = "corvane-cli $(dpkg-deb -f "$deb" Version)" ] || fail "unexpected version: $version"
echo "   $version"
# The account store is opened through Qt's SQLite driver, a plugin no library pulls in.
in_root /usr/bin/corvane-cli accounts add --name minimal --server 127.0.0.1 >/dev/null 2>"$work/run.err" ||
  fail "corvane-cli accounts add failed: $(cat "$work/run.err")"
listed=$(in_root /usr/bin/corvane-cli accounts list 2>"$work/run.err") ||
  fail "corvane-cli accounts list failed: $(cat "$work/run.err")"
[ "$listed" = "$(printf '0\tminimal\t127.0.0.1\t110\t\t\tnone')" ] || fail "accounts list printed: $listed"
echo "   accounts list: $listed"
# The desktop program starts (offscreen: the platform plugin, the SVG pictures, the fonts),
# and ends when asked to by SIGTERM, saving its settings as it does at a logout.
status=0
timeout --preserve-status -k 10 -s TERM 8 env -i HOME=/root LANG=C.UTF-8 PATH=/usr/bin \
  QT_QPA_PLATFORM=offscreen "$chroot" "$root" /usr/bin/corvane --data-dir /tmp/desktop \
  >"$work/desktop.out" 2>&1 || status=$?
[ "$status" -eq 0 ] && [ -f "$root/tmp/desktop/Settings.ini" ] ||
  fail "the desktop program did not start and end (status $status): $(cat "$work/desktop.out")"
echo "   the desktop program started offscreen and saved its settings"
rm -rf "$root"
echo "minimal-root: the package runs in a root of its $count dependencies"
