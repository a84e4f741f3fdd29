#!/usr/bin/env python3
"""Makes a workbook for the row and column walks: on sheet "Data" most lines hold the text
"drop" (the rest "keep"), and formulas, merges, validations, conditional formats, notes,
hyperlinks, page breaks, a filter, a chart, defined names and a second sheet refer across those lines,
so that every deletion or insertion moves and rewrites references; some lines have formats (fills,
heights or widths) that inserted lines take from their neighbours.

usage: gen_walk_workbook.py OUT.xlsx LINES [SEED] [--columns]
  LINES  how many data lines (rows, or columns with --columns)
  SEED   for the random choices (default 1); --columns lays the lines out as columns.
Needs python3-openpyxl.
"""
import random
import sys

import openpyxl
from openpyxl.chart import BarChart, Reference
from openpyxl.comments import Comment
from openpyxl.drawing.spreadsheet_drawing import AnchorMarker, TwoCellAnchor
from openpyxl.formatting.rule import CellIsRule, FormulaRule
from openpyxl.styles import PatternFill
from openpyxl.utils import get_column_letter
from openpyxl.workbook.defined_name import DefinedName
from openpyxl.worksheet.datavalidation import DataValidation
from openpyxl.worksheet.hyperlink import Hyperlink
from openpyxl.worksheet.pagebreak import Break


def main():
    args = [a for a in sys.argv[1:] if a != "--columns"]
    columns = "--columns" in sys.argv[1:]
    if len(args) < 2:
        sys.exit(__doc__)
    out, lines = args[0], int(args[1])
    rng = random.Random(int(args[2]) if len(args) > 2 else 1)

    # Line `line` (1 = header) and field `k` (1..8) as a cell address, in either layout.
    def at(line, k, absolute=False):
        row, col = (k, line) if columns else (line, k)
        d = "$" if absolute else ""
        return f"{d}{get_column_letter(col)}{d}{row}"

    def cell(ws, line, k):
        return ws.cell(row=k, column=line) if columns else ws.cell(row=line, column=k)

    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Data"
    other = wb.create_sheet("Sum")
    last = lines + 1
    for k, title in enumerate(["id", "name", "amount", "next", "running", "ahead", "elsewhere"], 1):
        cell(ws, 1, k).value = title
    for line in range(2, last + 1):
        drop = rng.random() < 0.6
        cell(ws, line, 1).value = line - 1
        cell(ws, line, 2).value = ("drop" if drop else "keep") + f"-{line}"
        cell(ws, line, 3).value = rng.randint(1, 1000)
        cell(ws, line, 4).value = f"={at(line + 1, 3)}-{at(line, 3)}"
        cell(ws, line, 5).value = f"=SUM({at(2, 3, True)}:{at(line, 3)})"
        if line % 3 == 0:
            cell(ws, line, 6).value = f'=IF({at(line + 3, 2)}="",0,{at(line + 3, 3)})'
        if line % 7 == 0:
            cell(ws, line, 7).value = f"=Sum!B{1 + line % 20}"
        if line % 41 == 0 and line + 2 <= last:
            ws.merge_cells(f"{at(line, 8)}:{at(line + 2, 8)}")
        if line % 53 == 0:
            cell(ws, line, 1).comment = Comment(f"note {line}", "gen")
        if line % 29 == 0:
            ws._hyperlinks.append(Hyperlink(ref=at(line, 1), location=f"Data!{at(line + 5, 3)}"))
        if line % 97 == 0:
            (ws.col_breaks if columns else ws.row_breaks).append(Break(id=line))
        if line % 5 == 0:
            cell(ws, line, 3).fill = PatternFill("solid", "DDEEFF")
        if line % 11 == 0:
            if columns:
                ws.column_dimensions[get_column_letter(line)].width = 14
            else:
                ws.row_dimensions[line].height = 21

    whole = f"{at(2, 3)}:{at(last, 3)}"
    dv = DataValidation(type="whole", operator="between", formula1="0", formula2=f"{at(2, 3, True)}*1000")
    dv.add(whole)
    ws.add_data_validation(dv)
    for start in range(10, last, 211):
        block = DataValidation(type="list", formula1=f"{at(start, 2, True)}:{at(start + 4, 2, True)}")
        block.add(f"{at(start, 2)}:{at(min(start + 30, last), 2)}")
        ws.add_data_validation(block)
    ws.conditional_formatting.add(
        whole, CellIsRule(operator="greaterThan", formula=[at(2, 3, True)], fill=PatternFill("solid", "FFFF00")))
    ws.conditional_formatting.add(
        f"{at(2, 2)}:{at(last, 2)}", FormulaRule(formula=[f'LEFT({at(2, 2)},4)="keep"'], fill=PatternFill("solid", "00FF00")))
    ws.auto_filter.ref = f"{at(1, 1)}:{at(last, 7)}"
    # A chart over the amounts, anchored across lines that go.
    chart = BarChart()
    chart.add_data(Reference(ws, range_string=f"Data!{at(2, 3)}:{at(min(last, 60), 3)}"))
    ws.add_chart(chart, at(5, 10))
    # And one that moves and sizes with its cells, its edges inside lines with offsets.
    sized = BarChart()
    sized.add_data(Reference(ws, range_string=f"Data!{at(2, 3)}:{at(min(last, 40), 3)}"))
    ends = [(8, 10), (31, 14)]
    markers = [AnchorMarker(col=k - 1, colOff=90000, row=line - 1, rowOff=70000) for line, k in ends]
    if columns:
        markers = [AnchorMarker(col=line - 1, colOff=90000, row=k - 1, rowOff=70000) for line, k in ends]
    sized.anchor = TwoCellAnchor(_from=markers[0], to=markers[1])
    ws.add_chart(sized)

    for r in range(1, 21):
        other.cell(row=r, column=1).value = f"=Data!{at(rng.randint(2, last), 3)}"
        other.cell(row=r, column=2).value = r
    other["C1"] = f"=SUM(Data!{at(2, 3)}:{at(last, 3)})"
    other["C2"] = f"=COUNTIF(Data!{at(2, 2)}:{at(last, 2)},\"drop*\")"
    other["C3"] = f"=Data!{at(last // 2, 5)}"
    wb.defined_names.append(DefinedName("Amounts", attr_text=f"Data!{at(2, 3, True)}:{at(last, 3, True)}"))
    wb.defined_names.append(DefinedName("Middle", attr_text=f"Data!{at(last // 2, 2, True)}"))
    wb.save(out)


if __name__ == "__main__":
    main()
