#!/usr/bin/python3
"""Makes and reads small workbooks with openpyxl, the reader the cell tests trust.

  xlsx_cells.py make OUT.xlsx    stdin: JSON [[sheet name, {address: value}], ...]; a string
                                 starting with "=" is written as a formula, numbers as numbers
  xlsx_cells.py dump IN.xlsx     stdout: JSON [[sheet name, {address: value}], ...] of every
                                 non-empty cell, formulas as their text with "="
"""
import json
import sys
import warnings

import openpyxl

warnings.simplefilter("ignore")


def make(path):
    sheets = json.load(sys.stdin)
    book = openpyxl.Workbook()
    book.remove(book.active)
    for name, cells in sheets:
        sheet = book.create_sheet(name)
        for address, value in cells.items():
            sheet[address] = value
    book.save(path)


def dump(path):
    book = openpyxl.load_workbook(path)
    out = []
    for sheet in book.worksheets:
        cells = {}
        for row in sheet.iter_rows():
            for cell in row:
                if cell.value is not None:
                    value = cell.value
                    if not isinstance(value, (str, int, float, bool)):
                        value = str(value)
                    cells[cell.coordinate] = value
        out.append([sheet.title, cells])
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    {"make": make, "dump": dump}[sys.argv[1]](sys.argv[2])
