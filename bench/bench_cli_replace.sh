#!/usr/bin/env bash
# Times a whole `corvane-cli replace` run over a generated folder of workbooks (half of them
# hold the searched text) against the engine's floor program, which only inflates the same
# parts and re-deflates the changed ones. Target: the whole run within 3x the floor.
#
# usage: bench/bench_cli_replace.sh [BUILD_DIR] [WORKBOOKS] [RUNS]
#   BUILD_DIR  defaults to build/ beside this folder; WORKBOOKS to 200; RUNS (best of) to 3.
#   FLOOR=/path/to/program overrides where the floor program is looked for; it is run as
#   "FLOOR FOLDER" on a fresh copy of the folder, like corvane-cli.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
count="${2:-200}"
runs="${3:-3}"
cli="$build/bin/corvane-cli"
gen="${CORVANE_SHARED_DIR:-$here/../../shared}/tools/gen_bench_corpus.py"
floor="${FLOOR:-$build/bin/corvane-floorbench}"

[ -x "$cli" ] || { echo "no corvane-cli in $build/bin: build it first" >&2; exit 1; }
[ -f "$gen" ] || { echo "workbook generator $gen missing" >&2; exit 1; }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
/usr/bin/python3 "$gen" "$tmp/pristine" "$count" >/dev/null

# "wall-seconds peak-KB user-seconds system-seconds" of the fastest (wall clock) of $runs runs
# of "$@ FOLDER", each on a fresh copy.
best_of() {
    local best="" t
    for _ in $(seq "$runs"); do
        rm -rf "$tmp/work" && cp -r "$tmp/pristine" "$tmp/work"
        sync
        /usr/bin/time -o "$tmp/time" -f "%e %M %U %S" "$@" "$tmp/work/" >/dev/null 2>&1
        t=$(tail -1 "$tmp/time")
        if [ -z "$best" ] || awk -v a="${t%% *}" -v b="${best%% *}" 'BEGIN{exit !(a<b)}'; then best="$t"; fi
    done
    echo "$best"
}

cli_result=$(best_of "$cli" replace --find needle --replace pin --folder)
rm -rf "$tmp/work" && cp -r "$tmp/pristine" "$tmp/work"
summary=$("$cli" replace --find needle --replace pin --folder "$tmp/work/" | tail -1)
echo "workbooks: $count ($(du -sh "$tmp/pristine" | cut -f1)), best of $runs"
report() { # label, result
    read -r wall peak user sys <<<"$2"
    echo "$1: $wall s wall, $(awk -v u="$user" -v s="$sys" 'BEGIN{printf "%.2f", u + s}') s CPU, peak $peak KB"
}
report "corvane-cli replace" "$cli_result"
echo "  last line: $summary"
if [ -x "$floor" ]; then
    floor_result=$(best_of "$floor")
    report "floor ($floor)" "$floor_result"
    awk -v a="${cli_result%% *}" -v b="${floor_result%% *}" \
        'BEGIN{ if (b > 0) printf "ratio (wall): %.2f (target <= 3)\n", a / b; else print "ratio: floor too fast to measure" }'
else
    echo "floor program not found at $floor (set FLOOR=...); no ratio"
fi
