"""Makes the workbooks of the row and column engine tests with openpyxl and reads back, as an
independent reader, everything a row or column edit must adjust.

    rowcolumn_book.py make <path>     a workbook with formulas across sheets, merges, conditional
                                      formats, validations, a table, names, hyperlinks and charts
    rowcolumn_book.py read <path>     JSON of what openpyxl (and, for drawings and charts, the raw
                                      parts) hold
"""
import json
import re
import sys
import zipfile

import openpyxl
from openpyxl.comments import Comment
from openpyxl.chart import BarChart, Reference
from openpyxl.drawing.spreadsheet_drawing import AnchorMarker, TwoCellAnchor
from openpyxl.formatting.rule import FormulaRule
from openpyxl.styles import Font, PatternFill
from openpyxl.workbook.defined_name import DefinedName
from openpyxl.worksheet.datavalidation import DataValidation
from openpyxl.worksheet.hyperlink import Hyperlink
from openpyxl.worksheet.table import Table


def make(path):
    wb = openpyxl.Workbook()
    data = wb.active
    data.title = "Data"
    other = wb.create_sheet("Other")
    for r in range(1, 11):
        data.cell(r, 1, r)
        data.cell(r, 2, "=A%d*2" % r)
    data.row_dimensions[2].height = 30
    data["A2"].font = Font(bold=True)
    data.column_dimensions["A"].width = 20
    data["C1"] = "=SUM(A1:A10)"
    data["C2"] = "=A5"
    data["C3"] = "=$A$7+A$8"
    data["C4"] = "=SUM(A4:A4)"
    data.merge_cells("D2:E4")
    data.merge_cells("D6:E6")
    data.merge_cells("D9:D10")
    red = PatternFill(start_color="FF0000", end_color="FF0000", fill_type="solid")
    data.conditional_formatting.add("A1:A10", FormulaRule(formula=["A1>$A$6"], fill=red))
    data.conditional_formatting.add("F4:F4", FormulaRule(formula=["F4>1"], fill=red))
    dv = DataValidation(type="list", formula1="$A$1:$A$10")
    dv.add("B2:B10")
    data.add_data_validation(dv)
    for i, h in enumerate(["Name", "Qty", "Sum"]):
        data.cell(1, 10 + i, h)
    for r in range(2, 7):
        data.cell(r, 10, "n%d" % r)
        data.cell(r, 11, r)
        data.cell(r, 12, "=K%d*3" % r)
    data.add_table(Table(displayName="Stock", ref="J1:L6"))
    data["F8"].comment = Comment("stays", "me")
    data["A4"].comment = Comment("goes", "me")
    data["F6"] = "go"
    data["F6"].hyperlink = Hyperlink(ref="F6", location="Other!A1")
    wb.defined_names.append(DefinedName("Total", attr_text="Data!$A$1:$A$10"))
    wb.defined_names.append(DefinedName("Fifth", attr_text="Data!$A$5"))
    data.print_area = "A1:E10"
    data.print_title_rows = "1:1"

    other["A1"] = "=Data!A5"
    other["A2"] = "=SUM(Data!A1:A10)"
    other["A3"] = "=Data!A4"
    other["A4"] = "='Data'!B6+A1"
    other["A5"] = "=A4"
    other["B1"] = "back"
    other["B1"].hyperlink = Hyperlink(ref="B1", location="Data!A8")

    chart = BarChart()
    chart.add_data(Reference(data, min_col=1, min_row=1, max_row=10))
    other.add_chart(chart, "D2")
    moving = BarChart()
    moving.add_data(Reference(data, min_col=2, min_row=2, max_row=9))
    anchor = TwoCellAnchor()
    anchor._from = AnchorMarker(col=6, row=7)  # G8
    anchor.to = AnchorMarker(col=9, row=12)  # J13
    moving.anchor = anchor
    data.add_chart(moving)
    fixed = BarChart()
    fixed.add_data(Reference(data, min_col=1, min_row=1, max_row=3))
    data.add_chart(fixed, "N20")
    wb.save(path)


def anchors(z, name):
    xml = z.read(name).decode("utf-8")
    out = []
    for m in re.finditer(r"<(?:xdr:)?(twoCellAnchor|oneCellAnchor)\b.*?</(?:xdr:)?\1>", xml, re.S):
        marks = re.findall(r"<(?:xdr:)?(from|to)>\s*<(?:xdr:)?col>(\d+)</(?:xdr:)?col>\s*<(?:xdr:)?colOff>(-?\d+)"
                           r"</(?:xdr:)?colOff>\s*<(?:xdr:)?row>(\d+)</(?:xdr:)?row>\s*<(?:xdr:)?rowOff>(-?\d+)",
                           m.group(0))
        out.append([m.group(1)] + [[k, int(c), int(co), int(r), int(ro)] for k, c, co, r, ro in marks])
    return out


def read(path):
    wb = openpyxl.load_workbook(path)
    out = {"sheets": {}, "names": {}}
    for ws in wb.worksheets:
        s = {"formulas": {}, "values": {}, "merges": sorted(str(m) for m in ws.merged_cells.ranges),
             "cf": [], "dv": [], "tables": {}, "hyperlinks": [],
             "printArea": ws.print_area, "printRows": ws.print_title_rows,
             "dimension": ws.dimensions}
        for row in ws.iter_rows():
            for c in row:
                if c.value is None:
                    continue
                if c.data_type == "f":
                    s["formulas"][c.coordinate] = str(c.value)
                else:
                    s["values"][c.coordinate] = c.value
        for rng, rules in ws.conditional_formatting._cf_rules.items():
            s["cf"].append([str(rng.sqref), [f for r in rules for f in r.formula]])
        for dv in ws.data_validations.dataValidation:
            s["dv"].append([str(dv.sqref), dv.formula1])
        for name, table in ws.tables.items():
            s["tables"][name] = table.ref if hasattr(table, "ref") else table
        s["comments"] = []
        s["heights"] = {str(k): d.height for k, d in ws.row_dimensions.items() if d.height}
        s["widths"] = {k: d.width for k, d in ws.column_dimensions.items() if d.customWidth}
        s["bold"] = sorted(c.coordinate for row in ws.iter_rows() for c in row if c.font and c.font.b)
        for row in ws.iter_rows():
            for c in row:
                if c.comment is not None:
                    s["comments"].append([c.coordinate, c.comment.text])
                if c.hyperlink is not None:
                    s["hyperlinks"].append([c.coordinate, c.hyperlink.location])
        out["sheets"][ws.title] = s
    for dn in wb.defined_names.definedName:
        out["names"][dn.name] = dn.attr_text
    with zipfile.ZipFile(path) as z:
        out["anchors"] = {n: anchors(z, n) for n in sorted(z.namelist()) if re.match(r"xl/drawings/drawing\d+\.xml$", n)}
        out["notes"] = {n: [[int(r), int(c)] for r, c in re.findall(
            r"<(?:\w+:)?Row>(\d+)</(?:\w+:)?Row>\s*<(?:\w+:)?Column>(\d+)</(?:\w+:)?Column>", z.read(n).decode("utf-8", "replace"))]
            for n in sorted(z.namelist()) if n.endswith(".vml")}
        out["chartRefs"] = {n: re.findall(r"<(?:c:)?f>(.*?)</(?:c:)?f>", z.read(n).decode("utf-8"))
                            for n in sorted(z.namelist()) if re.match(r"xl/charts/chart\d+\.xml$", n)}
    json.dump(out, sys.stdout, default=str, ensure_ascii=False)


if __name__ == "__main__":
    {"make": make, "read": read}[sys.argv[1]](sys.argv[2])
