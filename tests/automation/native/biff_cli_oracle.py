#!/usr/bin/python3
"""corvane-cli --server native over Excel 97-2003 workbooks, read back with xlrd and olefile
(both independent of the engine), and a sample through LibreOffice.

1. Every corpus .xls the engine opens: a text of its own is replaced, and then
   - xlrd reads every sheet with the values expected (the others' untouched, the replaced ones
     changed as Python's case-insensitive replace changes them; a formula cell keeps its cached
     value or, rewritten, holds the empty text of a formula still to be calculated);
   - every stream but the workbook stream is byte-identical (olefile), and so is every record of
     the workbook stream outside the cells, the string table and the records holding stream
     positions or row and sheet bounds; those positions lead where they must;
   - what the engine refused (encrypted, BIFF5, damaged, formulas it cannot read or write back)
     is byte-identical.
2. A workbook made with xlwt whose shared string table spans several CONTINUE records, replaced
   so that old strings across the boundaries and many new ones (long, two bytes a character)
   are read back intact.
2b. Cells written into rows that held none, in a workbook with row blocks indexed by DBCELL and
   INDEX records and in one without: read back with xlrd and LibreOffice, every other record
   unchanged, and the blocks laid out as a spreadsheet application lays them out.
3. A workbook whose workbook stream carries a record length running past its end: refused as
   damaged, byte-identical, no crash.
4. Replacing inside the formulas of a workbook made with xlwt: found by their new text, and
   calculated by LibreOffice to the new results.
4a. Replacing inside the array formulas of a corpus workbook: each range's formula changes as a
   whole and is calculated by LibreOffice anew; one that cannot be written changes nothing.
4b. change-formula on a workbook made with xlwt: calculated by LibreOffice to the new results;
   a rewrite that does not compile refuses the workbook untouched.
5. Corpus workbooks whose SUM calls are rewritten (decompiled, replaced, compiled), by replace and
   by change-formula (shared formulas whose heads change written out cell by cell): LibreOffice
   calculates every sheet to the same values as before.
6. LibreOffice converts a sample of the changed workbooks to CSV holding the new texts.

Prints the figures (files, replaced, verified). Usage: biff_cli_oracle.py CORVANE_CLI
"""
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import warnings

import olefile
import xlrd
import xlwt

warnings.simplefilter("ignore")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../..", "tools"))
from oraclecheck import check, digest, verdict  # noqa: E402

CLI = sys.argv[1]
CORPUS = os.environ.get("CORVANE_CORPUS_DIR", "")
SOFFICE = os.environ.get("CORVANE_SOFFICE", "")
REPLACEMENT = "替换後"
LO_SAMPLE = 3


def run(folder, *args):
    env = dict(os.environ, CORVANE_TEXT_OPENER="/bin/true")
    p = subprocess.run([CLI] + list(args) + ["--folder", folder, "--server", "native"],
                       capture_output=True, text=True, timeout=300, env=env)
    check(p.returncode in (0, 1), "%s: exit status %d: %s" % (folder, p.returncode, p.stderr[-500:]))
    return p


def streams(path):
    with olefile.OleFileIO(path) as ole:
        return {"/".join(name): ole.openstream(name).read()
                for name in ole.listdir(streams=True, storages=False)}


def cells(path):
    book = xlrd.open_workbook(path, on_demand=False)
    return [(s.name, [[(c.ctype, c.value) for c in s.row(r)] for r in range(s.nrows)]) for s in book.sheets()]


def records(path):
    with olefile.OleFileIO(path) as ole:
        data = ole.openstream("Workbook").read()
    at, out = 0, []
    while at + 4 <= len(data):
        kind, length = struct.unpack_from("<HH", data, at)
        out.append((at, kind, data[at + 4:at + 4 + length]))
        at += 4 + length
    return out


# What an edit may rewrite: cell records and a formula's cached text, an array formula's record,
# the shared string table, and the records that hold stream positions or the bounds of rows and
# sheets.
REWRITTEN = {0x06, 0xFD, 0x203, 0x27E, 0xBD, 0x205, 0x201, 0xBE, 0x204, 0xD6, 0x207, 0x221,
             0xFC, 0xFF, 0x85, 0x20B, 0xD7, 0x208, 0x200}


def untouched_records(path):
    """The records no edit may change, in order, with their bodies."""
    out, owner = [], None
    for _, kind, body in records(path):
        if kind != 0x3C:
            owner = kind
        elif owner == 0xFC:
            continue  # a CONTINUE of the shared string table
        if kind not in REWRITTEN:
            out.append((kind, body))
    return out


