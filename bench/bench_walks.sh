#!/usr/bin/env bash
# Times the row and column walks on workbooks made by gen_walk_workbook.py: a whole
# `corvane-cli cells --mode delete-row` run, and corvane-walkbench deleting and inserting rows and
# columns, searching in values and in formulas, with the edits kept aside and (on the smaller
# workbooks, where it ends in reasonable time) one edit after another. Not a test: the figures
# are for the reader.
#
# usage: bench/bench_walks.sh [BUILD_DIR] [ROWS] [COLUMNS] [SMALL]
#   ROWS lines of the rows workbook (default 5400, about 3,200 matches), COLUMNS of the columns
#   one (default 1500), SMALL lines of the pair also run one by one (default 800).
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

# label, workbook, then corvane-walkbench's arguments after OUT.xlsx
walk_case() {
    local label="$1" book="$2"
    shift 2
    read -r n t <<<"$("$walk" "$tmp/$book" "$tmp/out.xlsx" "$@")"
    local line="$label ($(size "$tmp/$book")): $n edits, together $t s"
    case "$book" in small-*)
        read -r n1 t1 <<<"$("$walk" "$tmp/$book" "$tmp/out1.xlsx" "$@" --one-by-one)"
        line="$line, one by one $t1 s ($n1 edits)"
        cmp -s <(unzip -p "$tmp/out.xlsx") <(unzip -p "$tmp/out1.xlsx") && line="$line, same parts" || line="$line, PARTS DIFFER"
        ;;
    esac
    echo "$line"
}

for prefix in "" small-; do
    walk_case "delete rows" "${prefix}rows.xlsx" drop rows
    walk_case "delete columns" "${prefix}columns.xlsx" drop columns
    walk_case "insert rows" "${prefix}rows.xlsx" drop rows --insert
    walk_case "insert rows below" "${prefix}rows.xlsx" drop rows --insert --below-or-right
    # The search comes round to the start of a row: only along the first row do insertions go on.
    walk_case "insert columns right" "${prefix}columns.xlsx" drop columns --insert --below-or-right --range A2:XFD2
    walk_case "delete rows by formula text" "${prefix}rows.xlsx" "IF(" rows --in-formulas
    walk_case "insert rows by formula text" "${prefix}rows.xlsx" "IF(" rows --insert --in-formulas
done
echo "cores: $(nproc), load average: $(cut -d' ' -f1-3 /proc/loadavg)"
