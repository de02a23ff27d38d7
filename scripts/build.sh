#!/usr/bin/env bash
# scripts/build.sh [BUILD_DIR] [extra cmake arguments...]
# Configures and builds Pelora with Ninja. A new build folder is configured
# with the arguments given; an existing one is configured again when the
# arguments differ from those of its last configuration (kept in
# BUILD_DIR/.pelora-cmake-args), so that a changed option takes effect.
# Without arguments an existing folder keeps its configuration; an option
# left out of new arguments keeps its cached value.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
stamp="$dir/.pelora-cmake-args"
args=$(printf '%s\n' "$@")
if [ ! -f "$dir/build.ninja" ] ||
   { [ $# -gt 0 ] && [ "$args" != "$(cat "$stamp" 2>/dev/null)" ]; }; then
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  printf '%s' "$args" >"$stamp"
fi
cmake --build "$dir" -j "$(nproc)"
