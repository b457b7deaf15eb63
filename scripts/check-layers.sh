#!/usr/bin/env bash
# Fails when a file includes a header of a layer above its own, or when the GUI includes a media-framework
# or V4L2 header. The layers are the folders of the README's Layout table, lowest first.
# Usage: check-layers.sh [ROOT]   (default: the checkout this script is in)
set -euo pipefail
root=${1:-"$(dirname "$0")/.."}
cd "$root"

# Folder names in table order: "| `src/common/` |" gives "common", "| `tools/` |" gives "tools".
mapfile -t layers < <(sed -n 's/^| `\(src\/\)\{0,1\}\([a-z_]*\)\/` |.*/\2/p' README.md)
if [ ${#layers[@]} -lt 2 ]; then
  echo "check-layers: no Layout table found in $root/README.md" >&2
  exit 2
fi
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

dir_of() { if [ -d "src/$1" ]; then echo "src/$1"; else echo "$1"; fi; }

status=0
for layer in "${layers[@]}"; do
  dir=$(dir_of "$layer")
  [ -d "$dir" ] || continue
  while IFS=: read -r file line text; do
    used=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)\/.*/\1/p' <<<"$text")
    [ -n "$used" ] && [ -n "${rank[$used]+x}" ] || continue
    # Tests of any layer may drive the simulated camera: it stands in for the hardware they need.
    if [ "$used" = simcam ] && [[ "$file" == */tests/* ]]; then continue; fi
    if [ "${rank[$used]}" -gt "${rank[$layer]}" ]; then
      echo "$file:$line: $layer includes $used, a layer above it: $text"
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$dir" --include='*.h' --include='*.cpp' || true)
done

# The desktop program reaches devices and graphs only through their framework-free faces.
if [ -d src/gui ]; then
  while IFS= read -r hit; do
    echo "$hit: the GUI includes a media-framework or V4L2 header"
    status=1
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(gst/|glib|linux/videodev2)' src/gui \
             --include='*.h' --include='*.cpp' --exclude-dir=tests || true)
fi
exit $status
