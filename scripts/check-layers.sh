#!/usr/bin/env bash
# Fails, naming the file and line, when a library of src/ includes a header
# of a library above it. The libraries, lowest first:
#
#   base (src/tools/*.h) < video < imgproc < zones < run < report < gui, batch
#
# scenes (the painted test and demonstration videos) sits on zones; gui and
# batch never include each other; mp4box includes none of them.
#
#   scripts/check-layers.sh [src folder]     (default: the repository's src)
set -uo pipefail

if [ $# -eq 0 ]; then
  cd "$(dirname "$0")/.." || exit 2
fi
src="${1:-src}"
src="${src%/}"
if [ ! -d "$src/tools" ]; then
  echo "check-layers: $src has no tools folder" >&2
  exit 2
fi

# The layers each layer may include, itself among them.
declare -A allowed=(
  [base]="base"
  [video]="base video"
  [imgproc]="base video imgproc"
  [zones]="base video imgproc zones"
  [scenes]="base video imgproc zones scenes"
  [run]="base video imgproc zones run"
  [report]="base video imgproc zones run report"
  [gui]="base video imgproc zones scenes run report gui"
  [batch]="base video imgproc zones scenes run report batch"
  [mp4box]="mp4box"
)

# The layer a file of src/ belongs to; empty for files of no layer.
layer_of() {
  local path="${1#"$src"/}"
  case "$path" in
    tools/*/*) path="${path#tools/}"; echo "${path%%/*}" ;;
    tools/*) echo base ;;
    gui/* | batch/* | mp4box/*) echo "${path%%/*}" ;;
    *) echo "" ;;
  esac
}

# The file an include names, as the compiler finds it: beside the including
# file first, then under each include root.
resolve() {
  local dir="$1" name="$2" root
  for root in "$dir" "$src/tools" "$src/gui" "$src/batch" "$src/mp4box"; do
    if [ -f "$root/$name" ]; then
      echo "$root/$name"
      return
    fi
  done
}

failed=0
while IFS= read -r -d '' file; do
  from="$(layer_of "$file")"
  [ -n "$from" ] || continue
  [ -n "${allowed[$from]:-}" ] || { echo "$file: no rule for layer $from" >&2; failed=1; continue; }
  line=0
  while IFS= read -r text || [ -n "$text" ]; do
    line=$((line + 1))
    [[ "$text" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]] || continue
    name="${BASH_REMATCH[1]}"
    target="$(resolve "$(dirname "$file")" "$name")"
    # Generated headers (ui_*.h) and system headers are nobody's layer.
    [ -n "$target" ] || continue
    to="$(layer_of "$target")"
    [ -n "$to" ] || continue
    if [[ " ${allowed[$from]} " != *" $to "* ]]; then
      echo "$file:$line: $from includes $to (\"$name\")"
      failed=1
    fi
  done <"$file"
done < <(find "$src" \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

exit "$failed"
