#!/usr/bin/env bash
# Installs the Debian packages Pelora builds and tests with. Idempotent: when
# everything is already installed it prints nothing and returns at once; it
# runs 'apt-get update' only when something is missing.
set -euo pipefail

PACKAGES=(
  # the build (qt6-base-dev brings the OpenGL headers its CMake files ask for)
  build-essential cmake ninja-build pkg-config
  qt6-base-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # the include-layer check and its test
  python3
  # the window's Japanese texts: glyphs, and Qt's own dialogs in Japanese
  fonts-noto-cjk qt6-translations-l10n
  # the clang builds (fuzzers, thread-safety analysis)
  clang libclang-rt-14-dev
  # the format check of the test command
  clang-format
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
