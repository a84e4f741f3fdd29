"""Workbooks with drawings for the picture tests, and an independent look at what the engine wrote.

make PATH PNG        sheet "Pics": column B 20 characters wide, row 3 30 points high, a chart
                     (openpyxl's anchor at F2) and, added to its drawing by hand: a picture with a
                     two-cell anchor at B2 and one with a one-cell anchor at D5 (both showing
                     xl/media/image1.png), a group of two shapes at H10, a picture with an absolute
                     anchor at (150pt, 75pt) showing xl/media/image2.png.
                     Sheet "Plain": cells only.
inspect PATH         JSON: per sheet the anchors openpyxl's drawing reader finds (kind, top-left
                     cell, what they hold), and whether every picture's relationship leads to a
                     part with a content type; the zip's entries.
lo PATH OUTDIR       re-export with headless LibreOffice to xlsx; JSON with the media count and
                     the pictures per sheet of the exported file.
"""
import json
import os
import posixpath
import subprocess
import sys
import zipfile
from xml.etree import ElementTree as ET

from openpyxl import Workbook, load_workbook
from openpyxl.chart import BarChart, Reference
from openpyxl.drawing.spreadsheet_drawing import SpreadsheetDrawing
from openpyxl.utils import get_column_letter

XDR = "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing"
A = "http://schemas.openxmlformats.org/drawingml/2006/main"
R = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
IMAGE = R + "/image"
EMU = 12700


def pic(rid, shape_id):
    return ('<xdr:pic><xdr:nvPicPr><xdr:cNvPr id="%d" name="Picture %d"/><xdr:cNvPicPr/></xdr:nvPicPr>'
            '<xdr:blipFill><a:blip xmlns:r="%s" r:embed="%s"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill>'
            '<xdr:spPr><a:prstGeom prst="rect"><a:avLst/></a:prstGeom></xdr:spPr></xdr:pic>' % (shape_id, shape_id, R, rid))


def marker(tag, col, row):
    return "<xdr:%s><xdr:col>%d</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>%d</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:%s>" % (
        tag, col, row, tag)


def shape(shape_id):
    return ('<xdr:sp><xdr:nvSpPr><xdr:cNvPr id="%d" name="Shape %d"/><xdr:cNvSpPr/></xdr:nvSpPr><xdr:spPr>'
            '<a:xfrm><a:off x="0" y="0"/><a:ext cx="100000" cy="100000"/></a:xfrm><a:prstGeom prst="rect"><a:avLst/>'
            '</a:prstGeom></xdr:spPr></xdr:sp>' % (shape_id, shape_id))


def make(path, png):
    wb = Workbook()
    ws = wb.active
    ws.title = "Pics"
    for r in range(1, 8):
        ws.cell(row=r, column=1, value=r)
    ws.column_dimensions["B"].width = 20
    ws.row_dimensions[3].height = 30
    chart = BarChart()
    chart.add_data(Reference(ws, min_col=1, min_row=1, max_row=7))
    ws.add_chart(chart, "F2")
    plain = wb.create_sheet("Plain")
    plain["A1"] = "x"
    plain["C4"] = "logo"
    wb.save(path)

    with zipfile.ZipFile(path) as z:
        entries = {n: z.read(n) for n in z.namelist()}
    drawing = "xl/drawings/drawing1.xml"
    rels_name = "xl/drawings/_rels/drawing1.xml.rels"
    xml = entries[drawing].decode("utf-8")
    anchors = (
        '<xdr:twoCellAnchor editAs="oneCell">' + marker("from", 1, 1) + marker("to", 2, 3) + pic("rIdP1", 11) +
        "<xdr:clientData/></xdr:twoCellAnchor>"
        '<xdr:oneCellAnchor>' + marker("from", 3, 4) + '<xdr:ext cx="381000" cy="190500"/>' + pic("rIdP2", 12) +
        "<xdr:clientData/></xdr:oneCellAnchor>"
        '<xdr:twoCellAnchor>' + marker("from", 7, 9) + marker("to", 9, 12) +
        '<xdr:grpSp><xdr:nvGrpSpPr><xdr:cNvPr id="13" name="Group 13"/><xdr:cNvGrpSpPr/></xdr:nvGrpSpPr>'
        '<xdr:grpSpPr/>' + shape(14) + shape(15) + "</xdr:grpSp><xdr:clientData/></xdr:twoCellAnchor>"
        '<xdr:absoluteAnchor><xdr:pos x="%d" y="%d"/><xdr:ext cx="127000" cy="127000"/>' % (150 * EMU, 75 * EMU) +
        pic("rIdP3", 16) + "<xdr:clientData/></xdr:absoluteAnchor>")
    close = xml.rfind("</")
    xml = xml[:close] + anchors + xml[close:]
    # openpyxl writes the drawing in the default namespace; the added anchors use prefixes.
    xml = xml.replace("<wsDr ", '<wsDr xmlns:xdr="%s" xmlns:a="%s" ' % (XDR, A), 1)
    entries[drawing] = xml.encode("utf-8")
    rels = entries[rels_name].decode("utf-8")
    added = "".join('<Relationship Id="%s" Type="%s" Target="../media/%s"/>' % (rid, IMAGE, target)
                    for rid, target in (("rIdP1", "image1.png"), ("rIdP2", "image1.png"), ("rIdP3", "image2.png")))
    entries[rels_name] = rels.replace("</Relationships>", added + "</Relationships>").encode("utf-8")
    with open(png, "rb") as f:
        data = f.read()
    entries["xl/media/image1.png"] = data
    entries["xl/media/image2.png"] = data
    types = entries["[Content_Types].xml"].decode("utf-8")
    if 'Extension="png"' not in types:
        types = types.replace("<Default ", '<Default Extension="png" ContentType="image/png"/><Default ', 1)
    entries["[Content_Types].xml"] = types.encode("utf-8")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, content in entries.items():
            z.writestr(name, content)


