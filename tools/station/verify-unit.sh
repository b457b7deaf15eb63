#!/usr/bin/env bash
# The station's unit file as the service manager reads it: `systemd-analyze verify` on an instance of
# the template, with its command resolved to the built ulmora-batch, must say nothing; every option the
# command line uses must be one ulmora-batch knows. Usage: verify-unit.sh UNIT ULMORA_BATCH
set -euo pipefail
unit=$1 batch=$2
command -v systemd-analyze >/dev/null || { echo "systemd-analyze missing: skipped"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
instance="$scratch/ulmora-station@test.service"
sed "s|^ExecStart=ulmora-batch |ExecStart=$batch |" "$unit" >"$instance"
grep -q "^ExecStart=$batch " "$instance" || { echo "no ExecStart=ulmora-batch line"; exit 1; }
out=$(systemd-analyze verify "$instance" 2>&1) || { echo "$out"; exit 1; }
[ -z "$out" ] || { echo "systemd-analyze verify: $out"; exit 1; }
help=$("$batch" --help)
for opt in $(grep '^ExecStart=' "$unit" | grep -o -- '--[a-z-]*'); do
  grep -q -- "$opt" <<<"$help" || { echo "ulmora-batch does not know $opt"; exit 1; }
done
echo "unit ok"
