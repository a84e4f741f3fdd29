#!/usr/bin/python3
"""corvane-cli replace --also PLACE with the engine over the corpus workbooks that have each place
(comments, shapes, headers, links), read back by readers other than the engine's.

For each place and each workbook that has it, a word is taken from the place's texts that occurs
nowhere else in the package (no cell shows it, no other part holds it). Then:
1. --list-only --also PLACE lists the workbook as holding the text, without --also it does not;
   neither run changes a byte.
2. The replace changes exactly the place's texts as a case-insensitive replace of the word would
   (openpyxl for notes and hyperlinks; the package's XML for threaded comments, shape paragraphs,
   headers and footers split at their codes, and external-link targets), keeps what is not text
   (a threaded comment's person and id, each note's author, every header code), keeps every cell,
   and leaves every part outside the place's own parts byte-identical. On a sheet whose objects
   are protected, comments and shapes are refused: the workbook is listed as failed, unchanged.
3. Mentions in threaded comments (a corpus workbook's threaded comments rewritten to hold them):
   a mention after a hit moves with the text, one before it stays, and a hit inside a mention is
   refused and reported, leaving that comment and its note as they were.
4. A sample of the changed workbooks is loaded by LibreOffice, which must find the new texts in
   the notes and in the headers and footers (skipped without python3-uno).
5. The change report (--report) of each replace names every item the readers above see changed,
   and only those: a comment by sheet and cell, a header or footer by its kind, a hyperlink by
   sheet and cell, an external link by its number, a shape by a name its drawing gives it; each
   record's old and new texts differ by the replace, and the workbook's record counts them. A
   preview (--dry-run) run first changes no byte and reports the same records. A renamed sheet
   is reported with its old and new name.

Prints each place's coverage: workbooks that have it, replaced, verified.

Usage: places_oracle.py CORVANE_CLI   (reads CORVANE_CORPUS_DIR; exit 77 without it)
"""
import json
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import warnings
import zipfile
from xml.etree import ElementTree as ET

import openpyxl

warnings.simplefilter("ignore")
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "../..", "tools"))
from oraclecheck import MATCHED, OPEN_FAILED, UNMATCHED, check, verdict  # noqa: E402

A = "{http://schemas.openxmlformats.org/drawingml/2006/main}"
PKG_REL = "{http://schemas.openxmlformats.org/package/2006/relationships}"
REPLACEMENT = "Rz替换<>"


def entries(path):
    with zipfile.ZipFile(path) as z:
        return {i.filename: z.read(i.filename) for i in z.infolist()}


def xml_entries(path, pattern):
    return sorted((n, ET.fromstring(b)) for n, b in entries(path).items() if re.search(pattern, n))


def existing_cells(ws):
    """The cells the sheet holds, in order; iter_rows() would make every cell of a sheet whose
    dimension claims the whole grid."""
    return [ws._cells[k] for k in sorted(ws._cells)]


def comment_texts(path):
    out = []
    book = openpyxl.load_workbook(path)
    for ws in book.worksheets:
        for c in existing_cells(ws):
            if c.comment is not None:
                out.append(("note", ws.title, c.coordinate, c.comment.author, c.comment.text))
    for name, root in xml_entries(path, r"(^|/)threadedComments/[^/]+\.xml$"):
        for tc in root:
            if tc.tag.endswith("}threadedComment"):
                text = "".join(t.text or "" for t in tc if t.tag.endswith("}text"))
                out.append(("thread", name, tc.get("ref"), tc.get("personId") + " " + tc.get("id"), text))
    return out


def shape_texts(path):
    out = []
    for name, root in xml_entries(path, r"(^|/)drawings/drawing[^/]*\.xml$"):
        for i, p in enumerate(root.iter(A + "p")):
            runs = "".join(t.text or "" for r in p.findall(A + "r") for t in r.findall(A + "t"))
            if runs:
                out.append(("shape", name, str(i), "", runs))
    return out


