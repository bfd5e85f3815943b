#!/usr/bin/env bash
# A folder with a link in it that leads out: root/link -> ../outside, with a
# file in outside that must survive. Wine shows a Unix symbolic link as a
# junction and follows it; Windows programs under Wine cannot make one.
set -eu
folder="$1"
rm -rf "$folder"
mkdir -p "$folder/root/real" "$folder/outside"
echo "keep me" > "$folder/outside/canary.txt"
ln -s ../outside "$folder/root/link"
ln -s ../outside/canary.txt "$folder/root/file_link"