def cell_of(anchor):
    m = anchor._from
    return "%s%d" % (get_column_letter(m.col + 1), m.row + 1)


def resolve(folder, target):
    if target.startswith("/"):
        return target[1:]
    return posixpath.normpath(posixpath.join(folder, target))


def sheet_drawings(z, names):
    """(sheet title, drawing part) pairs, following the relationships."""
    wb_rels = ET.fromstring(z.read("xl/_rels/workbook.xml.rels"))
    targets = {r.get("Id"): resolve("xl", r.get("Target")) for r in wb_rels}
    wb = ET.fromstring(z.read("xl/workbook.xml"))
    out = []
    for s in wb.iter("{http://schemas.openxmlformats.org/spreadsheetml/2006/main}sheet"):
        part = targets[s.get("{%s}id" % R)]
        rels_name = posixpath.join(posixpath.dirname(part), "_rels", posixpath.basename(part) + ".rels")
        drawing = None
        if rels_name in names:
            for r in ET.fromstring(z.read(rels_name)):
                if r.get("Type") == R + "/drawing":
                    drawing = resolve(posixpath.dirname(part), r.get("Target"))
        out.append((s.get("name"), drawing))
    return out


def content_types(z):
    root = ET.fromstring(z.read("[Content_Types].xml"))
    defaults = {e.get("Extension").lower(): e.get("ContentType") for e in root if e.tag.endswith("Default")}
    overrides = {e.get("PartName"): e.get("ContentType") for e in root if e.tag.endswith("Override")}
    return defaults, overrides


def inspect(path):
    load_workbook(path)  # opens at all
    out = {"sheets": {}}
    with zipfile.ZipFile(path) as z:
        names = set(z.namelist())
        defaults, overrides = content_types(z)
        out["entries"] = sorted(names)
        out["defaults"] = defaults
        problems = []
        for title, drawing in sheet_drawings(z, names):
            anchors = []
            if drawing:
                sd = SpreadsheetDrawing.from_tree(ET.fromstring(z.read(drawing)))
                rels_name = posixpath.join(posixpath.dirname(drawing), "_rels", posixpath.basename(drawing) + ".rels")
                rels = {}
                if rels_name in names:
                    rels = {r.get("Id"): resolve(posixpath.dirname(drawing), r.get("Target"))
                            for r in ET.fromstring(z.read(rels_name))}
                for kind, group in (("two", sd.twoCellAnchor), ("one", sd.oneCellAnchor), ("abs", sd.absoluteAnchor)):
                    for a in group:
                        held = "pic" if a.pic else "chart" if a.graphicFrame else "group" if a.grpSp else "shape"
                        entry = {"kind": kind, "holds": held, "cell": None if kind == "abs" else cell_of(a)}
                        if kind == "two":
                            entry["to"] = "%s%d" % (get_column_letter(a.to.col + 1), a.to.row + 1)
                            entry["editAs"] = a.editAs
                        if a.pic:
                            rid = a.pic.blipFill.blip.embed
                            target = rels.get(rid)
                            entry["media"] = target
                            if target not in names:
                                problems.append("%s: %s leads nowhere" % (title, rid))
                            ext = target.rsplit(".", 1)[-1].lower() if target else ""
                            if "/" + str(target) not in overrides and ext not in defaults:
                                problems.append("%s: %s has no content type" % (title, target))
                            x = a.pic.spPr.xfrm
                            if x is not None and x.off is not None:
                                entry["off"] = [x.off.x / EMU, x.off.y / EMU]
                                entry["ext"] = [x.ext.cx / EMU, x.ext.cy / EMU]
                            entry["id"] = a.pic.nvPicPr.cNvPr.id
                        anchors.append(entry)
            out["sheets"][title] = anchors
        out["problems"] = problems
    print(json.dumps(out))


def lo(path, outdir):
    subprocess.run(["soffice", "--headless", "--norestore", "-env:UserInstallation=file://" + outdir + "/profile",
                    "--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir", outdir, path],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    converted = os.path.join(outdir, os.path.basename(path))
    with zipfile.ZipFile(converted) as z:
        names = set(z.namelist())
        pictures = {}
        for title, drawing in sheet_drawings(z, names):
            count = 0
            if drawing:
                sd = SpreadsheetDrawing.from_tree(ET.fromstring(z.read(drawing)))
                count = sum(1 for g in (sd.twoCellAnchor, sd.oneCellAnchor, sd.absoluteAnchor) for a in g if a.pic)
            pictures[title] = count
    print(json.dumps({"media": len([n for n in names if n.startswith("xl/media/")]), "pictures": pictures}))


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "inspect":
        inspect(sys.argv[2])
    elif sys.argv[1] == "lo":
        lo(sys.argv[2], sys.argv[3])
