#!/usr/bin/env bash
# Builds the Release configuration, generates a sample low-light clip and opens it in the desktop
# program. Without a display it says so and processes the clip with ulmora-batch instead, at the clip's
# own frame rate. Extra arguments go to the program (e.g. --play, or -s ProcAmp=32 for ulmora-batch).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target ulmora ulmora-sample ulmora-batch

bin=build/release/bin
out=build/sample
mkdir -p "$out/captures"
clip="$out/lowlight.avi"
[ -f "$clip" ] || "$bin/ulmora-sample" -o "$clip" -W 640 -H 480 -r 30 -n 150 --noise 8 --banding 5

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening $clip in ulmora: Space plays, F10 captures, Ctrl+X ends. Log: $bin/nocta.log"
  exec "$bin/ulmora" "$@" "$clip"
fi

echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): processing the clip with ulmora-batch instead."
"$bin/ulmora-batch" --realtime -o "$out/captures" -n 40 -d 2 \
  -s ProcNRH=1 -s ProcNRV=1 -s ProcAmp=32 -s ProcCountAccum=4 "$@" "$clip"
echo "Processed pictures are in $out/captures/; the run log is $bin/nocta.log"
