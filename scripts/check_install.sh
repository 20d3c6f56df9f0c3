#!/usr/bin/env bash
# Installs a built tree into a scratch prefix (cmake --install) and uses it as
# a user of an installed copy would: validates the desktop entry, the AppStream
# file and the man pages, then runs orvo init, a download of the demo sites
# (the installed updates server serving the installed demo data, the engine
# started by a private session bus from the installed activation files) and
# the reader, started and closed again. Nothing of the repository or of the
# build folder is used after the install.
#
#   scripts/check_install.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
root=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$root"
}
trap cleanup EXIT
fail() {
  echo "check_install: $*" >&2
  exit 1
}

prefix="$root/prefix with space"  # the Exec lines must survive a space
cmake --install "$build" --prefix "$prefix" >"$root/install.log" || {
  cat "$root/install.log" >&2
  fail "cmake --install $build failed"
}
programs="$prefix/libexec/orvo"
share="$prefix/share"

# Desktop files, metainfo and man pages as Debian's own tools read them.
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$share/applications/org.orvo.Newsdesk.desktop" || fail "the desktop entry is not valid"
fi
appstreamcli validate --no-net --pedantic "$share/metainfo/org.orvo.Newsdesk.metainfo.xml" ||
  fail "the AppStream metainfo is not valid"
for page in orvo orvo-updates Newsdesk; do
  file="$share/man/man1/$page.1.gz"
  [ -s "$file" ] || fail "man page $page.1.gz was not installed"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >"$root/$page.txt") || fail "man -l $page.1 failed"
  [ -z "$warnings" ] || fail "man -l $page.1 warns: $warnings"
  grep -q '^NAME' "$root/$page.txt" || fail "man -l $page.1 renders no NAME section"
