#!/usr/bin/env bash
# Installs the build into a private DESTDIR and checks the installation as a user and a
# distribution would: the installed corvane-cli runs and checks a real mailbox (the loopback
# Dovecot of scripts/test-servers.sh), keeping its data in the user's data folder; the desktop
# entry, the AppStream metadata, the manual pages and the bash completion are valid; the
# Debian package builds with its run-time dependencies, stripped, and lintian finds nothing in
# it, not even a pedantic tag, but for the overrides it ships. install/minimal-root then
# installs that package into a root of its dependencies alone.
#   scripts/install-check.sh BUILD_DIR
# Run by ctest as install/check. Under CI=true a missing tool is a failure, else a skip (77).
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "$1" && pwd)
work=$build_dir/install-check
rm -rf "$work" && mkdir -p "$work"
root=$work/root

fail() { echo "install-check: $*" >&2; exit 1; }
need() {
  command -v "$1" >/dev/null 2>&1 && return 0
  [ "${CI:-}" = true ] && fail "$1 is not installed (scripts/setup.sh installs it)"
  echo "install-check: $1 is not installed; skipped" >&2
  exit 77
}
for tool in desktop-file-validate appstreamcli lintian man cpack dpkg-deb file readelf; do need "$tool"; done

echo "-- cmake --install into $root"
DESTDIR=$root cmake --install "$build_dir" --prefix /usr >/dev/null
cli=$root/usr/bin/corvane-cli
[ -x "$cli" ] && [ -x "$root/usr/bin/corvane" ] || fail "the programs were not installed"
[ ! -e "$root/usr/bin/portable" ] || fail "the portable marker was installed"

echo "-- the installed corvane-cli"
version=$("$cli" --version)
[ "$version" = "corvane-cli $(sed -n 's/^project(Corvane VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")" ] ||
  fail "unexpected version: $version"
env_file=$build_dir/test-servers.env
if [ -f "$env_file" ]; then
  # shellcheck disable=SC1090
  . "$env_file"
  export XDG_DATA_HOME=$work/xdg
  printf '%s\n' "$CORVANE_POP3_PASSWORD" |
    "$cli" accounts add --name installed --server "$CORVANE_POP3_HOST" \
      --port "$CORVANE_POP3_PORT" --user e2e-install --password-stdin >/dev/null
  [ -f "$XDG_DATA_HOME/Corvane/accounts.dat" ] || fail "the account is not in the user's data folder"
  [ "$(stat -c %a "$XDG_DATA_HOME/Corvane")" = 700 ] || fail "the data folder is not owner-only"
  "$cli" settings show | head -1 | grep -qx "# data folder: $XDG_DATA_HOME/Corvane" ||
    fail "settings show does not name the data folder"
  "$cli" check installed --timeout 10 >"$work/check.out" || fail "the check failed"
  echo "   checked the real mailbox: $(wc -l <"$work/check.out") message(s)"
  unset XDG_DATA_HOME
elif [ "${CI:-}" = true ]; then
  fail "$env_file is missing: the test servers are not running"
fi

echo "-- desktop entry, AppStream metadata, manual pages"
desktop-file-validate "$root/usr/share/applications/corvane.desktop"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
for page in corvane corvane-cli; do
  text=$(MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1.gz" 2>"$work/man.err")
  [ ! -s "$work/man.err" ] || fail "man $page: $(cat "$work/man.err")"
  grep -q "^NAME" <<<"$text" || fail "man $page renders no NAME section"
done
# Every command corvane-cli lists has its entry in the manual page.
commands=$("$cli" --help | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p')
page_text=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/corvane-cli.1.gz" 2>/dev/null)
for c in $commands; do
  grep -Eq "^ {7}$c( |$)" <<<"$page_text" || fail "corvane-cli.1 does not describe the command $c"
done

echo "-- the user guide, installed"
guide=$root/usr/share/doc/corvane/help/index.html
[ -f "$guide" ] || fail "the user guide was not installed"
python3 "$source_dir/tests/docs/check_links.py" "$guide" >/dev/null ||
  fail "the installed guide has broken links"

echo "-- bash completion"
if [ -f /usr/share/bash-completion/bash_completion ]; then
  completed=$(PATH=$root/usr/bin:$PATH bash -c '
    . /usr/share/bash-completion/bash_completion
    . "$1"
    complete_words() {
      COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
      COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
      _corvane_cli; echo "${COMPREPLY[*]}"
    }
    complete_words corvane-cli ch
    complete_words corvane-cli accounts ""
    complete_words corvane-cli check --ti' _ "$root/usr/share/bash-completion/completions/corvane-cli")
  [ "$(sed -n 1p <<<"$completed")" = check ] || fail "completion of 'ch': $(sed -n 1p <<<"$completed")"
  grep -qw edit <<<"$(sed -n 2p <<<"$completed")" || fail "completion of accounts: $(sed -n 2p <<<"$completed")"
  [ "$(sed -n 3p <<<"$completed")" = --timeout ] || fail "completion of --ti: $(sed -n 3p <<<"$completed")"
elif [ "${CI:-}" = true ]; then
  fail "bash-completion is not installed"
fi

echo "-- the Debian package"
(cd "$work" && cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/corvane_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
# The libraries (found by dpkg-shlibdeps), and the plugins Qt loads at run time, which no
# library pulls in: the account store's SQLite driver, the platform plugins.
for package in libqt6widgets6 libqt6sql6-sqlite qt6-qpa-plugins libqt6svg6 libqt6network6; do
  grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "the package does not depend on $package: $depends"
done
# The programs are stripped and hardened as dpkg-buildflags asks.
mkdir -p "$work/unpacked"
dpkg-deb -x "$deb" "$work/unpacked"
for program in corvane corvane-cli; do
  binary=$work/unpacked/usr/bin/$program
  file "$binary" | grep -q ", stripped" || fail "$program is not stripped"
  readelf -l "$binary" | grep -q GNU_RELRO || fail "$program has no read-only relocations"
  readelf -d "$binary" | grep -q BIND_NOW || fail "$program is not bound at start-up (bindnow)"
  ! readelf -S "$binary" | grep -q '\.comment' || fail "$program keeps its .comment section"
done
# Every tag lintian knows, down to the pedantic ones, but for the overrides the package
# ships (each with its reason, in data/debian/lintian-overrides).
lintian --display-level ">=pedantic" --tag-display-limit 0 "$deb" >"$work/lintian.out" 2>&1 || true
grep -v "running with root privileges" "$work/lintian.out" >&2 || true
! grep -Eq "^[EWIPXC]: " "$work/lintian.out" || fail "lintian found problems in $deb"
echo "install-check: all passed ($deb)"
