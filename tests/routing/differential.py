#!/usr/bin/python3
"""The same operations through the engine and through LibreOffice, on copies of the same corpus
workbooks, read back by an independent reader: LibreOffice's CSV export (every sheet, values and
formulas, in a throw-away profile) and openpyxl's sheet list. What differs must be listed in
known_differences.tsv with its reason; a listed difference that no longer shows fails the run too,
so the list stays true.

usage: differential.py RUNNER KNOWN_DIFFERENCES.tsv
Environment: CORVANE_CORPUS_DIR, CORVANE_SOFFICE. Exit 77 (skipped) without corpus or soffice.
"""
import csv
import filecmp
import glob
import os
import shutil
import subprocess
import sys
import tempfile

# A sample, not the corpus: every LibreOffice load and export costs about a second. Text to find,
# formulas across sheets, several sheets, a hidden sheet, charts, a table, a macro workbook.
BOOKS = [
    'libxlsxwriter__outline01.xlsx',
    'libxlsxwriter__autofilter01.xlsx',
    'poi__45544.xlsx',
    'poi__xlookup.xlsx',
    'poi__60512.xlsm',
    'poi__simple-monthly-budget.xlsx',
    'poi__TwoSheetsOneHidden.xlsx',
]

# (case, operation, arguments) as the runner takes them.
CASES = [
    ('replace', 'replace', ['north', 'Nord']),
    ('rewrite', 'fill-text', ['sales', 'Umsatz']),
    ('formula', 'fill-formula', ['bonus', '=ROW()*2']),
    ('rows', 'delete-row', ['south']),
    ('columns', 'delete-column', ['income']),
    ('sheet', 'remove-sheet', []),
]

SIDES = ['native', 'libreoffice']
VALUES = 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1'
FORMULAS = 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,true,false,-1'


def skip(reason):
    print('SKIP: ' + reason)
    sys.exit(77)


def run_side(runner, side, root):
    """Copies the sample for every case and runs all cases through one runner process.
    Returns {(case, book): failure reason} for the workbooks the run refused."""
    jobs = []
    for case, op, args in CASES:
        folder = os.path.join(root, side, case)
        os.makedirs(folder)
        for book in BOOKS:
            shutil.copyfile(os.path.join(CORPUS, book), os.path.join(folder, f'{side}__{case}__{book}'))
        jobs.append('\t'.join([op, folder + os.sep] + args))
    jobfile = os.path.join(root, side + '.jobs')
    with open(jobfile, 'w', encoding='utf-8') as f:
        f.write('\n'.join(jobs) + '\n')
    done = subprocess.run([runner, side, jobfile], capture_output=True, text=True, timeout=600)
    if done.returncode != 0:
        sys.exit(f'runner ({side}) failed: {done.returncode}\n{done.stdout}\n{done.stderr}')
    failures = {}
    for line in done.stdout.splitlines():
        fields = line.split('\t')
        if fields[0] == 'failed':
            name = os.path.basename(fields[1])
            _, case, book = name.split('__', 2)
            failures[(case, book)] = fields[2]
    return failures


