#!/usr/bin/env bash
# The values file of scripts/release, checked before anything is built: a name it does not know (a
# typo of a real one) is refused with its line, so a misspelt host never ships as the default, while
# every variable of "Deployment values" is taken, the update channel's included. And no build but the
# demo's may trust the public demo key, and a client package's digest never goes without its
# address: configuring either fails.
set -euo pipefail
source_dir=$1 work=$2
rm -rf "$work"
demo_key=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["publicKey"])' \
    "$source_dir/tools/demo-update-key.json")
own_key=$(printf '%0128x' 7)
fail() {
    echo "FAIL: $*"
    exit 1
}

# Each row: the values file, and the refusal it must end with. A typo on the last line shows that
# every line before it was taken, without building a release.
rows=(
    $'LAUNCHER_PACKAGE_HOST=download.example.com\nLAUNCHER_PAKAGE_HOST=typo.example.com\n'
    'values:2: unknown variable LAUNCHER_PAKAGE_HOST'
    $'LAUNCHER_UPDATE_MANIFEST_URL=https://download.example.com/update/manifest.json\nLAUNCHER_UPDATE_PUBLIC_KEY='"$own_key"$'\nLAUNCHER_PAKAGE_HOST=typo.example.com\n'
    'values:3: unknown variable LAUNCHER_PAKAGE_HOST'
)
for ((row = 0; row < ${#rows[@]}; row += 2)); do
    mkdir -p "$work/$row/out"
    printf '%s' "${rows[row]}" >"$work/$row/values"
    if message=$("$source_dir/scripts/release" "$work/$row/values" "$work/$row/out" 2>&1); then
        fail "the release was made:"$'\n'"$message"
    fi
    grep -qF "${rows[row + 1]}" <<<"$message" ||
        fail "expected '${rows[row + 1]}', got:"$'\n'"$message"
    [ -z "$(ls -A "$work/$row/out")" ] || fail "something was written to the release folder"
    echo "PASS: $message"
done

# The configure step alone, in a folder of its own. Each row: the values, and the refusal naming them.
configure_rows=(
    "-DLAUNCHER_UPDATE_MANIFEST_URL=https://download.example.com/update/manifest.json -DLAUNCHER_UPDATE_PUBLIC_KEY=$demo_key"
    'LAUNCHER_UPDATE_PUBLIC_KEY is the public demo key'
    # A digest of another package beside this tree's address would fail every first install.
    "-DLAUNCHER_CLIENT_PACKAGE_SHA256=$(printf '%064x' 7)"
    'LAUNCHER_CLIENT_PACKAGE_SHA256 describes the client package of LAUNCHER_CLIENT_PACKAGE_URL, which is not set'
)
for ((row = 0; row < ${#configure_rows[@]}; row += 2)); do
    # shellcheck disable=SC2086 # each row holds whole -D words
    if message=$(cmake -S "$source_dir" -B "$work/configure-$row" -G Ninja -DBUILD_TESTING=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" ${configure_rows[row]} 2>&1); then
        fail "configured with ${configure_rows[row]}"
    fi
    # CMake wraps its messages.
    grep -qF "${configure_rows[row + 1]}" <<<"$(tr -s '[:space:]' ' ' <<<"$message")" ||
        fail "the configuration did not refuse ${configure_rows[row]} by name:"$'\n'"$message"
    echo "PASS: refused at configure time: ${configure_rows[row + 1]}"
done
