#!/usr/bin/env bash
# ORVO doing its main job on this machine, with no network: installs what is
# missing, builds, sets up the program folder demo/, serves the demo catalogue
# and three demo news sites on 127.0.0.1, downloads them into the news
# database, and prints what it holds. Running it again stores nothing new.
#
#   ORVO_DEMO_PORT   port of the demo updates server (default 8642; keep it from
#                    one run to the next, since stored addresses carry it)
#   ORVO_DEMO_HOME   program folder (default: demo/ in the repository)
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"
demo="${ORVO_DEMO_HOME:-$repo/demo}"
port="${ORVO_DEMO_PORT:-8642}"
bin="$repo/build/bin"

started=$(date +%s)
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target orvo orvo-updates Gatherer
echo "Built in $(($(date +%s) - started)) s."

mkdir -p "$demo"
cleanup=()
trap 'for pid in "${cleanup[@]}"; do kill "$pid" 2>/dev/null || true; done' EXIT

# Without a session bus (for example over SSH) the demo runs on a bus of its
# own, which ends with it; its activation files stay inside the demo folder.
if ! dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
     org.freedesktop.DBus.GetId >/dev/null 2>&1; then
  export XDG_DATA_HOME="$demo/bus"
  mkdir -p "$XDG_DATA_HOME/dbus-1/services"
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 2>>"$demo/bus.log")
  export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus" | sed -n 1p)
  cleanup+=("$(echo "$bus" | sed -n 2p)")
  echo "No D-Bus session bus here: the demo runs on a private bus that ends with it."
fi

export ORVO_HOME="$demo"
"$bin/orvo" init --home "$demo"

# The updates server publishes the demo catalogue and serves the demo sites.
log="$demo/orvo-updates.log"
"$bin/orvo-updates" --port "$port" --static "$repo/demo-data/sites" "$repo/demo-data/catalogue" >"$log" 2>&1 &
server=$!
cleanup+=("$server")
for _ in $(seq 50); do
  grep -q "Listening on" "$log" && break
  if ! kill -0 "$server" 2>/dev/null; then
    cat "$log" >&2
    echo "The demo updates server did not start; choose another port with ORVO_DEMO_PORT=NNNN $0" >&2
    exit 1
  fi
  sleep 0.1
done
address=$(grep -o 'Listening on http://[0-9.]*:[0-9]*' "$log" | head -n 1 | sed 's#.*http://##') || true
[ -n "$address" ] || { cat "$log" >&2; echo "The demo updates server did not answer." >&2; exit 1; }
echo "Updates server: http://$address/ (catalogue and demo sites; log in $log)"

"$bin/orvo" config System DownloadURL "$address/catalogue.asp"
# Dates that only the addresses carry are read when a maximum age is set.
"$bin/orvo" config Download Days 3650
"$bin/orvo" config Download ConnectTimeout 30

# The gathering engine starts on demand through the bus.
"$bin/Gatherer" -RegServer | tail -n 1

status=0
"$bin/orvo" select --all || status=$?
if [ "$status" = 3 ]; then
  # A new database learns the sites and categories from its first download.
  "$bin/orvo" download
  "$bin/orvo" select --all
elif [ "$status" != 0 ]; then
  exit "$status"
fi

started=$(date +%s)
"$bin/orvo" download
echo "Downloaded in $(($(date +%s) - started)) s."
echo
"$bin/orvo" status
