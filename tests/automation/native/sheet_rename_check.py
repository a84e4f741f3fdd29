#!/usr/bin/python3
"""Builds a workbook whose sheets refer to each other, and checks a rename independently of the
engine (openpyxl for the cells, the XML of the other parts read here).

  sheet_rename_check.py make OUT.xlsx
      Summary refers to Data through cell formulas (plain, shared, array, 3-D), a defined name,
      a chart series, a hyperlink location, a list validation and a conditional format.
  sheet_rename_check.py compare BEFORE AFTER OLD NEW   stdout: JSON with
      mismatches  texts that do not read as the rename should leave them
      followed    how many texts named the sheet and now name it anew
      texts       {key: text after} for the texts that changed
      problems    package faults (see sheet_removal_check.py)
"""
import io
import json
import os
import re
import sys
import warnings
import zipfile
from xml.etree import ElementTree as ET

import openpyxl

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sheet_removal_check import package_problems  # noqa: E402

warnings.simplefilter("ignore")
MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
VT = "{http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes}"
EP = "{http://schemas.openxmlformats.org/officeDocument/2006/extended-properties}"


def make(path):
    from openpyxl.chart import BarChart, Reference
    from openpyxl.formatting.rule import FormulaRule
    from openpyxl.workbook.defined_name import DefinedName
    from openpyxl.worksheet.datavalidation import DataValidation

    wb = openpyxl.Workbook()
    summary = wb.active
    summary.title = "Summary"
    data = wb.create_sheet("Data")
    for i, v in enumerate([3, 5, 7], start=1):
        data.cell(i, 1, v)
        data.cell(i, 2, v * 10)
    summary["A1"] = "=Data!A1*2"
    summary["B1"] = "=SUM(Data!A1:B3)"
    summary["C1"] = "=Data!A1+1"  # made the master of a shared group below
    summary["C2"] = "=Data!A2+1"
    summary["C3"] = "=Data!A3+1"
    summary["D1"] = "=Data!B1:B3/10"  # made an array formula over D1:D3 below
    summary["E1"] = "=SUM(Summary:Data!A3)"
    summary["F1"] = "=SUM(Everything)"
    summary["G1"] = '="Data!A1"&LEN(Data!A1)'
    wb.defined_names.append(DefinedName("Everything", attr_text="Data!$A$1:$B$3"))
    summary["H1"] = "go"
    summary["H1"].hyperlink = "#Data!B2"
    summary["H1"].hyperlink.location = "Data!B2"
    summary["H1"].hyperlink.target = None
    dv = DataValidation(type="list", formula1="Data!$A$1:$A$3")
    summary.add_data_validation(dv)
    dv.add("J1")
    summary.conditional_formatting.add("A1:A3", FormulaRule(formula=["A1>Data!$A$1"]))
    chart = BarChart()
    chart.add_data(Reference(data, min_col=1, min_row=1, max_row=3))
    chart.set_categories(Reference(data, min_col=2, min_row=1, max_row=3))
    summary.add_chart(chart, "A6")
    data.print_area = "A1:B3"
    wb.save(path)

    # openpyxl writes no shared formulas (nor, before 3.1, array formulas): C1:C3 become one
    # group, D1:D3 one array.
    with zipfile.ZipFile(path) as z:
        entries = {n: z.read(n) for n in z.namelist()}
    sheet = entries["xl/worksheets/sheet1.xml"].decode()
    cells = re.findall(r'<c r="C[123]"[^>]*>.*?</c>', sheet)
    assert len(cells) == 3, cells
    sheet = sheet.replace(cells[0], '<c r="C1"><f t="shared" ref="C1:C3" si="0">Data!A1+1</f><v>4</v></c>')
    sheet = sheet.replace(cells[1], '<c r="C2"><f t="shared" si="0"/><v>6</v></c>')
    sheet = sheet.replace(cells[2], '<c r="C3"><f t="shared" si="0"/><v>8</v></c>')
    d1 = re.findall(r'<c r="D1"[^>]*>.*?</c>', sheet)
    assert len(d1) == 1, d1
    sheet = sheet.replace(d1[0], '<c r="D1"><f t="array" ref="D1:D3">Data!B1:B3/10</f><v>3</v></c>')
    entries["xl/worksheets/sheet1.xml"] = sheet.encode()
    # The document properties list the sheets and the print area, as the application writes them.
    entries["docProps/app.xml"] = (
        '<Properties xmlns="http://schemas.openxmlformats.org/officeDocument/2006/extended-properties" '
        'xmlns:vt="http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes">'
        '<Application>Microsoft Excel</Application><HeadingPairs><vt:vector size="4" baseType="variant">'
        '<vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant><vt:variant><vt:i4>2</vt:i4></vt:variant>'
        '<vt:variant><vt:lpstr>Named Ranges</vt:lpstr></vt:variant><vt:variant><vt:i4>1</vt:i4></vt:variant>'
        '</vt:vector></HeadingPairs><TitlesOfParts><vt:vector size="3" baseType="lpstr">'
        '<vt:lpstr>Summary</vt:lpstr><vt:lpstr>Data</vt:lpstr><vt:lpstr>Data!Print_Area</vt:lpstr>'
        '</vt:vector></TitlesOfParts><AppVersion>16.0300</AppVersion></Properties>').encode()
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for n, b in entries.items():
            z.writestr(n, b)


