#!/usr/bin/python3
"""LibreOffice as a second opinion on reference adjustment.

Builds a workbook whose formulas and defined names refer to the sheet "Data" in many ways
(generated from a fixed seed), lets headless LibreOffice delete or insert rows or columns of
"Data", or delete "Data" itself, exports each result as .xlsx and prints one line per formula:

    edit<TAB>sheet<TAB>cell-or-name<TAB>formula before<TAB>formula after

edit is one of delete-rows:FIRST:COUNT, insert-rows:BEFORE:COUNT, delete-columns:FIRST:COUNT,
insert-columns:BEFORE:COUNT, remove-sheet. Formulas sit where no edit moves them (sheet "Other",
and column A rows 1-4 of "Data"). Defined names are printed with an empty sheet.

Usage: lo_edit_references.py WORKDIR   (WORKDIR is created; LibreOffice's profile goes there)
"""
import os
import random
import subprocess
import sys
import time
import zipfile
import xml.etree.ElementTree as ET

NS = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
MAX_ROW, MAX_COL = 1048576, 16384

EDITS = [("delete-rows", 5, 2), ("delete-rows", 1, 1), ("insert-rows", 5, 2), ("insert-rows", 1, 1),
         ("delete-columns", 2, 1), ("delete-columns", 3, 2), ("insert-columns", 2, 2), ("remove-sheet", 0, 0)]


def col_name(c):
    s = ""
    while c:
        c, r = divmod(c - 1, 26)
        s = chr(65 + r) + s
    return s


def random_reference(rng):
    d = lambda: "$" if rng.random() < 0.3 else ""
    kind = rng.choice(["cell", "cell", "area", "area", "area", "rows", "cols", "pinned", "edge"])
    r1, r2 = sorted(rng.sample(range(1, 13), 2))
    c1, c2 = sorted(rng.sample(range(1, 7), 2))
    if kind == "cell":
        return "%s%s%s%d" % (d(), col_name(c1), d(), r1)
    if kind == "area":
        return "%s%s%s%d:%s%s%s%d" % (d(), col_name(c1), d(), r1, d(), col_name(c2), d(), r2)
    if kind == "rows":
        return "%s%d:%s%d" % (d(), r1, d(), r2)
    if kind == "cols":
        return "%s%s:%s%s" % (d(), col_name(c1), d(), col_name(c2))
    if kind == "pinned":
        return "%s%d:%s%d" % (col_name(c1), r1, col_name(c1), MAX_ROW)
    return rng.choice(["A%d" % MAX_ROW, "%s1" % col_name(MAX_COL), "A%d:B%d" % (MAX_ROW - 1, MAX_ROW)])


def _split(part):
    """'B12' -> ['B', '12']; 'B' -> ['B']; '12' -> ['12']."""
    letters = part.rstrip("0123456789")
    digits = part[len(letters):]
    return [x for x in (letters, digits) if x]


def moved_cell(kind, first, count, cell):
    """Where a cell of "Data" lies after a row edit (column edits never move column A)."""
    letters = cell.rstrip("0123456789")
    row = int(cell[len(letters):])
    if kind == "delete-rows" and row >= first + count:
        row -= count
    elif kind == "insert-rows" and row >= first:
        row += count
    elif kind == "delete-rows" and row >= first:
        return None
    return "%s%d" % (letters, row)


def build(path):
    import openpyxl
    from openpyxl.workbook.defined_name import DefinedName
    rng = random.Random(20261208)
    wb = openpyxl.Workbook()
    other = wb.active
    other.title = "Other"
    data = wb.create_sheet("Data")
    wb.create_sheet("Third")
    for r in range(1, 15):
        for c in range(2, 8):
            data.cell(r, c, r * 10 + c)
    for i in range(1, 301):
        refs = ["Data!" + random_reference(rng) for _ in range(rng.randint(1, 3))]
        if rng.random() < 0.2:
            refs.append(random_reference(rng))  # points into Other itself
        other.cell(i, 1, "=COUNT(%s)" % ",".join(refs))
    other.cell(301, 1, "=SUM(Other:Third!B2)")
    other.cell(302, 1, "=SUM(Data:Third!B2)")
    other.cell(303, 1, '="Data!B5"&Data!B5')
    for i in range(1, 5):
        data.cell(i, 1, "=COUNT(%s)" % ",".join(random_reference(rng) for _ in range(2)))
    for i in range(1, 11):
        # Names are written absolute, as the application writes them.
        ref = random_reference(rng).replace("$", "")
        ref = ":".join("$" + "$".join(_split(part)) for part in ref.split(":"))
        wb.defined_names.append(DefinedName("Name%d" % i, attr_text="Data!" + ref))
    wb.save(path)


