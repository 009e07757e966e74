#!/usr/bin/env bash
# The same commit and values give the same bytes: the release built in its own folder on another
# day (by the signed-release test, before signing) against this build tree's own executables,
# built here today with the same values; and installers made from each, also on different days.
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
faketime '+3 days' "$source_dir/packaging/make-installer" "$other/Gatehouse.exe" "$work/installer-a"
"$source_dir/packaging/make-installer" "$build/Gatehouse.exe" "$work/installer-b"
compare 曜石纪元-Setup.exe "$work/installer-a/曜石纪元-Setup.exe" "$work/installer-b/曜石纪元-Setup.exe"
echo "PASS: $compared files byte for byte the same"
