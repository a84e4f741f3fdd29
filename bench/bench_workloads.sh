#!/usr/bin/env bash
# Times `corvane-cli replace --server native` on the three reference workloads against the floor
# (../shared/tools/floor.py: inflate what can hold the text, search the bytes, deflate the parts
# that hold it at zlib level 6, write the package once), run side by side on fresh copies, and
# openpyxl doing the same replace on W1:
#   W1  200 workbooks, 3 sheets of 40x25 cells, half hold the text
#   W2  one workbook: a ~200 MB sheet and ~24 MB of shared strings, the text in 250 cells sharing
#       one string
#   W3  2,000 one-sheet 5x5 workbooks, half hold the text
# The floor and openpyxl run on one core; corvane-cli runs once for each number of workbooks
# at once in CORVANE_BENCH_JOBS (default "1 2", its --jobs). The figures are best of RUNS
# wall-clock seconds, with the peak resident memory of the best run.
#
# usage: bench/bench_workloads.sh [BUILD_DIR] [RUNS] [WORKLOADS]
#   WORKLOADS defaults to "W1 W2 W3". CORVANE_BENCH_DIR keeps the generated workloads there
#   between runs (W2 takes minutes to generate). Needs python3-openpyxl and python3-xlsxwriter.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
runs="${2:-3}"
workloads="${3:-W1 W2 W3}"
jobs="${CORVANE_BENCH_JOBS:-1 2}"
cli="$build/bin/corvane-cli"
tools="${CORVANE_SHARED_DIR:-$here/../../shared}/tools"
python=/usr/bin/python3
[ -x "$cli" ] || { echo "no corvane-cli in $build/bin: build it first" >&2; exit 1; }

data="${CORVANE_BENCH_DIR:-}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
[ -n "$data" ] || data="$tmp/data"
mkdir -p "$data"
[ -d "$data/W1" ] || "$python" "$tools/gen_bench_corpus.py" "$data/W1" 200 >/dev/null
[ -d "$data/W3" ] || "$python" "$tools/gen_bench_corpus.py" "$data/W3" 2000 5 5 1 >/dev/null
if [[ " $workloads " == *" W2 "* ]] && [ ! -d "$data/W2" ]; then
    mkdir -p "$data/W2" && "$python" "$tools/gen_big_workbook.py" "$data/W2/big.xlsx" 250000
fi

# "seconds peak-KB" of the fastest of $runs runs on fresh copies of $1: of the floor, of openpyxl,
# or of "${@:2} FOLDER/".
best_of() {
    local src=$1 best="" t
    shift
    for _ in $(seq "$runs"); do
        rm -rf "$tmp/work" && cp -r "$src" "$tmp/work" && sync
        case "$1" in
        floor) set -- floor "$python" "$tools/floor.py" "$tmp/work/" needle ;;
        openpyxl) set -- openpyxl "$python" "$here/openpyxl_replace.py" "$tmp/work/" needle pin ;;
        *) set -- "$@" ;;
        esac
        if [ "$1" = floor ] || [ "$1" = openpyxl ]; then
            /usr/bin/time -o "$tmp/time" -f "%e %M" "${@:2}" >/dev/null 2>&1
            set -- "$1"
        else
            /usr/bin/time -o "$tmp/time" -f "%e %M" "$@" "$tmp/work/" >/dev/null 2>&1
        fi
        t=$(tail -1 "$tmp/time")
        if [ -z "$best" ] || awk -v a="${t%% *}" -v b="${best%% *}" 'BEGIN{exit !(a<b)}'; then best="$t"; fi
    done
    echo "$best"
}

echo "cores: $(nproc) on the machine; the floor and openpyxl use one, corvane-cli --jobs N up to N; best of $runs"
for w in $workloads; do
    fl=$(best_of "$data/$w" floor)
    line="$w: floor ${fl%% *} s"
    first=""
    for j in $jobs; do
        engine=$(best_of "$data/$w" "$cli" replace --server native --jobs "$j" --find needle --replace pin --folder)
        [ -n "$first" ] || first="$engine"
        line+="; corvane-cli --jobs $j ${engine%% *} s (peak ${engine##* } KB)"
        line+=$(awk -v a="${engine%% *}" -v b="${fl%% *}" 'BEGIN{ printf ", ratio %.2f", (b > 0 ? a / b : 0) }')
    done
    if [ "$w" = W1 ]; then
        op=$(best_of "$data/$w" openpyxl)
        line+=$(awk -v a="${first%% *}" -v o="${op%% *}" 'BEGIN{ printf "; openpyxl %.2f s (%.1fx corvane-cli with the first --jobs)", o, (a > 0 ? o / a : 0) }')
    fi
    echo "$line"
done
