#!/usr/bin/env bash
# Builds the native fuzz targets and runs each one for a fixed number of inputs from its seeds,
# its kept regression inputs and its dictionary. Any sanitizer report or crash fails the run;
# the input that caused it is left in BUILD_DIR/fuzz/artifacts. FUZZ_RUNS sets the inputs per target.
set -euo pipefail
source_dir=${1:?usage: run-fuzz-tests.sh SOURCE_DIR BUILD_DIR}
build_dir=${2:?usage: run-fuzz-tests.sh SOURCE_DIR BUILD_DIR}
runs=${FUZZ_RUNS:-50000}

"$source_dir/fuzz/build.sh" "$source_dir" "$build_dir"
fuzz=$build_dir/fuzz
status=0
while read -r target dictionary; do
    case $target in '' | '#'*) continue ;; esac
    options=(-runs="$runs" -seed=1 -max_len=16384 -print_final_stats=1 -artifact_prefix="$fuzz/artifacts/$target/")
    [ "$dictionary" = - ] || options+=(-dict="$source_dir/fuzz/$dictionary")
    # New inputs go to a scratch corpus so every run starts from the same place.
    scratch=$fuzz/scratch/$target
    rm -rf "$scratch"
    mkdir -p "$scratch" "$fuzz/artifacts/$target"
    echo "fuzz: $target, $runs inputs"
    if ! "$fuzz/${target}_fuzzer" "${options[@]}" "$scratch" "$fuzz/seeds/$target" \
        "$source_dir/fuzz/regressions/$target" 2>"$fuzz/$target.log"; then
        cat "$fuzz/$target.log"
        echo "fuzz: $target FAILED; the input is in $fuzz/artifacts/$target" >&2
        status=1
    else
        grep -E '^(stat::|Done )' "$fuzz/$target.log" || true
    fi
done <"$source_dir/fuzz/targets.list"
exit $status
