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
