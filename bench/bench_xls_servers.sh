#!/usr/bin/env bash
# Times the same `corvane-cli replace` over Excel 97-2003 workbooks through the engine
# (--server native) and through LibreOffice (--server libreoffice, its start included). The
# workbooks are made with xlwt (python3-xlwt): a few sheets of text and numbers, half of them
# holding the text replaced, none holding formulas.
#
# usage: bench/bench_xls_servers.sh [BUILD_DIR] [WORKBOOKS]
#   BUILD_DIR defaults to build/ beside this folder; WORKBOOKS to 200.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
count="${2:-200}"
cli="$build/bin/corvane-cli"
[ -x "$cli" ] || { echo "no corvane-cli in $build/bin: build it first" >&2; exit 1; }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
/usr/bin/python3 - "$tmp/pristine" "$count" <<'PY'
import os, sys
import xlwt
folder, count = sys.argv[1], int(sys.argv[2])
os.makedirs(folder)
for n in range(count):
    book = xlwt.Workbook()
    for s in range(3):
        sheet = book.add_sheet("Sheet%d" % (s + 1))
        for r in range(300):
            sheet.write(r, 0, "item %d-%d" % (n, r))
            sheet.write(r, 1, r * 1.25)
            sheet.write(r, 2, "needle %d" % r if n % 2 == 0 and r % 50 == 0 else "hay %d" % r)
    book.save(os.path.join(folder, "book%03d.xls" % n))
PY

run() { # server -> "wall-seconds last-status-line"
    rm -rf "$tmp/work" && cp -r "$tmp/pristine" "$tmp/work"
    sync
    /usr/bin/time -o "$tmp/time" -f "%e" "$cli" replace --find needle --replace pin --server "$1" \
        --folder "$tmp/work/" >"$tmp/out" 2>"$tmp/err" || { echo "corvane-cli --server $1 failed:" >&2; cat "$tmp/err" >&2; exit 1; }
    echo "$(tail -1 "$tmp/time") $(grep -c . "$tmp/err" || true) failed; $(tail -1 "$tmp/out")"
}

echo "workbooks: $count ($(du -sh "$tmp/pristine" | cut -f1))"
native=$(run native)
echo "--server native:      $native"
office=$(run libreoffice)
echo "--server libreoffice: $office"
awk -v a="${native%% *}" -v b="${office%% *}" \
    'BEGIN{ if (a > 0) printf "LibreOffice takes %.1fx as long as the engine\n", b / a; else print "native run too fast to measure" }'
