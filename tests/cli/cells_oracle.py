#!/usr/bin/python3
"""corvane-cli cells over real workbooks, made and checked with openpyxl.

1. fill-text with offsets: the cell next to each match takes the new text (a number-like text
   becomes a number), matches keep theirs, other cells and sheets are unchanged, the untouched
   workbook is byte-identical and listed as unchanged.
2. change-formula: the find text is replaced, with exact letter case, inside every formula
   that holds it; the values elsewhere stay.
3. --cells with a full-width comma and an empty item: exactly the named cells change.
4. An invalid --range: exit status 1, the message with the path last on standard output, no
   workbook changed, no list written.
5. Searching values finds numbers as their number formats show them (a date, a percentage, a
   grouped number, a formula's cached result, a date of a 1904 workbook), not as stored; searching
   formulas finds the stored constant; change-text still reads the stored value, so a match by its
   display is written back as it was, format kept.

Usage: cells_oracle.py CORVANE_CLI
"""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import warnings

import zipfile

import openpyxl
import openpyxl.utils.datetime

warnings.simplefilter("ignore")
MATCHED = "包含内容并成功修改的文件目录.txt"
UNMATCHED = "不包含内容无修改的文件目录.txt"
failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
        print("FAIL:", message)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def make(path, sheets):
    book = openpyxl.Workbook()
    book.remove(book.active)
    for name, cells in sheets.items():
        sheet = book.create_sheet(name)
        for address, value in cells.items():
            sheet[address] = value
    book.save(path)


def cells(path):
    book = openpyxl.load_workbook(path)
    return {s.title: {c.coordinate: c.value for row in s.iter_rows() for c in row if c.value is not None}
            for s in book.worksheets}


def make_formatted(path):
    """Numbers under number formats, and a formula whose cached result is formatted too."""
    book = openpyxl.Workbook()
    sheet = book.active
    for address, value, code in (("A1", 45306, "yyyy/m/d"), ("A2", 0.125, "0.00%"),
                                 ("A3", 1234.5, "#,##0.00"), ("A4", "=A3*2", "#,##0.00"),
                                 ("A5", 45306, "yyyy\"年\"m\"月\"d\"日\"")):
        sheet[address] = value
        sheet[address].number_format = code
    book.save(path)
    # openpyxl stores no cached results: give the formula the one the application would have.
    with zipfile.ZipFile(path) as z:
        parts = {n: z.read(n) for n in z.namelist()}
    name = "xl/worksheets/sheet1.xml"
    xml = parts[name].decode()
    xml, n = re.subn(r"(<c r=\"A4\"[^>]*>\s*<f>A3\*2</f>)\s*(?:<v\s*/>|<v></v>)?", r"\1<v>2469</v>", xml)
    assert n == 1, xml
    parts[name] = xml.encode()
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for n, data in parts.items():
            z.writestr(n, data)


def run(cli, folder, *args):
    p = subprocess.run([cli, "cells", "--folder", folder + os.sep] + list(args),
                       capture_output=True, text=True, timeout=300)
    return p.returncode, p.stdout.splitlines(), p.stderr


