#!/usr/bin/env bash
# scripts/run.sh [FILE]
# Installs what is missing, builds Pelora, and runs its main job on FILE (or on
# the built-in demo clip). With a display it opens the processing window; with
# none it runs the headless frame processor and prints its timing lines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
bin="$root/build/bin"

src=${1:-}
if [ -z "$src" ]; then
  src="$root/build/demo/pelora-demo.avi"
  if [ ! -f "$src" ]; then
    mkdir -p "$(dirname "$src")"
    "$bin/clipgen" --out "$src" --format avi-mpeg4 --size 640x480 --frames 150 --fps 30 >&2
  fi
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # Exit status 2 here means the display named does not answer (the
  # program has said so): the run goes on without a window.
  rc=0
  "$bin/pelora" "$src" || rc=$?
  [ "$rc" -ne 2 ] && exit "$rc"
fi
exec "$bin/pelora" --headless "$src"
