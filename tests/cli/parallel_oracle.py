#!/usr/bin/python3
"""corvane-cli with several workbooks at once against one workbook after another, for each
command: standard output, standard error, exit status, the change report, the result lists and
every file of the folder must come out the same. The folder mixes workbooks of different sizes (so
that they finish out of walk order), workbooks that fail in different ways, Excel 97-2003
workbooks the engine works on and, for two of the commands, files that go to LibreOffice.

usage: parallel_oracle.py CORVANE_CLI
Environment: CORVANE_CORPUS_DIR (optional corpus workbooks), CORVANE_SOFFICE (the LibreOffice
cases are left out without it).
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

import openpyxl

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tools'))
from oraclecheck import MATCHED, check, verdict  # noqa: E402

CLI = sys.argv[1]
CORPUS = os.environ.get('CORVANE_CORPUS_DIR', '')
HAVE_OFFICE = bool(os.environ.get('CORVANE_SOFFICE'))
PARALLEL = 4


def png(path):
    """A 2x2 red picture."""
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    raw = b''.join(b'\x00' + b'\xff\x00\x00' * 2 for _ in range(2))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 2, 2, 8, 2, 0, 0, 0)) +
                chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def make_pristine(folder, office):
    os.makedirs(folder)
    for k in range(36):
        sub = os.path.join(folder, 'd%d' % (k % 3))
        os.makedirs(sub, exist_ok=True)
        wb = openpyxl.Workbook()
        first = wb.active
        first.title = 'First'
        # Sizes vary a lot and not with the walk order, so that workbooks finish out of order.
        rows = 20 + (k * 37 % 11) * 120
        for r in range(1, rows + 1):
            first.cell(r, 1, 'row %d' % r)
            first.cell(r, 2, r * 1.5)
            if k % 4 != 3 and r % 97 == k % 5 + 1:
                first.cell(r, 3, 'a needle %d' % r)
        second = wb.create_sheet('Second')
        second['A1'] = 'needle' if k % 2 else 'hay'
        second['B2'] = '=A1&"!"'
        wb.save(os.path.join(sub, 'book%02d.xlsx' % k))

    # Failing files: a package cut off, a part whose checksum fails, no package at all.
    with open(os.path.join(folder, 'd0', 'book00.xlsx'), 'rb') as f:
        whole = f.read()
    with open(os.path.join(folder, 'd1', 'cut.xlsx'), 'wb') as f:
        f.write(whole[:len(whole) // 2])
    damaged = bytearray(whole)
    with zipfile.ZipFile(os.path.join(folder, 'd0', 'book00.xlsx')) as z:
        info = z.getinfo('xl/worksheets/sheet1.xml')
    name_length, extra_length = struct.unpack('<HH', damaged[info.header_offset + 26:info.header_offset + 30])
    data = info.header_offset + 30 + name_length + extra_length
    damaged[data + info.compress_size // 2] ^= 0x55
    with open(os.path.join(folder, 'd2', 'damaged.xlsx'), 'wb') as f:
        f.write(bytes(damaged))
    with open(os.path.join(folder, 'd1', 'empty.xlsm'), 'wb') as f:
        pass
    for name in ('poi__protected_passtika.xlsx', 'poi__workbookProtection-sheet_password-2013.xlsx',
                 'poi__SimpleMacro.xlsm'):
        if CORPUS and os.path.exists(os.path.join(CORPUS, name)):
            shutil.copyfile(os.path.join(CORPUS, name), os.path.join(folder, 'd1', name))

    # Excel 97-2003 workbooks the engine works on itself, beside the packages.
    import xlwt
    for k in range(4):
        book = xlwt.Workbook()
        sheet = book.add_sheet('First')
        for r in range(40 + k * 300):
            sheet.write(r, 0, 'a needle %d' % r if r % 50 == k else 'row %d' % r)
        book.add_sheet('Second').write(0, 0, 'needle')
        book.save(os.path.join(folder, 'd%d' % (k % 3), 'old%d.xls' % k))

    if office:
        # A BIFF workbook and a text file under a workbook's name both go to LibreOffice.
        if CORPUS and os.path.exists(os.path.join(CORPUS, 'poi__chinese-provinces.xls')):
            shutil.copyfile(os.path.join(CORPUS, 'poi__chinese-provinces.xls'),
                            os.path.join(folder, 'd1', 'provinces.xls'))
        with open(os.path.join(folder, 'd2', 'notes.xls'), 'w', encoding='utf-8') as f:
            f.write('just some needle notes\n')


def comparable(path):
    """The file's bytes, with the times a save stamps into a package's entries zeroed: two runs
    that write the same thing a second apart differ in them only."""
    with open(path, 'rb') as f:
        data = bytearray(f.read())
    if not data.startswith(b'PK'):
        return bytes(data)
    try:
        with zipfile.ZipFile(path) as z:
            infos = z.infolist()
    except zipfile.BadZipFile:
        return bytes(data)
    for info in infos:
        data[info.header_offset + 10:info.header_offset + 14] = b'\0\0\0\0'
    central = data.rfind(b'PK\x05\x06')
    offset = struct.unpack('<I', data[central + 16:central + 20])[0]
    for _ in infos:
        data[offset + 12:offset + 16] = b'\0\0\0\0'
        lengths = struct.unpack('<HHH', data[offset + 28:offset + 34])
        offset += 46 + sum(lengths)
    return bytes(data)


def xls_cells(path):
    """What LibreOffice's save of a BIFF workbook holds, without the save time it stamps."""
    import xlrd
    book = xlrd.open_workbook(path)
    return [(s.name, [[c.value for c in s.row(r)] for r in range(s.nrows)]) for s in book.sheets()]


