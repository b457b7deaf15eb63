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
dirs=()
for layer in "${layers[@]}"; do
  if [ -d "src/$layer" ]; then dirs+=("src/$layer"); elif [ -d "$layer" ]; then dirs+=("$layer"); fi
done

# One pass over every include line: "file:line:text", the file's layer from its path.
status=0
if ! { grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/' "${dirs[@]}" --include='*.h' --include='*.cpp' ||
       true; } |
  awk -v order="${layers[*]}" '
    BEGIN { n = split(order, names, " "); for (i = 1; i <= n; ++i) rank[names[i]] = i }
    {
      split($0, part, ":"); file = part[1]; line = part[2]
      text = substr($0, length(file) + length(line) + 3)
      path = file; sub(/^src\//, "", path); own = path; sub(/\/.*/, "", own)
      used = text; sub(/^[^"]*"/, "", used); sub(/\/.*/, "", used)
      if (!(used in rank) || !(own in rank)) next
      # Tests of any layer may drive the simulated camera: it stands in for the hardware they need.
      if (used == "simcam" && file ~ /\/tests\//) next
      if (rank[used] > rank[own]) { print file ":" line ": " own " includes " used ", a layer above it: " text; bad = 1 }
    }
    END { exit bad }'; then
  status=1
fi

# The desktop program reaches devices and graphs only through their framework-free faces.
if [ -d src/gui ]; then
  while IFS= read -r hit; do
    echo "$hit: the GUI includes a media-framework or V4L2 header"
    status=1
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(gst/|glib|linux/videodev2)' src/gui \
             --include='*.h' --include='*.cpp' --exclude-dir=tests || true)
fi
exit $status