def main():
    cli = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        a = os.path.join(folder, "a.xlsx")
        b = os.path.join(folder, "b.xlsx")
        make(a, {"Data": {"A1": "Name", "B1": "Total", "A2": "x", "B2": 5, "A3": "total", "C3": "=B2*2"},
                 "Other": {"A1": "total"}})
        make(b, {"Data": {"A1": "nothing here"}})
        b_before = digest(b)

        status, out, err = run(cli, folder, "--mode", "fill-text", "--text", "42", "--find", "total",
                               "--right", "3", "--left", "1", "--sheet", "Data")
        check(status == 0, f"fill-text exit status {status}: {err}")
        check(out and out[-1].startswith("成功查找2个Excel文件,修改1个Excel文件,修改2个单元格。"),
              f"fill-text summary: {out[-1:]}")
        got = cells(a)
        check(got["Data"] == {"A1": "Name", "B1": "Total", "D1": 42, "A2": "x", "B2": 5, "A3": "total",
                              "C3": 42}, f"fill-text cells: {got['Data']}")
        check(got["Other"] == {"A1": "total"}, f"fill-text touched another sheet: {got['Other']}")
        check(digest(b) == b_before, "the workbook without a match was rewritten")
        with open(os.path.join(folder, UNMATCHED), "rb") as f:
            check(f.read() == b.encode() + b"\r\n", "unmatched list")
        with open(os.path.join(folder, MATCHED), "rb") as f:
            check(f.read() == a.encode() + b"\r\n", "matched list")

        make(a, {"Data": {"A1": 1, "A2": 2, "B1": "=SUM(A1:A2)", "B2": "=sum(A1)+SUM(A2)", "C1": "SUM"}})
        status, out, err = run(cli, folder, "--mode", "change-formula", "--text", "MAX", "--find", "SUM")
        check(status == 0, f"change-formula exit status {status}: {err}")
        got = cells(a)["Data"]
        check(got.get("B1") == "=MAX(A1:A2)", f"change-formula B1: {got.get('B1')}")
        check(got.get("B2") == "=sum(A1)+MAX(A2)", f"change-formula B2: {got.get('B2')}")
        check(got.get("C1") == "MAX" and got.get("A1") == 1, f"change-formula others: {got}")

        make(a, {"Data": {"B3": "keep"}, "Two": {}})
        status, out, err = run(cli, folder, "--mode", "fill-text", "--text", "v", "--cells", "B3，D5,,F2")
        check(status == 0, f"appointed exit status {status}: {err}")
        got = cells(a)
        for sheet in ("Data", "Two"):
            check(got[sheet] == {"B3": "v", "D5": "v", "F2": "v"}, f"appointed cells of {sheet}: {got[sheet]}")

        a_before, b_before = digest(a), digest(b)
        status, out, err = run(cli, folder, "--mode", "fill-text", "--text", "v", "--find", "v", "--range",
                               "A1:B")
        check(status == 1, f"invalid range exit status {status}")
        check(out and out[-1].startswith("此文件指定区域无效,请重新设置!") and out[-1].endswith(".xlsx"),
              f"invalid range message: {out[-1:]}")
        check(digest(a) == a_before and digest(b) == b_before, "a cut-short run changed a workbook")
        check(not os.path.exists(os.path.join(folder, MATCHED)) and
              not os.path.exists(os.path.join(folder, UNMATCHED)), "a cut-short run wrote a list")

    with tempfile.TemporaryDirectory() as folder:
        a = os.path.join(folder, "a.xlsx")
        for find, where in (("2024/1/15", "A1"), ("12.50%", "A2"), ("1,234.50", "A3"), ("2,469.00", "A4"),
                            ("2024年1月15日", "A5")):
            make_formatted(a)
            status, out, err = run(cli, folder, "--mode", "fill-text", "--text", "hit", "--find", find,
                                   "--whole-cell", "--right", "1")
            check(status == 0, f"value search for {find}: exit status {status}: {err}")
            got = {k: v for k, v in cells(a)["Sheet"].items() if k.startswith("B")}
            check(got == {"B" + where[1:]: "hit"}, f"value search for {find} marked {got}, not {where}")
        # A workbook counting dates from 1904: day 0 is 1904-01-01.
        book = openpyxl.Workbook()
        book.epoch = openpyxl.utils.datetime.CALENDAR_MAC_1904
        book.active["A1"] = 0
        book.active["A1"].number_format = "yyyy/m/d"
        book.save(a)
        status, out, err = run(cli, folder, "--mode", "fill-text", "--text", "hit", "--find", "1904/1/1",
                               "--whole-cell", "--right", "1")
        check(status == 0 and cells(a)["Sheet"].get("B1") == "hit", f"1904 date: {cells(a)['Sheet']}")
        # The stored values are not what a value search sees.
        make_formatted(a)
        before = digest(a)
        status, out, err = run(cli, folder, "--mode", "fill-text", "--text", "hit", "--find", "0.125",
                               "--whole-cell", "--right", "1")
        check(status == 0 and digest(a) == before, f"0.125 was found in values: {cells(a)['Sheet']}")
        # ... while a search in formulas still sees the stored constant.
        status, out, err = run(cli, folder, "--mode", "fill-formula", "--text", "=1", "--find", "0.125",
                               "--whole-cell", "--right", "1")
        got = {k: v for k, v in cells(a)["Sheet"].items() if k.startswith("B")}
        check(status == 0 and got == {"B2": "=1"}, f"0.125 in formulas marked {got}")
        make_formatted(a)
        # change-text reads the stored value: nothing of the display to replace, the number and its
        # format stay.
        status, out, err = run(cli, folder, "--mode", "change-text", "--text", "9", "--find", "1,234.50")
        check(status == 0, f"change-text by display: exit status {status}: {err}")
        book = openpyxl.load_workbook(a)
        cell = book.active["A3"]
        check(cell.value == 1234.5 and cell.number_format == "#,##0.00",
              f"change-text by display left {cell.value!r} in {cell.number_format!r}")

    if failures:
        print(f"{len(failures)} failure(s)")
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
