#!/usr/bin/env bash
# Installs the Debian 12 packages ORVO builds and tests with. Idempotent: when
# everything is already there it only checks and returns.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-qpa-plugins
  qt6-image-formats-plugins  # WebP pictures in eBook volumes (converted with QImage)
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n  # the reader's translations: CMake's Linguist tools, lupdate/lrelease, Qt's own texts
  libgumbo-dev libpugixml-dev libcurl4-openssl-dev libcpp-httplib-dev
  libsqlite3-dev sqlite3 libicu-dev libzip-dev
  libsecret-1-dev  # the mail password in the desktop's Secret Service
  libpq-dev postgresql postgresql-contrib  # the PostgreSQL back end; the tests start a server of their own (pg_trgm from contrib)
  dbus dbus-x11
  googletest libgtest-dev libgmock-dev
  xvfb xauth imagemagick
  appstream desktop-file-utils man-db dpkg-dev lintian  # install check (metainfo, desktop entry, man pages), the package (dpkg-shlibdeps, lintian)
)
# The independent .lit reader used only by the writer's oracle tests; it is
# large, so ORVO_NO_CALIBRE=1 skips it (those tests then skip themselves).
if [ "${ORVO_NO_CALIBRE:-0}" != 1 ]; then
  packages+=(calibre)
fi
# The EPUB checker, an oracle for the EPUB tests only (it brings Java);
# ORVO_NO_EPUBCHECK=1 skips it and those tests say they were skipped.
if [ "${ORVO_NO_EPUBCHECK:-0}" != 1 ]; then
  packages+=(epubcheck)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
