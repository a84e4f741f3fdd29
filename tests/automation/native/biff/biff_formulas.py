#!/usr/bin/python3
"""Lists the formulas of binary (.xls) workbooks as their stored tokens, with what is needed to
read them (sheet names, EXTERNSHEET entries, names, external names), and optionally the text
LibreOffice gives each formula when it converts the workbook to .xlsx.

Usage: biff_formulas.py OUT.json [--office[=MAXBYTES]] WORKBOOK-OR-FOLDER...
A folder stands for the .xls files directly inside it. With MAXBYTES only workbooks up to that
size go through LibreOffice, which takes most of the time.
The output is one JSON object per workbook: {"file", "skipped" or "sheets", "externSheets",
"names", "externNames", "formulas": [{"sheet", "row", "col", "rgce", "cce", "shared", "office"}]}.
Rows and columns are 0-based; rgce is hex and holds the tokens and their trailing data."""

import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import xml.etree.ElementTree as ET

try:
    from xlrd import compdoc
except ImportError:
    sys.stderr.write("python3-xlrd is missing\n")
    sys.exit(3)

BUILTIN_NAMES = {0x00: "Consolidate_Area", 0x01: "Auto_Open", 0x02: "Auto_Close", 0x03: "Extract",
                 0x04: "Database", 0x05: "Criteria", 0x06: "Print_Area", 0x07: "Print_Titles",
                 0x08: "Recorder", 0x09: "Data_Form", 0x0A: "Auto_Activate", 0x0B: "Auto_Deactivate",
                 0x0C: "Sheet_Title", 0x0D: "_FilterDatabase"}


def records(stream):
    """(id, data) pairs; CONTINUE records are joined to the record they continue."""
    pos, out = 0, []
    while pos + 4 <= len(stream):
        rid, size = struct.unpack_from("<HH", stream, pos)
        data = stream[pos + 4:pos + 4 + size]
        pos += 4 + size
        if rid == 0x3C and out:
            out[-1] = (out[-1][0], out[-1][1] + data)
        else:
            out.append((rid, data))
    return out


def unicode_string(data, pos, cch):
    """Characters of an XLUnicodeString body at pos (flags byte first); returns (text, end)."""
    flags = data[pos]
    pos += 1
    if flags & 0x08:
        pos += 2
    if flags & 0x04:
        pos += 4
    if flags & 0x01:
        return data[pos:pos + 2 * cch].decode("utf-16-le", "replace"), pos + 2 * cch
    return data[pos:pos + cch].decode("latin-1"), pos + cch


def read_workbook(path):
    with open(path, "rb") as f:
        raw = f.read()
    doc = compdoc.CompDoc(raw, logfile=open(os.devnull, "w"))
    stream = None
    for name in ("Workbook", "Book"):
        try:
            stream = doc.get_named_stream(name)
        except Exception:
            stream = None
        if stream:
            break
    if not stream:
        return {"skipped": "no workbook stream"}
    recs = records(stream)
    if not recs or recs[0][0] != 0x809 or struct.unpack_from("<H", recs[0][1], 0)[0] != 0x600:
        return {"skipped": "not BIFF8"}
    sheets, supbooks, externsheets, names = [], [], [], []
    offsets = {}
    pos = 0
    # Map stream offsets of BOF records to record indexes, for BOUNDSHEET positions.
    index = 0
    while pos + 4 <= len(stream):
        rid, size = struct.unpack_from("<HH", stream, pos)
        if rid != 0x3C:
            offsets[pos] = index
            index += 1
        pos += 4 + size
    bound = []
    for rid, data in recs:
        if rid == 0x0A:
            break
        if rid == 0x2F:
            return {"skipped": "encrypted"}
        if rid == 0x85:
            offset, _, cch = struct.unpack_from("<IHB", data, 0)
            text, _ = unicode_string(data, 7, cch)
            bound.append((offset, text, data[5]))
        elif rid == 0x1AE:
            ctab, cch = struct.unpack_from("<HH", data, 0)
            if cch == 0x0401:
                supbooks.append({"self": True, "names": []})
            elif cch == 0x3A01:
                supbooks.append({"addin": True, "names": []})
            else:
                book, p = unicode_string(data, 4, cch)
                tabs = []
                for _ in range(ctab):
                    n = struct.unpack_from("<H", data, p)[0]
                    t, p = unicode_string(data, p + 2, n)
                    tabs.append(t)
                book = re.sub(r"^[\x01\x02\x03\x05]", "", book)
                supbooks.append({"book": book.split("\x03")[-1].split("\x02")[-1], "sheets": tabs, "names": []})
        elif rid == 0x23 and supbooks:
            cch = data[6]
            text, _ = unicode_string(data, 7, cch)
            supbooks[-1]["names"].append(text)
        elif rid == 0x17:
            count = struct.unpack_from("<H", data, 0)[0]
            for i in range(count):
                externsheets.append(struct.unpack_from("<HHH", data, 2 + 6 * i))
        elif rid == 0x18:
            grbit, _, cch, _, _, itab = struct.unpack_from("<HBBHHH", data, 0)
            text, _ = unicode_string(data, 14, cch)
            if grbit & 0x20 and text:
                text = BUILTIN_NAMES.get(ord(text[0]), text)
            names.append(text)

    sheet_names = [b[1] for b in bound]
    ext = []
    for isup, first, last in externsheets:
        sb = supbooks[isup] if isup < len(supbooks) else {}
        if sb.get("self"):
            if first >= len(sheet_names) or last >= len(sheet_names):
                ext.append({"deleted": True})
            else:
                ext.append({"first": sheet_names[first], "last": sheet_names[last]})
        elif "book" in sb:
            tabs = sb["sheets"]
            ext.append({"book": sb["book"], "first": tabs[first] if first < len(tabs) else "",
                        "last": tabs[last] if last < len(tabs) else ""})
        else:
            ext.append({"book": "", "first": "", "last": "", "addin": True})
    extnames = [sb["names"] for sb in supbooks]
    ext_supbook = [e[0] for e in externsheets]

    formulas = []
    for (offset, sheet, kind) in bound:
        if kind != 0 or offset not in offsets:
            continue
        # A shared or array formula is stored after the first cell that uses it, which ptgExp
        # names; that cell need not be the top left of the range.
        groups, cells, last = {}, [], None
        for rid, data in recs[offsets[offset] + 1:]:
            if rid == 0x0A:
                break
            if rid == 0x06 and len(data) >= 22:
                row, col = struct.unpack_from("<HH", data, 0)
                cce = struct.unpack_from("<H", data, 20)[0]
                cells.append((row, col, cce, data[22:]))
                last = (row, col)
            elif rid == 0x4BC and len(data) >= 10 and last:
                cce = struct.unpack_from("<H", data, 8)[0]
                groups[last] = (True, cce, data[10:])
            elif rid == 0x221 and len(data) >= 14 and last:
                cce = struct.unpack_from("<H", data, 12)[0]
                groups[last] = (False, cce, data[14:])
        for row, col, cce, rgce in cells:
            item = {"sheet": sheet, "row": row, "col": col, "cce": cce, "rgce": rgce.hex(), "shared": False}
            if cce == 5 and rgce[0] == 0x01:
                anchor = struct.unpack_from("<HH", rgce, 1)
                if anchor in groups:
                    is_shared, gcce, grgce = groups[anchor]
                    item.update(cce=gcce, rgce=grgce.hex(), shared=is_shared, array=not is_shared)
            formulas.append(item)
    return {"sheets": sheet_names, "externSheets": ext, "externSheetBooks": ext_supbook,
            "names": names, "externNames": extnames, "formulas": formulas}


