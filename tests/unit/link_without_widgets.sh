#!/usr/bin/env bash
# usage: link_without_widgets.sh <source dir> <scratch dir> <generator> <c++ compiler> <library>...
# The libraries below the windows link Qt Core (and Concurrent) only: configures
# the project into <scratch dir>, reads CMake's target graph and fails when a
# named library reaches Qt6::Widgets or Qt6::Gui through any chain of links, or
# is not in the graph at all.
set -euo pipefail
src=$1 scratch=$2 generator=$3 compiler=$4; shift 4
rm -rf "$scratch" && mkdir -p "$scratch"
if ! cmake -S "$src" -B "$scratch" -G "$generator" -DCMAKE_CXX_COMPILER="$compiler" \
     -DMORVANTA_TESTS=OFF -DMORVANTA_BENCH=OFF --graphviz="$scratch/graph.dot" >"$scratch/configure.log" 2>&1; then
  cat "$scratch/configure.log"; exit 1
fi
# Nodes read `"node1" [ label = "name", ... ]`, edges `"node1" -> "node2" [ style ] // from -> to`.
awk -v roots="$*" '
  /\[ label = "/ { split($0, l, "\""); seen[l[4]] = 1 }
  /->/ && /\/\// { split($0, c, "// "); n = split(c[2], e, " -> "); if (n == 2) edges[e[1]] = edges[e[1]] "\n" e[2] }
  END {
    bad = 0
    nr = split(roots, r, " ")
    for (i = 1; i <= nr; i++) {
      if (!(r[i] in seen)) { print r[i] ": not in the graph"; bad = 1; continue }
      delete visited; delete via; top = 0; stack[++top] = r[i]; visited[r[i]] = 1
      while (top > 0) {
        t = stack[top--]
        m = split(edges[t], next_, "\n")
        for (j = 2; j <= m; j++) {
          d = next_[j]
          if (d in visited) continue
          visited[d] = 1; via[d] = t; stack[++top] = d
          if (d == "Qt6::Widgets" || d == "Qt6::Gui") {
            path = d; for (p = t; p != r[i]; p = via[p]) path = p " -> " path
            print r[i] " -> " path; bad = 1
          }
        }
      }
    }
    exit bad
  }' "$scratch/graph.dot"
