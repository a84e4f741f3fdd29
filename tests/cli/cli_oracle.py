#!/usr/bin/python3
"""corvane-cli replace over real workbooks, checked with openpyxl.

1. Generated workbooks (half hold "needle", one of those read-only): every string constant afterwards equals its old
   text with each "needle" (any letter case) replaced; numbers and formulas elsewhere are
   unchanged; the unmatched workbooks are byte-identical; the lists name exactly the right
   workbooks, in CR LF lines (the read-only one as failed, on stderr as "path: reason" and not
   counted); the last line of output is the final summary.
2. A sample of the corpus (copied to a temporary folder): after replacing a word, the
   workbooks listed as changed open in openpyxl and hold the word in no string constant; the
   workbooks listed as unchanged are byte-identical; every failure is reported as
   "path: reason" and listed as failed.

Usage: cli_oracle.py CORVANE_CLI GEN_BENCH_CORPUS   (corpus from CORVANE_CORPUS_DIR)
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import warnings

import openpyxl

warnings.simplefilter("ignore")
MATCHED = "包含内容并成功修改的文件目录.txt"
UNMATCHED = "不包含内容无修改的文件目录.txt"
FAILED = "无法打开修改的文件目录(文件格式有误).txt"
failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
        print("FAIL:", message)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def cells(path):
    wb = openpyxl.load_workbook(path)
    out = {}
    for ws in wb.worksheets:
        for row in ws.iter_rows():
            for c in row:
                if c.value is not None:
                    out[(ws.title, c.coordinate)] = c.value
    return out


def read_list(folder, name):
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        return None
    data = open(path, "rb").read()
    lines = data.split(b"\r\n")
    check(lines[-1] == b"", f"{name} does not end in CR LF")
    check(all(b"\n" not in l and b"\r" not in l for l in lines), f"{name} has a bare line break")
    return [l.decode() for l in lines[:-1]]


def workbooks(folder):
    found = []
    for root, _dirs, files in os.walk(folder):
        for name in files:
            if name.lower().endswith((".xls", ".xlsx", ".xlsm")):
                found.append(os.path.join(root, name))
    return found


def run(cli, *args):
    p = subprocess.run([cli, *args], capture_output=True, text=True, timeout=600,
                       env={**os.environ, "CORVANE_TEXT_OPENER": "/bin/true"})
    return p.returncode, p.stdout.splitlines(), p.stderr.splitlines()


def generated(cli, gen):
    with tempfile.TemporaryDirectory() as tmp:
        folder = os.path.join(tmp, "books")
        subprocess.run(["/usr/bin/python3", gen, folder, "6", "12", "8", "2"], check=True)
        books = sorted(workbooks(folder))
        before = {b: cells(b) for b in books}
        sums = {b: digest(b) for b in books}
        holds = {b for b in books
                 if any(isinstance(v, str) and "needle" in v.lower() for v in before[b].values())}
        check(len(holds) == 3, f"generator made {len(holds)} matching workbooks, not 3")
        # A matching workbook that cannot be saved is reported as failed, not as modified.
        locked = sorted(holds)[0]
        os.chmod(locked, 0o444)
        holds.discard(locked)

        status, out, err = run(cli, "replace", "--folder", folder + "/", "--find", "NEEDLE",
                               "--replace", "针")
        check(status == 0, f"exit status {status}")
        check(len(err) == 1 and err[0].startswith(locked + ": "), f"errors {err}")
        check(len(out) == len(books) + 2, f"{len(out)} output lines for {len(books)} workbooks")
        check(sorted(out[:len(books)]) == books, "progress lines are not the workbook paths")
        check(re.fullmatch(r"查找修改2个Excel文件,耗时\d+秒。", out[-2] if len(out) > 1 else ""),
              f"first summary {out[-2:]}")
        check(re.fullmatch(r"查找6个Excel文件,包含查找内容有2个Excel文件,耗时\d+秒。", out[-1] if out else ""),
              f"final summary {out[-1:]}")
        check(sorted(read_list(folder + "/", MATCHED) or []) == sorted(holds), "matched list")
        check(sorted(read_list(folder + "/", UNMATCHED) or []) == sorted(set(books) - holds - {locked}),
              "unmatched list")
        check(read_list(folder + "/", FAILED) == [locked], "failed list")

        for b in books:
            if b not in holds:  # the locked one included
                check(digest(b) == sums[b], f"{b} changed although it did not match")
                continue
            after = cells(b)
            check(after.keys() == before[b].keys(), f"{b}: cells appeared or vanished")
            for key, old in before[b].items():
                new = after.get(key)
                if isinstance(old, str) and not old.startswith("="):
                    want = re.sub("needle", "针", old, flags=re.IGNORECASE)
                    check(new == want, f"{b} {key}: {old!r} became {new!r}, expected {want!r}")
                elif isinstance(old, str):
                    check(new == old, f"{b} {key}: formula {old!r} became {new!r}")
                else:
                    check(new == old, f"{b} {key}: {old!r} became {new!r}")


def xls_cells(path):
    """The values of an Excel 97-2003 workbook's cells by sheet and address, read with xlrd."""
    import xlrd
    book = xlrd.open_workbook(path)
    return {(s.name, r, c): s.cell_value(r, c) for s in book.sheets()
            for r in range(s.nrows) for c in range(s.ncols)}


