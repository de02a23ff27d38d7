#!/usr/bin/env bash
# scripts/build.sh [BUILD_DIR] [extra cmake arguments...]
# Configures (once) and builds Pelora with Ninja.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)"
