#!/usr/bin/env bash
# Mounts or unmounts a 1 MiB tmpfs for the disk-full tests. Without the right
# to mount, it leaves a plain folder and the tests that need it skip.
set -u
action="$1"
folder="$2"
case "$action" in
  mount)
    mkdir -p "$folder"
    mountpoint -q "$folder" || mount -t tmpfs -o size=1m tmpfs "$folder" 2>/dev/null ||
      echo "small_volume: cannot mount a tmpfs here; the disk-full tests will skip"
    ;;
  unmount)
    if mountpoint -q "$folder"; then umount "$folder"; fi
    ;;
esac
exit 0
