#!/usr/bin/env bash
# Builds the example client and the three modules, registers the modules in
# a temporary registry and runs the example against it:
#   scripts/run-example.sh [simdex-example options, e.g. --objects 20000 --queries 5]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target simdex-example simdex-register SimdexDLL VectorA VectorB

registry_dir="$(mktemp -d /tmp/simdex-registry-XXXXXX)"
trap 'rm -rf "$registry_dir"' EXIT
export SIMDEX_REGISTRY="$registry_dir/registry.txt"
build/tools/simdex-register register build/SimdexDLL/SimdexDLL.so \
  build/examples/vector/VectorA.so build/examples/vector/VectorB.so
build/examples/client/simdex-example "$@"