HEADER_TOKEN = re.compile(r'&&|&"[^"]*"?|&\d+|&[Kk][0-9A-Za-z+-]{0,6}|&.?|[^&]+', re.DOTALL)


def header_texts(path):
    """Each header and footer as its codes and its literal pieces (read apart from the engine;
    openpyxl takes the text after a font code for part of the font)."""
    out = []
    for name, root in xml_entries(path, r"(^|/)(worksheets|chartsheets)/[^/]+\.xml$"):
        for hf in root:
            if not hf.tag.endswith("}headerFooter"):
                continue
            for h in hf:
                codes, pieces, piece = [], [], ""
                for token in HEADER_TOKEN.findall(h.text or ""):
                    if token == "&&":
                        piece += "&"
                    elif token.startswith("&"):
                        codes.append(token)
                        pieces.append(piece)
                        piece = ""
                    else:
                        piece += token
                pieces.append(piece)
                if any(pieces):
                    out.append(("header", name, h.tag.split("}")[1], "|".join(codes), "\x00".join(pieces)))
    return out


def link_texts(path):
    out = []
    book = openpyxl.load_workbook(path)
    for ws in book.worksheets:
        for c in existing_cells(ws):
            h = c.hyperlink
            if h is not None:
                if h.target:
                    out.append(("target", ws.title, c.coordinate, h.location or "", h.target))
                if h.display:
                    out.append(("display", ws.title, c.coordinate, "", h.display))
    for name, root in xml_entries(path, r"(^|/)externalLinks/_rels/[^/]+\.rels$"):
        for r in root.iter(PKG_REL + "Relationship"):
            if r.get("TargetMode") == "External":
                out.append(("external", name, r.get("Id"), r.get("Type"), r.get("Target")))
    return out


# place, the parts its texts live in, its reader
PLACES = [
    ("comments", r"(^|/)comments[^/]*\.xml$|(^|/)threadedComments/[^/]+\.xml$", comment_texts, b"<comment"),
    ("shapes", r"(^|/)drawings/drawing[^/]*\.xml$", shape_texts, b"txBody"),
    ("headers", r"(^|/)(worksheets|chartsheets)/[^/]+\.xml$", header_texts, b"headerFooter"),
    ("links", r"(^|/)worksheets/_rels/[^/]+\.rels$|(^|/)worksheets/[^/]+\.xml$|(^|/)externalLinks/", link_texts,
     b"TargetMode=\"External\""),
]


PLACE_READERS = {place: reader for place, _, reader, _ in PLACES}


def may_have(path, allowed, marker):
    """Whether one of the place's parts holds the marker: a cheap look before openpyxl reads it."""
    try:
        return any(re.search(allowed, n) and marker in b for n, b in entries(path).items())
    except (zipfile.BadZipFile, OSError):
        return False


def replacement_in(item):
    """The replacement as a place writes it: a link target written with percent escapes gets
    its own escaped."""
    if item[0] in ("target", "external") and "%" in item[4]:
        return "".join("%%%02X" % ord(c) if c in ' %"<>' else c for c in REPLACEMENT)
    return REPLACEMENT


def protects_objects(path):
    book = openpyxl.load_workbook(path)
    return any(ws.protection.sheet and ws.protection.objects for ws in book.worksheets)


def cell_texts(path):
    book = openpyxl.load_workbook(path)
    return [(ws.title, c.coordinate, str(c.value)) for ws in book.worksheets for c in existing_cells(ws)
            if c.value is not None]


def pick_word(path, texts, allowed):
    """A word of the place's texts that no other part and no cell holds, letter case ignored."""
    elsewhere = [b.decode("utf-8", "ignore").lower() for n, b in entries(path).items() if not re.search(allowed, n)]
    cells = [t.lower() for _, _, t in cell_texts(path)]
    for item in texts:
        for word in re.findall(r"[A-Za-z]{4,}|[\u4e00-\u9fff]{2,}", item[4]):
            w = word.lower()
            if not any(w in e for e in elsewhere) and not any(w in c for c in cells):
                return word
    return None


