#!/usr/bin/env bash
# Speed of kestrin-batch against the floor of decoding, on a synthetic
# 1920x1080, 90 frames-per-second H.264 recording of a few dozen insects:
#   (a) a plain cv::VideoCapture::read loop over the video (every frame in BGR)
#   (b) FFmpeg decoding alone: ffmpeg -i VIDEO -f null -
#   (c) kestrin-batch --quiet VIDEO
#   (d) the frame reader of the processing runs alone (frame 90, then every
#       later frame in BGR and grey): kestrin-bench-read --reader VIDEO
#   (e) the window's "Process" on the video, under the offscreen platform
# Each is run RUNS times in turns; the medians of wall and processor time are
# reported. Every figure counts
# all frames of the video: (c) decodes them all as well, and processes those
# from frame 91 on.
#
#   bash bench/run.sh            (or: make bench)
#   FRAMES=2000 RUNS=5 BUILD=build/dev bash bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${BUILD:-build/dev}
FRAMES=${FRAMES:-1200}
RUNS=${RUNS:-3}
batch="$BUILD/src/kestrin-batch"
reader="$BUILD/bench/batch/kestrin-bench-read"
maker="$BUILD/bench/batch/kestrin-bench-makevideo"
window="$BUILD/bench/window/kestrin-bench-window"
for program in "$batch" "$reader" "$maker" "$window"; do
  if [ ! -x "$program" ]; then
    echo "bench: $program is missing; build first (make build)" >&2
    exit 1
  fi
done
command -v ffmpeg >/dev/null || { echo "bench: ffmpeg is missing" >&2; exit 1; }

work="$BUILD/bench-batch"
video="$work/video_20240611_1200_01.mp4"
mkdir -p "$work"
if [ ! -f "$video" ] || [ "$(cat "$work/frames" 2>/dev/null)" != "$FRAMES" ]; then
  echo "bench: making $video ($FRAMES frames, 1920x1080, 90 fps, H.264)"
  rm -f "$video"
  "$maker" "$FRAMES" | ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt bgr24 \
    -s 1920x1080 -r 90 -i - -c:v libx264 -preset veryfast -pix_fmt yuv420p "$video"
  echo "$FRAMES" > "$work/frames"
fi
"$maker" --boxes "$video"

# "wall cpu": seconds of wall time and of processor time (user + system, all
# threads) of a command, its output discarded.
measure() {
  local TIMEFORMAT="%R %U %S" times
  times=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
  echo "$times" | awk '{ printf "%.2f %.2f", $1, $2 + $3 }'
}

median() {
  tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

declare -A wall cpu
for run in $(seq "$RUNS"); do
  line="run $run:"
  for name in a b c d e; do
    case $name in
      a) result=$(measure "$reader" "$video") ;;
      b) result=$(measure ffmpeg -hide_banner -loglevel error -i "$video" -f null -) ;;
      c) result=$(measure "$batch" --quiet "$video") ;;
      d) result=$(measure "$reader" --reader "$video") ;;
      e) result=$(QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="kestrin.*.debug=false" \
           measure "$window" "$video") ;;
    esac
    wall[$name]="${wall[$name]:-} ${result% *}"
    cpu[$name]="${cpu[$name]:-} ${result#* }"
    line="$line  ($name) ${result% *} s, ${result#* } s cpu"
  done
  echo "$line"
done

for name in a b c d e; do
  wall[$name]=$(echo "${wall[$name]}" | median)
  cpu[$name]=$(echo "${cpu[$name]}" | median)
done
# On a machine shared with other work the processor times compare better
# than the wall times.
awk -v n="$FRAMES" -v a="${wall[a]}" -v b="${wall[b]}" -v c="${wall[c]}" \
  -v d="${wall[d]}" -v e="${wall[e]}" -v ca="${cpu[a]}" -v cb="${cpu[b]}" -v cc="${cpu[c]}" \
  -v cd="${cpu[d]}" -v ce="${cpu[e]}" 'BEGIN {
  printf "                                   wall fps   cpu s\n"
  printf "(a) cv::VideoCapture::read loop   %8.1f  %6.2f\n", n / a, ca
  printf "(b) ffmpeg -f null (decode only)  %8.1f  %6.2f\n", n / b, cb
  printf "(c) kestrin-batch --quiet         %8.1f  %6.2f\n", n / c, cc
  printf "(d) frame reader alone            %8.1f  %6.2f\n", n / d, cd
  printf "(e) window, Process               %8.1f  %6.2f\n", n / e, ce
  printf "(c)/(a)                           %8.2f  %6.2f (by cpu time)\n", a / c, ca / cc
  printf "(d)/(a)                           %8.2f  %6.2f (by cpu time)\n", a / d, ca / cd
  printf "(e)/(c)                           %8.2f  %6.2f (by cpu time)\n", c / e, cc / ce
}'
echo "counts: $(cat "$work/exportCSV/$(basename "$video" .mp4).csv" | wc -l) lines," \
  "$(cat "$work/exportCSV/$(basename "$video" .mp4)_doza.txt")"
