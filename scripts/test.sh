#!/usr/bin/env bash
# Builds Debug, Release and the sanitizer build, and runs every test of each.
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
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
if [ -f src/graph/tests/lsan.supp ]; then
  export LSAN_OPTIONS="suppressions=$PWD/src/graph/tests/lsan.supp:print_suppressions=0"
fi

for preset in debug release sanitize; do
  echo "=== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: test"
  ctest --preset "$preset" -j "$jobs"
done
echo "All tests passed."
