#!/usr/bin/python3
"""Reads a workbook after a sheet was deleted, independently of the engine.

  sheet_removal_check.py IN.xlsx   stdout: JSON with
    sheets      sheet names in order (openpyxl)
    formulas    {sheet: {address: formula text}} of every formula cell
    names       [[name, text, localSheetId or null], ...] from workbook.xml
    activeTab, firstSheet, selected (names of sheets whose first view has tabSelected)
    titles      the TitlesOfParts of docProps/app.xml
    problems    package faults: relationship targets that are missing, parts without a content
                type, content-type overrides for missing parts, app.xml counts that disagree
"""
import json
import posixpath
import re
import sys
import warnings
import zipfile
from xml.etree import ElementTree as ET

import openpyxl

warnings.simplefilter("ignore")
MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
REL = "{http://schemas.openxmlformats.org/package/2006/relationships}"
ODREL = "{http://schemas.openxmlformats.org/officeDocument/2006/relationships}"
CT = "{http://schemas.openxmlformats.org/package/2006/content-types}"
VT = "{http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes}"
EP = "{http://schemas.openxmlformats.org/officeDocument/2006/extended-properties}"


def rels_name(part):
    folder, name = posixpath.split(part)
    return posixpath.join(folder, "_rels", name + ".rels")


def package_problems(z):
    names = set(z.namelist())
    problems = []
    for n in names:
        if not n.endswith(".rels"):
            continue
        folder = posixpath.dirname(posixpath.dirname(n))
        for r in ET.fromstring(z.read(n)).iter(REL + "Relationship"):
            if r.get("TargetMode") == "External":
                continue
            t = r.get("Target").split("#")[0]
            if not t:
                continue
            target = t[1:] if t.startswith("/") else posixpath.normpath(posixpath.join(folder, t))
            if target not in names:
                problems.append("missing target %s in %s" % (target, n))
    types = ET.fromstring(z.read("[Content_Types].xml"))
    defaults = {d.get("Extension").lower() for d in types.iter(CT + "Default")}
    overrides = {o.get("PartName").lstrip("/") for o in types.iter(CT + "Override")}
    for o in overrides:
        if o not in names:
            problems.append("override without part %s" % o)
    for n in names:
        if n.endswith("/") or n == "[Content_Types].xml":
            continue
        if n not in overrides and n.rsplit(".", 1)[-1].lower() not in defaults:
            problems.append("no content type for %s" % n)
    if "docProps/app.xml" in names:
        app = ET.fromstring(z.read("docProps/app.xml"))
        hp = app.find(EP + "HeadingPairs/" + VT + "vector")
        tp = app.find(EP + "TitlesOfParts/" + VT + "vector")
        if hp is not None and tp is not None:
            counts = [int(v.find(VT + "i4").text) for v in hp if v.find(VT + "i4") is not None]
            if int(hp.get("size")) != len(list(hp)) or int(tp.get("size")) != len(list(tp)):
                problems.append("app.xml vector size disagrees with its items")
            if sum(counts) != len(list(tp)):
                problems.append("app.xml heading counts disagree with the titles")
    return problems


def main(path):
    out = {}
    book = openpyxl.load_workbook(path)
    out["sheets"] = book.sheetnames
    formulas = {}
    for ws in book.worksheets:
        cells = {}
        for row in ws.iter_rows():
            for c in row:
                v = c.value
                if isinstance(v, str) and v.startswith("="):
                    cells[c.coordinate] = v
                elif v is not None and type(v).__name__ == "ArrayFormula":
                    cells[c.coordinate] = v.text
        formulas[ws.title] = cells
    out["formulas"] = formulas
    with zipfile.ZipFile(path) as z:
        wb = ET.fromstring(z.read("xl/workbook.xml"))
        out["names"] = [[d.get("name"), d.text, d.get("localSheetId")] for d in wb.iter(MAIN + "definedName")]
        view = wb.find(MAIN + "bookViews/" + MAIN + "workbookView")
        out["activeTab"] = int(view.get("activeTab", "0")) if view is not None else 0
        out["firstSheet"] = int(view.get("firstSheet", "0")) if view is not None else 0
        rels = {r.get("Id"): r.get("Target") for r in
                ET.fromstring(z.read("xl/_rels/workbook.xml.rels")).iter(REL + "Relationship")}
        selected = []
        for s in wb.iter(MAIN + "sheet"):
            t = rels[s.get(ODREL + "id")]
            part = t[1:] if t.startswith("/") else posixpath.normpath(posixpath.join("xl", t))
            data = z.read(part).decode("utf-8", "replace")
            head = data.split("sheetData")[0]
            if re.search(r'tabSelected="(1|true)"', head):
                selected.append(s.get("name"))
        out["selected"] = selected
        out["problems"] = package_problems(z)
        titles = []
        if "docProps/app.xml" in z.namelist():
            tp = ET.fromstring(z.read("docProps/app.xml")).find(EP + "TitlesOfParts/" + VT + "vector")
            if tp is not None:
                titles = [t.text or "" for t in tp]
        out["titles"] = titles
        out["entries"] = sorted(z.namelist())
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main(sys.argv[1])
