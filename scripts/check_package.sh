#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root (dpkg -x, no
# root needed) and runs the unpacked orvo there: --version, then init into a
# scratch home, which must land in the XDG folders of an installed copy.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(bash scripts/package.sh "${1:-build}" | tail -n 1)
echo "check_package: $deb"
dpkg-deb --info "$deb" | sed -n '/Depends:/p'
dpkg-deb -f "$deb" Recommends | grep -q 'dbus-user-session' ||
  { echo "check_package: the package does not recommend dbus-user-session, which its systemd user unit needs" >&2; exit 1; }
if dpkg-deb -f "$deb" Description | grep -q ';'; then
  echo "check_package: the package description holds a stray ';' (a CMake list joined):" >&2
  dpkg-deb -f "$deb" Description >&2
  exit 1
fi
# lintian as Debian's archive would run it, and pickier: every error or
# warning fails, unless the package's own overrides name it with a reason.
if command -v lintian >/dev/null; then
  findings=$(lintian --pedantic --info --fail-on none "$deb" 2>&1 |
    grep -v -E '^(N:|$)|running with root privileges is not recommended' || true)
  if [ -n "$findings" ]; then
    printf '%s\n' "$findings" >&2
    echo "check_package: lintian has findings (above); mend them or override them in packaging/lintian-overrides with a reason" >&2
    exit 1
  fi
  echo "check_package: lintian --pedantic --info: no findings"
else
  echo "check_package: lintian is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root/fs"
mkdir -p "$root/home"
version=$(env -u ORVO_HOME HOME="$root/home" XDG_DATA_HOME="$root/home/data" XDG_CONFIG_HOME="$root/home/config" \
  XDG_STATE_HOME="$root/home/state" "$root/fs/usr/bin/orvo" --version)
if [ -n "$(ls -A "$root/home")" ]; then
  echo "check_package: orvo --version wrote into the home folder" >&2
  exit 1
fi
expected="orvo $(sed -n 's/^project(ORVO VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
if [ "$version" != "$expected" ]; then
  echo "check_package: orvo --version says \"$version\", expected \"$expected\"" >&2
  exit 1
fi
env -u ORVO_HOME HOME="$root/home" XDG_DATA_HOME="$root/home/data" XDG_CONFIG_HOME="$root/home/config" \
  XDG_STATE_HOME="$root/home/state" "$root/fs/usr/bin/orvo" init
for f in "$root/home/config/orvo/ORVO.ini" "$root/home/data/orvo/news.db"; do
  if [ ! -s "$f" ]; then
    echo "check_package: orvo init from the package did not write $f" >&2
    exit 1
  fi
done
echo "check_package: $version runs from the unpacked package; orvo init wrote its XDG folders"
