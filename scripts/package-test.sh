#!/usr/bin/env bash
# Builds a release, makes the Debian package with CPack and checks it: lintian finds no error
# and no warning, every file is in it, its dependencies name the Qt runtime, the menu entry passes
# desktop-file-validate, each manual page lists the same options as --help, and (as root, as in
# CI) it installs with dpkg, the installed programs answer, and purging it leaves nothing behind.
# Without root it checks the programs unpacked into a scratch folder instead. A vortan-service
# package that was on the machine before is never replaced or purged: the installation part is
# refused and the test fails. Exits non-zero on any failure.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build/release"
package=vortan-service

fail() {
  echo "package-test: $*" >&2
  exit 1
}

command -v lintian >/dev/null || fail "lintian is not installed (scripts/setup.sh installs it)"

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORTAN_TESTS=OFF -DVORTAN_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/vortan-package.XXXXXX")"
installed_here=0
# Whatever ends the test, a package it installed is purged again and the scratch folder goes.
cleanup() {
  if [ "$installed_here" -eq 1 ]; then
    dpkg --purge "$package" >"$work/purge.log" 2>&1 ||
      { cat "$work/purge.log" >&2; echo "package-test: dpkg --purge failed" >&2; }
  fi
  rm -rf "$work"
}
trap cleanup EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb="$(ls "$work"/out/*.deb)"
version="$(dpkg-deb -f "$deb" Version)"
echo "package-test: $(basename "$deb")"

# Informational tags are shown but pass; an error or a warning fails.
lintian --allow-root --display-info --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log" >&2; fail "lintian finds errors or warnings (above)"; }
sed 's/^/package-test: lintian: /' "$work/lintian.log"

expected=(
  /usr/bin/vortan-service /usr/bin/vortanctl /usr/bin/vortan-sim
  /usr/share/applications/vortan-service.desktop
  /usr/share/icons/hicolor/scalable/apps/vortan-service.svg
  /usr/share/man/man1/vortan-service.1.gz /usr/share/man/man1/vortanctl.1.gz
  /usr/share/man/man1/vortan-sim.1.gz
  /usr/share/doc/vortan-service/copyright /usr/share/doc/vortan-service/changelog.Debian.gz
  /usr/lib/udev/rules.d/60-vortan-service-ftdi.rules
)
dpkg-deb -c "$deb" | awk '{ sub(/^\./, "", $6); sub(/\/$/, "", $6); print $6 }' >"$work/files"
for f in "${expected[@]}"; do
  grep -qxF "$f" "$work/files" || fail "missing from the package: $f"
done

depends="$(dpkg-deb -f "$deb" Depends)"
for p in libqt6widgets6 libqt6serialport6 libqt6serialbus6 qt6-translations-l10n fonts-dejavu-core; do
  grep -qE "(^|[ ,])$p( |,|$)" <<<"$depends" || fail "Depends lacks $p: $depends"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/vortan-service.desktop" ||
  fail "the menu entry is not valid"

options() { grep -oE -- '--[a-z][a-z-]*' | sort -u; }
for prog in vortan-service vortanctl vortan-sim; do
  from_help="$("$root/usr/bin/$prog" --help | options)"
  from_man="$(gzip -dc "$root/usr/share/man/man1/$prog.1.gz" | sed 's/\\-/-/g' | options)"
  [ "$from_help" = "$from_man" ] ||
    fail "$prog: --help and the manual page list different options:
$(diff <(echo "$from_help") <(echo "$from_man") || true)"
done

# The programs know their release; the package version adds the Debian revision.
release="${version%-*}"
check_programs() {
  local bin="$1"
  "$bin/vortan-service" --version | grep -qxF "vortan-service $release" ||
    fail "$bin/vortan-service --version does not say $release"
  "$bin/vortanctl" --help >/dev/null || fail "$bin/vortanctl --help failed"
}

if [ "$(id -u)" -ne 0 ]; then
  check_programs "$root/usr/bin"
  echo "package-test: not root: checked the unpacked programs, not an installation"
  exit 0
fi

# A package that was here before belongs to someone: installing ours would replace it and the
# purge would remove it. dpkg-query names every package it knows, removed ones with their state.
previous="$(dpkg-query -W -f='${db:Status-Status} ${Version}' "$package" 2>/dev/null || true)"
if [ -n "$previous" ] && [ "${previous%% *}" != not-installed ]; then
  check_programs "$root/usr/bin"
  fail "$package is already on this machine ($previous).
The installation test would replace and purge it, so it is not run. Remove it first
(sudo apt purge $package), or run the test as a user other than root to check only the unpacked
programs."
fi

# What the package may leave behind is only what was there before it.
while read -r f; do
  [ -e "$f" ] && echo "$f"
done <"$work/files" >"$work/before"

# Another installation (apt, a colleague's dpkg) may hold the lock for a while.
for attempt in $(seq 60); do
  installed_here=1
  if dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
    break
  fi
  dpkg-query -W "$package" >/dev/null 2>&1 || installed_here=0
  grep -q "lock" "$work/dpkg.log" && [ "$attempt" -lt 60 ] || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
  sleep 1
done
[ "$(command -v vortan-service)" = /usr/bin/vortan-service ] || fail "vortan-service is not in /usr/bin"
check_programs /usr/bin
installed_here=0
dpkg --purge "$package" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg --purge failed"; }

dpkg-query -W "$package" >/dev/null 2>&1 && fail "the package is still registered"
while read -r f; do
  if [ -e "$f" ] && ! grep -qxF "$f" "$work/before"; then
    fail "left behind: $f"
  fi
done <"$work/files"
echo "package-test: installed, ran and removed cleanly"