def corpus(cli, corpus_dir):
    names = sorted(n for n in os.listdir(corpus_dir) if n.lower().endswith((".xlsx", ".xlsm", ".xls")))
    sample = names[::4]
    with tempfile.TemporaryDirectory() as tmp:
        folder = os.path.join(tmp, "corpus") + "/"
        os.makedirs(folder)
        for n in sample:
            shutil.copyfile(os.path.join(corpus_dir, n), os.path.join(folder, n))
        sums = {os.path.join(folder, n): digest(os.path.join(folder, n)) for n in sample}
        # The engine alone, read back by openpyxl (.xls by xlrd); the .xls files LibreOffice
        # serves in the default choice are checked by the routing tests.
        status, out, err = run(cli, "replace", "--folder", folder, "--find", "name", "--replace", "nom",
                               "--server", "native")
        check(status == 0, f"corpus: exit status {status}")
        check(bool(out) and out[-1].startswith("查"), f"corpus: last line {out[-1:]}")
        matched = read_list(folder, MATCHED) or []
        unmatched = read_list(folder, UNMATCHED) or []
        failed = read_list(folder, FAILED) or []
        check(sorted(matched + unmatched + failed) == sorted(sums), "corpus: lists do not cover the sample")
        reported = {line.split(": ", 1)[0] for line in err}
        check(reported == set(failed), f"corpus: stderr names {sorted(reported - set(failed))} "
                                       f"but lists {sorted(set(failed) - reported)}")
        for path in unmatched + [f for f in failed if f.lower().endswith(".xls")]:
            check(digest(path) == sums[path], f"corpus: {path} changed although not modified")
        for path in matched:
            try:
                after = xls_cells(path) if path.lower().endswith(".xls") else cells(path)
            except Exception as e:  # noqa: BLE001 - any failure to read is a finding
                check(False, f"corpus: {path} cannot be read after the run: {e}")
                continue
            left = [k for k, v in after.items()
                    if isinstance(v, str) and not v.startswith("=") and "name" in v.lower()]
            check(not left, f"corpus: {path} still holds the text in {left[:3]}")
        print(f"corpus sample: {len(sample)} workbooks, {len(matched)} changed, "
              f"{len(unmatched)} unchanged, {len(failed)} failed")


def statuses(cli):
    status, out, err = run(cli, "--version")
    check(status == 0 and out and out[0].startswith("corvane-cli "), f"--version: {status} {out}")
    status, out, err = run(cli, "replace", "--folder", "/nonexistent/corvane/", "--find", "a", "--replace", "b")
    check(status == 1 and err == ["文件夹不存在,请选择正确路径!"] and out == [], f"refusal: {status} {err}")
    status, out, err = run(cli, "replace", "--folder", "/tmp", "--find", "a", "--bogus")
    check(status == 2 and err and out == [], f"usage error: {status} {err}")


def main():
    cli, gen = sys.argv[1], sys.argv[2]
    statuses(cli)
    if not os.path.exists(gen):
        print(f"workbook generator {gen} missing; skipped")
        sys.exit(77)
    generated(cli, gen)
    corpus_dir = os.environ.get("CORVANE_CORPUS_DIR", "")
    if os.path.isdir(corpus_dir):
        corpus(cli, corpus_dir)
    else:
        print("corpus folder missing; corpus part skipped")
    print("FAILED" if failures else "OK", len(failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
