#!/usr/bin/env bash
# Builds ORVO with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ (or $ORVO_SANITIZE_DIR) and runs the whole test suite there.
# Any sanitizer report ends the test that raised it with a failure. Extra
# arguments go to ctest (for example -R common_ to run a part);
# ORVO_SANITIZE_TARGETS="common_tests busframe_tests" builds only those test
# programs and runs each of them whole instead of the ctest suite.
# Leak checking is off by default (Qt, fontconfig and D-Bus keep caches to
# the end of a process); ORVO_DETECT_LEAKS=1 turns it on.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build="${ORVO_SANITIZE_DIR:-build-asan}"
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
config=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  "-DCMAKE_C_FLAGS=$sanitize" "-DCMAKE_CXX_FLAGS=$sanitize"
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"
  "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined")
if command -v ccache >/dev/null; then
  config+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" "${config[@]}"
# shellcheck disable=SC2086 # a list of target names
nice cmake --build "$build" ${ORVO_SANITIZE_TARGETS:+--target $ORVO_SANITIZE_TARGETS}
export ASAN_OPTIONS="detect_leaks=${ORVO_DETECT_LEAKS:-0}:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
if [ -z "${ORVO_SANITIZE_TARGETS:-}" ]; then
  exec ctest --test-dir "$build" --output-on-failure -j2 "$@"
fi
status=0
for target in $ORVO_SANITIZE_TARGETS; do
  [[ "$target" == *_tests ]] || continue
  echo "sanitize: $target"
  "$build/bin/$target" --gtest_brief=1 "$@" || { status=1; echo "sanitize: $target FAILED"; }
done
exit $status
