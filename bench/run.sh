#!/usr/bin/env bash
# Speed of kestrin-batch against the floor of decoding, on a synthetic
# 1920x1080, 90 frames-per-second H.264 recording of a few dozen insects:
#   (a) a plain cv::VideoCapture::read loop over the video (every frame in BGR)
#   (b) FFmpeg decoding alone: ffmpeg -i VIDEO -f null -
#   (c) kestrin-batch --quiet VIDEO
# Each is run RUNS times in turns; the median is reported. Every figure counts
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
for program in "$batch" "$reader" "$maker"; do
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

# Seconds of wall time of a command, its output discarded.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}

median() {
  tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

a="" b="" c=""
for run in $(seq "$RUNS"); do
  ta=$(seconds "$reader" "$video")
  tb=$(seconds ffmpeg -hide_banner -loglevel error -i "$video" -f null -)
  tc=$(seconds "$batch" --quiet "$video")
  echo "run $run: (a) ${ta} s  (b) ${tb} s  (c) ${tc} s"
  a="$a $ta" b="$b $tb" c="$c $tc"
done

ta=$(echo "$a" | median)
tb=$(echo "$b" | median)
tc=$(echo "$c" | median)
awk -v n="$FRAMES" -v a="$ta" -v b="$tb" -v c="$tc" 'BEGIN {
  printf "(a) cv::VideoCapture::read loop   %7.1f fps\n", n / a
  printf "(b) ffmpeg -f null (decode only)   %7.1f fps\n", n / b
  printf "(c) kestrin-batch --quiet          %7.1f fps\n", n / c
  printf "(c)/(a)                            %7.2f\n", a / c
}'
echo "counts: $(cat "$work/exportCSV/$(basename "$video" .mp4).csv" | wc -l) lines," \
  "$(cat "$work/exportCSV/$(basename "$video" .mp4)_doza.txt")"