HARD_LIMIT = resource.getrlimit(resource.RLIMIT_AS)[1]


def unlimited():
    resource.setrlimit(resource.RLIMIT_AS, (HARD_LIMIT, HARD_LIMIT))


def run(cli, folder, args):
    return subprocess.run([cli, "replace", "--folder", folder, "--server", "native"] + args,
                          capture_output=True, text=True, timeout=300, preexec_fn=unlimited)


def listed(folder, name, lst):
    path = folder + lst
    return os.path.exists(path) and name in open(path, encoding="utf-8", errors="replace").read()


def report(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def shape_names(path):
    return {e.get("name") for _, root in xml_entries(path, r"(^|/)drawings/drawing[^/]*\.xml$")
            for e in root.iter() if e.tag.endswith("}cNvPr")}


def report_problems(place, records, before, want, word, source):
    """What is wrong in a replace's report against the items the readers saw change."""
    problems = []
    changes = [r for r in records if r["record"] == "change"]
    books = [r for r in records if r["record"] == "workbook"]
    if len(books) != 1 or books[0]["outcome"] != "changed" or books[0]["changes"] != len(changes):
        problems.append("workbook record %s for %d change(s)" % (books, len(changes)))
    pattern = re.compile(re.escape(word), re.IGNORECASE)
    kinds = {"comments": {"comment"}, "shapes": {"shape-text"}, "headers": {"header-footer"},
             "links": {"hyperlink", "external-link"}}[place]
    for r in changes:
        item = ("target" if r["change"] in ("hyperlink", "external-link") else "text", "", "", "", r["old"])
        if r["change"] not in kinds or not pattern.search(r["old"]) or \
                r["new"] != pattern.sub(lambda _: replacement_in(item), r["old"]):
            problems.append("record %s" % r)
    changed = [b for b, w in zip(before, want) if b != w]
    named = sorted((r["sheet"], r["cell"], r["detail"]) for r in changes)
    if place == "comments":
        cells = {t[2] for t in changed}
        notes = {(t[1], t[2]) for t in changed if t[0] == "note"}
        if {c for _, c, _ in named} != cells or not notes <= {(s, c) for s, c, _ in named} or \
                len(named) != len(set(named)):
            problems.append("comments %s named as %s" % (sorted(cells), named))
    elif place == "headers":
        if sorted(t[2] for t in changed) != sorted(d for _, _, d in named):
            problems.append("headers %s named as %s" % (sorted(t[2] for t in changed), named))
    elif place == "links":
        links = sorted((t[1], t[2], t[0]) for t in changed if t[0] in ("target", "display"))
        external = [t for t in changed if t[0] == "external"]
        hyper = sorted((r["sheet"], r["cell"], r["detail"]) for r in changes if r["change"] == "hyperlink")
        outer = [r for r in changes if r["change"] == "external-link"]
        if hyper != links or len(outer) != len(external) or \
                not all(re.fullmatch(r"externalLink \d+", r["detail"]) for r in outer):
            problems.append("links %s %d external named as %s" % (links, len(external), named))
    elif place == "shapes":
        names = shape_names(source)
        if not 1 <= len(named) <= len(changed) or not all(d in names for _, _, d in named):
            problems.append("shapes: %d changed paragraph(s) named as %s" % (len(changed), named))
    return problems


def sheet_rename_check(cli, work):
    """A sheet whose name holds the text is reported renamed, in the preview and the real run."""
    folder = os.path.join(work, "rename") + os.sep
    os.makedirs(folder)
    book = openpyxl.Workbook()
    book.active.title = "Qzx data"
    book.create_sheet("Other")["A1"] = "='Qzx data'!B2"
    copy = folder + "rename.xlsx"
    book.save(copy)
    original = entries(copy)
    args = ["--find", "qzx", "--replace", "Renamed", "--also", "sheet-names", "--report"]
    run(cli, folder, args + [folder + "dry.jsonl", "--dry-run"])
    check(entries(copy) == original, "rename: the preview changed the workbook")
    r = run(cli, folder, args + [folder + "real.jsonl"])
    records = report(folder + "real.jsonl")
    renamed = [(c["sheet"], c["old"], c["new"]) for c in records if c.get("change") == "sheet-renamed"]
    check(r.returncode == 0 and openpyxl.load_workbook(copy).sheetnames == ["Renamed data", "Other"] and
          renamed == [("Qzx data", "Qzx data", "Renamed data")] and records == report(folder + "dry.jsonl"),
          "rename: reported %s, sheets %s, %s" % (renamed, openpyxl.load_workbook(copy).sheetnames, r.stderr))


def known_failures():
    with open(os.path.join(HERE, "corpus_known_failures.tsv"), encoding="utf-8") as f:
        return {line.split("\t")[0] for line in f if line.strip() and not line.startswith("#")}


def office_texts(samples, work):
    """The notes, headers and footers LibreOffice reads, per sample workbook; None without UNO."""
    try:
        from office import Office
    except ImportError:
        return None
    try:
        office = Office(work)
    except Exception as e:  # no LibreOffice to start
        print("LibreOffice sample skipped:", e)
        return None
    texts = {}
    try:
        for path in samples:
            doc = office.load(path)
            found = []
            sheets = doc.getSheets()
            for i in range(sheets.getCount()):
                sheet = sheets.getByIndex(i)
                notes = sheet.getAnnotations()
                for j in range(notes.getCount()):
                    found.append(notes.getByIndex(j).getString())
                style = doc.getStyleFamilies().getByName("PageStyles").getByName(sheet.PageStyle)
                for prop in ("RightPageHeaderContent", "RightPageFooterContent", "LeftPageHeaderContent",
                             "LeftPageFooterContent"):
                    content = style.getPropertyValue(prop)
                    for part in (content.LeftText, content.CenterText, content.RightText):
                        found.append(part.getString())
            doc.close(True)
            texts[path] = "\n".join(found)
    finally:
        office.close()
    return texts


TC = "{http://schemas.microsoft.com/office/spreadsheetml/2018/threadedcomments}"
PERSON = "{7305E7A7-E410-8C4C-A5C1-67489F9B7D76}"


def threaded(ref, text, start, length, n):
    return ('<threadedComment ref="%s" dT="2020-09-21T17:32:33.59" personId="%s" id="{00000000-0000-0000-0000-00000000000%d}">'
            '<text>%s</text><mentions><mention mentionpersonId="%s" mentionId="{10000000-0000-0000-0000-00000000000%d}" '
            'startIndex="%d" length="%d"/></mentions></threadedComment>' % (ref, PERSON, n, text, PERSON, n, start, length))


def mentions_check(cli, corpus, work):
    source = os.path.join(corpus, "poi__64759.xlsx")
    if not os.path.exists(source):
        return
    folder = os.path.join(work, "mentions") + os.sep
    os.makedirs(folder)
    copy = folder + "mentions.xlsx"
    part = "xl/threadedComments/threadedComment1.xml"
    # C2 keeps its note, whose text also holds "testing".
    body = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<ThreadedComments xmlns="%s">%s%s%s'
            '</ThreadedComments>' % (TC[1:-1], threaded("C2", "@testing team, look", 0, 13, 1),
                                     threaded("D5", "@Bob see testing", 0, 4, 2),
                                     threaded("E6", "testing by @Bob", 11, 4, 3)))
    with zipfile.ZipFile(source) as z, zipfile.ZipFile(copy, "w", zipfile.ZIP_DEFLATED) as out:
        for info in z.infolist():
            out.writestr(info.filename, body.encode() if info.filename == part else z.read(info.filename))
    note_before = entries(copy)["xl/comments1.xml"]
    r = run(cli, folder, ["--find", "TESTING", "--replace", "checked-longer", "--also", "comments"])
    check(r.returncode == 0 and listed(folder, "mentions.xlsx", MATCHED) and "C2" in r.stderr and
          "mention" in r.stderr, "mentions: the refusal at C2 is not reported: %s %s" % (r.stdout, r.stderr))
    root = ET.fromstring(entries(copy)[part])
    got = {}
    for tc in root.iter(TC + "threadedComment"):
        m = tc.find(TC + "mentions/" + TC + "mention")
        got[tc.get("ref")] = (tc.find(TC + "text").text, int(m.get("startIndex")), int(m.get("length")),
                              tc.get("personId"))
    want = {"C2": ("@testing team, look", 0, 13, PERSON), "D5": ("@Bob see checked-longer", 0, 4, PERSON),
            "E6": ("checked-longer by @Bob", 18, 4, PERSON)}
    check(got == want, "mentions: %s, not %s" % (got, want))
    check(entries(copy)["xl/comments1.xml"] == note_before, "mentions: the note of the refused comment changed")
    openpyxl.load_workbook(copy)


