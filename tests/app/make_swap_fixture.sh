#!/usr/bin/env bash
# What the deletion tests' links lead to (outside/, whose files must survive),
# a link to it (root_link), a temporary folder whose Linked_log is a link to
# it (temp/) and the folder the tests work in (work/); the tests
# swap links in between a folder's listing and the deletion of an entry. Wine shows a Unix symbolic link as a junction (and follows it);
# Windows programs under Wine cannot make one.
set -eu
folder="$1"
rm -rf "$folder"
mkdir -p "$folder/outside" "$folder/work"
echo "keep me" > "$folder/outside/canary.txt"
echo "keep me too" > "$folder/outside/canary_file.txt"
ln -s "$folder/outside" "$folder/root_link"
# A temporary folder whose kept-log folder is a link leading out.
mkdir -p "$folder/temp"
ln -s "$folder/outside" "$folder/temp/Linked_log"