def read_formulas(path):
    out = {}
    with zipfile.ZipFile(path) as zf:
        wbroot = ET.parse(zf.open("xl/workbook.xml")).getroot()
        rels = ET.parse(zf.open("xl/_rels/workbook.xml.rels")).getroot()
        targets = {r.get("Id"): r.get("Target") for r in rels}
        for sheet in wbroot.iter(NS + "sheet"):
            rid = sheet.get("{http://schemas.openxmlformats.org/officeDocument/2006/relationships}id")
            target = targets[rid]
            target = target[1:] if target.startswith("/") else "xl/" + target
            for c in ET.parse(zf.open(target)).getroot().iter(NS + "c"):
                f = c.find(NS + "f")
                if f is not None and f.text:
                    out[(sheet.get("name"), c.get("r"))] = f.text
        for dn in wbroot.iter(NS + "definedName"):
            if dn.get("localSheetId") is None and dn.text:
                out[("", dn.get("name"))] = dn.text
    return out


def main(argv):
    if len(argv) != 1:
        sys.stderr.write(__doc__)
        return 2
    workdir = os.path.abspath(argv[0])
    os.makedirs(workdir, exist_ok=True)
    source = os.path.join(workdir, "in.xlsx")
    build(source)

    import uno
    from com.sun.star.beans import PropertyValue

    def prop(name, value):
        p = PropertyValue()
        p.Name, p.Value = name, value
        return p

    pipe = "corvane_formula_%d" % os.getpid()
    soffice = os.environ.get("CORVANE_SOFFICE") or "soffice"
    proc = subprocess.Popen([soffice, "--headless", "--invisible", "--norestore", "--nologo",
                             "-env:UserInstallation=file://" + os.path.join(workdir, "profile"),
                             "--accept=pipe,name=%s;urp;" % pipe],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    outputs = []
    try:
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        ctx = None
        for _ in range(120):
            try:
                ctx = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
                break
            except Exception:
                if proc.poll() is not None:
                    break
                time.sleep(0.5)
        if ctx is None:
            sys.stderr.write("LibreOffice did not answer\n")
            return 1
        desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
        for kind, first, count in EDITS:
            doc = desktop.loadComponentFromURL(uno.systemPathToFileUrl(source), "_blank", 0,
                                               (prop("Hidden", True),))
            sheet = doc.Sheets.getByName("Data")
            if kind == "delete-rows":
                sheet.Rows.removeByIndex(first - 1, count)
            elif kind == "insert-rows":
                sheet.Rows.insertByIndex(first - 1, count)
            elif kind == "delete-columns":
                sheet.Columns.removeByIndex(first - 1, count)
            elif kind == "insert-columns":
                sheet.Columns.insertByIndex(first - 1, count)
            else:
                doc.Sheets.removeByName("Data")
            name = "%s:%d:%d" % (kind, first, count) if kind != "remove-sheet" else kind
            target = os.path.join(workdir, name.replace(":", "_") + ".xlsx")
            doc.storeToURL(uno.systemPathToFileUrl(target), (prop("FilterName", "Calc MS Excel 2007 XML"),))
            doc.close(True)
            outputs.append((name, kind, first, count, target))
        try:
            desktop.terminate()
        except Exception:
            pass  # the bridge closes as LibreOffice quits
    finally:
        try:
            proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()

    before = read_formulas(source)
    for name, kind, first, count, target in outputs:
        after = read_formulas(target)
        for key, text in sorted(before.items()):
            new_key = key
            if key[0] == "Data":
                new_key = ("Data", moved_cell(kind, first, count, key[1]))
            if new_key in after:
                sys.stdout.write("\t".join((name, key[0], key[1], text, after[new_key])) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
