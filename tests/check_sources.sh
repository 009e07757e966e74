#!/usr/bin/env bash
# Mechanical rules of the code base: every handle, COM reference and global memory block is released
# by its one owner in foundation/unique_handle.h, no include runs up the rooms' layers, and every
# file is formatted with the repository's .clang-format.
set -uo pipefail
root=${1:?usage: check_sources.sh SOURCE_DIR}
cd "$root" || exit 1
status=0

mapfile -t files < <(git ls-files 'src/*.h' 'src/*.cpp' 'tests/*.h' 'tests/*.cpp' 'benchmarks/*.cpp' 'tools/*.cpp' 'fuzz/*.h' 'fuzz/*.cpp' \
    2>/dev/null || find src tests benchmarks tools fuzz -name '*.h' -o -name '*.cpp')

# The fuzz build's stand-in headers only declare the platform's functions, as <windows.h> does.
raw=$(grep -nE '(^|[^A-Za-z_:])(::)?(CloseHandle|FindClose|WinHttpCloseHandle|RegCloseKey|DeleteObject|DeleteDC|LocalFree|GlobalFree)\(|->Release\(\)' \
    "${files[@]}" | grep -vE '^(src/foundation/unique_handle\.h|fuzz/stand-in/[a-z_]+\.h):')
if [ -n "$raw" ]; then
    echo "Handles must be released by their owner in src/foundation/unique_handle.h:"
    echo "$raw"
    status=1
fi

# The rooms of src/ in layer order, lowest first, as the README's Layout table lists them: a file
# includes only headers of its own room or of rooms below it.
rooms=(foundation filesystem zip config net update account install launch session ui pack)
layer() {
    local index
    for index in "${!rooms[@]}"; do [ "${rooms[$index]}" = "$1" ] && echo "$index" && return; done
    echo -1
}
upward=$(for file in "${files[@]}"; do
    [[ $file == src/*/* ]] || continue
    room=${file#src/}
    room=${room%%/*}
    own=$(layer "$room")
    grep -nE '^#include "[a-z_]+/' "$file" | while IFS= read -r line; do
        included=${line#*#include \"}
        included=${included%%/*}
        other=$(layer "$included")
        if [ "$own" -lt 0 ] || { [ "$other" -ge 0 ] && [ "$other" -gt "$own" ]; }; then echo "$file:$line"; fi
    done
done)
if [ -n "$upward" ]; then
    echo "Includes that run up the layers (order: ${rooms[*]}), or a room the README does not list:"
    echo "$upward"
    status=1
fi

if command -v clang-format >/dev/null; then
    if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/clang-format.$$; then
        echo "Not formatted with .clang-format (run clang-format -i on these):"
        grep -E '^[^ ]+:[0-9]+:[0-9]+: error' /tmp/clang-format.$$ | cut -d: -f1 | sort -u
        status=1
    fi
    rm -f /tmp/clang-format.$$
else
    echo "clang-format is not installed: formatting not checked"
fi
exit $status
