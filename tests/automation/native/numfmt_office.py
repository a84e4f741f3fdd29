#!/usr/bin/python3
"""LibreOffice's text for every number-formatted cell of some workbooks.

Usage: numfmt_office.py WORKDIR [--per-file N] FILE... [--whole FILE...]

With --per-file, at most N cells of each file are taken, except of the files after --whole.

A cell counts when it holds a number (a constant, or a formula with a cached number) and its
style names a number format other than General (id 0). The cells are picked from the package
itself, without the engine. LibreOffice runs with the zh-CN locale, the locale the program's
users have, so that the locale-dependent built-in formats (short dates) read as they see them.

Prints one line per cell: "file<TAB>sheet<TAB>cell<TAB>cached value<TAB>text<TAB>source", where
source is "cell" (the cell's own getString()) or "formatter" (LibreOffice recalculated the cell on
load, so its own text is of another value: the cached value is formatted with the cell's number
format instead). A file LibreOffice cannot load gives "file<TAB>-<TAB>-<TAB>-<TAB>-<TAB>unloaded".
"""
import os
import posixpath
import re
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from office import Office  # noqa: E402

LOCALE_XCU = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema"
 xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooSetupSystemLocale" oor:op="fuse"><value>zh-CN</value></prop></item>
<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooLocale" oor:op="fuse"><value>en-US</value></prop></item>
</oor:items>
"""

NS = r"(?:[A-Za-z_][\w.-]*:)?"


def attribute(tag, name):
    m = re.search(r"\s%s=\"([^\"]*)\"" % name, tag)
    return m.group(1) if m else None


def styles_with_formats(z, names):
    """Indexes of the cell formats (cellXfs) whose number format is not General."""
    part = next((n for n in names if n.lower() == "xl/styles.xml"), None)
    if part is None:
        return set()
    text = z.read(part).decode("utf-8", "replace")
    m = re.search(r"<%scellXfs\b[^>]*>(.*?)</%scellXfs>" % (NS, NS), text, re.S)
    if not m:
        return set()
    out = set()
    for i, xf in enumerate(re.finditer(r"<%sxf\b([^>]*)" % NS, m.group(1))):
        fid = attribute(xf.group(1), "numFmtId")
        if fid and fid.strip() not in ("", "0"):
            out.add(i)
    return out


def sheets(z, names):
    """(name, part) of every sheet, in workbook order."""
    rels_text = z.read("xl/_rels/workbook.xml.rels").decode("utf-8", "replace")
    targets = {}
    for rel in re.finditer(r"<%sRelationship\b([^>]*)" % NS, rels_text):
        rid, target = attribute(rel.group(1), "Id"), attribute(rel.group(1), "Target")
        if rid and target:
            targets[rid] = target.lstrip("/") if target.startswith("/") else posixpath.normpath("xl/" + target)
    wb = z.read("xl/workbook.xml").decode("utf-8", "replace")
    out = []
    for s in re.finditer(r"<%ssheet\b([^>]*)" % NS, wb):
        name = attribute(s.group(1), "name")
        rid = re.search(r"\s\w+:id=\"([^\"]*)\"", s.group(1))
        part = targets.get(rid.group(1)) if rid else None
        out.append((unescape(name or ""), part if part in names else None))
    return out


def unescape(s):
    return (s.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"").replace("&apos;", "'")
            .replace("&amp;", "&"))


CELL = re.compile(r"<%sc\b([^>]*?)(?:/>|>(.*?)</%sc>)" % (NS, NS), re.S)
VALUE = re.compile(r"<%sv>([^<]*)</%sv>" % (NS, NS))


def formatted_cells(path, per_file):
    z = zipfile.ZipFile(path)
    names = set(z.namelist())
    formatted = styles_with_formats(z, names)
    if not formatted:
        return []
    out = []
    for index, (name, part) in enumerate(sheets(z, names)):
        if part is None or not part.startswith("xl/worksheets/"):
            continue
        text = z.read(part).decode("utf-8", "replace")
        for c in CELL.finditer(text):
            attrs, body = c.group(1), c.group(2) or ""
            kind = attribute(attrs, "t")
            if kind not in (None, "n"):
                continue
            style = attribute(attrs, "s")
            if style is None or not style.isdigit() or int(style) not in formatted:
                continue
            v = VALUE.search(body)
            ref = attribute(attrs, "r")
            if not v or not ref:
                continue
            try:
                float(v.group(1))
            except ValueError:
                continue
            out.append((index, name, ref, v.group(1)))
            if per_file and len(out) >= per_file:
                return out
    return out


def main():
    args = sys.argv[1:]
    workdir = args.pop(0)
    per_file = 0
    if args and args[0] == "--per-file":
        per_file = int(args[1])
        args = args[2:]
    jobs = []
    limit = per_file
    for path in args:
        if path == "--whole":
            limit = 0
            continue
        try:
            cells = formatted_cells(path, limit)
        except Exception:  # noqa: BLE001 - a package Python cannot read has no cells to compare
            continue
        if cells:
            jobs.append((path, cells))
    if not jobs:
        return
    os.makedirs(os.path.join(workdir, "profile", "user"), exist_ok=True)
    with open(os.path.join(workdir, "profile", "user", "registrymodifications.xcu"), "w") as f:
        f.write(LOCALE_XCU)
    office = Office(workdir, pipe_prefix="corvane_numfmt")
    try:
        for path, cells in jobs:
            base = os.path.basename(path)
            try:
                doc = office.load(path)
            except Exception:  # noqa: BLE001
                doc = None
            if doc is None:
                print("%s\t-\t-\t-\t-\tunloaded" % base, flush=True)
                continue
            try:
                formatter = None
                all_sheets = doc.getSheets()
                for index, name, ref, raw in cells:
                    if index >= all_sheets.getCount():
                        continue
                    cell = all_sheets.getByIndex(index).getCellRangeByName(ref)
                    cached = float(raw)
                    if abs(cell.getValue() - cached) <= 1e-9 * max(1.0, abs(cached)):
                        text, source = cell.getString(), "cell"
                    else:
                        if formatter is None:
                            smgr = office.context.ServiceManager
                            formatter = smgr.createInstanceWithContext("com.sun.star.util.NumberFormatter",
                                                                       office.context)
                            formatter.attachNumberFormatsSupplier(doc)
                        text, source = formatter.convertNumberToString(cell.NumberFormat, cached), "formatter"
                    print("%s\t%s\t%s\t%s\t%s\t%s" % (base, name, ref, raw, clean(text), source), flush=True)
            finally:
                doc.close(True)
    finally:
        office.close()


def clean(text):
    return text.replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


if __name__ == "__main__":
    main()
