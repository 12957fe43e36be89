#!/usr/bin/env bash
# Media-layer peer comparison, each pair on the same input in one run:
#  1. the full sample walk of a one-hour MP4 (ovtool info --packets) beside
#     ffprobe -show_packets;
#  2. the buffered reader's throughput (ovtool bufread) beside cat.
# Prints the wall-clock time of each and the ratio ours / peer.
#
#   bench/media_peers.sh [BUILD_DIR]   (default build, the optimised build)
set -euo pipefail
build=${1:-build}
ovtool=$build/bin/ovtool
work=${TMPDIR:-/tmp}/ovmix-media-bench
mkdir -p "$work"

hour=$work/hour.mp4
if [ ! -s "$hour" ]; then
  # Ten seconds of QCIF video and AAC sound, repeated to one hour without
  # re-encoding.
  ffmpeg -v error -y -f lavfi -i testsrc2=size=176x144:rate=15:duration=10 \
    -f lavfi -i sine=frequency=440:sample_rate=22050:duration=10 \
    -c:v mpeg4 -b:v 64k -c:a aac -b:a 32k "$work/ten.mp4"
  ffmpeg -v error -y -stream_loop 359 -i "$work/ten.mp4" -c copy "$hour"
fi

seconds() {  # seconds COMMAND...: wall-clock seconds of COMMAND, output discarded
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }' 
}

report() {  # report NAME OURS PEER
  awk -v n="$1" -v o="$2" -v p="$3" 'BEGIN { printf "%-28s ours %8.3f s  peer %8.3f s  ratio %6.2f\n", n, o, p, o / p }' 
}

ours=$(seconds "$ovtool" info "$hour" --packets)
peer=$(seconds ffprobe -v error -show_packets "$hour")
report "sample walk, 1 h MP4" "$ours" "$peer"

cat "$hour" >/dev/null  # same page-cache state for both readers
ours=$(seconds "$ovtool" bufread "$hour")
peer=$(seconds cat "$hour")
report "buffered read, $(du -h "$hour" | cut -f1)" "$ours" "$peer"