def local(tag):
    return tag.rsplit("}", 1)[-1]


FORMULA_ELEMENTS = {"f", "formula", "formula1", "formula2", "calculatedColumnFormula", "totalsRowFormula"}
FORMULA_ATTRIBUTES = {"location", "textlink", "fmlaLink", "fmlaRange", "fmlaTxbx", "fmlaGroup"}
PART_FOLDERS = ("xl/worksheets/", "xl/macrosheets/", "xl/charts/", "xl/tables/", "xl/drawings/",
                "xl/ctrlProps/", "xl/pivotCache/")


def texts(path):
    """Every text that may name a sheet, by a key that a rename does not change; plain sheet
    names (the sheet list, pivot sources, titles) under keys starting with "plain"."""
    out = {}
    book = openpyxl.load_workbook(path)
    for i, ws in enumerate(book.worksheets):
        for row in ws.iter_rows():
            for c in row:
                v = c.value
                if type(v).__name__ == "ArrayFormula":
                    v = v.text
                if isinstance(v, str) and v.startswith("="):
                    out["cell %d %s" % (i, c.coordinate)] = v
    with zipfile.ZipFile(path) as z:
        wb = ET.fromstring(z.read("xl/workbook.xml"))
        for i, s in enumerate(wb.iter(MAIN + "sheet")):
            out["plain sheet %d" % i] = s.get("name")
        for i, d in enumerate(wb.iter(MAIN + "definedName")):
            out["name %d %s" % (i, d.get("name"))] = d.text or ""
        for part in z.namelist():
            if not part.endswith(".xml") or not part.startswith(PART_FOLDERS):
                continue
            root = ET.parse(io.BytesIO(z.read(part))).getroot()
            cells_from_openpyxl = part.startswith(("xl/worksheets/", "xl/macrosheets/"))
            n = 0
            stack = [root]
            while stack:
                e = stack.pop()
                if cells_from_openpyxl and local(e.tag) == "sheetData":
                    continue
                for a, v in e.attrib.items():
                    if a in FORMULA_ATTRIBUTES:
                        out["attr %s %d" % (part, n)] = v
                        n += 1
                    elif a == "sheet":
                        out["plain attr %s %d" % (part, n)] = v
                        n += 1
                if local(e.tag) == "pivotSource":
                    for name in e:
                        if local(name.tag) == "name":
                            out["pivot %s %d" % (part, n)] = name.text or ""
                            n += 1
                if local(e.tag) in FORMULA_ELEMENTS or (part.startswith("xl/charts/") and local(e.tag) == "sqref"):
                    out["text %s %d" % (part, n)] = e.text or ""
                    n += 1
                stack.extend(reversed(list(e)))
        for part in z.namelist():
            if part.endswith(".rels"):
                for r in ET.fromstring(z.read(part)):
                    target = r.get("Target", "")
                    if target.startswith("#") and r.get("TargetMode") != "External":
                        out["link %s %s" % (part, r.get("Id"))] = target[1:]
        if "docProps/app.xml" in z.namelist():
            tp = ET.fromstring(z.read("docProps/app.xml")).find(EP + "TitlesOfParts/" + VT + "vector")
            for i, t in enumerate(tp if tp is not None else []):
                out["title %d" % i] = t.text or ""
        problems = package_problems(z)
    return out, problems


