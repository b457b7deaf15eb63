#!/usr/bin/env bash
# The layering check must catch what it is for: a planted backward include and a GUI that includes
# GStreamer fail it, a clean tree passes.
set -euo pipefail
check="$(cd "$(dirname "$0")" && pwd)/check-layers.sh"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/src/common" "$tree/src/graph" "$tree/src/gui" "$tree/tools"
printf '| Folder | What |\n|---|---|\n| `src/common/` | a |\n| `src/graph/` | b |\n| `src/gui/` | c |\n| `tools/` | d |\n' \
  >"$tree/README.md"
echo '#include "common/log.h"' >"$tree/src/graph/run.cpp"
echo '#include "graph/graph_object.h"' >"$tree/src/gui/window.cpp"
echo '#include "gui/window.h"' >"$tree/tools/main.cpp"
"$check" "$tree" || { echo "a clean tree failed the check"; exit 1; }

echo '#include "graph/cap_graph.h"' >"$tree/src/common/log.cpp"
if "$check" "$tree"; then echo "a backward include passed the check"; exit 1; fi
rm "$tree/src/common/log.cpp"

echo '#include <gst/gst.h>' >>"$tree/src/gui/window.cpp"
if "$check" "$tree"; then echo "a GStreamer include in the GUI passed the check"; exit 1; fi
echo "the check finds what it must"