done
# Each orvo command's synopsis, as its --help gives it, is one line of the
# rendered page (a tag spread over several source lines renders garbled),
# rendered wide enough that no synopsis has to wrap.
LC_ALL=C.UTF-8 MANWIDTH=1000 man -l "$share/man/man1/orvo.1.gz" 2>/dev/null | sed 's/^ *//' >"$root/orvo-wide.txt"
for command in $("$prefix/bin/orvo" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p'); do
  synopsis=$("$prefix/bin/orvo" "$command" --help | sed -n '1s/^Usage: orvo //p')
  grep -q -x -F -- "$synopsis" "$root/orvo-wide.txt" ||
    fail "orvo(1) does not show \"$synopsis\" on one line"
done
for size in 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256; do
  [ -s "$share/icons/hicolor/$size/apps/org.orvo.Newsdesk.png" ] || fail "the $size icon was not installed"
done
[ -s "$share/icons/hicolor/symbolic/apps/org.orvo.Newsdesk-symbolic.svg" ] || fail "the symbolic icon was not installed"
[ -s "$share/doc/orvo/copyright" ] && [ -s "$share/doc/orvo/changelog.gz" ] ||
  fail "the copyright file or the changelog was not installed"
grep -q "^Icon=org.orvo.Newsdesk$" "$share/applications/org.orvo.Newsdesk.desktop" || fail "the desktop entry names another icon"
[ -s "$share/icons/hicolor/scalable/apps/org.orvo.Newsdesk.svg" ] || fail "the icon was not installed"
grep -q "Exec='$programs/Gatherer'" "$share/dbus-1/services/org.orvo.Gatherer2.service" ||
  fail "the engine's activation file does not name the installed engine"

# A user of the installed copy: XDG folders in a scratch home, no ORVO_HOME.
home="$root/home"
mkdir -p "$home"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state"
unset ORVO_HOME
export XDG_RUNTIME_DIR="$root/run" QT_QPA_PLATFORM=offscreen
mkdir -m 700 "$XDG_RUNTIME_DIR"
orvo="$prefix/bin/orvo"
# A version query writes nothing.
"$orvo" --version
[ -z "$(ls -A "$home")" ] || fail "orvo --version wrote into the home folder: $(cd "$home" && find . | head -5)"
"$orvo" init
[ -s "$XDG_CONFIG_HOME/orvo/ORVO.ini" ] || fail "orvo init wrote no ORVO.ini into \$XDG_CONFIG_HOME/orvo"

# A private session bus that knows only the installed servers.
cat >"$root/bus.conf" <<EOF
<busconfig>
  <type>session</type>
  <listen>unix:dir=$root</listen>
  <servicedir>$share/dbus-1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
bus=$(dbus-daemon --config-file="$root/bus.conf" --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus" | sed -n 1p)
pids+=("$(echo "$bus" | sed -n 2p)")

# The installed updates server serves the installed demo catalogue and sites.
"$prefix/bin/orvo-updates" --port 0 --static "$share/orvo/demo-data/sites" "$share/orvo/demo-data/catalogue" \
  >"$root/updates.log" 2>&1 &
pids+=("$!")
address=""
for _ in $(seq 100); do
  address=$(grep -o 'Listening on http://[0-9.]*:[0-9]*' "$root/updates.log" | head -n 1 | sed 's#.*http://##') || true
  [ -n "$address" ] && break
  sleep 0.1
done
[ -n "$address" ] || { cat "$root/updates.log" >&2; fail "the installed orvo-updates did not start"; }
"$orvo" config System DownloadURL "$address/catalogue.asp"
"$orvo" config Download Days 3650
"$orvo" config Download ConnectTimeout 30

# The first download learns the catalogue, the second fetches the news.
status=0
"$orvo" select --all || status=$?
if [ "$status" = 3 ]; then
  timeout 300 "$orvo" download >"$root/download1.log" 2>&1 || { cat "$root/download1.log" >&2; fail "the first download failed"; }
  "$orvo" select --all
elif [ "$status" != 0 ]; then
  fail "orvo select --all failed ($status)"
fi
timeout 300 "$orvo" download >"$root/download2.log" 2>&1 || { cat "$root/download2.log" >&2; fail "the demo download failed"; }
"$orvo" status >"$root/status.txt"
cat "$root/status.txt"
grep -q "XDG folders" "$root/status.txt" || fail "orvo status does not say it uses the XDG folders"
items=$(sqlite3 "$XDG_DATA_HOME/orvo/news.db" 'SELECT COUNT(*) FROM newsitem')
[ "$items" -gt 0 ] || fail "the demo download from the installed tree stored no news"

# An installed Timekeeper enables the packaged unit and writes no unit or
# activation file of its own that would shadow the packaged ones.
"$programs/Timekeeper" -Service >"$root/service.log" 2>&1 || true
for own in "$XDG_CONFIG_HOME/systemd/user/orvo-timekeeper.service" "$XDG_DATA_HOME/dbus-1/services/org.orvo.OrvoRunner.service"; do
  [ ! -e "$own" ] || { cat "$root/service.log" >&2; fail "Timekeeper -Service wrote $own beside the packaged one"; }
done
grep -q "lib/systemd/user/orvo-timekeeper.service" "$root/service.log" ||
  { cat "$root/service.log" >&2; fail "Timekeeper -Service did not name the packaged unit"; }

# The reader: starts in the tray, answers a second start, and quits on closeall.
"$prefix/bin/Newsdesk" --version
"$prefix/bin/Newsdesk" min >"$root/newsdesk.log" 2>&1 &
reader=$!
pids+=("$reader")
running=0
for _ in $(seq 150); do
  if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
       org.freedesktop.DBus.ListNames 2>/dev/null | grep -q 'org.orvo.Newsdesk'; then
    running=1
    break
  fi
  kill -0 "$reader" 2>/dev/null || break
  sleep 0.2
done
[ "$running" = 1 ] || { cat "$root/newsdesk.log" >&2; fail "the installed Newsdesk did not start"; }
timeout 60 "$prefix/bin/Newsdesk" closeall
for _ in $(seq 150); do
  kill -0 "$reader" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$reader" 2>/dev/null; then fail "the installed Newsdesk did not quit on closeall"; fi
wait "$reader" || { cat "$root/newsdesk.log" >&2; fail "the installed Newsdesk ended with an error"; }
echo "check_install: the installed tree validates; orvo init, a demo download of $items items and Newsdesk ran from it"
