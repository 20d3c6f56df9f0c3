#!/usr/bin/env bash
# Installs what is missing, builds, and sets up a ready program folder in demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
demo="$PWD/demo"
build/bin/orvo init --home "$demo"
echo "Program folder ready: $demo (ORVO.ini, news database)"
