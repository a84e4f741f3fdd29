#!/usr/bin/python3
"""corvane-cli cells with the row and column modes over real workbooks, made and checked with
openpyxl.

1. delete-row with matches in A2, B5 and C5: rows 2 and 4 (the former 5) go; formulas on the
   sheet and on another sheet follow the cells; two rows counted.
2. insert-column with --cells and --below-or-right: a column goes in right of each named cell.
3. insert-row --find: a row above the match, which moves down; the new row takes the height of
   the row above.
4. A protected sheet refuses the deletion: reported on standard error with the reason, nothing
   counted, the workbook byte-identical.
5. Option mistakes: --text with a row mode, a rewrite mode without --text, --below-or-right with
   a delete mode.

Usage: rowcolumn_cli_oracle.py CORVANE_CLI
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import warnings

import openpyxl

warnings.simplefilter("ignore")
failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
        print("FAIL:", message)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def make(path, sheets, protect=None):
    book = openpyxl.Workbook()
    book.remove(book.active)
    for name, cells in sheets.items():
        sheet = book.create_sheet(name)
        for address, value in cells.items():
            sheet[address] = value
        if name == protect:
            sheet.protection.sheet = True
    book.save(path)


def cells(path):
    book = openpyxl.load_workbook(path)
    return {s.title: {c.coordinate: c.value for row in s.iter_rows() for c in row if c.value is not None}
            for s in book.worksheets}


def run(cli, folder, *args):
    p = subprocess.run([cli, "cells", "--server", "native", "--folder", folder + os.sep] + list(args),
                       capture_output=True, text=True, timeout=300)
    return p.returncode, p.stdout.splitlines(), p.stderr


def main():
    cli = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        a = os.path.join(folder, "a.xlsx")
        make(a, {"Data": {"A1": "h", "A2": "x", "B5": "x", "C5": "x", "C9": "z", "E1": "=C9&A1",
                          "E2": "=SUM(C3:C9)"},
                 "Other": {"A1": "=Data!C9", "A2": "=Data!B5"}})
        status, out, err = run(cli, folder, "--mode", "delete-row", "--find", "x", "--whole-cell")
        check(status == 0, f"delete-row exit status {status}: {err}")
        check(out and out[-1].startswith("成功查找1个Excel文件,修改1个Excel文件,修改2个单元格。"),
              f"delete-row summary: {out[-1:]}")
        got = cells(a)
        check(got["Data"] == {"A1": "h", "C7": "z", "E1": "=C7&A1"}, f"delete-row Data: {got['Data']}")
        check(got["Other"] == {"A1": "=Data!C7", "A2": "=Data!#REF!"}, f"delete-row Other: {got['Other']}")

        make(a, {"Data": {"A1": "a", "B2": "b", "C2": "c", "D1": "=C2"}})
        status, out, err = run(cli, folder, "--mode", "insert-column", "--below-or-right", "--cells", "B2,A1")
        check(status == 0, f"insert-column exit status {status}: {err}")
        got = cells(a)["Data"]
        check(got == {"A1": "a", "C2": "b", "E2": "c", "F1": "=E2"}, f"insert-column cells: {got}")

        make(a, {"Data": {"A1": "a", "B3": "x", "B4": "after", "A5": "=B4"}})
        book = openpyxl.load_workbook(a)
        book["Data"].row_dimensions[2].height = 33
        book.save(a)
        status, out, err = run(cli, folder, "--mode", "insert-row", "--find", "x")
        check(status == 0, f"insert-row exit status {status}: {err}")
        check(out and "修改1个单元格" in out[-1], f"insert-row summary: {out[-1:]}")
        got = cells(a)["Data"]
        check(got == {"A1": "a", "B4": "x", "B5": "after", "A6": "=B5"}, f"insert-row cells: {got}")
        height = openpyxl.load_workbook(a)["Data"].row_dimensions[3].height
        check(height == 33, f"the new row did not take the height of the row above: {height}")

        make(a, {"Data": {"A1": "h", "A2": "x"}}, protect="Data")
        before = digest(a)
        status, out, err = run(cli, folder, "--mode", "delete-row", "--find", "x")
        check(status == 0, f"refused delete-row exit status {status}")
        check("could not delete row 2" in err and "protected" in err, f"refusal not reported: {err!r}")
        check(out and "修改0个Excel文件,修改0个单元格" in out[-1], f"refused delete-row summary: {out[-1:]}")
        check(digest(a) == before, "a refused deletion changed the workbook")

        for args, what in ((["--mode", "delete-row", "--text", "t", "--find", "x"], "--text"),
                           (["--mode", "fill-text", "--find", "x"], "--text"),
                           (["--mode", "delete-column", "--below-or-right", "--find", "x"], "--below-or-right")):
            status, out, err = run(cli, folder, *args)
            check(status != 0 and what in err + "\n".join(out), f"{args}: status {status}, {err!r}")

    if failures:
        print("%d failure(s)" % len(failures))
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
