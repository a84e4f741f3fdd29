#!/usr/bin/python3
"""Mutates corpus workbooks and runs every corvane-cli operation on them with the engine.

Meant for a build configured with -DCORVANE_SANITIZE=ON (AddressSanitizer and
UndefinedBehaviorSanitizer); not part of the test suite. Each round takes a few .xlsx/.xlsm
packages of the corpus, mutates them (bytes inside an XML part, numbers made huge, a part cut
short, the whole file cut short, two entries' contents swapped, an entry dropped, a part
re-encoded as UTF-16) and runs every operation over a folder of the mutants. A run that
crashes, hangs or prints a sanitizer report is repeated one mutant at a time to find the
culprit, which is kept in --keep. A workbook that the run changed although openpyxl could read
the mutant and cannot read the result counts as an invalid save.

Usage: fuzz.py --cli BUILD/bin/corvane-cli [--corpus DIR] [--minutes N] [--seed N]
               [--keep DIR] [--batch N] [--timeout S]
Prints the figures (mutants, runs, saves checked with openpyxl, crashes, hangs, sanitizer
reports, invalid saves) at the end and whenever a finding is made.
"""
import argparse
import hashlib
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import warnings
import zipfile
import zlib

warnings.simplefilter("ignore")

OPERATIONS = [
    ["replace", "--find", "a", "--replace", "Zz"],
    ["cells", "--mode", "fill-text", "--text", "new", "--find", "a"],
    ["cells", "--mode", "change-text", "--text", "Zz", "--find", "e"],
    ["cells", "--mode", "fill-formula", "--text", "=SUM(A1:B2)", "--find", "1"],
    ["cells", "--mode", "change-formula", "--text", "B", "--find", "A", "--in-formulas"],
    ["cells", "--mode", "delete-row", "--find", "a", "--once-per-sheet"],
    ["cells", "--mode", "delete-column", "--cells", "B2"],
    ["cells", "--mode", "insert-row", "--cells", "A3,C1"],
    ["cells", "--mode", "insert-column", "--find", "e", "--once-per-sheet", "--below-or-right"],
    ["picture", "--picture", "{picture}", "--cells", "B2,D7", "--delete-old"],
    ["remove-sheet", "--first-sheet"],
]
HUGE = [b"9223372036854775807", b"-9223372036854775808", b"4294967295", b"2147483648", b"-1", b"0",
        b"1e308", b"-1e308", b"nan", b"99999999999999999999999999", b"1048577", b"16385"]
BYTES = b'<>"&;=/:0123456789-. \x00\xff\xfe'
OPEN_FAILED = "无法打开修改的文件目录(文件格式有误).txt"


