#!/usr/bin/python3
"""corvane-cli --report and --dry-run over copies of corpus workbooks.

1. Every operation with the engine: a preview leaves every workbook byte-identical with its
   modification time, writes no result list and keeps the lists of an earlier run; the real
   run that follows reports exactly the records of the preview.
2. After a real replace, openpyxl's view of each changed workbook agrees with the report:
   every cell whose content changed has a record and every record names a changed cell.
3. The same preview and real run with LibreOffice on a small sample (.xls and .xlsx).
4. Both formats of one run hold the same records; the CSV starts with a byte-order mark.
5. A row deletion with the engine counts the formulas it adjusted on every sheet, and only those.

Usage: report_oracle.py CORVANE_CLI   (corpus from CORVANE_CORPUS_DIR)
"""
import csv
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import warnings
import zlib

import openpyxl

warnings.simplefilter("ignore")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from oraclecheck import MATCHED, OPEN_FAILED, UNMATCHED, check, digest, verdict  # noqa: E402

LISTS = (MATCHED, UNMATCHED, OPEN_FAILED)


def run(cli, *args):
    p = subprocess.run([cli, *args], capture_output=True, text=True, timeout=900)
    return p.returncode, p.stdout, p.stderr


def tiny_png(path):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    raw = b"".join(b"\0" + b"\xff\0\0" * 4 for _ in range(4))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 4, 4, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def state(folder):
    """Each file's bytes and modification time (nanoseconds)."""
    out = {}
    for name in sorted(os.listdir(folder)):
        p = os.path.join(folder, name)
        out[name] = (digest(p), os.stat(p).st_mtime_ns)
    return out


def records(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f]


def sample(corpus_dir, extensions, step, limit):
    names = sorted(n for n in os.listdir(corpus_dir) if n.lower().endswith(extensions)
                   and os.path.getsize(os.path.join(corpus_dir, n)) < 300_000)
    return names[::step][:limit]


def copy(corpus_dir, names, folder):
    os.makedirs(folder)
    for n in names:
        shutil.copyfile(os.path.join(corpus_dir, n), os.path.join(folder, n))
        os.chmod(os.path.join(folder, n), 0o644)


def preview_then_real(cli, corpus_dir, names, tmp, label, args):
    """Part 1 for one command line; returns the folder and the real run's records."""
    folder = os.path.join(tmp, label, "books") + "/"
    copy(corpus_dir, names, folder)
    # Lists of an earlier run, which a preview must neither delete nor replace.
    old_list = folder + MATCHED
    with open(old_list, "w") as f:
        f.write("earlier run\r\n")
    before = state(folder)
    dry = os.path.join(tmp, label, "dry.jsonl")
    status, out, err = run(cli, *args, "--folder", folder, "--dry-run", "--report", dry)
    if "LibreOffice" in err and ("not part of this build" in err or "not installed" in err
                                 or "could not be started" in err):
        print(f"{label}: skipped:", err.strip())
        return None, None
    check(status == 0, f"{label}: preview exit status {status}: {err}")
    check(state(folder) == before, f"{label}: the preview changed a file or its time")
    check(not any(os.path.exists(folder + n) for n in (UNMATCHED, OPEN_FAILED)),
          f"{label}: the preview wrote a result list")
    lines = out.strip().splitlines()
    check(bool(lines) and lines[-1].startswith("预览"), f"{label}: the summary does not say preview: {lines[-1:]}")
    real = os.path.join(tmp, label, "real.jsonl")
    status, out, err = run(cli, *args, "--folder", folder, "--report", real)
    check(status == 0, f"{label}: real run exit status {status}: {err}")
    dry_records, real_records = records(dry), records(real)
    check(dry_records == real_records,
          f"{label}: preview and real run differ: "
          f"{[r for r in dry_records if r not in real_records][:3]} / "
          f"{[r for r in real_records if r not in dry_records][:3]}")
    outcomes = [r for r in real_records if r["record"] == "workbook"]
    check(len(outcomes) == len(names), f"{label}: {len(outcomes)} outcome records for {len(names)} workbooks")
    changed = [r for r in outcomes if r["outcome"] == "changed"]
    check(bool(changed), f"{label}: the sample changed nothing, so it tests nothing")
    for r in outcomes:
        count = sum(1 for c in real_records if c["record"] == "change" and c["workbook"] == r["workbook"])
        check(count == r["changes"], f"{label}: {r['workbook']} counts {r['changes']} changes, has {count}")
    return folder, real_records


def snapshot(path):
    book = openpyxl.load_workbook(path)
    cells = {}
    for ws in book.worksheets:
        for row in ws.iter_rows():
            for c in row:
                if c.value is not None:
                    cells[(ws.title, c.coordinate)] = c.value
    return cells


def report_against_openpyxl(cli, corpus_dir, names, tmp):
    folder = os.path.join(tmp, "oracle") + "/"
    copy(corpus_dir, names, folder)
    before = {}
    for n in names:
        try:
            before[n] = snapshot(folder + n)
        except Exception:  # noqa: BLE001 - a workbook openpyxl cannot read is no oracle
            pass
    report = os.path.join(tmp, "oracle.jsonl")
    status, _, err = run(cli, "replace", "--folder", folder, "--find", "e", "--replace", "ë\"，\n",
                         "--server", "native", "--report", report)
    check(status == 0, f"oracle: exit status {status}: {err}")
    got = records(report)
    checked = 0
    for n, old in before.items():
        path = folder + n
        outcome = [r for r in got if r["record"] == "workbook" and r["workbook"] == path]
        if not outcome or outcome[0]["outcome"] != "changed":
            continue
        new = snapshot(path)
        seen = {k for k in set(old) | set(new) if old.get(k) != new.get(k)}
        said = {(r["sheet"], r["cell"]) for r in got if r["record"] == "change" and r["workbook"] == path}
        check(seen == said, f"oracle: {n}: changed but not reported {sorted(seen - said)[:5]}, "
                            f"reported but not changed {sorted(said - seen)[:5]}")
        for r in got:
            if r["record"] == "change" and r["workbook"] == path and isinstance(new.get((r["sheet"], r["cell"])), str) \
                    and r["change"] == "value":
                check(new[(r["sheet"], r["cell"])] == r["new"], f"oracle: {n} {r['cell']}: report says {r['new']!r}")
        checked += 1
    check(checked >= 3, f"oracle: only {checked} changed workbooks could be compared")


