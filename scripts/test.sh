#!/usr/bin/env bash
# Builds Debug, Release and the sanitizer build and runs every test of each, then runs the suites that
# start threads under ThreadSanitizer, builds Release with clang and runs every test again, and last
# builds, installs and runs the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh --tests

jobs=$(nproc)
scratch=$(mktemp -d /tmp/ulmora-test-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 0700 "$scratch/runtime"

# Tests never touch the user's own settings, display or runtime directory.
export ULMORA_PROFILE="$scratch/profile.ini"
export XDG_RUNTIME_DIR="$scratch/runtime"
export XDG_CONFIG_HOME="$scratch/config"
export QT_QPA_PLATFORM=offscreen
# An inherited platform theme can make file dialogs native, and they hang offscreen.
unset QT_QPA_PLATFORMTHEME
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
if [ -f src/graph/tests/lsan.supp ]; then
  export LSAN_OPTIONS="suppressions=$PWD/src/graph/tests/lsan.supp:print_suppressions=0"
fi

# GLib and GStreamer are not built with ThreadSanitizer: their locks are futexes the tool cannot see, so
# the memory calls they make are left out (ignore_noninstrumented_modules, set by the tsan preset) and
# our code notes GStreamer's hand-overs itself (graph/gst_sync.h). Every access of our own is checked.
# The sanitizer builds are Debug builds that run every suite but the GUI's, so the plain Debug build only
# has to add the GUI suites; Release runs everything. The clang build is Release only: what it checks is
# that the code builds, without warnings, and behaves the same with the second compiler.
for preset in debug release sanitize tsan clang; do
  build_args=()
  test_args=()
  if [ "$preset" = debug ]; then
    build_args=(--target ulmora-gui-check)
    test_args=(-L gui)
  fi
  echo "=== $preset: build (${SECONDS}s)"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" "${build_args[@]}"
  echo "=== $preset: test (${SECONDS}s)"
  ctest --preset "$preset" -j "$jobs" "${test_args[@]}"
done
# Last, the Debian package of the Release build: built, installed on this machine and run from there.
echo "=== package (${SECONDS}s)"
scripts/package-test.sh
echo "All tests passed in ${SECONDS}s."
