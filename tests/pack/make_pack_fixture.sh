#!/usr/bin/env bash
# Client folders holding what no Windows program can create but a careless copy can bring along:
# a link, a device name, a trailing dot, two names that differ only in letter case; and a content
# store whose packs folder is a link to a folder outside it. Wine shows a Unix symbolic link as a
# reparse point.
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
mkdir -p "$dir/store/indexes" "$dir/elsewhere"
echo pack >"$dir/elsewhere/$(printf '%064d' 0).pack"
ln -s ../elsewhere "$dir/store/packs"
# An index of an empty client, named by its digest as a store names it: one a prune may keep.
python3 - "$dir/store/indexes" <<'PY'
import hashlib, sys, zlib
document = ('{"format":1,"version":"1","package":{"sha256":"' + "0" * 64 + '","size":0},'
            '"chunking":{"minimum":262144,"average":1048576,"maximum":4194304},'
            '"packs":[],"chunks":[],"directories":[],"files":[]}')
data = zlib.compress(document.encode())
open(f"{sys.argv[1]}/{hashlib.sha256(data).hexdigest()}.index", "wb").write(data)
PY
