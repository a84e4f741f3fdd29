#!/usr/bin/python3
"""LibreOffice as a second opinion on reference adjustment.

Generated mode (WORKDIR only): builds a workbook whose formulas and defined names refer to the
sheet "Data" in many ways (from a fixed seed), lets headless LibreOffice delete or insert rows or
columns of "Data", or delete "Data" itself, and exports each result as .xlsx.

Corpus mode (WORKDIR FILE...): for each workbook, the sheet that other formulas name most often
gets rows 3-4 deleted and, separately, one column inserted before column B.

Both print one line per formula or workbook-level defined name found before and after:

    edit<TAB>edited sheet<TAB>home sheet<TAB>cell-or-name<TAB>formula before<TAB>formula after

edit is delete-rows:FIRST:COUNT, insert-rows:BEFORE:COUNT, delete-columns:FIRST:COUNT,
insert-columns:BEFORE:COUNT or remove-sheet; the home sheet is empty for defined names. Cells of
the edited sheet are matched with where the edit moved them; shared-formula members are written
out with openpyxl's translator. Formula texts escape backslash, tab and line breaks as in
list_formulas.py. A workbook whose edit LibreOffice refuses is reported on stderr and skipped.

Usage: lo_edit_references.py WORKDIR [FILE...]   (WORKDIR is created; LibreOffice's profile goes there)
"""
import os
import random
import re
import sys
import zipfile
import xml.etree.ElementTree as ET

from office import Office

NS = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
REL_ID = "{http://schemas.openxmlformats.org/officeDocument/2006/relationships}id"
MAX_ROW, MAX_COL = 1048576, 16384

GENERATED_EDITS = [("delete-rows", 5, 2), ("delete-rows", 1, 1), ("insert-rows", 5, 2), ("insert-rows", 1, 1),
                   ("delete-columns", 2, 1), ("delete-columns", 3, 2), ("insert-columns", 2, 2),
                   ("remove-sheet", 0, 0)]
CORPUS_EDITS = [("delete-rows", 3, 2), ("insert-columns", 2, 1)]


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def col_name(c):
    s = ""
    while c:
        c, r = divmod(c - 1, 26)
        s = chr(65 + r) + s
    return s


def cell_position(ref):
    m = re.match(r"([A-Z]+)(\d+)$", ref)
    col = 0
    for ch in m.group(1):
        col = col * 26 + ord(ch) - 64
    return int(m.group(2)), col


def moved_cell(kind, first, count, cell):
    """Where a cell of the edited sheet lies after the edit; None when it was deleted."""
    row, col = cell_position(cell)
    if kind in ("delete-rows", "delete-columns"):
        index = row if kind == "delete-rows" else col
        if first <= index < first + count:
            return None
        if index >= first + count:
            index -= count
    elif kind in ("insert-rows", "insert-columns"):
        index = row if kind == "insert-rows" else col
        if index >= first:
            index += count
    else:
        return cell
    if kind.endswith("rows"):
        row = index
    else:
        col = index
    return "%s%d" % (col_name(col), row)


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


def absolute(ref):
    """'B12:C3' -> '$B$12:$C$3', '3:5' -> '$3:$5'."""
    out = []
    for part in ref.replace("$", "").split(":"):
        letters = part.rstrip("0123456789")
        digits = part[len(letters):]
        out.append("".join("$" + x for x in (letters, digits) if x))
    return ":".join(out)


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
        wb.defined_names.append(DefinedName("Name%d" % i, attr_text="Data!" + absolute(random_reference(rng))))
    wb.save(path)


