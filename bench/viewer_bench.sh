#!/usr/bin/env bash
# Viewer benchmark: rv8view's window (bench/ViewerBench.cpp) on a recording of 8000 records of
# 130000 frames (4.2 GB, written by rv8_make_recording with the project's writer). The file must
# lie on a disk, not in memory (tmpfs): it is made in the build folder, after checking that the
# file system there has room for it and is not a tmpfs, and removed at the end whatever happens.
#
#   bench/viewer_bench.sh BUILD_DIR     (needs bin/viewer_bench and bin/rv8_make_recording)
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
BIN="$BUILD/bin"
RECORDS=8000
FRAMES=130000
NEED_KIB=$((5 * 1024 * 1024)) # the 4.2 GB file and room to spare

fs="$(df --output=fstype "$BUILD" | tail -1)"
avail="$(df --output=avail "$BUILD" | tail -1)"
if [ "$fs" = tmpfs ]; then
    echo "viewer_bench: $BUILD is on a tmpfs; the recording must lie on a disk" >&2
    exit 1
fi
if [ "$avail" -lt "$NEED_KIB" ]; then
    echo "viewer_bench: $((avail / 1024)) MiB free in $BUILD, $((NEED_KIB / 1024)) MiB needed" >&2
    exit 1
fi
work="$(mktemp -d "$BUILD/viewer-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
rec="$work/8000x130000.cvx"
echo "making $rec ($RECORDS records of $FRAMES frames, on $fs)..."
"$BIN/rv8_make_recording" "$rec" "$RECORDS" "$FRAMES"
ls -l "$rec"
"$BIN/viewer_bench" "$rec" --runs 5
