#!/usr/bin/env bash
# Lays out a tree with real directory links for the link-safety tests. Wine reports a Unix
# symbolic link as a reparse point, which is what those tests need (CreateSymbolicLinkW makes
# nothing under Wine).
set -euo pipefail
dir=${1:?usage: make_link_fixture.sh DIR}
rm -rf "$dir"
mkdir -p "$dir/outside/deep" "$dir/parent/staging/sub"
echo keep >"$dir/outside/keep.txt"
echo keep >"$dir/outside/deep/keep.txt"
echo a >"$dir/parent/staging/a.txt"
echo b >"$dir/parent/staging/sub/b.txt"
ln -s ../../../outside "$dir/parent/staging/sub/link"
ln -s ../outside "$dir/parent/linked"
ln -s outside "$dir/linked-parent"
mkdir -p "$dir/leftovers/GameClient.install-0123456789ABCDEF0123456789ABCDEF"
ln -s ../../outside "$dir/leftovers/GameClient.install-0123456789ABCDEF0123456789ABCDEF/link"
