#!/usr/bin/env bash
# Takes the screenshots of the reader's controls under Xvfb into docs/.
#   newsdesk/tools/controls_screenshots.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
ninja -C "$build" -j2 newsdesk_demo controls_shots
demo="$(mktemp -d)"
trap 'rm -rf "$demo"' EXIT
mkdir -p "$root/docs"
# In English, then in Russian, each over a demo folder of its own.
for lang in C.UTF-8 ru_RU.UTF-8; do
  "$build/bin/newsdesk_demo" "$demo/$lang"
  env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG=$lang QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1024x720x24" "$build/bin/controls_shots" "$demo/$lang" "$root/docs"
done