# Both sides' files are computed afresh on load by the same Calc, so that the values compare what
# the formulas compute and not which cached results each writer left behind (Calc 7.4 keeps an
# Excel file's cached results by default, even under fullCalcOnLoad).
RECALC_PROFILE = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse"><value>0</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="ODFRecalcMode" oor:op="fuse"><value>0</value></prop></item>
</oor:items>
"""


def export(files, target, outdir):
    os.makedirs(outdir)
    profile = tempfile.mkdtemp(prefix='corvane-diff-profile-')
    os.makedirs(os.path.join(profile, 'user'))
    with open(os.path.join(profile, 'user', 'registrymodifications.xcu'), 'w', encoding='utf-8') as f:
        f.write(RECALC_PROFILE)
    try:
        subprocess.run([SOFFICE, f'-env:UserInstallation=file://{profile}', '--headless', '--norestore',
                        '--convert-to', target, '--outdir', outdir] + files,
                       capture_output=True, timeout=900, check=False)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def read_csv(path):
    with open(path, encoding='utf-8', newline='') as f:
        rows = [row for row in csv.reader(f)]
    # The used area is no content: Calc and the engine may disagree on empty edges.
    rows = [list(r) for r in rows]
    for r in rows:
        while r and r[-1] == '':
            r.pop()
    while rows and not rows[-1]:
        rows.pop()
    return rows


def sheets_of(outdir, base):
    """{sheet name: rows} of one exported workbook."""
    found = {}
    for path in glob.glob(os.path.join(glob.escape(outdir), glob.escape(base) + '-*.csv')):
        sheet = os.path.basename(path)[len(base) + 1:-4]
        found[sheet] = read_csv(path)
    return found


def sheet_list(path):
    import openpyxl
    try:
        return openpyxl.load_workbook(path, read_only=True, keep_vba=path.endswith('.xlsm')).sheetnames
    except Exception as e:  # the difference itself is the finding
        return [f'<openpyxl cannot read it: {type(e).__name__}>']


def first_difference(a, b):
    for r in range(max(len(a), len(b))):
        ra = a[r] if r < len(a) else []
        rb = b[r] if r < len(b) else []
        for c in range(max(len(ra), len(rb))):
            va = ra[c] if c < len(ra) else ''
            vb = rb[c] if c < len(rb) else ''
            if va != vb:
                return f'row {r + 1} column {c + 1}: native {va!r} / libreoffice {vb!r}'
    return 'same'


def load_known(path):
    known = {}
    with open(path, encoding='utf-8') as f:
        for line in f:
            if not line.strip() or line.startswith('#'):
                continue
            case, book, kind, reason = line.rstrip('\n').split('\t', 3)
            known[(case, book, kind)] = reason
    return known


def main():
    global CORPUS, SOFFICE
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    runner, known_path = sys.argv[1:3]
    CORPUS = os.environ.get('CORVANE_CORPUS_DIR', '')
    SOFFICE = os.environ.get('CORVANE_SOFFICE', '') or shutil.which('soffice') or ''
    if not CORPUS or not os.path.isdir(CORPUS):
        skip('corpus folder missing (CORVANE_CORPUS_DIR)')
    if not SOFFICE or not os.path.exists(SOFFICE):
        skip('LibreOffice (soffice) is not installed')
    missing = [b for b in BOOKS if not os.path.exists(os.path.join(CORPUS, b))]
    if missing:
        skip('corpus workbooks missing: ' + ', '.join(missing))

    root = tempfile.mkdtemp(prefix='corvane-diff-')
    try:
        failures = {side: run_side(runner, side, root) for side in SIDES}
        files = sorted(glob.glob(os.path.join(root, '*', '*', '*.xls*')))
        export(files, VALUES, os.path.join(root, 'values'))
        export(files, FORMULAS, os.path.join(root, 'formulas'))

        found = {}
        for case, _, _ in CASES:
            for book in BOOKS:
                bases = {side: f'{side}__{case}__{book}' for side in SIDES}
                paths = {side: os.path.join(root, side, case, bases[side]) for side in SIDES}
                outcome = {side: failures[side].get((case, book), 'saved') for side in SIDES}
                if (outcome['native'] == 'saved') != (outcome['libreoffice'] == 'saved'):
                    found[(case, book, 'outcome')] = f"native: {outcome['native']} / libreoffice: " \
                                                     f"{outcome['libreoffice']}"
                lists = {side: sheet_list(paths[side]) for side in SIDES}
                if lists['native'] != lists['libreoffice']:
                    found[(case, book, 'sheets')] = f"{lists['native']} / {lists['libreoffice']}"
                for what in ('values', 'formulas'):
                    outdir = os.path.join(root, what)
                    got = {side: sheets_of(outdir, os.path.splitext(bases[side])[0]) for side in SIDES}
                    if not got['native'] and not got['libreoffice']:
                        found[(case, book, what + ':*')] = 'LibreOffice exported neither file'
                        continue
                    for sheet in sorted(set(got['native']) | set(got['libreoffice'])):
                        a = got['native'].get(sheet)
                        b = got['libreoffice'].get(sheet)
                        if a is None or b is None:
                            found[(case, book, f'{what}:{sheet}')] = 'sheet exported from one side only'
                        elif a != b:
                            found[(case, book, f'{what}:{sheet}')] = first_difference(a, b)

        known = load_known(known_path)
        bad = 0
        # A case whose text is found nowhere would agree without testing anything.
        for case, _, _ in CASES:
            for side in SIDES:
                changed = [book for book in BOOKS
                           if not filecmp.cmp(os.path.join(CORPUS, book),
                                              os.path.join(root, side, case, f'{side}__{case}__{book}'),
                                              shallow=False)]
                print(f'{case:8} {side:12} changed {len(changed)} of {len(BOOKS)}: {", ".join(changed)}')
                if not changed:
                    bad += 1
                    print(f'NOTHING CHANGED   {case} {side}: the sample no longer exercises this operation')
        for key in sorted(found):
            if key in known:
                print('known difference  ' + '  '.join(key) + ': ' + known[key])
            else:
                bad += 1
                print('NEW DIFFERENCE    ' + '  '.join(key) + ': ' + found[key])
        for key in sorted(set(known) - set(found)):
            bad += 1
            print('NOW AGREES        ' + '  '.join(key) + ' (take it off the list): ' + known[key])
        compared = len(CASES) * len(BOOKS)
        print(f'{compared} workbook runs compared, {len(found)} differences, {bad} not as listed')
        return 1 if bad else 0
    finally:
        if os.environ.get('CORVANE_KEEP_DIFF'):
            print('kept ' + root)
        else:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
