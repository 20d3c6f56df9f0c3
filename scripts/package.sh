#!/usr/bin/env bash
# Builds the Debian package of ORVO into build/package/ (or BUILD_DIR/package/)
# and prints its path. Run scripts/install-deps.sh first on a fresh machine.
#   scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
# The package installs under /usr; only the install rules depend on it, so an
# existing build folder keeps its objects.
cmake -S . -B "$build" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" --target orvo Gatherer Bookbinder Timekeeper Newsdesk orvo-updates orvo-try-mask litgen litgen-pack
rm -f "$build"/package/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/package/*.deb
