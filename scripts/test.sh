#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=OFF
builddir=build
if [ "${1:-}" = "--sanitize" ]; then
  sanitize=ON
  builddir=build-asan
fi

scripts/setup.sh
cmake -S . -B "$builddir" -DSIMDEX_SANITIZE="$sanitize" -DSIMDEX_WERROR=ON >/dev/null
cmake --build "$builddir" -j"$(nproc)"
# Leaks in a test are failures too.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir "$builddir" --output-on-failure -j"$(nproc)"
