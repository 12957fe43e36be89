#!/usr/bin/env bash
# Decodes one H.264 stream with ovtool and with ffmpeg -threads 1 in the same
# run, best of N each, and prints both CPU times and their ratio.
#
#   bench/h264_vs_ffmpeg.sh [STREAM] [RUNS]
# STREAM defaults to the 10-second VGA Baseline fixture (scripts/fixtures/h264.sh)
# of the bench build, else of the default build; ovtool likewise.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-bench
[ -x "$build/bin/ovtool" ] || build=$here/build
stream=${1:-$build/fixtures/h264_bench_vga.264}
runs=${2:-5}
ovtool=${OVTOOL:-$build/bin/ovtool}
[ -x "$ovtool" ] || { echo "h264_vs_ffmpeg: build ovtool first (make bench)" >&2; exit 1; }
[ -s "$stream" ] || { echo "h264_vs_ffmpeg: no stream $stream (scripts/make-fixtures)" >&2; exit 1; }

tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
best() {  # least CPU time (user + system, seconds) of "$@" over $runs runs;
          # CPU time rather than wall time keeps the ratio sane on a busy machine
  local b=999
  for _ in $(seq "$runs"); do
    local t
    /usr/bin/time -o "$tmp" -f "%U %S" "$@" >/dev/null 2>&1
    t=$(awk '{print $1 + $2}' "$tmp")
    b=$(echo "$t $b" | awk '{print ($1 < $2) ? $1 : $2}')
  done
  echo "$b"
}

ours=$(best "$ovtool" h264dec "$stream" /dev/null)
peer=$(best ffmpeg -v error -threads 1 -i "$stream" -f rawvideo -pix_fmt yuv420p -y /dev/null)
echo "stream: $stream"
echo "CPU time: ovtool h264dec ${ours}s, ffmpeg -threads 1 ${peer}s"
echo "ratio (ovtool / ffmpeg): $(echo "$ours $peer" | awk '{printf "%.2f", $1/$2}')"
