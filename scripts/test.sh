#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# With CI=true (as CI sets it) it also: builds with warnings as errors, fails
# on a test that skipped for any reason but an absent optional tool or corpus,
# builds the Debian package and runs orvo from it in a scratch root, and
# installs into a scratch prefix and runs a demo download and the reader there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
ci=0
if [ "${CI:-}" = true ]; then ci=1; fi
config=(-G Ninja -DORVO_WERROR=$([ $ci = 1 ] && echo ON || echo OFF))
if command -v ccache >/dev/null; then
  config+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build "${config[@]}"
cmake --build build
# Offscreen Qt so window tests need no display; every bus test starts its own
# private bus, so nothing here touches the user's session.
rm -f build/test-results.xml
status=0
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2 --output-junit test-results.xml "$@" ||
  status=$?
if [ $ci = 1 ]; then
  cmake -DRESULTS=build/test-results.xml -P scripts/check_skips.cmake || status=1
  bash scripts/check_package.sh || status=1
  bash scripts/check_install.sh || status=1
fi
exit $status
