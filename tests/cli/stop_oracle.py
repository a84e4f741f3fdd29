#!/usr/bin/python3
"""Stopping corvane-cli replace in the middle of a run over many workbooks.

1. SIGINT: exit status 130, the summary notes the stop, every workbook is either
   byte-identical or completely changed and readable by openpyxl, and the matched list holds
   exactly the changed workbooks.
2. SIGTERM: the same with exit status 143.
3. SIGINT twice: the program ends at once (130), leaves no temporary file, and every workbook
   is again byte-identical or completely changed.
4. The same two with LibreOffice serving the workbooks (a few, when it is installed): a save
   in progress is waited for, or its temporary file removed, and LibreOffice ends too.

Usage: stop_oracle.py CORVANE_CLI
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import warnings

import openpyxl

warnings.simplefilter("ignore")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from oraclecheck import MATCHED, check, digest, verdict  # noqa: E402
COUNT = 150


def make_template(path):
    book = openpyxl.Workbook()
    sheet = book.active
    for row in range(1, 400):
        for column in range(1, 12):
            sheet.cell(row=row, column=column, value="old %d-%d" % (row, column))
    book.create_sheet("Second")["A1"] = "old"
    book.save(path)


def stop_run(cli, template, signals, count=COUNT, server="native"):
    folder = tempfile.mkdtemp(prefix="corvane-stop-")
    try:
        names = []
        for i in range(count):
            name = os.path.join(folder, "book%03d.xlsx" % i)
            shutil.copyfile(template, name)
            names.append(name)
        original = digest(template)
        p = subprocess.Popen([cli, "replace", "--folder", folder + os.sep, "--find", "old", "--replace", "new",
                              "--server", server],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        # The first progress line: the run has begun its workbooks.
        first = p.stdout.readline()
        check(first.strip().endswith(".xlsx"), "no progress line before the stop: %r" % first)
        taken = ""
        for i, s in enumerate(signals):
            if i > 0:
                # Signals sent back to back may arrive as one: wait until the first was taken.
                taken = p.stderr.readline()
            p.send_signal(s)
        out, err = p.communicate(timeout=300)
        err = taken + err
        lines = (first + out).splitlines()

        changed = []
        for name in names:
            if digest(name) == original:
                continue
            try:
                book = openpyxl.load_workbook(name)
                values = [c.value for ws in book.worksheets for row in ws.iter_rows() for c in row]
                ok = "new" in values and not any(isinstance(v, str) and "old" in v for v in values)
                check(ok, "%s is changed but not completely" % name)
            except Exception as e:  # noqa: BLE001 - any reader failure is the fault we look for
                check(False, "%s is changed and unreadable: %s" % (name, e))
            changed.append(name)
        leftovers = [f for f in os.listdir(folder) if not f.endswith(".xlsx") and not f.endswith(".txt")]
        check(not leftovers, "temporary files left behind: %s" % leftovers)
        check(len(changed) < count, "the run was not stopped before its end (%s)" % signals)
        print("%s %s: %d of %d workbooks changed" % (server, "+".join(s.name for s in signals), len(changed), count))
        listed = []
        if os.path.exists(os.path.join(folder, MATCHED)):
            with open(os.path.join(folder, MATCHED), "rb") as f:
                listed = [line for line in f.read().decode("utf-8").split("\r\n") if line]
        return p.returncode, lines, err, sorted(changed), sorted(listed)
    finally:
        shutil.rmtree(folder)


def main():
    cli = sys.argv[1]
    work = tempfile.mkdtemp(prefix="corvane-stop-template-")
    try:
        template = os.path.join(work, "template.xlsx")
        make_template(template)

        for s, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            code, lines, err, changed, listed = stop_run(cli, template, [s])
            check(code == status, "%s: exit status %d, expected %d (%s)" % (s.name, code, status, err))
            check(lines and lines[-1].startswith("已停止运行"),
                  "%s: the last line does not note the stop: %r" % (s.name, lines[-1:]))
            check(changed == listed, "%s: matched list %d entries, %d workbooks changed"
                  % (s.name, len(listed), len(changed)))

        code, lines, err, changed, listed = stop_run(cli, template, [signal.SIGINT, signal.SIGINT])
        check(code == 130, "second SIGINT: exit status %d (%s)" % (code, err))
        check("ended at once" in err, "second SIGINT: the program did not end at once (%s)" % err)

        if os.environ.get("CORVANE_SOFFICE"):
            code, lines, err, changed, listed = stop_run(cli, template, [signal.SIGINT], 6, "libreoffice")
            check(code == 130, "LibreOffice SIGINT: exit status %d (%s)" % (code, err))
            check(changed == listed, "LibreOffice: matched list %d entries, %d workbooks changed"
                  % (len(listed), len(changed)))
            code, lines, err, changed, listed = stop_run(
                cli, template, [signal.SIGINT, signal.SIGINT], 6, "libreoffice")
            check(code == 130, "LibreOffice second SIGINT: exit status %d (%s)" % (code, err))
    finally:
        shutil.rmtree(work)
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
