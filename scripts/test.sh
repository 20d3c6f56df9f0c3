#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build
# Offscreen Qt so window tests need no display; every bus test starts its own
# private bus, so nothing here touches the user's session.
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2 "$@"