def libreoffice_server_check(cli, work, lo_samples):
    """The same replace with --server libreoffice on one workbook per place: every hit replaced
    (LibreOffice writes the whole package anew, so only the texts are compared); links are
    reported as out of its reach."""
    if shutil.which(os.environ.get("CORVANE_SOFFICE") or "soffice") is None:
        print("LibreOffice server check skipped: no soffice")
        return
    for place, (source, word, before) in sorted(lo_samples.items()):
        folder = os.path.join(work, "lo-" + place) + os.sep
        os.makedirs(folder)
        name = os.path.basename(source)
        copy = folder + name
        shutil.copyfile(source, copy)
        os.chmod(copy, 0o644)
        r = subprocess.run([cli, "replace", "--folder", folder, "--server", "libreoffice", "--find", word,
                            "--replace", REPLACEMENT, "--also", place + ",links"],
                           capture_output=True, text=True, timeout=600)
        check(r.returncode == 0 and listed(folder, name, MATCHED) and "cannot search or replace in links" in r.stderr,
              "LibreOffice %s %s: %s %s" % (place, name, r.stdout, r.stderr))
        pattern = re.compile(re.escape(word), re.IGNORECASE)
        hits = sum(len(pattern.findall(t[4])) for t in before)
        after = [t[4] for t in PLACE_READERS[place](copy)]
        check(not any(pattern.search(t) for t in after) and sum(t.count(REPLACEMENT) for t in after) == hits,
              "LibreOffice %s %s: %d hit(s) of %r, after: %s" % (place, name, hits, word, after[:5]))
    print("LibreOffice server replaced in: %s" % ", ".join(sorted(lo_samples)))


