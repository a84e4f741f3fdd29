#!/usr/bin/python3
"""corvane-cli --backup and undo over real workbooks made and read with openpyxl.

1. replace --backup DIR: the changed workbooks' originals lie in DIR below their place in the
   walked tree, byte for byte, and the manifest names each with its size and both digests;
   the untouched workbook has no copy.
2. One changed workbook is changed again after the run; undo DIR puts back the exact original
   bytes of the others, leaves that one as it is and reports it (exit status 1).
3. A backup folder inside the walked folder, or one that already holds a backup, is refused
   before anything is changed.
4. A backup that cannot be written: the workbook is not saved and is listed as failed.

Usage: backup_oracle.py CORVANE_CLI
"""
import hashlib
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import warnings

import openpyxl

warnings.simplefilter("ignore")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from oraclecheck import OPEN_FAILED, check, verdict  # noqa: E402


def read(path):
    with open(path, "rb") as f:
        return f.read()


def make(path, text):
    book = openpyxl.Workbook()
    book.active["A1"] = text
    book.active["B2"] = 42
    book.save(path)


def run(cli, *args):
    p = subprocess.run([cli] + list(args), capture_output=True, text=True, timeout=300)
    return p.returncode, p.stdout, p.stderr


def main():
    cli = sys.argv[1]
    work = tempfile.mkdtemp(prefix="corvane-backup-")
    try:
        folder = os.path.join(work, "books")
        os.makedirs(os.path.join(folder, "sub"))
        books = {name: os.path.join(folder, name) for name in ("a.xlsx", "sub/b.xlsx", "c.xlsx")}
        make(books["a.xlsx"], "old a")
        make(books["sub/b.xlsx"], "old b")
        make(books["c.xlsx"], "nothing here")
        originals = {name: read(path) for name, path in books.items()}
        backup = os.path.join(work, "backup")

        # 3. Refusals before anything happens.
        code, _, err = run(cli, "replace", "--folder", folder + os.sep, "--find", "old", "--replace", "new",
                           "--backup", os.path.join(folder, "keep"))
        check(code == 1 and "inside" in err, "a backup inside the folder was not refused: %d %s" % (code, err))
        check(all(read(p) == originals[n] for n, p in books.items()), "a refused run changed a workbook")

        # 1. The run with a backup.
        code, out, err = run(cli, "replace", "--folder", folder + os.sep, "--find", "old", "--replace", "new",
                             "--backup", backup)
        check(code == 0, "backup run: exit status %d (%s)" % (code, err))
        check(backup in out, "the summary does not name the backup folder: %s" % out)
        for name in ("a.xlsx", "sub/b.xlsx"):
            copy = os.path.join(backup, name)
            check(os.path.exists(copy) and read(copy) == originals[name], "%s: backup differs" % name)
            check(openpyxl.load_workbook(books[name]).active["A1"].value.startswith("new"),
                  "%s was not changed" % name)
        check(not os.path.exists(os.path.join(backup, "c.xlsx")), "an unchanged workbook was copied")
        entries = {}
        with open(os.path.join(backup, "manifest.jsonl"), encoding="utf-8") as f:
            for line in f:
                entry = json.loads(line)
                entries.setdefault(entry["path"], {}).update(entry)
        for name in ("a.xlsx", "sub/b.xlsx"):
            entry = entries.get(books[name], {})
            check(entry.get("size") == len(originals[name])
                  and entry.get("sha256") == hashlib.sha256(originals[name]).hexdigest()
                  and entry.get("savedSha256") == hashlib.sha256(read(books[name])).hexdigest(),
                  "%s: manifest entry wrong: %s" % (name, entry))

        # A second run into the same backup folder would overwrite the originals' copies.
        code, _, err = run(cli, "replace", "--folder", folder + os.sep, "--find", "new", "--replace", "x",
                           "--backup", backup)
        check(code == 1 and "already" in err, "a used backup folder was not refused: %d %s" % (code, err))

        # 2. Changed after the run, then undo.
        book = openpyxl.load_workbook(books["sub/b.xlsx"])
        book.active["C3"] = "edited by hand"
        book.save(books["sub/b.xlsx"])
        edited = read(books["sub/b.xlsx"])
        code, out, err = run(cli, "undo", backup)
        check(code == 1, "undo with a refused workbook: exit status %d" % code)
        check(read(books["a.xlsx"]) == originals["a.xlsx"], "a.xlsx was not restored byte for byte")
        check(read(books["sub/b.xlsx"]) == edited, "the workbook changed after the run was overwritten")
        check(books["sub/b.xlsx"] in err and "changed since the run" in err, "the refusal is not reported: %s" % err)
        check(read(books["c.xlsx"]) == originals["c.xlsx"], "c.xlsx changed")
        check(sorted(os.listdir(folder)) == sorted(["a.xlsx", "c.xlsx", "sub", "包含内容并成功修改的文件目录.txt",
                                                    "不包含内容无修改的文件目录.txt"]),
              "files left beside the workbooks: %s" % os.listdir(folder))
        check(os.path.exists(os.path.join(backup, "a.xlsx")), "undo deleted a backup")
        # Again: a.xlsx is already as it was, b.xlsx still refused.
        code, out, err = run(cli, "undo", backup)
        check(code == 1 and "already as before the run: " + books["a.xlsx"] in out,
              "a second undo: %d %s %s" % (code, out, err))
        check(read(books["a.xlsx"]) == originals["a.xlsx"] and read(books["sub/b.xlsx"]) == edited,
              "a second undo changed a workbook")

        # 4. A backup folder that cannot be created: nothing is saved, the workbook is listed.
        blocked = os.path.join(work, "blocked")
        with open(blocked, "w") as f:
            f.write("a file, not a folder")
        before = read(books["a.xlsx"])
        code, out, err = run(cli, "replace", "--folder", folder + os.sep, "--find", "old", "--replace", "new",
                             "--backup", os.path.join(blocked, "inner"))
        check(read(books["a.xlsx"]) == before, "a workbook was saved without its backup")
        check(books["a.xlsx"] in err, "the failed backup is not reported: %s" % err)
        failed = os.path.join(folder, OPEN_FAILED)
        check(os.path.exists(failed) and books["a.xlsx"] in read(failed).decode("utf-8"),
              "the workbook is not in the open-failed list")
    finally:
        for root, dirs, files in os.walk(work):
            for d in dirs:
                os.chmod(os.path.join(root, d), stat.S_IRWXU)
        shutil.rmtree(work)
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
