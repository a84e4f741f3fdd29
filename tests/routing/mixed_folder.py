#!/usr/bin/python3
"""corvane-cli replace over a folder that mixes .xlsx, .xlsm, a BIFF .xls, a web page named .xls
and an encrypted .xlsx, with each server choice; what was written is read back by openpyxl and
by a separate headless LibreOffice.

usage: mixed_folder.py CORVANE_CLI
Environment: CORVANE_CORPUS_DIR, CORVANE_SOFFICE. Exit 77 (skipped) without corpus or soffice.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

import openpyxl

COMPOUND = b'\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1'
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print('FAIL: ' + message)


def soffice(args, cwd):
    profile = tempfile.mkdtemp(prefix='corvane-mixed-profile-')
    try:
        subprocess.run([SOFFICE, f'-env:UserInstallation=file://{profile}', '--headless', '--norestore'] + args,
                       cwd=cwd, capture_output=True, timeout=300, check=False)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def make_folder(root, name):
    folder = os.path.join(root, name)
    os.makedirs(folder)
    wb = openpyxl.Workbook()
    wb.active.title = 'Data'
    wb.active['A1'] = 'marker one'
    wb.active['B2'] = 7
    wb.create_sheet('More')['C3'] = 'second MARKER'
    wb.save(os.path.join(folder, 'book.xlsx'))

    macro = openpyxl.load_workbook(os.path.join(CORPUS, 'poi__SimpleMacro.xlsm'), keep_vba=True)
    macro.worksheets[0]['A1'] = 'macro marker'
    macro.save(os.path.join(folder, 'macro.xlsm'))

    # The BIFF workbook: the .xlsx above converted by LibreOffice once, apart from the folders.
    scratch = os.path.join(root, 'xls-source')
    if not os.path.exists(os.path.join(scratch, 'old.xls')):
        os.makedirs(scratch, exist_ok=True)
        shutil.copyfile(os.path.join(folder, 'book.xlsx'), os.path.join(scratch, 'old.xlsx'))
        soffice(['--convert-to', 'xls', '--outdir', scratch, os.path.join(scratch, 'old.xlsx')], scratch)
    shutil.copyfile(os.path.join(scratch, 'old.xls'), os.path.join(folder, 'old.xls'))

    with open(os.path.join(folder, 'page.xls'), 'w', encoding='utf-8') as f:
        f.write('<html><body><table><tr><td>web marker</td><td>5</td></tr></table></body></html>\n')
    shutil.copyfile(os.path.join(CORPUS, 'poi__protected_passtika.xlsx'), os.path.join(folder, 'locked.xlsx'))
    for entry in os.listdir(folder):
        os.chmod(os.path.join(folder, entry), 0o644)
    return folder


def run_cli(folder, server, env=None):
    done = subprocess.run([CLI, 'replace', '--folder', folder + os.sep, '--find', 'marker', '--replace', 'Nord',
                           '--server', server], capture_output=True, text=True, timeout=600,
                          env=dict(os.environ, **(env or {})))
    print(f'--- {server}: exit {done.returncode}\n{done.stdout}{done.stderr}')
    return done


def failed_paths(stderr):
    return {os.path.basename(line.split(': ', 1)[0]): line.split(': ', 1)[1]
            for line in stderr.splitlines() if ': ' in line}


def xls_texts(folder, name):
    """Every cell text of a workbook as LibreOffice reads it (first sheet, CSV)."""
    out = os.path.join(folder, 'csv-' + name)
    os.makedirs(out, exist_ok=True)
    soffice(['--convert-to', 'csv', '--outdir', out, os.path.join(folder, name)], folder)
    path = os.path.join(out, os.path.splitext(name)[0] + '.csv')
    return open(path, encoding='utf-8', errors='replace').read() if os.path.exists(path) else None


def main():
    global CLI, CORPUS, SOFFICE
    CLI = sys.argv[1]
    CORPUS = os.environ.get('CORVANE_CORPUS_DIR', '')
    SOFFICE = os.environ.get('CORVANE_SOFFICE', '') or shutil.which('soffice') or ''
    if not CORPUS or not os.path.isdir(CORPUS):
        print('SKIP: corpus folder missing (CORVANE_CORPUS_DIR)')
        return 77
    if not SOFFICE or not os.path.exists(SOFFICE):
        print('SKIP: LibreOffice (soffice) is not installed')
        return 77

    root = tempfile.mkdtemp(prefix='corvane-mixed-')
    try:
        # auto: the engine takes the packages, LibreOffice the BIFF workbook and the web page; the
        # encrypted package fails with the engine's reason and never reaches LibreOffice.
        folder = make_folder(root, 'auto')
        check(open(os.path.join(folder, 'old.xls'), 'rb').read(8) == COMPOUND, 'test setup: old.xls is BIFF')
        done = run_cli(folder, 'auto')
        check(done.returncode == 0, 'auto: exit status 0')
        failed = failed_paths(done.stderr)
        check(set(failed) == {'locked.xlsx'}, f'auto: only the encrypted package fails ({sorted(failed)})')
        check(failed.get('locked.xlsx', '').startswith('encrypted:') and 'LibreOffice' not in failed.get(
            'locked.xlsx', ''), 'auto: the encrypted package keeps the engine reason')
        book = openpyxl.load_workbook(os.path.join(folder, 'book.xlsx'))
        check(book['Data']['A1'].value == 'Nord one' and book['More']['C3'].value == 'second Nord',
              'auto: .xlsx replaced')
        check(book['Data']['B2'].value == 7, 'auto: .xlsx other cells kept')
        macro_path = os.path.join(folder, 'macro.xlsm')
        check(openpyxl.load_workbook(macro_path, keep_vba=True).worksheets[0]['A1'].value == 'macro Nord',
              'auto: .xlsm replaced')
        check('xl/vbaProject.bin' in zipfile.ZipFile(macro_path).namelist(), 'auto: .xlsm keeps its VBA project')
        check(open(os.path.join(folder, 'old.xls'), 'rb').read(8) == COMPOUND, 'auto: .xls is still BIFF')
        texts = xls_texts(folder, 'old.xls') or ''
        check('Nord one' in texts and 'marker' not in texts.lower(), f'auto: .xls replaced ({texts!r})')
        page = open(os.path.join(folder, 'page.xls'), encoding='utf-8', errors='replace').read()
        check('web Nord' in page and 'marker' not in page, 'auto: the web page named .xls replaced')

        # native: the engine alone; it replaces in the BIFF workbook (no formulas), the web page
        # fails with its reason.
        folder = make_folder(root, 'native')
        done = run_cli(folder, 'native')
        check(done.returncode == 0, 'native: exit status 0')
        failed = failed_paths(done.stderr)
        check(set(failed) == {'locked.xlsx', 'page.xls'}, f'native: failures {sorted(failed)}')
        check(failed.get('page.xls', '').startswith('not a workbook'), 'native: the web page reason from the engine')
        check(open(os.path.join(folder, 'old.xls'), 'rb').read(8) == COMPOUND, 'native: .xls is still BIFF')
        texts = xls_texts(folder, 'old.xls') or ''
        check('Nord one' in texts and 'marker' not in texts.lower(), f'native: .xls replaced ({texts!r})')
        check(openpyxl.load_workbook(os.path.join(folder, 'book.xlsx'))['Data']['A1'].value == 'Nord one',
              'native: .xlsx replaced')

        # A server name that is none of the three is a usage error, before anything is touched.
        done = run_cli(folder, 'excel')
        check(done.returncode == 2 and "unknown server 'excel'" in done.stderr, 'unknown server: usage error')

        # libreoffice without LibreOffice: the run names it, ends (exit 1) and changes nothing.
        folder = make_folder(root, 'missing')
        before = open(os.path.join(folder, 'book.xlsx'), 'rb').read()
        done = run_cli(folder, 'libreoffice', {'CORVANE_SOFFICE': os.path.join(root, 'no-such-soffice')})
        check(done.returncode == 1, 'missing LibreOffice: exit status 1')
        check('LibreOffice' in done.stdout.splitlines()[-1] if done.stdout else False,
              'missing LibreOffice: the status line names it')
        check(open(os.path.join(folder, 'book.xlsx'), 'rb').read() == before, 'missing LibreOffice: nothing changed')

        # auto without LibreOffice: what the engine serves is still done (the packages and the
        # BIFF workbook), the web page fails naming it.
        folder = make_folder(root, 'auto-missing')
        done = run_cli(folder, 'auto', {'CORVANE_SOFFICE': os.path.join(root, 'no-such-soffice')})
        check(done.returncode == 0, 'auto without LibreOffice: exit status 0')
        failed = failed_paths(done.stderr)
        check(set(failed) == {'locked.xlsx', 'page.xls'}, f'auto without LibreOffice: {sorted(failed)}')
        check('LibreOffice is not installed' in failed.get('page.xls', ''), 'auto without LibreOffice: reason names it')
        check(openpyxl.load_workbook(os.path.join(folder, 'book.xlsx'))['Data']['A1'].value == 'Nord one',
              'auto without LibreOffice: .xlsx replaced')
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print(f'{len(failures)} failed checks')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