def main():
    cli = sys.argv[1]
    # openpyxl on a hostile workbook must fail here, not take the machine's memory.
    resource.setrlimit(resource.RLIMIT_AS, (6 << 30, HARD_LIMIT))
    corpus = os.environ.get("CORVANE_CORPUS_DIR", "")
    if not os.path.isdir(corpus):
        print("no corpus at CORVANE_CORPUS_DIR; skipped")
        return 77
    skip = known_failures()
    books = sorted(f for f in os.listdir(corpus) if f.endswith((".xlsx", ".xlsm")) and f not in skip)
    work = tempfile.mkdtemp(prefix="corvane-places-")
    coverage = []
    samples = []  # (place, changed copy, new word)
    lo_samples = {}  # place: (source, word, texts before), for the LibreOffice server
    try:
        for place, allowed, reader, marker in PLACES:
            having = replaced = refused = verified = 0
            for name in books:
                source = os.path.join(corpus, name)
                if not may_have(source, allowed, marker):
                    continue
                try:
                    before = reader(source)
                except Exception:
                    continue  # openpyxl cannot read it: no independent check
                if not before:
                    continue
                having += 1
                word = pick_word(source, before, allowed)
                if word is None:
                    continue
                folder = os.path.join(work, place, name) + os.sep
                os.makedirs(folder)
                copy = os.path.join(folder, name)
                shutil.copyfile(source, copy)
                original = entries(copy)

                r = run(cli, folder, ["--find", word, "--list-only"])
                check(r.returncode == 0 and listed(folder, name, UNMATCHED),
                      "%s %s: without --also the word %r is found elsewhere" % (place, name, word))
                r = run(cli, folder, ["--find", word, "--list-only", "--also", place])
                check(r.returncode == 0 and listed(folder, name, MATCHED),
                      "%s %s: list-only does not count %r in the place: %s" % (place, name, word, r.stderr))
                check(entries(copy) == original, "%s %s: a list-only run changed the file" % (place, name))

                replace = ["--find", word, "--replace", REPLACEMENT, "--also", place, "--report"]
                dry = os.path.join(work, place, name + ".dry.jsonl")
                run(cli, folder, replace + [dry, "--dry-run"])
                check(entries(copy) == original, "%s %s: a preview changed the file" % (place, name))
                real = os.path.join(work, place, name + ".jsonl")
                r = run(cli, folder, replace + [real])
                check(report(real) == report(dry), "%s %s: the preview reported otherwise than the run" % (place, name))
                if "protected" in r.stderr and place in ("comments", "shapes"):
                    # Objects of a protected sheet are refused, as its locked cells are: a
                    # workbook whose every hit was refused is listed as failed and not saved.
                    ok = protects_objects(source) and listed(folder, name, OPEN_FAILED) and entries(copy) == original
                    check(ok, "%s %s: a refusal that is not one: %s" % (place, name, r.stderr))
                    refused += 1
                    verified += ok
                    continue
                if not (r.returncode == 0 and listed(folder, name, MATCHED)):
                    check(False, "%s %s: replacing %r failed: %s %s" % (place, name, word, r.stdout, r.stderr))
                    continue
                replaced += 1
                after = entries(copy)
                untouched = [n for n in original if not re.search(allowed, n) and after.get(n) != original[n]]
                parts_kept = set(after) == set(original) and not untouched
                check(parts_kept, "%s %s: parts outside the place changed: %s" % (place, name, untouched))
                pattern = re.compile(re.escape(word), re.IGNORECASE)
                want = [t[:4] + (pattern.sub(lambda _: replacement_in(t), t[4]),) for t in before]
                got = reader(copy)
                check(got == want, "%s %s: texts after replacing %r differ: %s" % (
                    place, name, word, [(g, w) for g, w in zip(got, want) if g != w][:3] or (len(got), len(want))))
                cells_kept = cell_texts(copy) == cell_texts(source)
                check(cells_kept, "%s %s: cells changed" % (place, name))
                problems = report_problems(place, report(real), before, want, word, source)
                check(not problems, "%s %s: the report is wrong: %s" % (place, name, problems[:3]))
                ok = parts_kept and got == want and cells_kept and not problems
                if ok:
                    verified += 1
                    if place != "links" and place not in lo_samples and not any(t[0] == "thread" for t in before):
                        lo_samples[place] = (source, word, before)
                    if place in ("comments", "headers") and sum(1 for s in samples if s[0] == place) < 2 and \
                            any(t[0] in ("note", "header") for t in before if pattern.search(t[4])):
                        samples.append((place, copy, word))
            coverage.append((place, having, replaced, refused, verified))

        mentions_check(cli, corpus, work)
        sheet_rename_check(cli, work)
        unlimited()
        libreoffice_server_check(cli, work, lo_samples)
        unlimited()
        office = office_texts([s[1] for s in samples], work)
        if office is not None:
            for place, copy, word in samples:
                text = office.get(copy, "")
                check(REPLACEMENT in text and word.lower() not in text.lower(),
                      "LibreOffice reads %s of %s without the change of %r" % (place, copy, word))
            print("LibreOffice read %d sample workbook(s)" % len(samples))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for place, having, replaced, refused, verified in coverage:
        print("%-9s workbooks with it: %3d, replaced: %3d, refused as protected: %3d, verified: %3d"
              % (place, having, replaced, refused, verified))
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
