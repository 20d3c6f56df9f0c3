#!/usr/bin/env bash
# Takes the reader's screenshots under Xvfb into docs/.
#   newsdesk/tools/screenshots.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
ninja -C "$build" -j2 newsdesk_demo newsdesk_shots
demo="$(mktemp -d)"
trap 'rm -rf "$demo"' EXIT
mkdir -p "$root/docs"
# In English, then in Russian (the window's texts; the demo news stay as
# stored), each over a demo folder of its own and without a session bus. The
# English run also shows the notification of a download, received on a bus of
# its own.
for lang in C.UTF-8 ru_RU.UTF-8; do
  "$build/bin/newsdesk_demo" "$demo/$lang"
  dbus-run-session -- sh -c 'exec env ORVO_SHOTS_NOTIFY_BUS="$DBUS_SESSION_BUS_ADDRESS" "$@"' sh \
    env -u LC_ALL -u LC_MESSAGES -u LANGUAGE DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent LANG=$lang QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1024x720x24" "$build/bin/newsdesk_shots" "$demo/$lang" "$root/docs"
done