def office_formulas(paths):
    """{(file, sheet, row, col): text} from LibreOffice's .xlsx conversion of each workbook."""
    out = {}
    work = tempfile.mkdtemp(prefix="biff-formulas-")
    try:
        profile = os.path.join(work, "profile")
        subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
                        "--convert-to", "xlsx", "--outdir", work] + paths,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600, check=False)
        ns = {"m": "http://schemas.openxmlformats.org/spreadsheetml/2006/main",
              "r": "http://schemas.openxmlformats.org/officeDocument/2006/relationships"}
        for path in paths:
            name = os.path.splitext(os.path.basename(path))[0] + ".xlsx"
            converted = os.path.join(work, name)
            if not os.path.exists(converted):
                continue
            with zipfile.ZipFile(converted) as z:
                wb = ET.fromstring(z.read("xl/workbook.xml"))
                rels = ET.fromstring(z.read("xl/_rels/workbook.xml.rels"))
                targets = {r.get("Id"): r.get("Target") for r in rels}
                for s in wb.find("m:sheets", ns):
                    target = targets.get(s.get("{%s}id" % ns["r"]), "")
                    part = "xl/" + target.lstrip("/").replace("xl/", "", 1)
                    if part not in z.namelist():
                        continue
                    root = ET.fromstring(z.read(part))
                    for c in root.iter("{%s}c" % ns["m"]):
                        f = c.find("m:f", ns)
                        if f is None or f.text is None:
                            continue
                        m = re.match(r"([A-Z]+)(\d+)$", c.get("r"))
                        col = 0
                        for ch in m.group(1):
                            col = col * 26 + ord(ch) - 64
                        out[(os.path.basename(path), s.get("name"), int(m.group(2)) - 1, col - 1)] = f.text
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return out


def main():
    args = sys.argv[1:]
    out_path = args.pop(0)
    office, max_bytes = False, None
    paths = []
    for a in args:
        if a.startswith("--office"):
            office = True
            if "=" in a:
                max_bytes = int(a.split("=", 1)[1])
            continue
        if os.path.isdir(a):
            paths += sorted(os.path.join(a, n) for n in os.listdir(a) if n.lower().endswith(".xls"))
        else:
            paths.append(a)
    books = []
    for path in paths:
        try:
            book = read_workbook(path)
        except Exception as e:  # a damaged container is reported, not fatal
            book = {"skipped": "unreadable: %s" % e}
        book["file"] = os.path.basename(path)
        books.append(book)
    if office:
        texts = office_formulas([p for p, b in zip(paths, books)
                                 if b.get("formulas") and (max_bytes is None or os.path.getsize(p) <= max_bytes)])
        for book in books:
            for f in book.get("formulas", []):
                key = (book["file"], f["sheet"], f["row"], f["col"])
                if key in texts:
                    f["office"] = texts[key]
    with open(out_path, "w", encoding="utf-8") as f:
        json.dump(books, f, ensure_ascii=False)


if __name__ == "__main__":
    main()
