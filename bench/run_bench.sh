#!/usr/bin/env bash
# Generates a benchmark folder of workbooks, then times the engine and the floor on fresh copies
# of it and prints the ratio. Usage: run_bench.sh BUILD_DIR [N_WORKBOOKS [ROWS COLS SHEETS]]
set -euo pipefail
build=${1:?build folder}
n=${2:-200}
shape=("${@:3}")
here=$(cd "$(dirname "$0")" && pwd)
gen=${CORVANE_BENCH_GENERATOR:-$here/../../shared/tools/gen_bench_corpus.py}
work=$(mktemp -d /tmp/corvane-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 "$gen" "$work/pristine" "$n" "${shape[@]}"
best() { # runs "$@" three times on fresh copies, prints the best seconds
    local b=""
    for _ in 1 2 3; do
        rm -rf "$work/run" && cp -r "$work/pristine" "$work/run" && sync
        local s
        s=$("$@" "$work/run" | tee /dev/stderr | sed -n 's/^seconds=//p')
        if [ -z "$b" ] || awk "BEGIN{exit !($s < $b)}"; then b=$s; fi
    done
    echo "$b"
}
floor=$(best "$build/bin/corvane-floorbench")
engine=$(best "$build/bin/corvane-enginebench")
awk -v e="$engine" -v f="$floor" 'BEGIN{printf "best of 3: engine %.3f s, floor %.3f s, engine/floor = %.2f (target <= 2.5)\n", e, f, e/f}'
