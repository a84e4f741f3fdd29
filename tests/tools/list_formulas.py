#!/usr/bin/python3
"""Prints the raw formula texts stored in .xlsx/.xlsm packages, one per line, as
file<TAB>part<TAB>cell<TAB>kind<TAB>formula, where kind is "cell", "shared-master", "array"
or "name" (defined names, cell empty). Texts are printed exactly as stored (XML entities
decoded) with backslash, tab and line breaks escaped as \\\\, \\t, \\n, \\r.

With --operands, prints instead file<TAB>formula<TAB>references, where references are the
operands of openpyxl's formula tokenizer that are plain A1 references (cells, areas, whole rows
and columns, optionally behind a sheet prefix), joined by the unit separator \x1f.

With --shared, prints instead one line per shared-formula member that lacks its own text:
file<TAB>part<TAB>member cell<TAB>row delta<TAB>column delta<TAB>master formula<TAB>
the member's formula as openpyxl's Translator derives it.

Usage: list_formulas.py [--shared] FILE_OR_FOLDER...
"""
import os
import re
import sys
import zipfile
import xml.etree.ElementTree as ET

NS = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"


def escape(text):
    return (text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r"))


def workbooks(paths):
    for path in paths:
        if os.path.isdir(path):
            for root, _dirs, files in os.walk(path):
                for name in sorted(files):
                    if name.lower().endswith((".xlsx", ".xlsm")):
                        yield os.path.join(root, name)
        else:
            yield path


def cell_position(ref):
    m = re.match(r"([A-Z]+)(\d+)$", ref)
    col = 0
    for ch in m.group(1):
        col = col * 26 + ord(ch) - 64
    return int(m.group(2)), col


def sheet_parts(zf):
    return sorted(n for n in zf.namelist() if re.match(r"xl/worksheets/sheet[^/]*\.xml$", n))


def list_formulas(path, zf, out):
    for part in sheet_parts(zf):
        for _event, el in ET.iterparse(zf.open(part)):
            if el.tag != NS + "c":
                if el.tag == NS + "row":
                    el.clear()
                continue
            f = el.find(NS + "f")
            if f is not None and f.text:
                kind = {"shared": "shared-master", "array": "array"}.get(f.get("t"), "cell")
                out.write("\t".join((path, part, el.get("r", ""), kind, escape(f.text))) + "\n")
    if "xl/workbook.xml" in zf.namelist():
        root = ET.parse(zf.open("xl/workbook.xml")).getroot()
        for dn in root.iter(NS + "definedName"):
            if dn.text:
                out.write("\t".join((path, "xl/workbook.xml", "", "name", escape(dn.text))) + "\n")


REFERENCE = re.compile(
    r"^(?:(?:'(?:[^'\[\]]|'')+'|[^!'\[\]:]+(?::[^!'\[\]:]+)?)!)?"
    r"(?:\$?[A-Za-z]{1,3}\$?\d+(?::\$?[A-Za-z]{1,3}\$?\d+)?|\$?[A-Za-z]{1,3}:\$?[A-Za-z]{1,3}|\$?\d+:\$?\d+)$")


def list_operands(path, zf, out):
    from openpyxl.formula.tokenizer import Tokenizer, Token
    lines = []
    list_formulas(path, zf, _Collect(lines))
    for line in lines:
        text = line.rstrip("\n").split("\t")[4]
        formula = text.replace("\\n", "\n").replace("\\t", "\t").replace("\\r", "\r").replace("\\\\", "\\")
        try:
            items = Tokenizer("=" + formula).items
        except Exception:  # openpyxl gives up on some texts; nothing to compare then
            continue
        refs = [t.value for t in items if t.type == Token.OPERAND and t.subtype == Token.RANGE
                and REFERENCE.match(t.value)]
        out.write("\t".join((path, text, "\x1f".join(refs))) + "\n")


class _Collect:
    def __init__(self, lines):
        self.lines = lines

    def write(self, text):
        self.lines.append(text)


def list_shared(path, zf, out):
    from openpyxl.formula.translate import Translator
    for part in sheet_parts(zf):
        masters = {}
        members = []
        for _event, el in ET.iterparse(zf.open(part)):
            if el.tag != NS + "c":
                if el.tag == NS + "row":
                    el.clear()
                continue
            f = el.find(NS + "f")
            if f is None or f.get("t") != "shared" or el.get("r") is None:
                continue
            if f.text:
                masters[f.get("si")] = (el.get("r"), f.text)
            else:
                members.append((el.get("r"), f.get("si")))
        for ref, si in members:
            if si not in masters:
                continue
            master_ref, text = masters[si]
            (mr, mc), (r, c) = cell_position(master_ref), cell_position(ref)
            try:
                expected = Translator("=" + text, origin=master_ref).translate_formula(ref)[1:]
            except Exception as exc:  # openpyxl cannot translate some texts; say so
                expected = "<openpyxl: %s>" % type(exc).__name__
            out.write("\t".join((path, part, ref, str(r - mr), str(c - mc), escape(text), escape(expected))) + "\n")


def main(argv):
    shared = "--shared" in argv
    operands = "--operands" in argv
    paths = [a for a in argv if a not in ("--shared", "--operands")]
    if not paths:
        sys.stderr.write(__doc__)
        return 2
    out = sys.stdout
    for path in workbooks(paths):
        try:
            with zipfile.ZipFile(path) as zf:
                (list_shared if shared else list_operands if operands else list_formulas)(path, zf, out)
        except (zipfile.BadZipFile, ET.ParseError, KeyError) as exc:
            sys.stderr.write("%s: %s\n" % (path, exc))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
