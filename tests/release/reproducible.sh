#!/usr/bin/env bash
# The same commit and values give the same bytes: the release's build folder (made by the
# signed-release test in a folder of its own on another day, with the operator's client package),
# brought back to this build tree's values there and on that day, against this build tree's own
# executables; and installers made from each, also on different days. Going back to the default
# package only regenerates the built-in configuration: every object stays as the release built it.
set -euo pipefail
source_dir=$1 build=$2 work=$3
other="$work/build-on-another-day"
compared=0
compare() { # name, file A, file B
    if cmp "$2" "$3"; then
        echo "identical: $1 ($(stat -c %s "$2") bytes)"
    else
        echo "FAIL: $1 differs between $2 and $3"
        exit 1
    fi
    compared=$((compared + 1))
}
trap '"$source_dir/scripts/wine-session" stop "$other" >/dev/null 2>&1 || true' EXIT

targets=(Gatehouse)
ninja -C "$other" -t query gatehouse-pack >/dev/null 2>&1 && targets+=(gatehouse-pack)
faketime '+3 days' cmake -S "$source_dir" -B "$other" -U 'LAUNCHER_CLIENT_*' >/dev/null
faketime '+3 days' cmake --build "$other" --target "${targets[@]}" >/dev/null
cmp -s "$other/generated/builtin-config.json" "$build/generated/builtin-config.json" || {
    echo "FAIL: this build tree was configured with other deployment values than the example's defaults"
    exit 1
}
compare Gatehouse.exe "$other/Gatehouse.exe" "$build/Gatehouse.exe"
pack_here=$(find "$build" -name gatehouse-pack.exe -not -path '*/CMakeFiles/*' | head -n 1)
pack_there=$(find "$other" -name gatehouse-pack.exe -not -path '*/CMakeFiles/*' | head -n 1)
if [ -n "$pack_here" ] || [ -n "$pack_there" ]; then
    compare gatehouse-pack.exe "$pack_there" "$pack_here"
fi

rm -rf "$work/installer-a" "$work/installer-b"
mkdir -p "$work/installer-a" "$work/installer-b"
installer_a=$(faketime '+3 days' "$source_dir/packaging/make-installer" "$other/Gatehouse.exe" "$work/installer-a")
installer_b=$("$source_dir/packaging/make-installer" "$build/Gatehouse.exe" "$work/installer-b")
compare "$(basename "$installer_a")" "$installer_a" "$installer_b"
echo "PASS: $compared files byte for byte the same"