def png(path):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\x00" + b"\x00\x80\xff" * 3 for _ in range(3))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 3, 3, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def mutate(data, rng):
    """A mutated copy of the package bytes, and what was done."""
    try:
        with zipfile.ZipFile(_bytes_file(data)) as z:
            entries = [(i.filename, z.read(i.filename)) for i in z.infolist()]
    except Exception:  # noqa: BLE001 - a corpus file that is no zip is mutated as bytes
        entries = None
    kind = rng.choice(["byte", "byte", "byte", "number", "number", "cut-part", "cut-file", "swap", "drop",
                       "utf16"] if entries else ["cut-file"])
    if kind == "cut-file":
        return data[:rng.randrange(1, max(2, len(data)))], kind
    xml = [i for i, (name, _) in enumerate(entries) if name.endswith((".xml", ".rels", ".vml"))]
    if not xml:
        return data[:rng.randrange(1, max(2, len(data)))], "cut-file"
    i = rng.choice(xml)
    name, part = entries[i]
    what = f"{kind} {name}"
    if kind == "byte" and part:
        b = bytearray(part)
        for _ in range(rng.randint(1, 4)):
            at = rng.randrange(len(b))
            choice = rng.random()
            if choice < 0.5:
                b[at] = rng.choice(BYTES)
            elif choice < 0.75:
                del b[at:at + rng.randint(1, 8)]
            else:
                b[at:at] = bytes(rng.choice(BYTES) for _ in range(rng.randint(1, 4)))
        part = bytes(b)
    elif kind == "number":
        numbers = list(re.finditer(rb'(?<=")-?\d+(?:\.\d+)?(?=")|(?<=>)-?\d+(?:\.\d+)?(?=<)', part))
        chosen = rng.sample(numbers, min(len(numbers), rng.randint(1, 3)))
        for m in sorted(chosen, key=lambda m: m.start(), reverse=True):
            part = part[:m.start()] + rng.choice(HUGE) + part[m.end():]
    elif kind == "cut-part":
        part = part[:rng.randrange(0, max(1, len(part)))]
    elif kind == "swap":
        j = rng.choice(xml)
        entries[j], entries[i] = (entries[j][0], part), (name, entries[j][1])
        what = f"swap {name} {entries[j][0]}"
        part = entries[i][1]
    elif kind == "drop":
        del entries[i]
        part = None
    elif kind == "utf16":
        text = part.decode("utf-8", "replace")
        text = re.sub(r'encoding="[^"]*"', 'encoding="UTF-16BE"', text, count=1)
        part = text.encode("utf-16-be" if rng.random() < 0.5 else "utf-16")
    if part is not None:
        entries[i] = (name, part)
    out = _bytes_file()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for n, d in entries:
            z.writestr(n, d)
    return out.getvalue(), what


def _bytes_file(data=b""):
    import io
    return io.BytesIO(data)


def _limit_memory():
    import resource
    resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))


