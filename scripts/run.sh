#!/usr/bin/env bash
# Builds the Release configuration, generates a sample low-light clip and processes it with
# ulmora-batch at the clip's own frame rate. Extra arguments go to ulmora-batch (e.g. -s ProcAmp=32).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target ulmora-sample ulmora-batch

bin=build/release/bin
out=build/sample
mkdir -p "$out/captures"
clip="$out/lowlight.avi"
[ -f "$clip" ] || "$bin/ulmora-sample" -o "$clip" -W 640 -H 480 -r 30 -n 150 --noise 8 --banding 5

"$bin/ulmora-batch" --realtime -o "$out/captures" -n 40 -d 2 \
  -s ProcNRH=1 -s ProcNRV=1 -s ProcAmp=32 -s ProcCountAccum=4 "$@" "$clip"
echo "Processed pictures are in $out/captures/; the run log is $bin/nocta.log"
