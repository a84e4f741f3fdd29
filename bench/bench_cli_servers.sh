#!/usr/bin/env bash
# Times the same `corvane-cli replace` run through each server: the built-in engine
# (--server native) and LibreOffice (--server libreoffice, one office for the whole run, its
# start included), over a generated folder in which half of the workbooks hold the text.
#
# usage: bench/bench_cli_servers.sh [BUILD_DIR] [WORKBOOKS] [RUNS]
#   BUILD_DIR  defaults to build/ beside this folder; WORKBOOKS to 40 (LibreOffice takes about
#   a second a workbook); RUNS (best of) to 1.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
count="${2:-40}"
runs="${3:-1}"
cli="$build/bin/corvane-cli"
gen="${CORVANE_SHARED_DIR:-$here/../../shared}/tools/gen_bench_corpus.py"

[ -x "$cli" ] || { echo "no corvane-cli in $build/bin: build it first" >&2; exit 1; }
[ -f "$gen" ] || { echo "workbook generator $gen missing" >&2; exit 1; }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
/usr/bin/python3 "$gen" "$tmp/pristine" "$count" >/dev/null

# "wall-seconds peak-KB user-seconds system-seconds last-status-line" of the fastest (wall
# clock) of $runs runs with server $1, each on a fresh copy.
best_of() {
    local best="" t
    for _ in $(seq "$runs"); do
        rm -rf "$tmp/work" && cp -r "$tmp/pristine" "$tmp/work"
        sync
        /usr/bin/time -o "$tmp/time" -f "%e %M %U %S" \
            "$cli" replace --find needle --replace pin --server "$1" --folder "$tmp/work/" \
            >"$tmp/out" 2>"$tmp/err" || { echo "corvane-cli --server $1 failed:" >&2; cat "$tmp/err" >&2; exit 1; }
        t="$(tail -1 "$tmp/time") $(grep -c . "$tmp/err" || true) $(tail -1 "$tmp/out")"
        if [ -z "$best" ] || awk -v a="${t%% *}" -v b="${best%% *}" 'BEGIN{exit !(a<b)}'; then best="$t"; fi
    done
    echo "$best"
}

echo "workbooks: $count ($(du -sh "$tmp/pristine" | cut -f1)), best of $runs"
report() { # label, result
    read -r wall peak user sys failed line <<<"$2"
    echo "$1: $wall s wall, $(awk -v u="$user" -v s="$sys" 'BEGIN{printf "%.2f", u + s}') s CPU (corvane-cli and the office it started)," \
         "peak RSS $peak KB (largest process), $failed workbooks failed; last line: $line"
}
native=$(best_of native)
report "--server native     " "$native"
office=$(best_of libreoffice)
report "--server libreoffice" "$office"
awk -v a="${native%% *}" -v b="${office%% *}" \
    'BEGIN{ if (a > 0) printf "native/LibreOffice (wall): %.3f (LibreOffice takes %.1fx as long)\n", a / b, b / a;
            else print "native run too fast to measure" }'
