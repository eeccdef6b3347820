#!/usr/bin/env bash
# Runs the README's GNU parallel recipe over a folder of generated videos,
#   parallel kestrin-batch --mode all --shard {}/4 VIDEO ::: 0 1 2 3
# and checks that the four shards wrote exactly the files of
# `kestrin-batch --jobs 2 --mode all` over a copy of the same folder.
#
#   bash scripts/test-parallel.sh [FOLDER OF kestrin-batch]   (default build/dev/src)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build/dev/src}")
[ -x "$bin/kestrin-batch" ] || { echo "test-parallel: no $bin/kestrin-batch" >&2; exit 1; }
export QT_LOGGING_RULES="kestrin.*.debug=false"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 1' INT TERM HUP
start=$SECONDS

# Five videos, so that the shards differ in size.
"$bin/kestrin-batch" --make-demo "$tmp/shards" >"$tmp/videos.txt"
video=$(head -n 1 "$tmp/videos.txt")
for n in 3 4 5; do
    cp "$(sed -n "$(( (n % 2) + 1 ))p" "$tmp/videos.txt")" "$tmp/shards/video_20240612_11${n}0_0${n}.mp4"
done
cp -r "$tmp/shards" "$tmp/jobs"

(cd "$tmp/shards" && PATH="$bin:$PATH" parallel --will-cite \
    kestrin-batch --quiet --mode all --shard {}/4 "$(basename "$video")" ::: 0 1 2 3) \
    >"$tmp/shards.out"
"$bin/kestrin-batch" --quiet --mode all --jobs 2 "$tmp/jobs/$(basename "$video")" >"$tmp/jobs.out"

status=0
[ "$(wc -l <"$tmp/shards.out")" -eq 5 ] || { echo "test-parallel: expected five summary lines" >&2; status=1; }
diff <(sort "$tmp/shards.out") <(sort "$tmp/jobs.out") || status=1
diff -r -x '*_run.json' "$tmp/shards/exportCSV" "$tmp/jobs/exportCSV" || status=1
if [ "$status" -ne 0 ]; then
    echo "test-parallel: FAILED: the shards differ from --jobs" >&2
    exit 1
fi
echo "test-parallel: passed in $((SECONDS - start)) s ($(ls "$tmp/jobs/exportCSV" | wc -l) files equal)"
