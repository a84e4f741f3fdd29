#!/usr/bin/python3
"""The number formats of binary (.xls) workbooks' cells as python3-xlrd reads them, and optionally
the text LibreOffice shows each cell with (zh-CN locale, as the program's users have).

Usage: biff_number_formats.py make DIR
         writes formats.xls and formats1904.xls (python3-xlwt) into DIR: dates, times,
         percentages, currency, custom codes, in both date systems;
       biff_number_formats.py list [--office] [--per-file N] WORKBOOK...
         prints one line per number cell whose format is not General (at most N per workbook):
         "file<TAB>sheet index<TAB>row<TAB>column<TAB>value<TAB>format id<TAB>code<TAB>1904<TAB>office"
         Rows and columns are 0-based; value is repr() of the double; code is the workbook's
         FORMAT record for the id, or "-" when it has none (a built-in format); 1904 is 0 or 1;
         office is LibreOffice's text, or "-" without --office or for a formula LibreOffice
         calculates to another value than the one stored.
Exit status 3 when python3-xlrd or python3-xlwt is missing."""

import os
import sys
import tempfile

try:
    import xlrd
    import xlwt
except ImportError:
    sys.stderr.write("python3-xlrd or python3-xlwt is missing\n")
    sys.exit(3)

# (value, format code): each is written in one row of its own.
CELLS = [
    (45356.0, "yyyy-mm-dd"),
    (45356.75, "yyyy/m/d h:mm"),
    (45356.0, "M/D/YY"),  # built-in 14, shown as the locale's short date
    (45356.0, 'yyyy"年"m"月"d"日"'),
    (45356.0, "aaaa"),
    (45356.0, "D-MMM-YY"),
    (0.6875, "h:mm:ss"),
    (1.25, "[h]:mm:ss"),
    (0.6875, "h:mm AM/PM"),
    (0.1234, "0%"),
    (0.1234, "0.00%"),
    (-0.5, "0.0%"),
    (1234.5, '"¥"#,##0.00'),
    (-1234.5, '"¥"#,##0.00;[Red]"¥"-#,##0.00'),
    (1234567.891, "#,##0.00"),
    (1234567.891, "#,##0,"),
    (12345.678, "0.000"),
    (42, "000000"),
    (0.375, "# ?/?"),
    (123456789.0, "0.00E+00"),
    (150, '[>=100]"大";"小"'),
    (-3, '0;(0);"零"'),
    (0, '0;(0);"零"'),
    (3.14159265358979, "@"),
    (7, '"第"0"名"'),
]


def make(folder):
    for name, date1904 in (("formats.xls", False), ("formats1904.xls", True)):
        book = xlwt.Workbook()
        book.dates_1904 = date1904
        sheet = book.add_sheet("格式")
        styles = {}
        for row, (value, code) in enumerate(CELLS):
            style = styles.setdefault(code, xlwt.easyxf(num_format_str=code))
            sheet.write(row, 0, value, style)
            sheet.write(row, 1, code)
        # Numbers in General, which xlwt writes as a FORMAT record of its own.
        sheet.write(len(CELLS), 0, 3.14159265358979)
        sheet.write(len(CELLS) + 1, 0, 123456789012.0)
        book.save(os.path.join(folder, name))


def office_texts(paths):
    """{(file, sheet index, row, column): text} for every cell listed, from a running LibreOffice."""
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, os.path.join(here, "..", "..", "..", "tools"))
    sys.path.insert(0, os.path.join(here, ".."))
    from office import Office  # noqa: E402
    from numfmt_office import LOCALE_XCU  # noqa: E402

    out = {}
    work = tempfile.mkdtemp(prefix="biff-formats-")
    os.makedirs(os.path.join(work, "profile", "user"))
    with open(os.path.join(work, "profile", "user", "registrymodifications.xcu"), "w") as f:
        f.write(LOCALE_XCU)
    office = Office(work, pipe_prefix="corvane_biff_formats")
    try:
        for path, cells in paths:
            doc = office.load(path)
            if doc is None:
                continue
            try:
                sheets = doc.getSheets()
                for index, row, column, value in cells:
                    cell = sheets.getByIndex(index).getCellByPosition(column, row)
                    if abs(cell.getValue() - value) <= 1e-9 * max(1.0, abs(value)):
                        out[(os.path.basename(path), index, row, column)] = cell.getString()
            finally:
                doc.close(True)
    finally:
        office.close()
        import shutil
        shutil.rmtree(work, ignore_errors=True)
    return out


def clean(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def listed(paths, per_file, office):
    rows, wanted = [], []
    for path in paths:
        try:
            book = xlrd.open_workbook(path, formatting_info=True)
        except Exception:  # noqa: BLE001 - xlrd cannot read it (BIFF5, encrypted, damaged)
            continue
        from_records = {f.format_key: f.format_str for f in book.format_list}
        cells = []
        for index in range(book.nsheets):
            sheet = book.sheet_by_index(index)
            for r in range(sheet.nrows):
                for c in range(sheet.ncols):
                    cell = sheet.cell(r, c)
                    if cell.ctype not in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                        continue
                    if cell.xf_index is None or cell.xf_index >= len(book.xf_list):
                        continue
                    key = book.xf_list[cell.xf_index].format_key
                    if key == 0 or (per_file and len(cells) >= per_file):
                        continue
                    cells.append((index, r, c, float(cell.value)))
                    rows.append([os.path.basename(path), index, r, c, repr(float(cell.value)), key,
                                 clean(from_records[key]) if key in from_records else "-", book.datemode])
        wanted.append((path, cells))
    texts = office_texts(wanted) if office else {}
    for row in rows:
        text = texts.get(tuple(row[:4]))
        print("\t".join(str(x) for x in row + [clean(text) if text is not None else "-"]))


def main():
    args = sys.argv[1:]
    if args[:1] == ["make"]:
        make(args[1])
        return 0
    args = args[1:]
    office, per_file = False, 0
    while args and args[0].startswith("--"):
        if args[0] == "--office":
            office = True
            args = args[1:]
        elif args[0] == "--per-file":
            per_file = int(args[1])
            args = args[2:]
        else:
            sys.stderr.write("unknown option %s\n" % args[0])
            return 2
    listed(args, per_file, office)
    return 0


if __name__ == "__main__":
    sys.exit(main())
