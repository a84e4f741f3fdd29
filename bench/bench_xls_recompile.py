#!/usr/bin/python3
"""compile(decompile(tokens)) over every formula of the corpus .xls workbooks the engine serves:
corvane-biffrecompile rewrites each formula cell through the engine's replace (decompiled, its
letters outside quotes lowered, compiled again, saved), and LibreOffice calculates every
rewritten formula cell before and after (calculateAll over UNO, so that both sides are
LibreOffice's own results, not the values cached in the file). Slow (minutes): a benchmark, not
a test; the cli.biff_oracle test keeps a sample of four workbooks. Protected sheets are
unprotected in both copies first, so that their formulas are rewritten too.

usage: bench/bench_xls_recompile.py [BUILD_DIR] [CORPUS_DIR]
  BUILD_DIR defaults to build/ beside this folder; CORPUS_DIR to $CORVANE_CORPUS_DIR, else
  ../shared/corpus beside the repository. CORVANE_RECOMPILE_DIFFS=FILE keeps every differing
  cell. Prints the figures: workbooks, formula cells and what became of them, cells compared,
  equal and differing by reason."""
import collections
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "tools"))
from office import Office  # noqa: E402

# Results that change from one calculation to the next (RANDBETWEEN also as the add-in LibreOffice
# names ...ANALYSIS.GETRANDBETWEEN), or with the file's place.
VOLATILE = re.compile(r"(\bNOW|\bTODAY|\bRAND|RANDBETWEEN)\(", re.IGNORECASE)
PLACE = re.compile(r"\b(CELL|INFO)\(", re.IGNORECASE)


def lift_protection(path):
    """Clears the sheets' PROTECT records in place (same stream size), so that the formulas of
    protected sheets are rewritten too; LibreOffice calculates them alike either way. Returns
    whether the workbook had any."""
    try:
        import olefile
        with olefile.OleFileIO(path, write_mode=True) as ole:
            if not ole.exists("Workbook"):
                return False
            data = bytearray(ole.openstream("Workbook").read())
            at, lifted = 0, False
            while at + 4 <= len(data):
                kind, length = struct.unpack_from("<HH", data, at)
                if kind == 0x0012 and length == 2 and data[at + 4:at + 6] != b"\0\0":
                    data[at + 4:at + 6] = b"\0\0"
                    lifted = True
                at += 4 + length
            if lifted:
                ole.write_stream("Workbook", bytes(data))
            return lifted
    except Exception:  # noqa: BLE001 - not a compound file the engine would serve anyway
        return False


def recompile(driver, paths):
    p = subprocess.run([driver] + paths, capture_output=True, text=True, timeout=1800)
    if p.returncode != 0:
        sys.exit("corvane-biffrecompile failed: %s" % p.stderr[-500:])
    rows = []
    for line in p.stdout.splitlines():
        c = line.split("\t")
        if len(c) >= 6:
            rows.append((c[0], c[1], int(c[2]), int(c[3]), c[4], c[5]))
    return rows


def results(office, path, cells):
    """{(sheet, row, column): (error, value, formula)} as LibreOffice calculates the file. Values
    come a sheet area at a time (a call per cell over the bridge takes minutes); a cell whose value
    reads as an empty text is asked for its error code."""
    doc = office.load(path)
    if doc is None:
        return None
    out = {}
    by_sheet = collections.defaultdict(list)
    for sheet, row, column in cells:
        by_sheet[sheet].append((row, column))
    try:
        doc.calculateAll()
        sheets = doc.getSheets()
        for sheet, where in by_sheet.items():
            if not sheets.hasByName(sheet):
                continue
            grid = sheets.getByName(sheet)
            top, left = min(r for r, _ in where), min(c for _, c in where)
            bottom, right = max(r for r, _ in where), max(c for _, c in where)
            area = grid.getCellRangeByPosition(left - 1, top - 1, right - 1, bottom - 1)
            data, formulas = area.getDataArray(), area.getFormulaArray()
            for row, column in where:
                value = data[row - top][column - left]
                error = 0
                if value == "" or value is None:
                    error = grid.getCellByPosition(column - 1, row - 1).getError()
                out[(sheet, row, column)] = (error, value, formulas[row - top][column - left])
    finally:
        doc.close(True)
    return out


def same(a, b):
    if a[0] != b[0]:
        return False
    if isinstance(a[1], float) and isinstance(b[1], float):
        return a[1] == b[1] or abs(a[1] - b[1]) <= 1e-12 * max(abs(a[1]), abs(b[1]))
    return a[1] == b[1]


