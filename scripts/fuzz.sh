#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each over its seed corpus
# for a few seconds (FUZZ_SECONDS, default 5). New inputs go to a scratch
# copy of the corpus, so the repository's seeds stay as they are.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build-fuzz"
seconds=${FUZZ_SECONDS:-5}

bash "$here/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_FUZZ=ON
cmake --build "$build" -j "$(nproc)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in "$build"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    name=${name#fuzz_}
    mkdir -p "$scratch/$name"
    if [ -d "$here/fuzz/corpus/$name" ]; then
        cp -r "$here/fuzz/corpus/$name/." "$scratch/$name/"
    fi
    # The effect compiler's helper processes are forks of the fuzzer and
    # bound their own memory; a huge request there must fail as it does in
    # the player, not trip the fuzzer's malloc hook copied into them.
    options=(-rss_limit_mb=2048)
    [ "$name" = effect_compiler ] && options+=(-malloc_limit_mb=65536)
    echo "== fuzz_$name (${seconds}s)"
    if ! (cd "$scratch" && "$target" -max_total_time="$seconds" -timeout=10 "${options[@]}" \
            -print_final_stats=0 "$scratch/$name" > "$scratch/$name.log" 2>&1); then
        tail -n 60 "$scratch/$name.log"
        echo "fuzz_$name FAILED"
        status=1
    else
        grep -E '^#[0-9]+.*DONE' "$scratch/$name.log" | tail -n 1 || true
    fi
done
exit $status