def structure_faults(path):
    """Stream positions that do not lead where they must: a sheet entry to its BOF, the row index
    to DBCELL records, a DBCELL to its first ROW record and to each row's first cell."""
    recs = records(path)
    starts = {at: (kind, body) for at, kind, body in recs}
    faults = []
    for at, kind, body in recs:
        if kind == 0x85:
            target = struct.unpack_from("<I", body, 0)[0]
            if starts.get(target, (0,))[0] != 0x809:
                faults.append("sheet entry at %d -> %d" % (at, target))
        elif kind == 0x20B:
            for k in range(16, len(body) - 3, 4):
                target = struct.unpack_from("<I", body, k)[0]
                if starts.get(target, (0,))[0] != 0xD7:
                    faults.append("row index at %d -> %d" % (at, target))
        elif kind == 0xD7:
            first = at - struct.unpack_from("<I", body, 0)[0]
            if starts.get(first, (0,))[0] != 0x208:
                faults.append("DBCELL at %d -> %d" % (at, first))
                continue
            base = first + 20
            for k in range(4, len(body) - 1, 2):
                target = base + struct.unpack_from("<H", body, k)[0]
                if target not in starts:
                    faults.append("DBCELL at %d row %d -> %d" % (at, (k - 4) // 2, target))
                base = target
    return faults


CELL_RECORDS = {0x06, 0xFD, 0x203, 0x27E, 0xBD, 0x205, 0x201, 0xBE, 0x204, 0xD6}


def row_layout_faults(path):
    """Each sheet's rows as a spreadsheet application lays them out: every cell's row has a ROW
    record spanning its column, inside DIMENSIONS; a block's ROW records ascend, a block with a
    DBCELL holds at most 32, its DBCELL leads to its first ROW record and to each row's first cell;
    INDEX lists every DBCELL and bounds the rows with cells."""
    recs = records(path)
    faults = []
    sheets, cur, depth = [], None, 0
    for i, (at, kind, body) in enumerate(recs):
        if kind == 0x809:
            depth += 1
            if depth == 1 and i > 0:
                cur = []
                sheets.append(cur)
            continue
        if kind == 0x0A:
            depth -= 1
            continue
        if depth == 1 and cur is not None:
            cur.append((at, kind, body))
    for n, sheet in enumerate(sheets):
        rows = {}
        cells = []
        dims = index = None
        dbcells = []
        run = []
        blocks = []
        for k, (at, kind, body) in enumerate(sheet):
            if kind == 0x208:
                if not run or sheet[k - 1][1] != 0x208:
                    run = []
                    blocks.append(run)
                run.append((at, body))
                rows[struct.unpack_from("<H", body, 0)[0]] = struct.unpack_from("<HH", body, 2)
            elif kind in CELL_RECORDS:
                r, c = struct.unpack_from("<HH", body, 0)
                last = struct.unpack_from("<H", body, len(body) - 2)[0] if kind in (0xBD, 0xBE) else c
                cells.append((at, r, c, last))
            elif kind == 0x200:
                dims = struct.unpack_from("<IIHH", body, 0)
            elif kind == 0x20B:
                index = body
            elif kind == 0xD7:
                dbcells.append((at, body, run))
        for at, r, c, last in cells:
            if r not in rows:
                faults.append("sheet %d: cell R%dC%d has no ROW record" % (n, r + 1, c + 1))
            elif not (rows[r][0] <= c and last < rows[r][1]):
                faults.append("sheet %d: ROW %d spans %r, not column %d" % (n, r + 1, rows[r], c + 1))
            if dims and not (dims[0] <= r < dims[1] and dims[2] <= c and last < dims[3]):
                faults.append("sheet %d: DIMENSIONS %r leave out R%dC%d" % (n, dims, r + 1, c + 1))
        for block in blocks:
            numbers = [struct.unpack_from("<H", b, 0)[0] for _, b in block]
            if numbers != sorted(numbers):
                faults.append("sheet %d: ROW records out of order %r" % (n, numbers[:40]))
        starts = {at for at, _, _ in sheet}
        for at, body, block in dbcells:
            if len(block) > 32:
                faults.append("sheet %d: a block of %d rows" % (n, len(block)))
            if not block:
                continue
            if at - struct.unpack_from("<I", body, 0)[0] != block[0][0]:
                faults.append("sheet %d: DBCELL at %d does not lead to its first ROW" % (n, at))
            offsets = struct.unpack_from("<%dH" % ((len(body) - 4) // 2), body, 4)
            if len(offsets) != len(block):
                faults.append("sheet %d: DBCELL at %d has %d entries for %d rows" % (n, at, len(offsets), len(block)))
                continue
            base = block[0][0] + 20
            for (_, rb), off in zip(block, offsets):
                target = base + off
                r = struct.unpack_from("<H", rb, 0)[0]
                first = [a for a, cr, _, _ in cells if cr == r]
                if first and target != min(first):
                    faults.append("sheet %d: DBCELL at %d: row %d -> %d, not its first cell %d" % (n, at, r + 1, target, min(first)))
                base = target
        if index is not None:
            listed = [struct.unpack_from("<I", index, k)[0] for k in range(16, len(index) - 3, 4)]
            if listed != [at for at, _, _ in dbcells]:
                faults.append("sheet %d: INDEX lists %r, DBCELLs at %r" % (n, listed[:5], [a for a, _, _ in dbcells][:5]))
            lo, hi = struct.unpack_from("<II", index, 4)
            with_cells = sorted({r for _, r, _, _ in cells})
            if with_cells and not (lo <= with_cells[0] and with_cells[-1] < hi):
                faults.append("sheet %d: INDEX rows %d..%d leave out %d..%d" % (n, lo, hi, with_cells[0], with_cells[-1]))
    return faults


def pick_find_text(sheets):
    """Three letters of a text cell: no digit, wildcard or anything a number, a boolean or an
    error shows, so that only text cells can match."""
    for _, rows in sheets:
        for row in rows:
            for kind, value in row:
                if kind != xlrd.XL_CELL_TEXT:
                    continue
                for m in re.finditer(r"[A-Za-z]{3}", value):
                    piece = m.group(0)
                    if not any(piece.lower() in w for w in ("true", "false", "#value!", "#name?", "#ref!")):
                        return piece
    return None


def formula_cells(path):
    """(sheet name, row, column) of every FORMULA record, 0-based, from the records themselves."""
    recs = records(path)
    starts = {}
    for _, kind, body in recs:
        if kind == 0x85 and len(body) >= 8:
            cch, flags = body[6], body[7]
            raw = body[8:8 + (2 * cch if flags & 1 else cch)]
            starts[struct.unpack_from("<I", body, 0)[0]] = raw.decode("utf-16-le" if flags & 1 else "latin-1")
    out, sheet = set(), None
    for at, kind, body in recs:
        if kind == 0x809:
            sheet = starts.get(at, sheet)
        elif kind == 0x06 and len(body) >= 4 and sheet is not None:
            out.add((sheet, struct.unpack_from("<H", body, 0)[0], struct.unpack_from("<H", body, 2)[0]))
    return out


def formula_faults(got, original, formulas):
    """A formula cell keeps its cached value, or holds the empty text of a formula rewritten to be
    calculated on opening: its value must not be made up."""
    faults = []
    for (name, g), (_, o) in zip(got, original):
        for r, row in enumerate(o):
            for c, old in enumerate(row):
                if (name, r, c) not in formulas:
                    continue
                new = g[r][c] if r < len(g) and c < len(g[r]) else (xlrd.XL_CELL_EMPTY, "")
                if new != old and new != (xlrd.XL_CELL_TEXT, ""):
                    faults.append("%s!R%dC%d %r (was %r)" % (name, r + 1, c + 1, new, old))
    return faults


def expected(sheets, find, exact_case=False, formulas=frozenset()):
    """Replace finds its cells and its text regardless of case; change-text finds its cells so
    and replaces the text as written."""
    pattern = re.compile(re.escape(find), 0 if exact_case else re.IGNORECASE)
    out = []
    for name, rows in sheets:
        new_rows = []
        for r, row in enumerate(rows):
            new_rows.append([(kind, pattern.sub(REPLACEMENT, value))
                             if kind == xlrd.XL_CELL_TEXT and find.lower() in value.lower() and
                             (name, r, c) not in formulas else (kind, value)
                             for c, (kind, value) in enumerate(row)])
        out.append((name, new_rows))
    return out


def same_values(got, want, skip_sheets):
    """Differences, cell by cell; trailing empty cells do not count."""
    diffs = []
    if [n for n, _ in got] != [n for n, _ in want]:
        return ["sheet names %r != %r" % ([n for n, _ in got], [n for n, _ in want])]
    for (name, g), (_, w) in zip(got, want):
        if name in skip_sheets:
            continue
        rows = max(len(g), len(w))
        for r in range(rows):
            gr = g[r] if r < len(g) else []
            wr = w[r] if r < len(w) else []
            for c in range(max(len(gr), len(wr))):
                gv = gr[c] if c < len(gr) else (xlrd.XL_CELL_EMPTY, "")
                wv = wr[c] if c < len(wr) else (xlrd.XL_CELL_EMPTY, "")
                blank = (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK)
                if gv[0] in blank and wv[0] in blank:
                    continue
                if gv != wv:
                    diffs.append("%s!R%dC%d %r != %r" % (name, r + 1, c + 1, gv, wv))
    return diffs


def corpus_round(work):
    files = sorted(glob.glob(os.path.join(CORPUS, "*.xls")) + glob.glob(os.path.join(CORPUS, "*.XLS")))
    figures = {"files": len(files), "engine": 0, "replaced": 0, "change_text": 0, "verified": 0, "refused": 0,
               "cells": 0}
    changed = []
    for n, source in enumerate(files):
        folder = os.path.join(work, "c%02d" % n)
        os.makedirs(folder)
        path = os.path.join(folder, os.path.basename(source))
        shutil.copyfile(source, path)
        before = digest(path)
        try:
            original = cells(path)
        except Exception:  # noqa: BLE001 - xlrd cannot read it: only the refusal is checked
            original = None
        find = pick_find_text(original) if original else None
        if not find:
            p = run(folder, "replace", "--find", "zzqq", "--replace", REPLACEMENT)
            if p.stderr.strip():
                figures["refused"] += 1
                check(digest(path) == before, "%s: refused yet changed" % source)
            continue
        p = run(folder, "replace", "--find", find, "--replace", REPLACEMENT)
        exact_case = False
        refused_sheets = set(re.findall(r'sheet "([^"]+)": could not (?:replace|write)', p.stderr))
        if digest(path) == before:
            if p.stderr.strip() and not refused_sheets:
                figures["refused"] += 1
            continue
        figures["engine"] += 1
        figures["change_text" if exact_case else "replaced"] += 1
        got = cells(path)
        # Formula cells are searched in their formula text; what became of them is checked apart.
        formulas = formula_cells(source)
        faults = formula_faults(got, original, formulas)
        check(not faults, "%s: formula cells with made-up values: %s" % (source, faults[:3]))
        olds = dict(original)
        for name, rows in got:
            for r, row in enumerate(rows):
                for c in range(len(row)):
                    if (name, r, c) in formulas and r < len(olds.get(name, [])) and c < len(olds[name][r]):
                        row[c] = olds[name][r][c]
        # A locked cell of a protected sheet is refused: such sheets are checked only for what
        # must not change (names, and the cells' count).
        diffs = same_values(got, expected(original, find, exact_case, formulas), refused_sheets)
        check(not diffs, "%s: %d cell(s) differ, first %s" % (source, len(diffs), diffs[:3]))
        check(untouched_records(path) == untouched_records(source),
              "%s: a record outside the cells, the string table and the positions changed" % source)
        faults = structure_faults(path)
        check(len(faults) <= len(structure_faults(source)),
              "%s: stream positions no longer lead where they must: %s" % (source, faults[:3]))
        old_streams = streams(source)
        new_streams = streams(path)
        others = {k for k in old_streams if k.lower() != "workbook"}
        check({k for k in new_streams if k.lower() != "workbook"} == others,
              "%s: the streams are not the same set" % source)
        for name in others:
            check(new_streams.get(name) == old_streams[name], "%s: stream %s changed" % (source, name))
        if not diffs:
            figures["verified"] += 1
            figures["cells"] += sum(1 for (_, rows) in original for row in rows for kind, v in row
                                    if kind == xlrd.XL_CELL_TEXT and find.lower() in v.lower())
            changed.append((path, find))
    return figures, changed


def continue_round(work):
    """Strings across CONTINUE boundaries, old and new."""
    folder = os.path.join(work, "sst")
    os.makedirs(folder)
    path = os.path.join(folder, "strings.xls")
    book = xlwt.Workbook()
    sheet = book.add_sheet("长表")
    texts = []
    for r in range(1500):
        # Long, some two bytes a character, so that strings straddle the CONTINUE records.
        text = ("row%04d-" % r) + ("abcdefghij" * (r % 7 + 1)) + ("数据" * (r % 3))
        texts.append(text)
        sheet.write(r, 0, text)
        sheet.write(r, 1, r * 1.5)
    book.save(path)
    before = streams(path)
    check(len(before["Workbook"]) > 3 * 8224, "the test workbook's strings are too short to need CONTINUE")
    run(folder, "replace", "--find", "cde", "--replace", "Ω" * 40)
    got = cells(path)[0][1]
    for r, text in enumerate(texts):
        want = text.replace("cde", "Ω" * 40)
        check(got[r][0] == (xlrd.XL_CELL_TEXT, want), "strings.xls row %d: %r != %r" % (r + 1, got[r][0], want))
        check(got[r][1] == (xlrd.XL_CELL_NUMBER, r * 1.5), "strings.xls row %d: the number changed" % (r + 1))
    # A second run appends to a table that already spans records it wrote itself.
    run(folder, "replace", "--find", "row", "--replace", "行")
    got = cells(path)[0][1]
    for r, text in enumerate(texts):
        want = text.replace("cde", "Ω" * 40).replace("row", "行")
        check(got[r][0] == (xlrd.XL_CELL_TEXT, want), "strings.xls second run row %d" % (r + 1))


def corpus_copy(work, name, folder_name, file_name):
    """A writable copy of corpus workbook `name` as work/folder_name/file_name: (folder, path),
    path None when the corpus lacks it."""
    source = os.path.join(CORPUS, name)
    if not os.path.isfile(source):
        return None, None
    folder = os.path.join(work, folder_name)
    os.makedirs(folder)
    path = os.path.join(folder, file_name)
    shutil.copyfile(source, path)
    os.chmod(path, 0o644)
    return folder, path


def run_round(work):
    """Cells inside a MULRK run, and a new cell in a row that has cells."""
    folder, path = corpus_copy(work, "sheetjs__LONumbers.xls", "mulrk", "numbers.xls")
    if not path:
        print("MULRK round skipped: no corpus")
        return
    runs = [(at, body) for at, kind, body in records(path) if kind == 0xBD]
    check(runs, "numbers.xls holds no MULRK any more")
    row, first = struct.unpack_from("<HH", runs[0][1], 0)
    last = struct.unpack_from("<H", runs[0][1], len(runs[0][1]) - 2)[0]
    check(last - first >= 3, "numbers.xls: the first MULRK is too short for the test")
    before = cells(path)
    middle = first + 2
    name = lambda c: "%s%d" % (chr(ord("A") + c), row + 1)  # noqa: E731
    run(folder, "cells", "--mode", "fill-text", "--cells", "%s,%s,%s" % (name(middle), name(first), "T%d" % (row + 1)),
        "--text", "42")
    want = [(n, [list(r) for r in rows]) for n, rows in before]
    grid = want[0][1]
    for c in (middle, first, 19):
        while len(grid[row]) <= c:
            grid[row].append((xlrd.XL_CELL_EMPTY, ""))
        grid[row][c] = (xlrd.XL_CELL_NUMBER, 42.0)
    diffs = same_values(cells(path), want, set())
    check(not diffs, "numbers.xls: %d cell(s) differ, first %s" % (len(diffs), diffs[:3]))
    kinds = [(struct.unpack_from("<H", body, 2)[0], kind) for at, kind, body in records(path)
             if kind in (0xBD, 0x27E, 0x203) and len(body) >= 4 and struct.unpack_from("<H", body, 0)[0] == row]
    # The run is split round the written cells: the cell before the middle one alone becomes an
    # RK, the rest of the run stays a MULRK.
    check((first, 0x203) in kinds and (first + 1, 0x27E) in kinds and (middle, 0x203) in kinds and
          (middle + 1, 0xBD) in kinds and (19, 0x203) in kinds, "numbers.xls: records %r" % kinds)
    check(not structure_faults(path), "numbers.xls: %s" % structure_faults(path)[:3])


def new_rows_round(work):
    """Cells written into rows that hold none: a row with a ROW record but no cells, rows inside
    and between existing blocks of rows, a new block, rows past the last, the sheet's last row;
    in a workbook with DBCELL and INDEX records (from the corpus) and in one without (xlwt)."""
    folder = os.path.join(work, "rows")
    os.makedirs(folder)
    made = os.path.join(folder, "made.xls")
    book = xlwt.Workbook()
    sheet = book.add_sheet("S")
    for r in (0, 1, 2, 5, 40, 41, 70):
        sheet.write(r, 0, "r%d" % r)
        sheet.write(r, 2, r * 1.5)
    sheet.row(10).height = 500  # a ROW record without cells
    sheet.row(10).height_mismatch = True
    book.add_sheet("Empty")
    book.save(made)
    paths = [made]
    source = os.path.join(CORPUS, "poi__FormulaEvalTestData.xls")
    if os.path.isfile(source):
        paths.append(os.path.join(folder, "blocks.xls"))
        shutil.copyfile(source, paths[-1])
        os.chmod(paths[-1], 0o644)
    targets = ["B2", "D4", "B11", "C40", "A33", "E65", "F200", "AA5000", "IV65536"]
    originals = {p: (cells(p), untouched_records(p), len(row_layout_faults(p))) for p in paths}
    p = run(folder, "cells", "--mode", "fill-text", "--cells", ",".join(targets), "--text", "新行")
    check(not p.stderr.strip(), "new rows: %s" % p.stderr[-300:])
    for path in paths:
        before, kept, faults = originals[path]
        want = [(n, [list(r) for r in rows]) for n, rows in before]
        for _, grid in want:
            for target in targets:
                m = re.match(r"([A-Z]+)(\d+)", target)
                col = 0
                for ch in m.group(1):
                    col = col * 26 + ord(ch) - 64
                row, col = int(m.group(2)) - 1, col - 1
                while len(grid) <= row:
                    grid.append([])
                while len(grid[row]) <= col:
                    grid[row].append((xlrd.XL_CELL_EMPTY, ""))
                grid[row][col] = (xlrd.XL_CELL_TEXT, "新行")
        diffs = same_values(cells(path), want, set())
        check(not diffs, "%s: %d cell(s) differ, first %s" % (path, len(diffs), diffs[:3]))
        check(untouched_records(path) == kept, "%s: a record outside the cells and rows changed" % path)
        now = row_layout_faults(path)
        check(len(now) <= faults, "%s: rows laid out wrongly: %s" % (path, now[:3]))
    if SOFFICE:
        lines = libreoffice_csv(work, made, "rows-csv")
        check(len(lines) >= 200 and lines[199].split(",")[5:6] == ["新行"] and lines[10].split(",")[1:2] == ["新行"],
              "made.xls as LibreOffice reads it: %r" % lines[:12])


def hostile_round(work):
    """A record whose length runs past the stream's end."""
    folder = os.path.join(work, "hostile")
    os.makedirs(folder)
    path = os.path.join(folder, "hostile.xls")
    book = xlwt.Workbook()
    book.add_sheet("S").write(0, 0, "hello")
    book.save(path)
    with olefile.OleFileIO(path, write_mode=True) as ole:
        data = bytearray(ole.openstream("Workbook").read())
        # The last record before the final EOF claims 0xFFFF bytes.
        at = len(data) - 4
        while at > 0 and data[at:at + 2] != b"\x0a\x00":
            at -= 1
        data[at + 2:at + 4] = b"\xff\xff"
        ole.write_stream("Workbook", bytes(data))
    before = digest(path)
    p = run(folder, "replace", "--find", "hello", "--replace", "bye")
    check("damaged" in p.stderr, "hostile.xls: not refused as damaged: %r" % p.stderr[-300:])
    check(digest(path) == before, "hostile.xls: changed")


def libreoffice_csv(work, path, name):
    """The first sheet as LibreOffice shows it after opening (and so recalculating) the file."""
    out = os.path.join(work, name)
    os.makedirs(out)
    profile = tempfile.mkdtemp(prefix="lo-profile-")
    try:
        p = subprocess.run([SOFFICE, "-env:UserInstallation=file://" + profile, "--headless",
                            "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76", "--outdir", out, path],
                           capture_output=True, text=True, timeout=180)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    csvs = glob.glob(os.path.join(out, "*.csv"))
    check(p.returncode == 0 and csvs, "%s: LibreOffice did not convert it" % path)
    return open(csvs[0], encoding="utf-8").read().splitlines() if csvs else []


def formula_round(work):
    """Replacing inside formulas: the new formulas are written as tokens of their own, and a
    spreadsheet application opening the file calculates them."""
    folder = os.path.join(work, "formulas")
    os.makedirs(folder)
    path = os.path.join(folder, "formulas.xls")
    book = xlwt.Workbook()
    calc = book.add_sheet("Calc")
    data = book.add_sheet("Data")
    for r in range(5):
        data.write(r, 0, r + 1)
        data.write(r, 1, (r + 1) * 10)
    data.write(0, 3, "label")
    calc.write(0, 0, xlwt.Formula("SUM(Data!A1:A5)"))
    calc.write(1, 0, xlwt.Formula("Data!B2*2"))
    calc.write(2, 0, xlwt.Formula('"x"&Data!D1'))
    calc.write(3, 0, xlwt.Formula('IF(Data!B2>25,"big","small")'))
    calc.write(4, 0, "see Data!B2")
    book.save(path)
    # Retyping a function name leaves the formula as it is stored: nothing is written.
    untouched = digest(path)
    for args in (("replace", "--find", "sum(", "--replace", "Sum("),
                 ("cells", "--mode", "change-formula", "--find", "SUM(", "--text", "sum(")):
        p = run(folder, *args)
        check(digest(path) == untouched and not p.stderr.strip(),
              "formulas.xls: %s retyping a function name rewrote the file: %r" % (args[0], p.stderr[-300:]))
    before = streams(path)
    p = run(folder, "replace", "--find", "SUM(", "--replace", "MAX(")
    check(not p.stderr.strip(), "formulas.xls: %s" % p.stderr[-300:])
    p = run(folder, "replace", "--find", "Data!B2", "--replace", "Data!B4")
    check(not p.stderr.strip(), "formulas.xls: %s" % p.stderr[-300:])
    got = cells(path)
    check([n for n, _ in got] == ["Calc", "Data"], "formulas.xls: sheets %r" % [n for n, _ in got])
    check(got[0][1][4][0] == (xlrd.XL_CELL_TEXT, "see Data!B4"), "formulas.xls: A5 %r" % (got[0][1][4][0],))
    for name in before:
        if name.lower() != "workbook":
            check(streams(path).get(name) == before[name], "formulas.xls: stream %s changed" % name)
    # A list-only search finds the new text in the formulas, and no longer the old one.
    p = run(folder, "replace", "--find", "MAX(Data!A1:A5)", "--list-only")
    check("包含查找内容有1个" in p.stdout, "formulas.xls: the new formula is not found: %r" % p.stdout[-300:])
    p = run(folder, "replace", "--find", "SUM(", "--list-only")
    check("包含查找内容有1个" not in p.stdout, "formulas.xls: the old formula is still found: %r" % p.stdout[-300:])
    if not SOFFICE:
        print("formula LibreOffice check skipped")
        return
    lines = libreoffice_csv(work, path, "formulas-csv")
    check(lines[:4] == ["5", "80", "xlabel", "big"], "formulas.xls as LibreOffice calculates it: %r" % lines[:5])


def change_formula_round(work):
    """change-formula through the engine: each located formula compiled anew and calculated by
    LibreOffice to its new result; a rewrite that does not compile leaves the workbook to another
    server before anything is saved."""
    folder = os.path.join(work, "change")
    os.makedirs(folder)
    book = xlwt.Workbook()
    calc = book.add_sheet("Calc")
    data = book.add_sheet("Data")
    for r in range(5):
        data.write(r, 0, r + 1)
        data.write(r, 1, (r + 1) * 10)
    calc.write(0, 0, xlwt.Formula("SUM(Data!A1:A5)"))
    calc.write(1, 0, xlwt.Formula("Data!B2*2"))
    calc.write(2, 0, xlwt.Formula('IF(Data!B2>25,"big","small")'))
    calc.write(3, 0, "Data!B2 stays text")
    path = os.path.join(folder, "change.xls")
    book.save(path)
    refused = os.path.join(work, "change-refused")
    os.makedirs(refused)
    shutil.copyfile(path, os.path.join(refused, "change.xls"))
    p = run(folder, "cells", "--mode", "change-formula", "--find", "Data!B2", "--text", "Data!B4")
    check(not p.stderr.strip(), "change.xls: %s" % p.stderr[-300:])
    got = cells(path)[0][1]
    check(got[1][0] == (xlrd.XL_CELL_TEXT, "") and got[2][0] == (xlrd.XL_CELL_TEXT, ""),
          "change.xls: the rewritten formulas keep a result: %r" % got[:3])
    check(got[3][0] == (xlrd.XL_CELL_TEXT, "Data!B4 stays text"), "change.xls: A4 %r" % (got[3][0],))
    before = digest(os.path.join(refused, "change.xls"))
    p = run(refused, "cells", "--mode", "change-formula", "--find", "SUM(", "--text", "'[other.xls]S'!A1+SUM(")
    check("unsupported on .xls" in p.stderr and digest(os.path.join(refused, "change.xls")) == before,
          "change.xls with a formula the engine cannot write: %r" % p.stderr[-300:])
    if SOFFICE:
        lines = libreoffice_csv(work, path, "change-csv")
        check(lines[:4] == ["15", "80", "big", "Data!B4 stays text"], "change.xls as LibreOffice calculates it: %r" % lines[:5])


def array_round(work):
    """Replacing inside array formulas: the formula of the whole range changes at once (its
    ARRAY record) and LibreOffice calculates every cell of it anew; a replacement that does not
    compile leaves all of it as it was."""
    folder, path = corpus_copy(work, "poi__MatrixFormulaEvalTestData.xls", "arrays", "arrays.xls")
    if not path:
        print("array round skipped: no corpus")
        return
    before = digest(path)
    p = run(folder, "replace", "--find", "B2:D4 + E2:G4", "--replace", "B2:D4 + '[o.xls]S'!E2:G4")
    check("could not replace in cell H2" in p.stderr and digest(path) == before,
          "arrays.xls: an array formula that cannot be written changed: %r" % p.stderr[-300:])
    original = cells(path)
    p = run(folder, "replace", "--find", "+", "--replace", "-")
    check("could not replace" not in p.stderr, "arrays.xls: %s" % p.stderr[-300:])
    got = cells(path)
    # Every cell of the 3x3 range H42:J44 (B42-E42 entered over it) lost its cached result.
    for r in range(41, 44):
        for c in range(7, 10):
            check(original[0][1][r][c] == (xlrd.XL_CELL_NUMBER, 2.0) and got[0][1][r][c] == (xlrd.XL_CELL_TEXT, ""),
                  "arrays.xls R%dC%d: %r, was %r" % (r + 1, c + 1, got[0][1][r][c], original[0][1][r][c]))
    if SOFFICE:
        lines = libreoffice_csv(work, path, "arrays-csv")
        for n in (41, 42, 43):
            check(lines[n].split(",")[7:10] == ["0", "0", "0"], "arrays.xls row %d as LibreOffice calculates it: %r"
                  % (n + 1, lines[n][:60]))
        check(lines[61].split(",")[7:10] == ["0", "0", "#N/A"], "arrays.xls row 62: %r" % lines[61][:60])


# Corpus workbooks whose formulas call SUM: plain cells, cells heading shared formulas, add-in calls,
# references into other sheets (15228). bench/bench_xls_recompile.py rewrites every formula of
# the corpus.
RECOMPILED = ["poi__34775.xls", "sheetjs__formula_stress_test.xls", "poi__ConditionalFormattingSamples.xls",
              "poi__15228.xls"]
VOLATILE = re.compile(r"NOW|RAND|TODAY", re.IGNORECASE)


def all_sheets_csv(work, paths, name):
    """Every sheet of each workbook as LibreOffice calculates it, by file name and sheet."""
    out = os.path.join(work, name)
    os.makedirs(out)
    profile = tempfile.mkdtemp(prefix="lo-profile-")
    try:
        subprocess.run([SOFFICE, "-env:UserInstallation=file://" + profile, "--headless", "--convert-to",
                        "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1",
                        "--outdir", out] + paths, capture_output=True, text=True, timeout=400)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    return {f: [line for line in open(os.path.join(out, f), encoding="utf-8", errors="replace").read().splitlines()
                if not VOLATILE.search(line)] for f in sorted(os.listdir(out))}


def recompile_round(work):
    """Formulas rewritten through decompile, replace, compile (here only the letter case of SUM
    changes, so every result must stay): LibreOffice calculates the same values as before."""
    sources = [os.path.join(CORPUS, f) for f in RECOMPILED if os.path.isfile(os.path.join(CORPUS, f))]
    if not SOFFICE or not sources:
        print("recompile round skipped")
        return 0
    folder = os.path.join(work, "recompiled")
    os.makedirs(folder)
    for source in sources:
        shutil.copyfile(source, os.path.join(folder, os.path.basename(source)))
    paths = sorted(os.path.join(folder, f) for f in os.listdir(folder))
    before = {p: digest(p) for p in paths}
    run(folder, "replace", "--find", "sum(", "--replace", "Sum(")
    # And through change-formula, which also writes out the shared formulas whose heads change:
    # one more argument of 0 leaves every sum as it was.
    p = run(folder, "cells", "--mode", "change-formula", "--find", "=SUM(", "--text", "=SUM(0,")
    check("unsupported" not in p.stderr, "recompile: change-formula refused: %s" % p.stderr[-300:])
    changed = [p for p in paths if digest(p) != before[p]]
    check(len(changed) == len(paths), "recompile: only %d of %d workbooks changed" % (len(changed), len(paths)))
    want = all_sheets_csv(work, sources, "recompile-before")
    got = all_sheets_csv(work, paths, "recompile-after")
    check(set(got) == set(want), "recompile: sheets %r != %r" % (sorted(got), sorted(want)))
    for sheet, lines in want.items():
        diffs = [(n + 1, a, b) for n, (a, b) in enumerate(zip(got.get(sheet, []), lines)) if a != b]
        check(not diffs and len(got.get(sheet, [])) == len(lines),
              "recompile %s: LibreOffice calculates other values, first %r" % (sheet, diffs[:2]))
    return len(changed)


def libreoffice_round(work, changed):
    if not SOFFICE or not changed:
        print("LibreOffice sample skipped")
        return 0
    profile = tempfile.mkdtemp(prefix="lo-profile-")
    done = 0
    try:
        for path, find in changed[:LO_SAMPLE]:
            out = os.path.join(work, "csv%d" % done)
            os.makedirs(out)
            p = subprocess.run([SOFFICE, "-env:UserInstallation=file://" + profile, "--headless",
                                "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76", "--outdir", out, path],
                               capture_output=True, text=True, timeout=180)
            csvs = glob.glob(os.path.join(out, "*.csv"))
            check(p.returncode == 0 and csvs, "%s: LibreOffice did not convert it" % path)
            if not csvs:
                continue
            text = open(csvs[0], encoding="utf-8", errors="replace").read()
            first = cells(path)[0][1]
            wanted = [v for row in first for kind, v in row if kind == xlrd.XL_CELL_TEXT and REPLACEMENT in v]
            for v in wanted[:20]:
                check(v.splitlines()[0] in text, "%s: LibreOffice does not show %r" % (path, v[:60]))
            done += 1
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    return done


def main():
    work = tempfile.mkdtemp(prefix="biff-oracle-")
    try:
        figures, changed = corpus_round(work) if CORPUS and os.path.isdir(CORPUS) else ({}, [])
        continue_round(work)
        run_round(work)
        new_rows_round(work)
        hostile_round(work)
        formula_round(work)
        change_formula_round(work)
        array_round(work) if CORPUS and os.path.isdir(CORPUS) else None
        figures["recompiled"] = recompile_round(work) if CORPUS and os.path.isdir(CORPUS) else 0
        figures["libreoffice"] = libreoffice_round(work, changed)
        print("figures:", " ".join("%s=%s" % kv for kv in figures.items()))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
