#!/usr/bin/env bash
# Times a replace through the LibreOffice backend on the large .xls workbooks of the corpus, per
# workbook and with the office's start left out: open, find and replace on every sheet, save.
# Each workbook runs on a fresh copy; the corpus itself is never written.
#
# usage: bench/bench_office.sh [BUILD_DIR] [FIND REPLACEMENT] [RUNS]
#   BUILD_DIR defaults to build/ beside this folder; FIND and REPLACEMENT to "e" and "E" (a
#   text in most cells and formulas of these workbooks); RUNS (best of) to 1. The workbooks are
#   read from $CORVANE_CORPUS_DIR, by default ../shared/corpus beside the repository.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
find="${2:-e}"
replacement="${3:-E}"
runs="${4:-1}"
bench="$build/bin/corvane-officebench"
corpus="${CORVANE_CORPUS_DIR:-$here/../../shared/corpus}"
books=(poi__57231_MixedGasReport.xls poi__15228.xls)

[ -x "$bench" ] || { echo "no corvane-officebench in $build/bin: build it first (it needs the LibreOffice SDK)" >&2; exit 1; }
for b in "${books[@]}"; do
    [ -f "$corpus/$b" ] || { echo "$corpus/$b missing (set CORVANE_CORPUS_DIR)" >&2; exit 1; }
done

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

echo "replace \"$find\" by \"$replacement\", best of $runs, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for b in "${books[@]}"; do
    best=""
    for _ in $(seq "$runs"); do
        rm -rf "$tmp/work" && mkdir "$tmp/work" && cp "$corpus/$b" "$tmp/work/" && chmod u+w "$tmp/work/$b"
        line="$("$bench" "$tmp/work/$b" "$find" "$replacement" | grep -F "$b:")" ||
            { echo "corvane-officebench failed on $b" >&2; exit 1; }
        ms="$(sed -n 's/.*find+replace \([0-9]*\) ms.*/\1/p' <<<"$line")"
        if [ -z "$best" ] || [ "$ms" -lt "${best%% *}" ]; then best="$ms $line"; fi
    done
    echo "${best#* }"
done
