"""LibreOffice as a second opinion on row and column edits: it makes the same edit on the original
workbook itself, recalculates, and the values it shows are compared with those it computes for
the workbook the engine edited.

    rowcolumn_office.py WORKDIR SHEET EDIT...     EDIT is KIND:INDEX:ORIGINAL:EDITED with KIND one
                                                  of delete-row, delete-column, insert-row,
                                                  insert-column

Prints one JSON object per EDIT: {"edit": ..., "cells": N, "differences": ["Sheet!B3: office 4 | engine 5", ...]}.
Error values compare equal whatever their code: the engine writes a lost reference the way Excel
does (Sheet!#REF!), which LibreOffice reads as #NAME? rather than #REF!.
"""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from office import Office  # noqa: E402


def shown(doc):
    doc.calculateAll()
    out = {}
    for i in range(doc.Sheets.Count):
        sheet = doc.Sheets.getByIndex(i)
        cursor = sheet.createCursor()
        cursor.gotoEndOfUsedArea(False)
        end = cursor.RangeAddress
        # One call per sheet: cell by cell is far too slow for big sheets.
        area = sheet.getCellRangeByPosition(0, 0, end.EndColumn, end.EndRow)
        for r, row in enumerate(area.getDataArray()):
            for c, value in enumerate(row):
                if value == "":
                    continue
                if value is None:  # an error result
                    value = "#ERROR"
                elif isinstance(value, float):
                    value = round(value, 9)
                elif value.startswith("#") or value.startswith("Err:"):
                    value = "#ERROR"
                out["%s!R%dC%d" % (sheet.Name, r + 1, c + 1)] = value
    return out


def main(argv):
    workdir, sheet_name = argv[1], argv[2]
    office = Office(workdir, "corvane_rowcol")
    try:
        for edit in argv[3:]:
            kind, index, original, edited = edit.split(":", 3)
            index = int(index) - 1
            doc = office.load(original)
            sheet = doc.Sheets.getByName(sheet_name)
            lines = sheet.Rows if kind.endswith("row") else sheet.Columns
            if kind.startswith("delete"):
                lines.removeByIndex(index, 1)
            else:
                lines.insertByIndex(index, 1)
            expected = shown(doc)
            doc.close(True)
            doc = office.load(edited)
            got = shown(doc)
            doc.close(True)
            diffs = ["%s: office %s | engine %s" % (k, expected.get(k), got.get(k))
                     for k in sorted(set(expected) | set(got)) if expected.get(k) != got.get(k)]
            print(json.dumps({"edit": "%s:%d" % (kind, index + 1), "cells": len(expected), "differences": diffs}))
    finally:
        office.close()


if __name__ == "__main__":
    main(sys.argv)
