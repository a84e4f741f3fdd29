#!/usr/bin/env bash
# Times the delete-row and delete-column walks on workbooks made by gen_walk_workbook.py: a whole
# `corvane-cli cells --mode delete-row` run, and corvane-walkbench with deletions kept aside and
# (on the smaller workbooks, where it ends in reasonable time) one deletion after another. Not a
# test: the figures are for the reader.
#
# usage: bench/bench_walks.sh [BUILD_DIR] [ROWS] [COLUMNS] [SMALL]
#   ROWS lines of the delete-row workbook (default 5400, about 3,200 deletions), COLUMNS of the
#   delete-column one (default 1500), SMALL lines of the pair also run one by one (default 800).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
rows="${2:-5400}"
columns="${3:-1500}"
small="${4:-800}"
cli="$build/bin/corvane-cli"
walk="$build/bin/corvane-walkbench"
[ -x "$cli" ] && [ -x "$walk" ] || { echo "build corvane-cli and corvane-walkbench first" >&2; exit 1; }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
gen() { /usr/bin/python3 "$here/gen_walk_workbook.py" "$@" >/dev/null; }
gen "$tmp/rows.xlsx" "$rows" 1
gen "$tmp/columns.xlsx" "$columns" 2 --columns
gen "$tmp/small-rows.xlsx" "$small" 3
gen "$tmp/small-columns.xlsx" "$small" 4 --columns
size() { echo "$(( $(stat -c %s "$1") / 1024 )) KB"; }

mkdir "$tmp/folder" && cp "$tmp/rows.xlsx" "$tmp/folder/"
/usr/bin/time -o "$tmp/time" -f "%e s, %M KB peak" "$cli" cells --folder "$tmp/folder" --mode delete-row --find drop >/dev/null
echo "corvane-cli delete-row, $(size "$tmp/rows.xlsx"), $rows rows: $(cat "$tmp/time")"

for pair in "rows.xlsx rows" "columns.xlsx columns" "small-rows.xlsx rows" "small-columns.xlsx columns"; do
    set -- $pair
    read -r n t <<<"$("$walk" "$tmp/$1" "$tmp/out.xlsx" drop "$2")"
    line="walk $1 ($(size "$tmp/$1")): $n deletions, together $t s"
    case "$1" in small-*)
        read -r n1 t1 <<<"$("$walk" "$tmp/$1" "$tmp/out1.xlsx" drop "$2" --one-by-one)"
        line="$line, one by one $t1 s ($n1 deletions)"
        cmp -s <(unzip -p "$tmp/out.xlsx") <(unzip -p "$tmp/out1.xlsx") && line="$line, same parts" || line="$line, PARTS DIFFER"
        ;;
    esac
    echo "$line"
done
echo "cores: $(nproc)"
