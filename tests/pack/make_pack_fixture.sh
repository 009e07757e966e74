#!/usr/bin/env bash
# Client folders holding what no Windows program can create but a careless copy can bring along:
# a link, a device name, a trailing dot, two names that differ only in letter case. Wine shows a
# Unix symbolic link as a reparse point.
set -euo pipefail
dir=${1:?usage: make_pack_fixture.sh DIR}
rm -rf "$dir"
mkdir -p "$dir/outside" "$dir/link/TalvoPC/talvo-曜石纪元_Data" "$dir/reserved/TalvoPC" \
    "$dir/trailing-dot/TalvoPC" "$dir/case/TalvoPC"
echo keep >"$dir/outside/keep.txt"
ln -s ../../../outside "$dir/link/TalvoPC/talvo-曜石纪元_Data/outside"
echo MZ >"$dir/reserved/TalvoPC/Aux.dll"
echo notes >"$dir/trailing-dot/TalvoPC/readme."
echo MZ >"$dir/case/TalvoPC/UnityPlayer.dll"
echo MZ >"$dir/case/TalvoPC/unityplayer.dll"
