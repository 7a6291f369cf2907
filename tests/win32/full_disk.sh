#!/bin/bash
# Runs the full-disk test of a Win32 test exe under wine on a small tmpfs mounted here (as root).
#
#   full_disk.sh TEST_EXE
#
# Exits 77 (ctest's skip) with a message where no file system can be mounted.
set -u
root="$(cd "$(dirname "$0")/../.." && pwd)"
dir="$(mktemp -d /tmp/k614full.XXXXXX)"
# Four pages: room for the old files and the test's filler, none to spare.
if ! mount -t tmpfs -o size=16k,mode=0777 k614full "$dir" 2>/dev/null; then
    echo "SKIP: cannot mount a small tmpfs (needs root): the full-disk test did not run"
    rmdir "$dir"
    exit 77
fi
# Lazily: the wineserver may still hold the folder open.
trap 'umount -l "$dir"; rmdir "$dir"' EXIT
K614_FULL_DISK_DIR="$dir" "$root/scripts/wine-run.sh" "$1" --gtest_filter='FullDisk.*'
