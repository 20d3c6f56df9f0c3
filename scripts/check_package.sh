#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root (dpkg -x, no
# root needed) and runs the unpacked orvo there: --version, then init into a
# scratch home, which must land in the XDG folders of an installed copy.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(bash scripts/package.sh "${1:-build}" | tail -n 1)
echo "check_package: $deb"
dpkg-deb --info "$deb" | sed -n '/Depends:/p'
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root/fs"
version=$("$root/fs/usr/bin/orvo" --version)
expected="orvo $(sed -n 's/^project(ORVO VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
if [ "$version" != "$expected" ]; then
  echo "check_package: orvo --version says \"$version\", expected \"$expected\"" >&2
  exit 1
fi
mkdir -p "$root/home"
env -u ORVO_HOME HOME="$root/home" XDG_DATA_HOME="$root/home/data" XDG_CONFIG_HOME="$root/home/config" \
  XDG_STATE_HOME="$root/home/state" "$root/fs/usr/bin/orvo" init
for f in "$root/home/config/orvo/ORVO.ini" "$root/home/data/orvo/news.db"; do
  if [ ! -s "$f" ]; then
    echo "check_package: orvo init from the package did not write $f" >&2
    exit 1
  fi
done
echo "check_package: $version runs from the unpacked package; orvo init wrote its XDG folders"
