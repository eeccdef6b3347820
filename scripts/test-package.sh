#!/usr/bin/env bash
# Builds the Debian package from the dev build, checks it with lintian (no
# error allowed), installs it with apt-get, runs the installed programs (a
# short run of kestrin-batch on generated videos with boxes, compared byte for
# byte with the build's own program; mp4box wrapping a stream), validates the
# installed desktop entry and metainfo, and removes the package again, also
# when a step fails. Needs root and no other apt run at the same time.
#
#   bash scripts/test-package.sh              # as CI runs it (make test)
#   bash scripts/test-package.sh --extract    # no root: unpacks the package
#                                             # into a temporary folder instead
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_LOGGING_RULES="kestrin.*.debug=false"

mode=install
if [ "${1:-}" = "--extract" ]; then mode=extract; fi

step() { printf 'test-package: %s\n' "$*"; }
fail() { printf 'test-package: FAILED: %s\n' "$*" >&2; exit 1; }

tmp=$(mktemp -d)
installed=no
cleanup() {
    local status=$?
    if [ "$installed" = yes ]; then
        step "removing the package"
        DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kestrin >"$tmp/remove.log" 2>&1 \
            || { cat "$tmp/remove.log" >&2; status=1; }
    fi
    rm -rf "$tmp"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

start=$SECONDS
step "building the package"
cmake --build --preset dev --target package >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log" >&2; fail "cpack"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/dev/CMakeCache.txt)
deb=build/dev/kestrin_${version}_amd64.deb
[ -f "$deb" ] || fail "$deb was not made"

step "lintian $deb"
lintian_status=0
lintian --fail-on error "$deb" >"$tmp/lintian.log" 2>&1 || lintian_status=$?
grep -v 'running with root privileges' "$tmp/lintian.log" || true
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors on $deb"

if [ "$mode" = install ]; then
    [ "$(id -u)" -eq 0 ] || fail "installing needs root (or use --extract)"
    step "apt-get install ./$deb"
    installed=yes
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "./$deb" \
        >"$tmp/install.log" 2>&1 || { cat "$tmp/install.log" >&2; fail "apt-get install"; }
    root=""
else
    root=$tmp/root
    dpkg-deb -x "$deb" "$root"
fi
bin=$root/usr/bin

step "--version and --help"
[ "$("$bin/kestrin-batch" --version)" = "kestrin-batch $version" ] || fail "kestrin-batch --version"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$bin/kestrin" --version)" = "kestrin $version" ] \
    || fail "kestrin --version"
env -u DISPLAY -u WAYLAND_DISPLAY "$bin/kestrin" --help | grep -q '^Usage: kestrin' || fail "kestrin --help"
"$bin/kestrin-batch" --help | grep -q -- '--shard' || fail "kestrin-batch --help"

step "the wrapping tool is private"
[ -x "$root/usr/lib/kestrin/mp4box" ] || fail "no /usr/lib/kestrin/mp4box"
[ ! -e "$bin/mp4box" ] || fail "mp4box is on the search path"
ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=90 -frames:v 30 -c:v libx264 -f h264 \
    "$tmp/stream.h264"
"$root/usr/lib/kestrin/mp4box" -fps 90 -add "$tmp/stream.h264" "$tmp/stream.mp4" >/dev/null \
    || fail "the installed mp4box cannot wrap a stream"
[ "$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$tmp/stream.mp4")" = 30 ] || fail "the wrapped stream lost frames"

step "a short run of the installed kestrin-batch"
"$bin/kestrin-batch" --make-demo "$tmp/installed" >"$tmp/videos.txt" || fail "--make-demo"
cp -r "$tmp/installed" "$tmp/built"
first=$(basename "$(head -n 1 "$tmp/videos.txt")")
"$bin/kestrin-batch" --quiet --mode all "$tmp/installed/$first" >"$tmp/installed.out" \
    || fail "the installed kestrin-batch failed"
build/dev/src/kestrin-batch --quiet --mode all "$tmp/built/$first" >"$tmp/built.out"
[ "$(wc -l <"$tmp/installed.out")" -eq 2 ] || fail "expected two summary lines"
diff -r -x '*_run.json' "$tmp/installed/exportCSV" "$tmp/built/exportCSV" || fail "the installed program wrote other files"
diff "$tmp/installed.out" "$tmp/built.out" || fail "the installed program counted differently"
grep -q ' [1-9][0-9]* in' "$tmp/installed.out" || fail "no insect counted"

step "desktop entry, metainfo, icons, manual pages"
desktop-file-validate "$root/usr/share/applications/org.tolvane.Kestrin.desktop" \
    || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.tolvane.Kestrin.metainfo.xml" \
    >"$tmp/appstream.log" 2>&1 || { cat "$tmp/appstream.log" >&2; fail "metainfo"; }
for size in 16 32 48 256; do
    [ -f "$root/usr/share/icons/hicolor/${size}x${size}/apps/kestrin.png" ] || fail "icon $size"
done
for page in kestrin kestrin-batch; do
    zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q '^\.TH' || fail "manual page $page(1)"
done
[ -f "$root/usr/share/doc/kestrin/copyright" ] || fail "copyright file"

if [ "$mode" = install ]; then
    step "apt-get remove kestrin"
    installed=no
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kestrin >"$tmp/remove.log" 2>&1 \
        || { cat "$tmp/remove.log" >&2; fail "apt-get remove"; }
    [ ! -e /usr/bin/kestrin-batch ] || fail "kestrin-batch is still installed"
fi
step "passed in $((SECONDS - start)) s"