def reason(before, after):
    if VOLATILE.search(before[2]):
        return "volatile function (NOW, TODAY, RAND, RANDBETWEEN)"
    if PLACE.search(before[2]):
        return "CELL or INFO (the file's path)"
    if "#REF!" in before[2] and before[2].count("#REF!") > after[2].count("#REF!"):
        # The text shows a reference that lost its target as #REF!, which compiles to the error
        # constant the application stores for a typed #REF!; LibreOffice loads error constants
        # as nothing (Err:520), as it does in the workbooks the application saved.
        return "#REF! reference recompiled as an error constant, which LibreOffice drops"
    return "unexplained"


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build")
    corpus = sys.argv[2] if len(sys.argv) > 2 else (
        os.environ.get("CORVANE_CORPUS_DIR") or os.path.join(HERE, "..", "..", "shared", "corpus"))
    driver = os.path.join(build, "bin", "corvane-biffrecompile")
    if not os.access(driver, os.X_OK):
        sys.exit("no corvane-biffrecompile in %s/bin: build it first" % build)
    sources = sorted(glob.glob(os.path.join(corpus, "*.xls")) + glob.glob(os.path.join(corpus, "*.XLS")))
    if not sources:
        sys.exit("no .xls workbooks in %s" % corpus)

    work = tempfile.mkdtemp(prefix="xls-recompile-")
    office = None
    try:
        before_dir, after_dir = os.path.join(work, "before"), os.path.join(work, "after")
        os.makedirs(before_dir)
        os.makedirs(after_dir)
        lifted = 0
        for s in sources:
            for d in (before_dir, after_dir):
                shutil.copyfile(s, os.path.join(d, os.path.basename(s)))
                lifted += lift_protection(os.path.join(d, os.path.basename(s))) and d == before_dir
        rows = recompile(driver, [os.path.join(after_dir, os.path.basename(s)) for s in sources])

        outcomes = collections.Counter()
        refusals = collections.Counter()
        not_served = []
        cells = collections.defaultdict(list)
        for file, sheet, row, column, outcome, detail in rows:
            if outcome in ("not served", "not saved"):
                not_served.append((file, outcome, detail))
                continue
            outcomes[outcome] += 1
            if outcome == "refused":
                refusals[re.sub(r"cell [A-Z]+\d+", "cell X", re.sub(r"^could not replace in cell [A-Z]+\d+: ", "",
                                                                     detail))] += 1
            if outcome == "rewritten":
                cells[file].append((sheet, row, column))

        office = Office(work, pipe_prefix="corvane_recompile")
        compared, equal = 0, 0
        differing = collections.Counter()
        unloaded = []
        diffs = open(os.environ["CORVANE_RECOMPILE_DIFFS"], "w") if os.environ.get("CORVANE_RECOMPILE_DIFFS") else None
        for file in sorted(cells):
            sys.stderr.write("%s: %d formulas\n" % (file, len(cells[file])))
            sys.stderr.flush()
            try:
                before = results(office, os.path.join(before_dir, file), cells[file])
                after = results(office, os.path.join(after_dir, file), cells[file])
            except Exception as e:  # noqa: BLE001 - LibreOffice failed on this workbook
                unloaded.append("%s (%s)" % (file, str(e)[:80]))
                office.close()
                office = Office(work, pipe_prefix="corvane_recompile")
                continue
            if before is None or after is None:
                unloaded.append(file)
                continue
            for key, b in before.items():
                a = after.get(key)
                if a is None:
                    continue
                compared += 1
                if same(b, a):
                    equal += 1
                    continue
                why = reason(b, a)
                differing[why] += 1
                if diffs:
                    diffs.write("%s\t%s!R%dC%d\t%s\t%s\t%s\t%r\t%r\n" % (file, key[0], key[1], key[2], why, b[2],
                                                                        a[2], b[:2], a[:2]))
                elif why == "unexplained" and differing[why] <= 20:
                    print("differs: %s %s!R%dC%d %s: %r -> %r" % (file, key[0], key[1], key[2], b[2], b[:2], a[:2]))
        if diffs:
            diffs.close()

        served = len(sources) - len(not_served)
        print("workbooks: %d in the corpus, %d served by the engine, %d with formulas rewritten, %d LibreOffice "
              "could not load; sheet protection lifted in %d" % (len(sources), served, len(cells), len(unloaded),
                                                                 lifted))
        for file, outcome, detail in not_served:
            print("  %s %s: %s" % (outcome, file, detail))
        for file in unloaded:
            print("  not loaded by LibreOffice: %s" % file)
        print("formula cells: %d; rewritten %d, refused %d, unread %d"
              % (sum(outcomes.values()), outcomes["rewritten"], outcomes["refused"], outcomes["unread"]))
        for why, n in refusals.most_common():
            print("  refused (%s): %d" % (why, n))
        print("rewritten cells calculated by LibreOffice before and after: %d compared, %d equal, %d differing"
              % (compared, equal, compared - equal))
        for why, n in differing.most_common():
            print("  differing (%s): %d" % (why, n))
        return 1 if differing["unexplained"] else 0
    finally:
        if office is not None:
            office.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