def both_formats(cli, corpus_dir, names, tmp):
    folder = os.path.join(tmp, "formats") + "/"
    copy(corpus_dir, names, folder)
    jsonl, csv_path = os.path.join(tmp, "f.jsonl"), os.path.join(tmp, "f.CSV")
    run(cli, "replace", "--folder", folder, "--find", "a", "--replace", "=x,\"y\"", "--dry-run", "--report", jsonl)
    run(cli, "replace", "--folder", folder, "--find", "a", "--replace", "=x,\"y\"", "--dry-run", "--report", csv_path)
    with open(csv_path, "rb") as f:
        data = f.read()
    check(data.startswith(b"\xef\xbb\xbf"), "formats: the CSV has no byte-order mark")
    rows = list(csv.DictReader(io.StringIO(data.decode("utf-8-sig"), newline="")))
    want = records(jsonl)
    check(len(rows) == len(want), f"formats: {len(rows)} CSV rows, {len(want)} JSON lines")

    def unguard(text):
        return text[1:] if text.startswith("'") else text
    for row, rec in zip(rows, want):
        for key in ("workbook", "sheet", "cell", "old", "new", "outcome", "reason"):
            if key in rec:
                check(unguard(row[key]) == rec[key], f"formats: {key}: CSV {row[key]!r}, JSON {rec[key]!r}")
    status, _, err = run(cli, "replace", "--folder", folder, "--find", "a", "--replace", "b",
                         "--report", os.path.join(tmp, "r.txt"))
    check(status == 2, f"formats: a report named .txt gave exit status {status}: {err}")


def adjusted_formulas(cli, tmp):
    folder = os.path.join(tmp, "adjusted") + "/"
    os.makedirs(folder)
    book = openpyxl.Workbook()
    one = book.active
    one.title = "One"
    for row in range(1, 6):
        one.cell(row, 1, f"v{row}")
    one["A3"] = "delete me"
    one["B1"] = "=A5"           # moves up with A5
    one["B2"] = "=SUM(A1:A5)"   # shrinks
    one["B4"] = "=1+1"          # refers to nothing that moves
    one["C3"] = "=A5"           # goes with its row, so it is not counted
    one["A7"] = "delete me"     # kept aside after the first deletion: no count of its own yet
    two = book.create_sheet("Two")
    two["A1"] = "=One!A4"       # points into the moved cells from elsewhere
    two["A2"] = "=One!A1"       # above the deleted row
    book.save(folder + "book.xlsx")
    report = os.path.join(tmp, "adjusted.jsonl")
    status, _, err = run(cli, "cells", "--mode", "delete-row", "--find", "delete me", "--folder", folder,
                         "--server", "native", "--report", report)
    check(status == 0, f"adjusted: exit status {status}: {err}")
    rows = [r for r in records(report) if r["record"] == "change"]
    check([(r["sheet"], r["cell"], r["change"], r["detail"]) for r in rows] ==
          [("One", "3:3", "row-deleted", "3 formulas adjusted"), ("One", "6:6", "row-deleted", "")],
          f"adjusted: {rows}")


def main():
    cli = sys.argv[1]
    corpus_dir = os.environ.get("CORVANE_CORPUS_DIR", "")
    if not os.path.isdir(corpus_dir):
        print("no corpus; skipped")
        return 77
    xlsx = sample(corpus_dir, (".xlsx", ".xlsm"), 5, 16)
    with tempfile.TemporaryDirectory() as tmp:
        picture = os.path.join(tmp, "p.png")
        tiny_png(picture)
        operations = {
            "replace": ["replace", "--find", "a", "--replace", "甲"],
            "fill-text": ["cells", "--mode", "fill-text", "--find", "e", "--right", "1", "--text", "新"],
            "change-formula": ["cells", "--mode", "change-formula", "--find", "A", "--in-formulas", "--text", "B"],
            "delete-row": ["cells", "--mode", "delete-row", "--find", "e", "--once-per-sheet"],
            "insert-column": ["cells", "--mode", "insert-column", "--find", "e", "--once-per-workbook"],
            "picture": ["picture", "--find", "e", "--once-per-sheet", "--picture", picture, "--delete-old"],
            "remove-sheet": ["remove-sheet"],
        }
        for label, args in operations.items():
            preview_then_real(cli, corpus_dir, xlsx, tmp, label, [*args, "--server", "native"])
        report_against_openpyxl(cli, corpus_dir, xlsx, tmp)
        both_formats(cli, corpus_dir, xlsx[:6], tmp)
        adjusted_formulas(cli, tmp)
        office = sample(corpus_dir, (".xls",), 7, 2) + xlsx[:1]
        preview_then_real(cli, corpus_dir, office, tmp, "libreoffice",
                          ["replace", "--find", "a", "--replace", "甲", "--server", "libreoffice"])
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
