#!/usr/bin/env bash
# The program's own targets form no cycle: every link points down the layers.
#   acyclic.sh <source dir> <scratch dir>
set -euo pipefail
src=$1
scratch=$2
rm -rf "$scratch"
cmake -S "$src" -B "$scratch" -G Ninja --graphviz="$scratch/graph/targets.dot" -DWUGG_BUILD_TESTS=OFF >/dev/null

# Edges between targets of the whole graph, as "from to" pairs of labels.
edges=$(awk '
  /^ *"node[0-9]+" \[ label = / { match($0, /label = "[^"]+"/); label[$1] = substr($0, RSTART + 9, RLENGTH - 10) }
  /^ *"node[0-9]+" -> "node[0-9]+"/ { from[++n] = $1; to[n] = $3 }
  END { for (i = 1; i <= n; ++i) print label[from[i]], label[to[i]] }
' "$scratch/graph/targets.dot")

if [ -z "$edges" ]; then
  echo "no edges read from the target graph" >&2
  exit 1
fi
for pair in "app core" "core interfaces" "services interfaces"; do
  grep -qx "$pair" <<<"$edges" || { echo "missing link: $pair" >&2; exit 1; }
done
if ! printf '%s\n' "$edges" | tsort >/dev/null 2>"$scratch/tsort.err"; then
  echo "the targets link in a cycle:" >&2
  cat "$scratch/tsort.err" >&2
  exit 1
fi
echo "$(wc -l <<<"$edges") links, no cycle"
