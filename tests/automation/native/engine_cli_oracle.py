#!/usr/bin/python3
"""corvane-cli --server native over workbooks built with features that once went wrong, read
back with openpyxl; a refused workbook must stay byte-identical.

1. Parts stored as UTF-16BE without a byte order mark (the workbook, a sheet, the shared
   strings): delete-row, insert-column and fill-formula rewrite them readably.
2. Pictures on rows of 12.75 points are anchored in their target rows, not the row above; a
   target in a hidden column keeps its anchor there (hidden columns have no width), also when
   every column after it is hidden.
3. Refused writes: locked cells of a protected sheet (fill-formula, replace), a picture on a sheet
   protected against objects, texts beyond 32767 characters (fill-text, change-text, replace), an
   invalid formula, a workbook without sheets. Each is reported on standard error with its reason,
   not counted, the workbook byte-identical and on the open-failed list; an unlocked cell of the
   protected sheet is written.
4. Hostile numbers: a shared-strings count of 2^63-1 and a drawing object id of 2^32-1 are not
   overflowed when a string or a picture is added.

Usage: engine_cli_oracle.py CORVANE_CLI
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import struct
import warnings
import zipfile
import zlib
from xml.etree import ElementTree as ET

import openpyxl

warnings.simplefilter("ignore")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../..", "tools"))
from oraclecheck import OPEN_FAILED, check, digest, verdict  # noqa: E402


def rewrite_parts(path, change):
    """Rewrites the package's entries through change(name, bytes) -> bytes."""
    with zipfile.ZipFile(path) as z:
        items = [(i.filename, z.read(i.filename)) for i in z.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as out:
        for name, data in items:
            out.writestr(name, change(name, data))


def share_strings(path):
    """Moves the texts openpyxl wrote inline into a shared strings table, as the application keeps them."""
    texts = []

    def shared(match):
        texts.append(match.group(2))
        return b'<c r="%s" t="s"><v>%d</v></c>' % (match.group(1), len(texts) - 1)

    def change(name, data):
        if name.startswith("xl/worksheets/sheet"):
            return re.sub(rb'<c r="([A-Z]+\d+)" t="inlineStr"><is><t>(.*?)</t></is></c>', shared, data)
        if name == "xl/_rels/workbook.xml.rels":
            return data.replace(b"</Relationships>", b'<Relationship Id="rIdSst" Target="sharedStrings.xml" Type='
                                b'"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings"/>'
                                b"</Relationships>")
        if name == "[Content_Types].xml":
            return data.replace(b"</Types>", b'<Override PartName="/xl/sharedStrings.xml" ContentType="application/'
                                b'vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>')
        return data
    rewrite_parts(path, change)
    with zipfile.ZipFile(path, "a", zipfile.ZIP_DEFLATED) as z:
        z.writestr("xl/sharedStrings.xml",
                   b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<sst xmlns="http://schemas.openxmlformats.org/'
                   b'spreadsheetml/2006/main" count="%d" uniqueCount="%d">' % (len(texts), len(texts))
                   + b"".join(b"<si><t>%s</t></si>" % t for t in texts) + b"</sst>")


def cells(path):
    book = openpyxl.load_workbook(path)
    return {s.title: {c.coordinate: c.value for row in s.iter_rows() for c in row if c.value is not None}
            for s in book.worksheets}


def run(cli, folder, command, *args):
    p = subprocess.run([cli, command, "--server", "native", "--folder", folder + os.sep] + list(args),
                       capture_output=True, text=True, timeout=300)
    return p.returncode, p.stdout.splitlines(), p.stderr


def summary(out):
    return out[-1] if out else ""


def png(path, width=4, height=4):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\x00" + b"\xff\x00\x00" * width for _ in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def picture_anchors(path):
    """The (row, column) of every picture's top-left cell marker, 1-based, read from the drawings."""
    xdr = "{http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing}"
    found = []
    with zipfile.ZipFile(path) as z:
        for name in sorted(n for n in z.namelist() if n.startswith("xl/drawings/drawing")):
            for frm in ET.fromstring(z.read(name)).iter(xdr + "from"):
                found.append((int(frm.find(xdr + "row").text) + 1, int(frm.find(xdr + "col").text) + 1))
    return found


def picture_anchors_follow_edges(cli, folder):
    picture = os.path.join(os.path.dirname(folder), "red.png")
    png(picture)
    book_path = os.path.join(folder, "a.xlsx")
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.sheet_format.defaultRowHeight = 12.75
    sheet.sheet_format.customHeight = True
    for row in range(1, 21):
        sheet.row_dimensions[row].height = 12.75
    sheet["A1"] = "h"
    book.save(book_path)
    targets = ",".join("B%d" % row for row in range(1, 21))
    status, out, err = run(cli, folder, "picture", "--picture", picture, "--cells", targets)
    check(status == 0 and not err and "修改20个单元格" in summary(out),
          f"12.75-point rows: status {status}, {summary(out)!r}, {err!r}")
    got = sorted(picture_anchors(book_path))
    check(got == [(row, 2) for row in range(1, 21)], f"12.75-point rows: pictures anchored at {got}")

    for hidden, what in (((243, 245), "IJ between hidden columns"), ((243, 16384), "IJ to the last column hidden")):
        book = openpyxl.Workbook()
        sheet = book.active
        sheet["A1"] = "h"
        sheet.column_dimensions["II"] = openpyxl.worksheet.dimensions.ColumnDimension(
            sheet, index="II", min=hidden[0], max=hidden[1], hidden=True)
        book.save(book_path)
        status, out, err = run(cli, folder, "picture", "--picture", picture, "--cells", "IJ1,IL2")
        check(status == 0 and not err and "修改2个单元格" in summary(out),
              f"{what}: status {status}, {summary(out)!r}, {err!r}")
        got = sorted(picture_anchors(book_path))
        check(got == [(1, 244), (2, 246)], f"{what}: pictures anchored at {got}")
        check(openpyxl.load_workbook(book_path).active.column_dimensions["II"].hidden, f"{what}: columns shown")


def listed(folder, name):
    try:
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def refused_writes(cli, folder):
    picture = os.path.join(os.path.dirname(folder), "red.png")
    png(picture)
    book_path = os.path.join(folder, "a.xlsx")
    long_text = "y" * 40000

    def book(cells, protect=False, objects=False):
        book = openpyxl.Workbook()
        sheet = book.active
        sheet.title = "Data"
        for address, value in cells.items():
            sheet[address] = value
        if protect:
            sheet.protection.sheet = True
            sheet.protection.objects = objects
            sheet["B1"].protection = openpyxl.styles.Protection(locked=False)
        book.save(book_path)

    def no_sheets():
        book({"A1": "x"})
        rewrite_parts(book_path, lambda name, data: re.sub(rb"<sheets>.*</sheets>", b"<sheets/>", data)
                      if name == "xl/workbook.xml" else data)

    cases = (
        ("locked cell", lambda: book({"A1": "x"}, protect=True),
         ["cells", "--mode", "fill-formula", "--text", "=1+1", "--find", "x"], "locked on a protected sheet"),
        ("replace in a locked cell", lambda: book({"A1": "x"}, protect=True),
         ["replace", "--find", "x", "--replace", "z"], "locked on a protected sheet"),
        ("picture on protected objects", lambda: book({"A1": "x"}, protect=True, objects=True),
         ["picture", "--picture", picture, "--cells", "B2"], "protected against changing its objects"),
        ("fill-text too long", lambda: book({"A1": "x"}),
         ["cells", "--mode", "fill-text", "--text", long_text, "--find", "x"], "32767"),
        ("change-text too long", lambda: book({"A1": "x" + "a" * 30000}),
         ["cells", "--mode", "change-text", "--find", "x", "--text", "y" * 3000], "32767"),
        ("replace too long", lambda: book({"A1": "x" * 10}),
         ["replace", "--find", "x", "--replace", "y" * 4000], "32767"),
        ("invalid formula", lambda: book({"A1": "x"}),
         ["cells", "--mode", "fill-formula", "--text", "=SUM(", "--find", "x"], "not a valid formula"),
        ("no sheets", no_sheets, ["replace", "--find", "x", "--replace", "z"], "no sheets"),
    )
    for what, make, args, reason in cases:
        for name in os.listdir(folder):
            os.remove(os.path.join(folder, name))
        make()
        before = digest(book_path)
        status, out, err = run(cli, folder, *args)
        check(status == 0 and f"{book_path}: " in err and reason in err, f"{what}: status {status}, {err[:300]!r}")
        check("修改0个" in summary(out) or "查找修改0个" in summary(out), f"{what}: counted: {summary(out)!r}")
        check(digest(book_path) == before, f"{what}: the refused workbook changed")
        check(book_path in listed(folder, OPEN_FAILED), f"{what}: not on the open-failed list")

    # The unlocked cell of a protected sheet is written; the locked one beside it is refused.
    book({"A1": "x", "B1": "x"}, protect=True)
    status, out, err = run(cli, folder, "cells", "--mode", "fill-formula", "--text", "=1+1", "--find", "x")
    check(status == 0 and "修改1个Excel文件,修改1个单元格" in summary(out) and "cell A1" in err,
          f"unlocked cell: status {status}, {summary(out)!r}, {err!r}")
    got = cells(book_path)["Data"]
    check(got == {"A1": "x", "B1": "=1+1"}, f"unlocked cell: {got}")


def hostile_numbers(cli, folder):
    picture = os.path.join(os.path.dirname(folder), "red.png")
    png(picture)
    book_path = os.path.join(folder, "a.xlsx")
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "Data"
    sheet["A1"] = "x"
    sheet["A2"] = "kept"
    book.save(book_path)
    share_strings(book_path)
    rewrite_parts(book_path, lambda name, data: re.sub(rb'count="\d+"', b'count="9223372036854775807"', data)
                  if name == "xl/sharedStrings.xml" else data)
    status, out, err = run(cli, folder, "cells", "--mode", "fill-text", "--text", "new text", "--find", "x")
    check(status == 0 and not err and "修改1个单元格" in summary(out), f"huge count: {status}, {err!r}")
    check(cells(book_path)["Data"] == {"A1": "new text", "A2": "kept"}, f"huge count: {cells(book_path)}")
    with zipfile.ZipFile(book_path) as z:
        count = re.search(rb'<sst[^>]* count="([^"]*)"', z.read("xl/sharedStrings.xml"))
    check(count and count.group(1) == b"9223372036854775807", f"huge count rewritten as {count and count.group(1)}")

    status, out, err = run(cli, folder, "picture", "--picture", picture, "--cells", "B2")
    check(status == 0 and not err, f"first picture: {status}, {err!r}")
    rewrite_parts(book_path, lambda name, data: re.sub(rb'cNvPr id="\d+"', b'cNvPr id="4294967295"', data)
                  if name.startswith("xl/drawings/drawing") else data)
    status, out, err = run(cli, folder, "picture", "--picture", picture, "--cells", "C3")
    check(status == 0 and not err, f"picture after id 2^32-1: {status}, {err!r}")
    with zipfile.ZipFile(book_path) as z:
        drawing = z.read(next(n for n in z.namelist() if n.startswith("xl/drawings/drawing")))
    ids = [int(i) for i in re.findall(rb'cNvPr id="(-?\d+)"', drawing)]
    check(len(ids) == 2 and len(set(ids)) == 2 and all(0 < i <= 4294967295 for i in ids), f"shape ids {ids}")


def utf16_parts(cli, folder):
    book_path = os.path.join(folder, "a.xlsx")

    def make(wide):
        book = openpyxl.Workbook()
        sheet = book.active
        sheet.title = "Data"
        for address, value in {"A1": "head", "A2": "x", "B2": "Grüße 中文", "A3": "y", "C3": "=B2&A3"}.items():
            sheet[address] = value
        book.defined_names.append(openpyxl.workbook.defined_name.DefinedName("Tail", attr_text="Data!$A$3"))
        book.save(book_path)
        share_strings(book_path)

        def to_utf16(name, data):
            if name not in wide:
                return data
            text = re.sub(r"^<\?xml[^>]*\?>", "", data.decode("utf-8"))
            # So that a cell write must rewrite the workbook part too.
            text = text.replace(' fullCalcOnLoad="1"', "")
            return ('<?xml version="1.0" encoding="UTF-16BE" standalone="yes"?>\n' + text).encode("utf-16-be")
        rewrite_parts(book_path, to_utf16)

    cases = (
        (["--mode", "delete-row", "--find", "x", "--whole-cell"],
         {"A1": "head", "A2": "y", "C2": "=#REF!&A2"}),
        (["--mode", "insert-column", "--cells", "B2"],
         {"A1": "head", "A2": "x", "C2": "Grüße 中文", "A3": "y", "D3": "=C2&A3"}),
        (["--mode", "fill-formula", "--text", "=1+1", "--cells", "D4"],
         {"A1": "head", "A2": "x", "B2": "Grüße 中文", "A3": "y", "C3": "=B2&A3", "D4": "=1+1"}),
    )
    for wide in (("xl/workbook.xml",), ("xl/workbook.xml", "xl/worksheets/sheet1.xml", "xl/sharedStrings.xml")):
        for args, expected in cases:
            what = f"UTF-16 {', '.join(wide)}, {args[1]}"
            make(wide)
            status, out, err = run(cli, folder, "cells", *args)
            check(status == 0 and not err and "修改1个Excel文件" in summary(out),
                  f"{what}: status {status}, {summary(out)!r}, {err!r}")
            try:
                got = cells(book_path)["Data"]
            except Exception as e:  # noqa: BLE001 - any reader failure is the finding
                check(False, f"{what}: openpyxl cannot read the result: {e}")
                continue
            check(got == expected, f"{what}: {got}")


def main():
    cli = sys.argv[1]
    with tempfile.TemporaryDirectory() as root:
        for case in (utf16_parts, picture_anchors_follow_edges, refused_writes, hostile_numbers):
            folder = os.path.join(root, case.__name__)
            os.mkdir(folder)
            case(cli, folder)
            shutil.rmtree(folder)

    return verdict()


if __name__ == "__main__":
    sys.exit(main())