def readable(path):
    """Whether openpyxl reads the workbook; None when it cannot tell (it ran out of time or of
    memory, as a mutant claiming a million rows makes it)."""
    try:
        p = subprocess.run([sys.executable, "-c", "import sys, warnings, openpyxl\n"
                            "warnings.simplefilter('ignore')\nopenpyxl.load_workbook(sys.argv[1])", path],
                           capture_output=True, timeout=60, preexec_fn=_limit_memory)
    except subprocess.TimeoutExpired:
        return None
    if p.returncode == 0:
        return True
    return None if b"MemoryError" in p.stderr else False


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class Fuzzer:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.figures = dict(mutants=0, runs=0, saves_checked=0, crashes=0, hangs=0, sanitizer_reports=0,
                            invalid_saves=0)
        self.findings = []
        self.work = tempfile.mkdtemp(prefix="corvane-fuzz-")
        self.picture = os.path.join(self.work, "pic.png")
        png(self.picture)
        self.env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0:abort_on_error=0:rss_limit_mb=4096",
                        UBSAN_OPTIONS="print_stacktrace=1", CORVANE_TEXT_OPENER="/bin/true",
                        QT_QPA_PLATFORM="offscreen")
        os.makedirs(args.keep, exist_ok=True)
        self.sources = []
        for name in sorted(os.listdir(args.corpus)):
            path = os.path.join(args.corpus, name)
            if name.lower().endswith((".xlsx", ".xlsm")) and os.path.getsize(path) <= args.max_size:
                with open(path, "rb") as f:
                    self.sources.append((name, f.read()))

    def run(self, folder, operation):
        args = [a.replace("{picture}", self.picture) for a in operation]
        command = [self.args.cli, args[0], "--server", "native", "--folder", folder + os.sep] + args[1:]
        self.figures["runs"] += 1
        try:
            p = subprocess.run(command, capture_output=True, timeout=self.args.timeout, env=self.env)
        except subprocess.TimeoutExpired:
            return "hang", ""
        err = p.stderr.decode("utf-8", "replace")
        if "ERROR: AddressSanitizer" in err or "ERROR: LeakSanitizer" in err or p.returncode < 0 \
                or p.returncode > 2:
            return "crash", err
        if "runtime error:" in err:
            return "sanitizer", err
        return None, err

    def keep(self, kind, name, data, operation, err):
        tag = hashlib.sha256(data).hexdigest()[:12]
        path = os.path.join(self.args.keep, f"{kind}-{tag}-{name}")
        with open(path, "wb") as f:
            f.write(data)
        with open(path + ".txt", "w", encoding="utf-8") as f:
            f.write(" ".join(operation) + "\n\n" + err[-20000:])
        self.findings.append(f"{kind}: {path} ({' '.join(operation[:3])})")
        print(f"FINDING {kind}: {path}", flush=True)
        self.report()

    def round(self):
        mutants = []
        for _ in range(self.args.batch):
            name, data = self.rng.choice(self.sources)
            mutant, what = mutate(data, self.rng)
            mutants.append((f"{len(mutants)}_{name}", mutant, what))
        self.figures["mutants"] += len(mutants)
        folder = os.path.join(self.work, "batch")
        was_readable = {}
        for operation in OPERATIONS:
            shutil.rmtree(folder, ignore_errors=True)
            os.mkdir(folder)
            before = {}
            for name, data, _ in mutants:
                path = os.path.join(folder, name)
                with open(path, "wb") as f:
                    f.write(data)
                before[name] = digest(path)
            outcome, err = self.run(folder, operation)
            if outcome:
                self.isolate(mutants, operation, outcome)
                continue
            for name, data, _ in mutants:
                path = os.path.join(folder, name)
                if not os.path.exists(path) or digest(path) == before[name]:
                    continue
                # Changed: it must read wherever the mutant did.
                if name not in was_readable:
                    original = os.path.join(self.work, "original.xlsx")
                    with open(original, "wb") as f:
                        f.write(data)
                    was_readable[name] = readable(original)
                if not was_readable[name]:
                    continue
                self.figures["saves_checked"] += 1
                if readable(path) is False:
                    self.figures["invalid_saves"] += 1
                    self.keep("invalid", name, data, operation, err)

    def isolate(self, mutants, operation, outcome):
        found = False
        for name, data, _ in mutants:
            folder = os.path.join(self.work, "single")
            shutil.rmtree(folder, ignore_errors=True)
            os.mkdir(folder)
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
            kind, err = self.run(folder, operation)
            if kind:
                found = True
                key = {"crash": "crashes", "hang": "hangs", "sanitizer": "sanitizer_reports"}[kind]
                self.figures[key] += 1
                self.keep(kind, name, data, operation, err)
        if not found:
            # Only the batch together showed it: count it once, keep nothing.
            key = {"crash": "crashes", "hang": "hangs", "sanitizer": "sanitizer_reports"}[outcome]
            self.figures[key] += 1
            self.findings.append(f"{outcome} in a batch only ({' '.join(operation[:3])})")

    def report(self):
        print(" ".join(f"{k}={v}" for k, v in self.figures.items()), flush=True)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--corpus", default=os.environ.get("CORVANE_CORPUS_DIR",
                                                           os.path.join(here, "..", "..", "..", "shared", "corpus")))
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--keep", default="fuzz-findings")
    parser.add_argument("--batch", type=int, default=8)
    parser.add_argument("--timeout", type=float, default=60)
    parser.add_argument("--max-size", type=int, default=400_000, help="largest corpus file taken, in bytes")
    args = parser.parse_args()
    fuzzer = Fuzzer(args)
    if not fuzzer.sources:
        print("no corpus workbooks in", args.corpus)
        return 2
    print(f"seed {args.seed}, {len(fuzzer.sources)} corpus workbooks, work folder {fuzzer.work}", flush=True)
    end = time.time() + args.minutes * 60
    rounds = 0
    try:
        while time.time() < end:
            fuzzer.round()
            rounds += 1
            if rounds % 10 == 0:
                fuzzer.report()
    finally:
        shutil.rmtree(fuzzer.work, ignore_errors=True)
    fuzzer.report()
    for finding in fuzzer.findings:
        print(finding)
    bad = sum(fuzzer.figures[k] for k in ("crashes", "hangs", "sanitizer_reports", "invalid_saves"))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
