#!/usr/bin/env bash
# Takes the reader's screenshots under Xvfb into docs/.
#   newsdesk/tools/screenshots.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
ninja -C "$build" -j2 newsdesk_demo newsdesk_shots
demo="$(mktemp -d)"
trap 'rm -rf "$demo"' EXIT
"$build/bin/newsdesk_demo" "$demo/demo"
mkdir -p "$root/docs"
QT_QPA_PLATFORM=xcb dbus-run-session -- xvfb-run -a -s "-screen 0 1024x720x24" \
  "$build/bin/newsdesk_shots" "$demo/demo" "$root/docs"
