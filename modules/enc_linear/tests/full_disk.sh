#!/usr/bin/env bash
# full_disk.sh mount|umount DIR: a 64 KiB tmpfs at DIR/full for the full-disk
# write test. Without the right to mount, DIR/full stays an ordinary folder
# and the test skips that case.
set -u
dir=$2
mkdir -p "$dir/full"
case $1 in
mount)
    mountpoint -q "$dir/full" && umount "$dir/full"
    rm -f "$dir/full_mounted"
    if mount -t tmpfs -o size=64k tmpfs "$dir/full" 2>/dev/null; then
        touch "$dir/full_mounted"
    fi
    ;;
umount)
    mountpoint -q "$dir/full" && umount "$dir/full"
    rm -f "$dir/full_mounted"
    ;;
esac
exit 0
