#!/usr/bin/python3
"""corvane-cli against the file system: links, temporary files, owners, read-only files and
other runs. Workbooks are made and read back with openpyxl.

1. A folder reached through a link as well as directly is worked on once ("Hellox", never
   "Helloxx"); a link to a folder outside the chosen one is followed, once.
2. Temporary files a killed save left behind (ours by name) are removed and never opened as
   workbooks; any other file stays.
3. A replaced workbook keeps its owner, group and mode (as root: nobody:nogroup, 0664), with
   the engine and with LibreOffice.
4. A read-only workbook (mode 0444) is refused with the reason and stays byte-identical, with
   the engine and with LibreOffice.
5. A workbook that another run holds is waited for, then listed as "in use by another run" and
   left byte-identical; one released meanwhile is worked on. Two runs at once on one folder
   lose no change.

Usage: filesystem_oracle.py CORVANE_CLI
"""
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import warnings

import openpyxl

warnings.simplefilter("ignore")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from oraclecheck import OPEN_FAILED, check, digest, verdict  # noqa: E402


def make(path, text="Hello"):
    book = openpyxl.Workbook()
    book.active["A1"] = text
    book.save(path)


def a1(path):
    return openpyxl.load_workbook(path).active["A1"].value


def replace(cli, folder, *extra):
    p = subprocess.run([cli, "replace", "--folder", folder + os.sep, "--find", "Hello", "--replace", "Hellox"]
                       + list(extra), capture_output=True, text=True, timeout=600)
    return p.returncode, p.stdout, p.stderr


def links(cli, root):
    folder = os.path.join(root, "links")
    outside = os.path.join(root, "outside")
    os.makedirs(os.path.join(folder, "real"))
    os.makedirs(outside)
    make(os.path.join(folder, "real", "book.xlsx"))
    make(os.path.join(outside, "far.xlsx"))
    os.symlink(os.path.join(folder, "real"), os.path.join(folder, "alias"))
    os.symlink(os.path.join(folder, "real"), os.path.join(folder, "real", "again"))
    os.symlink(outside, os.path.join(folder, "out1"))
    os.symlink(outside, os.path.join(folder, "real", "out2"))
    status, out, err = replace(cli, folder)
    check(status == 0, f"links: exit status {status}: {err}")
    check(a1(os.path.join(folder, "real", "book.xlsx")) == "Hellox", "links: the workbook was not changed once")
    check(a1(os.path.join(outside, "far.xlsx")) == "Hellox", "links: the outside workbook was not changed once")
    check("查找2个Excel文件" in out, f"links: summary {out!r}")


def temporaries(cli, root):
    folder = os.path.join(root, "temps")
    os.makedirs(os.path.join(folder, "sub"))
    make(os.path.join(folder, "book.xlsx"))
    gone = subprocess.Popen(["/bin/true"])
    gone.wait()
    stale = [os.path.join(folder, ".corvane-save-%d-Ab12Cd" % gone.pid),
             os.path.join(folder, "sub", ".corvane-save-X1y2Z3.xls")]
    for path in stale:
        shutil.copy(os.path.join(folder, "book.xlsx"), path)
    others = [os.path.join(folder, "book.xlsx.fp7pfh"), os.path.join(folder, ".corvane-notes")]
    for path in others:
        with open(path, "w") as f:
            f.write("not ours")
    status, out, err = replace(cli, folder)
    check(status == 0, f"temporaries: exit status {status}: {err}")
    check(not any(".corvane-save" in line for line in out.splitlines()),
          f"temporaries: a temporary file was taken for a workbook: {out!r}")
    check(not any(os.path.exists(p) for p in stale), "temporaries: a stale temporary file is left")
    check(all(os.path.exists(p) for p in others), "temporaries: a file that is not ours was removed")
    left = [n for _, _, names in os.walk(folder) for n in names if n.startswith(".corvane-save")]
    check(not left, f"temporaries: the run left {left}")
    check(a1(os.path.join(folder, "book.xlsx")) == "Hellox", "temporaries: the workbook was not changed")


def owners_and_read_only(cli, root, server):
    folder = os.path.join(root, "owners-" + server)
    os.makedirs(folder)
    owned, read_only = os.path.join(folder, "owned.xlsx"), os.path.join(folder, "readonly.xlsx")
    make(owned)
    make(read_only)
    as_root = os.geteuid() == 0
    if as_root:
        os.chown(owned, 65534, 65534)
    os.chmod(owned, 0o664)
    os.chmod(read_only, 0o444)
    before = digest(read_only)
    status, out, err = replace(cli, folder, "--server", server)
    if server == "libreoffice" and any(why in err for why in ("not part of this build", "LibreOffice is not installed",
                                                              "LibreOffice could not be started")):
        print("skipped the LibreOffice half:", err.strip())
        return
    check(status == 0, f"{server}: exit status {status}: {err}")
    check(a1(owned) == "Hellox", f"{server}: the owned workbook was not changed")
    info = os.stat(owned)
    check(info.st_mode & 0o7777 == 0o664, f"{server}: mode became {oct(info.st_mode & 0o7777)}")
    if as_root:
        check((info.st_uid, info.st_gid) == (65534, 65534),
              f"{server}: owner became {info.st_uid}:{info.st_gid}")
    check(digest(read_only) == before, f"{server}: the read-only workbook was rewritten")
    check(os.stat(read_only).st_mode & 0o7777 == 0o444, f"{server}: the read-only workbook's mode changed")
    check(read_only + ": not saved: the file is read-only" in err, f"{server}: refusal not reported: {err!r}")
    check(read_only in open(os.path.join(folder, OPEN_FAILED), encoding="utf-8", errors="replace").read(),
          f"{server}: the read-only workbook is not in the open-failed list")


def other_runs(cli, root):
    folder = os.path.join(root, "held")
    os.makedirs(folder)
    held, released = os.path.join(folder, "held.xlsx"), os.path.join(folder, "released.xlsx")
    make(held)
    make(released)
    before = digest(held)
    with open(held, "rb") as h, open(released, "rb") as r:
        fcntl.flock(h, fcntl.LOCK_EX)
        fcntl.flock(r, fcntl.LOCK_EX)
        release = threading.Timer(1.0, fcntl.flock, (r, fcntl.LOCK_UN))
        release.start()
        status, out, err = replace(cli, folder)
        release.cancel()
        release.join()
    check(status == 0, f"held: exit status {status}: {err}")
    check(digest(held) == before, "held: a workbook another run holds was changed")
    check(held + ": in use by another run" in err, f"held: not reported: {err!r}")
    check(a1(released) == "Hellox", "held: the workbook released meanwhile was not changed")

    folder = os.path.join(root, "together")
    os.makedirs(folder)
    books = [os.path.join(folder, "b%02d.xlsx" % i) for i in range(24)]
    for book in books:
        make(book, "ea")
    runs = [subprocess.Popen([cli, "replace", "--folder", folder + os.sep, "--find", find, "--replace", to],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            for find, to in (("e", "E"), ("a", "A"))]
    errs = "".join(run.communicate(timeout=600)[1] for run in runs)
    for book in books:
        if book + ": in use by another run" not in errs:
            check(a1(book) == "EA", f"together: {book} holds {a1(book)!r}")


def main():
    cli = sys.argv[1]
    with tempfile.TemporaryDirectory() as root:
        os.chmod(root, 0o755)
        links(cli, root)
        temporaries(cli, root)
        owners_and_read_only(cli, root, "native")
        owners_and_read_only(cli, root, "libreoffice")
        other_runs(cli, root)
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