def quoted(name):
    if re.fullmatch(r"[^\W\d][\w.]*", name) and not re.fullmatch(r"[A-Za-z]{1,3}[0-9]+|[Rr][0-9]*[Cc]?[0-9]*|true|false",
                                                                  name, flags=re.IGNORECASE):
        return name
    return "'" + name.replace("'", "''") + "'"


PREFIX = re.compile(r"'((?:[^']|'')+)'!|(?<![\w.\]'])([^\W\d][\w.]*(?::[^\W\d][\w.]*)?)!")


def renamed(text, old, new):
    """The text with every sheet prefix (3-D spans too) that names `old` naming `new`; string
    literals stay."""

    def prefix(m):
        written = m.group(1).replace("''", "'") if m.group(1) is not None else m.group(2)
        if "[" in written:
            return m.group(0)
        names = written.split(":")
        if not any(n.lower() == old.lower() for n in names):
            return m.group(0)
        names = [new if n.lower() == old.lower() else n for n in names]
        if all(quoted(n) == n for n in names):
            return ":".join(names) + "!"
        return "'" + ":".join(names).replace("'", "''") + "'!"

    pieces = re.split(r'("(?:[^"]|"")*")', text)
    for i in range(0, len(pieces), 2):
        pieces[i] = PREFIX.sub(prefix, pieces[i])
    return "".join(pieces)


def renamed_pivot(text, old, new):
    """A pivot chart's source, "[Book]Sheet!PivotTable" or "'[Book]My sheet'!PivotTable"."""
    m = re.fullmatch(r"'\[([^\]]*)\]((?:[^']|'')*)'!(.*)", text)
    sheet = m.group(2).replace("''", "'") if m else None
    if not m:
        m = re.fullmatch(r"\[([^\]]*)\]([^!']*)!(.*)", text)
        sheet = m.group(2) if m else None
    if not m or sheet.lower() != old.lower():
        return text
    if quoted(new) == new:
        return "[%s]%s!%s" % (m.group(1), new, m.group(3))
    return "'[%s]%s'!%s" % (m.group(1), new.replace("'", "''"), m.group(3))


def compare(before, after, old, new):
    was, _ = texts(before)
    now, problems = texts(after)
    mismatches = []
    followed = 0
    changed = {}
    title_done = False
    for key, text in was.items():
        if key.startswith("plain"):
            expected = new if text.lower() == old.lower() else text
        elif key.startswith("pivot"):
            expected = renamed_pivot(text, old, new)
        elif key.startswith("title") and text == old and not title_done:
            expected, title_done = new, True
        else:
            expected = renamed(text, old, new)
        got = now.get(key)
        if got != expected:
            mismatches.append("%s: %r became %r, expected %r" % (key, text, got, expected))
        elif got != text:
            followed += 1
            changed[key] = got
    for key in now.keys() - was.keys():
        mismatches.append("%s: new text %r" % (key, now[key]))
    json.dump({"mismatches": mismatches, "followed": followed, "texts": changed, "problems": problems},
              sys.stdout)


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
    else:
        compare(*sys.argv[2:6])
