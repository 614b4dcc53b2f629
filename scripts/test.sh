#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test.
#   scripts/test.sh [CONFIG]   CONFIG: Release (default), Debug or asan
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
config=${1:-Release}
build="$here/build-$(echo "$config" | tr '[:upper:]' '[:lower:]')"
jobs=$(nproc)

bash "$here/scripts/install-deps.sh"
# A private shader cache for this run, removed afterwards: what an earlier
# run left in a shared cache can neither fail the tests nor hide a fault.
shader_cache=$(mktemp -d)
trap 'rm -rf "$shader_cache"' EXIT
export MESA_SHADER_CACHE_DIR="$shader_cache"
# The end-to-end run plays the whole demo; under the sanitizers that takes
# long, and the Release run and the play command cover it. No benchmark
# runs there either, so none is built.
options=()
skip=()
[ "$config" = asan ] && options=(-DQUILLON_BENCH=OFF) && skip=(-LE e2e)
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$config" "${options[@]}"
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs" "${skip[@]}"
