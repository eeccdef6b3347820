#!/usr/bin/env bash
# scripts/check-layers.sh on small trees of one include each: an include
# upwards, or between gui and batch, must fail naming its file and line.
set -uo pipefail

check="${1:?usage: test_checklayers.sh <check-layers.sh>}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# including file | include | expected exit status
cases=(
  "tools/imgproc/a.cpp|zones/z.h|1"
  "tools/video/a.cpp|imgproc/i.h|1"
  "tools/zones/a.h|run/r.h|1"
  "tools/run/a.cpp|report/p.h|1"
  "tools/a.cpp|video/v.h|1"
  "tools/scenes/a.cpp|run/r.h|1"
  "batch/a.cpp|w.h|1"
  "gui/a.cpp|b.h|1"
  "mp4box/a.cpp|logging.h|1"
  "tools/zones/a.cpp|imgproc/i.h|0"
  "tools/imgproc/robust/a.cpp|imgproc/i.h|0"
  "tools/report/a.cpp|run/r.h|0"
  "tools/run/a.cpp|logging.h|0"
  "gui/a.cpp|scenes/s.h|0"
  "batch/a.cpp|report/p.h|0"
  "gui/a.cpp|ui_w.h|0"
)

failures=0
for row in "${cases[@]}"; do
  IFS='|' read -r file include expected <<<"$row"
  tree="$work/src"
  rm -rf "$tree"
  for header in logging.h video/v.h imgproc/i.h zones/z.h scenes/s.h run/r.h report/p.h; do
    mkdir -p "$(dirname "$tree/tools/$header")"
    : >"$tree/tools/$header"
  done
  mkdir -p "$tree/gui" "$tree/batch" "$tree/mp4box" "$(dirname "$tree/$file")"
  : >"$tree/gui/w.h"
  : >"$tree/batch/b.h"
  printf '// first line\n#include "%s"\n' "$include" >"$tree/$file"
  output="$(bash "$check" "$tree")"
  status=$?
  if [ "$status" != "$expected" ]; then
    echo "FAIL $file including $include: exit $status, expected $expected: $output"
    failures=$((failures + 1))
  elif [ "$expected" = 1 ] && [[ "$output" != "$tree/$file:2: "* ]]; then
    echo "FAIL $file including $include: the message names no file and line: $output"
    failures=$((failures + 1))
  fi
done
echo "${#cases[@]} cases, $failures failed"
[ "$failures" = 0 ]
