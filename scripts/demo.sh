#!/usr/bin/env bash
# The main job, end to end, on a fresh clone:
#   scripts/demo.sh [WORKDIR]        (default: build/demo)
# Installs what is missing, builds the simdex command and its modules,
# registers the modules in WORKDIR/registry.txt, then for a generated
# clustered data set and for the shipped colour histograms (data/): ground
# truth, an index (create, insert, stats, info, check), a few searches, an
# evaluation of the approximate searches with its plot, and the plot of the
# distance distribution. Every simdex command is echoed before it runs.
set -euo pipefail

# A WORKDIR given on the command line is relative to the caller's directory.
workdir="${1:-}"
if [ -n "$workdir" ]; then
  mkdir -p "$workdir"
  workdir="$(cd "$workdir" && pwd)"
fi
cd "$(dirname "$0")/.."
workdir="${workdir:-build/demo}"

say() { printf '\n### %s\n' "$*"; }
# Echoes a command as the user would type it, then runs it.
run() {
  printf '\n$'
  printf ' %q' "$@"
  printf '\n'
  "$@"
}

say "Install missing packages, build the command and the modules"
scripts/setup.sh
echo "\$ cmake -S . -B build -DSIMDEX_WERROR=ON"
cmake -S . -B build -DSIMDEX_WERROR=ON >/dev/null
mkdir -p "$workdir"
log="$workdir/build.log"
echo "\$ cmake --build build -j$(nproc) --target simdex SimdexDLL VectorA VectorB   (log: $log)"
if ! cmake --build build -j"$(nproc)" --target simdex SimdexDLL VectorA VectorB >"$log" 2>&1; then
  tail -n 40 "$log"
  echo "demo: the build failed; the whole log is in $log" >&2
  exit 1
fi
start=$SECONDS

say "Use the command from the build tree, with a registry of our own"
echo "\$ export PATH=\"\$PWD/build/tools/simdex:\$PATH\" SIMDEX_REGISTRY=$workdir/registry.txt"
export PATH="$PWD/build/tools/simdex:$PATH"
export SIMDEX_REGISTRY="$workdir/registry.txt"
run simdex register

say "Generated data: 10,000 vectors of 45 values in 10 Gaussian clusters, 100 queries"
gen="$workdir/clusters"
run simdex generate "$gen.fvecs" -n 10000 -d 45 --clusters 10 --sigma 0.1 --seed 42 \
  --queries 100 --query-out "${gen}_query.fvecs"
run simdex truth "$gen.fvecs" "${gen}_query.fvecs" -k 10 -o "${gen}_gt10"
# Coordinates lie in [0,1]: no distance exceeds sqrt(45) = 6.708.
run simdex create "$gen-idx" --class VectorA --max-distance 6.71 --force
run simdex insert "$gen-idx" "$gen.fvecs"
run simdex stats "$gen-idx"
run simdex info "$gen-idx"
run simdex check "$gen-idx"
run simdex knn "$gen-idx" "${gen}_query.fvecs" -k 5 --first 2
run simdex knn "$gen-idx" "${gen}_query.fvecs" -k 5 --first 2 --method 2 --threshold 1
run simdex range "$gen-idx" "${gen}_query.fvecs" -r 0.62 --first 1
run simdex eval "$gen-idx" "${gen}_query.fvecs" --truth "${gen}_gt10.ivecs" \
  --plot "$workdir/clusters-recall.png"
run simdex plot "$gen-idx" -o "$workdir/clusters-distribution.png"

say "Real data: 5,000 colour histograms of 45 bins and 50 queries (data/README.md)"
hist="$workdir/hist45"
# Histograms sum to 1: no distance exceeds sqrt(2) = 1.4142.
run simdex create "$hist-idx" --class VectorA --max-distance 1.415 --force
run simdex insert "$hist-idx" data/hist45-small.fvecs
run simdex stats "$hist-idx"
run simdex info "$hist-idx"
run simdex check "$hist-idx"
run simdex knn "$hist-idx" data/hist45-small_query.fvecs -k 10 --first 2
run simdex range "$hist-idx" data/hist45-small_query.fvecs -r 0.2 --first 1
run simdex eval "$hist-idx" data/hist45-small_query.fvecs --truth data/hist45-small_gt10.ivecs \
  --plot "$workdir/hist45-recall.png"
run simdex plot "$hist-idx" -o "$workdir/hist45-distribution.png"

say "Done in $((SECONDS - start)) s after the build. The plots:"
run ls -l "$workdir"/clusters-recall.png "$workdir"/clusters-distribution.png \
  "$workdir"/hist45-recall.png "$workdir"/hist45-distribution.png
