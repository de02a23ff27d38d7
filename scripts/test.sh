#!/usr/bin/env bash
# Installs what is missing, checks the include layers and the format, builds, and runs every
# test: the plain build, then the AddressSanitizer+UBSan build and the
# ThreadSanitizer build. The ThreadSanitizer build uses clang, which also
# checks the lock annotations (-Wthread-safety). Warnings are errors in all
# three (PELORA_WERROR). PELORA_QUICK=1 runs the plain build only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
export QT_QPA_PLATFORM=offscreen

echo "== checking include layers"
python3 "$root/scripts/check-includes.py"
echo "== checking the format (.clang-format)"
(cd "$root" && git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror)

run_suite() {
  local dir=$1; shift
  echo "== building $(basename "$dir")"
  "$root/scripts/build.sh" "$dir" "$@"
  echo "== testing $(basename "$dir")"
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300
}

run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORA_WERROR=ON
if [ "${PELORA_QUICK:-0}" != 1 ]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DPELORA_SANITIZE=address \
            -DPELORA_BUILD_BENCHMARKS=OFF -DPELORA_WERROR=ON
  run_suite "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORA_SANITIZE=thread \
            -DPELORA_BUILD_BENCHMARKS=OFF -DPELORA_WERROR=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
fi