def read_formulas(path):
    """{(sheet, cell): text} plus {("", name): text} for workbook-level names; sheet order."""
    from openpyxl.formula.translate import Translator
    out = {}
    order = []
    with zipfile.ZipFile(path) as zf:
        wbroot = ET.parse(zf.open("xl/workbook.xml")).getroot()
        rels = ET.parse(zf.open("xl/_rels/workbook.xml.rels")).getroot()
        targets = {r.get("Id"): r.get("Target") for r in rels}
        for sheet in wbroot.iter(NS + "sheet"):
            name = sheet.get("name")
            order.append(name)
            target = targets[sheet.get(REL_ID)]
            target = target[1:] if target.startswith("/") else "xl/" + target
            if not target.startswith("xl/worksheets/"):
                continue
            masters = {}
            for c in ET.parse(zf.open(target)).getroot().iter(NS + "c"):
                f = c.find(NS + "f")
                if f is None or c.get("r") is None:
                    continue
                if f.get("t") == "shared" and not f.text:
                    if f.get("si") in masters:
                        origin, text = masters[f.get("si")]
                        out[(name, c.get("r"))] = Translator("=" + text, origin=origin).translate_formula(
                            c.get("r"))[1:]
                    continue
                if f.text:
                    if f.get("t") == "shared":
                        masters[f.get("si")] = (c.get("r"), f.text)
                    out[(name, c.get("r"))] = f.text
        for dn in wbroot.iter(NS + "definedName"):
            if dn.get("localSheetId") is None and dn.text:
                out[("", dn.get("name"))] = dn.text
    return out, order


def most_named_sheet(formulas, order):
    counts = {}
    for text in formulas.values():
        for m in re.finditer(r"(?:'((?:[^']|'')+)'|([^\W\d][\w.]*))!", text):
            name = (m.group(1) or m.group(2)).replace("''", "'").lower()
            counts[name] = counts.get(name, 0) + 1
    named = [n for n in order if n.lower() in counts]
    return max(named, key=lambda n: counts[n.lower()]) if named else order[0]


class LibreOffice(Office):
    def edit(self, source, sheet_name, kind, first, count, target):
        """Applies the edit and exports; False when LibreOffice refuses it."""
        doc = self.desktop.loadComponentFromURL(self.uno.systemPathToFileUrl(source), "_blank", 0,
                                                (self.prop("Hidden", True),))
        try:
            sheet = doc.Sheets.getByName(sheet_name)
            if kind == "delete-rows":
                sheet.Rows.removeByIndex(first - 1, count)
            elif kind == "insert-rows":
                sheet.Rows.insertByIndex(first - 1, count)
            elif kind == "delete-columns":
                sheet.Columns.removeByIndex(first - 1, count)
            elif kind == "insert-columns":
                sheet.Columns.insertByIndex(first - 1, count)
            else:
                doc.Sheets.removeByName(sheet_name)
        except Exception as exc:  # protected sheets and the like
            sys.stderr.write("%s: LibreOffice refused %s: %s\n" % (source, kind, type(exc).__name__))
            doc.close(True)
            return False
        doc.storeToURL(self.uno.systemPathToFileUrl(target),
                       (self.prop("FilterName", "Calc MS Excel 2007 XML"),))
        doc.close(True)
        return True


def report(out, kind, first, count, edited, before, after_path):
    after, _ = read_formulas(after_path)
    name = kind if kind == "remove-sheet" else "%s:%d:%d" % (kind, first, count)
    for key, text in sorted(before.items()):
        new_key = key
        if key[0] == edited:
            new_key = (edited, moved_cell(kind, first, count, key[1]))
        if new_key in after:
            out.write("\t".join((name, edited, key[0], key[1], escape(text), escape(after[new_key]))) + "\n")


def main(argv):
    if not argv:
        sys.stderr.write(__doc__)
        return 2
    workdir = os.path.abspath(argv[0])
    os.makedirs(workdir, exist_ok=True)
    files = [os.path.abspath(f) for f in argv[1:]]
    jobs = []
    if not files:
        source = os.path.join(workdir, "in.xlsx")
        build(source)
        jobs = [(source, "Data", kind, first, count) for kind, first, count in GENERATED_EDITS]
    else:
        for source in files:
            formulas, order = read_formulas(source)
            edited = most_named_sheet(formulas, order)
            jobs += [(source, edited, kind, first, count) for kind, first, count in CORPUS_EDITS]

    office = LibreOffice(workdir, "corvane_formula", attempts=120)
    done = []
    try:
        for n, (source, edited, kind, first, count) in enumerate(jobs):
            target = os.path.join(workdir, "out-%d.xlsx" % n)
            if office.edit(source, edited, kind, first, count, target):
                done.append((source, edited, kind, first, count, target))
    finally:
        office.close()

    for source, edited, kind, first, count, target in done:
        before, _ = read_formulas(source)
        report(sys.stdout, kind, first, count, edited, before, target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
