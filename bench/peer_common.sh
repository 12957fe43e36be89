# Helpers of the peer scripts (sourced): the three kinds of content and the
# CPU time of one pinned process.

# content_filter KIND SIZE RATE FRAMES: the lavfi source of one kind of content.
#   pattern  testsrc2 (moving synthetic pattern)
#   fractal  mandelbrot (a zoom into fine detail)
#   texture  a fine random texture, slightly blurred, panning by about one
#            sample a frame, with fresh noise of about +-10 on every frame
content_filter() {
  case $1 in
    pattern) echo "testsrc2=size=$2:rate=$3" ;;
    fractal) echo "mandelbrot=size=$2:rate=$3" ;;
    texture) echo "color=c=gray:size=$2:rate=$3,noise=alls=60:allf=u,gblur=sigma=0.8,trim=end_frame=1,loop=loop=$4:size=1,scroll=h=0.003:v=0.001,noise=alls=10:allf=t" ;;
    *) echo "unknown content kind $1" >&2; return 2 ;;
  esac
}

# cpu_time CPU COMMAND...: user + system seconds of COMMAND pinned to CPU, from
# the shell's own accounting of its child; its output is discarded.
cpu_time() {
  local cpu=$1
  shift
  (
    taskset -c "$cpu" "$@" >/dev/null 2>&1
    times
  ) | tail -1 | awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%.3f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }'
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b ? a : b) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# greater A B: true when A > B.
greater() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }

# median: the median of the numbers on standard input, one a line.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# paired CPU RUNS: times the commands in the arrays `ours` and `peer` in turn
# (ours, peer, ours, ...) RUNS times after one warm-up each, both pinned to
# CPU, and prints the median CPU seconds of each and the median of the
# pairwise ratios ours / peer, so that a drift of the machine's speed hits
# both sides alike.
# shellcheck disable=SC2154  # the caller sets ours and peer
paired() {
  local cpu=$1 runs=$2 o p all_ours='' all_peer='' ratios=''
  cpu_time "$cpu" "${ours[@]}" >/dev/null
  cpu_time "$cpu" "${peer[@]}" >/dev/null
  for _ in $(seq "$runs"); do
    o=$(cpu_time "$cpu" "${ours[@]}")
    p=$(cpu_time "$cpu" "${peer[@]}")
    all_ours+="$o"$'\n'
    all_peer+="$p"$'\n'
    ratios+=$(awk -v o="$o" -v p="$p" 'BEGIN { printf "%.4f", (p > 0) ? o / p : 99 }')$'\n'
  done
  printf "%.3f %.3f %.2f\n" "$(printf "%s" "$all_ours" | median)" "$(printf "%s" "$all_peer" | median)" \
    "$(printf "%s" "$ratios" | median)"
}
