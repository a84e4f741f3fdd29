#!/usr/bin/python3
"""Workbooks with the features that LibreOffice's own behaviour gets wrong, for the backend's
tests: openpyxl writes the packages, one private LibreOffice (tests/tools/office.py) the binary
workbooks and what openpyxl cannot make (an encrypted .xls, a pivot table).

usage: fault_books.py OUT_DIR     (CORVANE_TEST_TOOLS names tests/tools)
"""
import os
import shutil
import struct
import sys
import tempfile
import zipfile
import zlib

import openpyxl
from openpyxl.styles import Protection

out = sys.argv[1]


def path(name):
    return os.path.join(out, name)


def png(file_name):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + b"\x00\x80\xff" * 8 for _ in range(6))
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 8, 6, 8, 2, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
    open(file_name, "wb").write(data)


# Text files under a workbook name: one is a table, the others are no workbook at all.
open(path("tabs.xls"), "w", encoding="utf-8").write("name\told value\n1\t2,5\n")
open(path("stub.xls"), "w").write("This workbook was moved to the archive server, ask IT for it\n")
open(path("page.xls"), "w").write("<html><body><p>old page without a table</p></body></html>\n")

# Cells: formats that show more than the cell holds; a protected sheet with one open cell.
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Cells"
ws["A1"] = "Hello there"
ws["A1"].number_format = '"Item: "@'
ws["A2"] = "Hello there"
ws["A2"].number_format = "_(@_)"
ws["A3"] = "0012"
lock = wb.create_sheet("Locked")
lock["A1"] = "locked"
lock["B1"] = "open"
lock["B1"].protection = Protection(locked=False)
lock.protection.sheet = True
hidden = wb.create_sheet("Hidden")
hidden.sheet_state = "hidden"
hidden["A1"] = "h"
very = wb.create_sheet("VeryHidden")
very.sheet_state = "veryHidden"
very["A1"] = "v"
wb.create_sheet("Shown")["A1"] = "s"
wb.save(path("cells.xlsx"))

# Sheet removal: the shown sheet goes, a hidden and a very hidden one follow it.
wb = openpyxl.Workbook()
wb.active.title = "Front"
for name, state in (("Hidden", "hidden"), ("Very", "veryHidden"), ("Back", "visible")):
    ws = wb.create_sheet(name)
    ws.sheet_state = state
    ws["A1"] = name
wb.save(path("hidden.xlsx"))

# Damaged packages: a part whose checksum is wrong, and a workbook that lists no sheet.
wb = openpyxl.Workbook()
wb.active["A1"] = "old"
wb.save(path("good.xlsx"))
with zipfile.ZipFile(path("good.xlsx")) as z:
    entries = [(i, z.read(i.filename)) for i in z.infolist()]
for name, change in (("badcrc.xlsx", "crc"), ("nosheets.xlsx", "sheets")):
    with zipfile.ZipFile(path(name), "w", zipfile.ZIP_DEFLATED) as z:
        for info, data in entries:
            if change == "sheets" and info.filename == "xl/workbook.xml":
                text = data.decode()
                start, end = text.index("<sheets>"), text.index("</sheets>") + len("</sheets>")
                data = (text[:start] + "<sheets/>" + text[end:]).encode()
            z.writestr(info.filename, data)
    if change == "crc":
        blob = bytearray(open(path(name), "rb").read())
        crc = struct.pack("<I", zlib.crc32(dict((i.filename, d) for i, d in entries)["xl/worksheets/sheet1.xml"]))
        bad = struct.pack("<I", zlib.crc32(b"something else"))
        assert blob.count(crc) == 2, "the checksum must be found in both headers"
        open(path(name), "wb").write(bytes(blob).replace(crc, bad))
os.remove(path("good.xlsx"))

png(path("dot.png"))

# Binary workbooks and what only a spreadsheet application writes.
sys.path.insert(0, os.environ["CORVANE_TEST_TOOLS"])
from office import Office  # noqa: E402

work = tempfile.mkdtemp(prefix="corvane-faultbooks-")
office = Office(work)
try:
    def store(doc, name, filter_name, *extra):
        doc.storeToURL(office.uno.systemPathToFileUrl(path(name)),
                       (office.prop("FilterName", filter_name),) + extra)

    doc = office.desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0,
                                              (office.prop("Hidden", True),))
    doc.Sheets.getByIndex(0).getCellByPosition(0, 0).setString("secret old")
    # Encrypted with the key Excel uses when no password is given: it opens without asking.
    store(doc, "defaultkey.xls", "MS Excel 97", office.prop("Password", "VelvetSweatshop"))
    store(doc, "password.xls", "MS Excel 97", office.prop("Password", "abc"))
    doc.close(True)

    # A pivot table on its own sheet summing Data!B2:B6 (15).
    doc = office.desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0,
                                              (office.prop("Hidden", True),))
    data = doc.Sheets.getByIndex(0)
    data.setName("Data")
    data.getCellByPosition(0, 0).setString("item")
    data.getCellByPosition(1, 0).setString("value")
    for r in range(1, 6):
        data.getCellByPosition(0, r).setString("k%d" % r)
        data.getCellByPosition(1, r).setValue(r)
    data.getCellByPosition(3, 8).setString("tail")
    doc.Sheets.insertNewByName("Pivot", 1)
    pivot_sheet = doc.Sheets.getByName("Pivot")
    tables = pivot_sheet.getDataPilotTables()
    desc = tables.createDataPilotDescriptor()
    desc.setSourceRange(data.getCellRangeByName("A1:B6").getRangeAddress())
    field = desc.getDataPilotFields().getByIndex(1)
    from com.sun.star.sheet.DataPilotFieldOrientation import DATA
    field.Orientation = DATA
    tables.insertNewByName("Sum", pivot_sheet.getCellByPosition(0, 2).getCellAddress(), desc)
    for name, filter_name in (("pivot.xls", "MS Excel 97"), ("pivot.xlsx", "Calc MS Excel 2007 XML")):
        store(doc, name, filter_name)
    doc.close(True)

    # A picture and a chart-like shape anchored in row 4 of a sheet with uneven rows.
    doc = office.desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0,
                                              (office.prop("Hidden", True),))
    sheet = doc.Sheets.getByIndex(0)
    sheet.setName("Draw")
    for r in range(0, 12):
        sheet.getCellByPosition(0, r).setString("row %d" % (r + 1))
    sheet.getRows().getByIndex(1).Height = 900
    sheet.getCellByPosition(2, 5).setString("wrapped text that is long enough to wrap in a narrow cell")
    sheet.getCellByPosition(2, 5).IsTextWrapped = True
    from com.sun.star.awt import Point, Size
    shape = doc.createInstance("com.sun.star.drawing.RectangleShape")
    sheet.getDrawPage().add(shape)
    cell = sheet.getCellByPosition(1, 3)
    shape.Anchor = cell
    shape.setPosition(Point(cell.Position.X + 100, cell.Position.Y + 50))
    shape.setSize(Size(2000, 1000))
    store(doc, "draw.xls", "MS Excel 97")
    store(doc, "draw.xlsx", "Calc MS Excel 2007 XML")
    doc.close(True)
finally:
    office.close()
    shutil.rmtree(work, ignore_errors=True)
print("ok")