def run(pristine, work, args, jobs):
    if os.path.exists(work):
        shutil.rmtree(work)
    shutil.copytree(pristine, work)
    report = work + '.jsonl'
    if os.path.exists(report):
        os.remove(report)
    result = subprocess.run([CLI] + args + ['--folder', work + '/', '--jobs', str(jobs), '--report', report],
                            capture_output=True, text=True, timeout=600)
    changes = None
    if os.path.exists(report):
        with open(report, encoding='utf-8') as f:
            changes = f.read()
    files = {}
    for root, _, names in os.walk(work):
        for name in names:
            path = os.path.join(root, name)
            files[os.path.relpath(path, work)] = path
    snapshot = {}
    for rel, path in files.items():
        snapshot[rel] = comparable(path)
    # The summaries give the run's seconds.
    out = re.sub(r'耗时\d+秒', '耗时N秒', result.stdout)
    return result.returncode, out, result.stderr, snapshot, changes


def compare(case, pristine, work, args):
    serial = run(pristine, work, args, 1)
    serial_xls = {rel: xls_cells(os.path.join(work, rel)) for rel in serial[3]
                  if rel.endswith('.xls') and serial[3][rel].startswith(b'\xd0\xcf\x11\xe0')}
    parallel = run(pristine, work, args, PARALLEL)
    check(serial[0] == parallel[0], '%s: exit status %d serially, %d in parallel' % (case, serial[0], parallel[0]))
    check(serial[1] == parallel[1], '%s: standard output differs:\n%s\n---\n%s' % (case, serial[1], parallel[1]))
    check(serial[2] == parallel[2], '%s: standard error differs:\n%s\n---\n%s' % (case, serial[2], parallel[2]))
    check(serial[4] == parallel[4], '%s: change report differs:\n%s\n---\n%s' % (case, serial[4], parallel[4]))
    check(serial[3].keys() == parallel[3].keys(),
          '%s: files differ: %s' % (case, sorted(set(serial[3]) ^ set(parallel[3]))))
    for rel in sorted(set(serial[3]) & set(parallel[3])):
        if serial[3][rel] == parallel[3][rel]:
            continue
        if rel in serial_xls:
            # LibreOffice stamps the time of its save into the file.
            check(serial_xls[rel] == xls_cells(os.path.join(work, rel)), '%s: %s holds other cells' % (case, rel))
            continue
        check(False, '%s: %s differs' % (case, rel))
    # What the parallel run saved is read by a reader of its own.
    for rel in parallel[3]:
        if rel.endswith('.xlsx') and rel.startswith('d') and not os.path.basename(rel).startswith(
                ('cut', 'damaged', 'poi__protected')):
            try:
                openpyxl.load_workbook(os.path.join(work, rel))
            except Exception as e:  # noqa: BLE001 - any failure to read is the finding
                check(False, '%s: openpyxl cannot read %s: %s' % (case, rel, e))
    print('%s: %d files compared' % (case, len(parallel[3])))
    return serial


def main():
    root = tempfile.mkdtemp(prefix='corvane-parallel-')
    try:
        native = os.path.join(root, 'native')
        mixed = os.path.join(root, 'mixed')
        make_pristine(native, office=False)
        picture = os.path.join(root, 'red.png')
        png(picture)
        cases = [
            ('replace', ['replace', '--find', 'needle', '--replace', 'pin'], True),
            ('list-only', ['replace', '--find', 'NEEDLE', '--list-only'], False),
            ('fill-text', ['cells', '--mode', 'fill-text', '--find', 'needle', '--right', '1', '--text', 'x'],
             True),
            ('delete-row', ['cells', '--mode', 'delete-row', '--find', 'needle', '--first-sheet'], False),
            ('picture', ['picture', '--picture', picture, '--find', 'needle', '--once-per-workbook'], False),
            ('remove-sheet', ['remove-sheet', '--sheet', 'Second'], False),
            ('dry-run', ['replace', '--find', 'needle', '--replace', 'pin', '--dry-run'], False),
            # Cut short on the first workbook with cells: nothing after it may be saved.
            ('cut-short', ['cells', '--mode', 'fill-text', '--find', 'needle', '--text', 'x', '--range', 'no'],
             False),
        ]
        if HAVE_OFFICE:
            make_pristine(mixed, office=True)
        else:
            print('LibreOffice cases left out: no soffice')
        for case, args, office in cases:
            pristine = mixed if office and HAVE_OFFICE else native
            serial = compare(case, pristine, os.path.join(root, 'work'), args)
            if case == 'replace':
                # The comparison means something only if the run did what it was asked.
                check(MATCHED in serial[3], 'replace: the serial run changed nothing')
                check(serial[2] != '', 'replace: no workbook failed, so the failing files did not count')
                check(re.search(r'"record":"change","workbook":"[^"]*old\d\.xls"', serial[4] or ''),
                      'replace: the report holds no change to an Excel 97-2003 workbook')
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return verdict()


if __name__ == '__main__':
    sys.exit(main())
