#!/usr/bin/python3
"""The same replace as `corvane-cli replace --find TEXT --replace NEW` done with openpyxl, for the
ratio the benchmarks report: every string cell and formula holding TEXT (letter case ignored)
gets NEW, and a workbook that held it is saved. usage: openpyxl_replace.py DIR TEXT NEW"""
import os, re, sys
import openpyxl

folder, find, new = sys.argv[1], sys.argv[2], sys.argv[3]
pattern = re.compile(re.escape(find), re.IGNORECASE)
for d, _, fs in os.walk(folder):
    for f in sorted(fs):
        if not f.lower().endswith((".xlsx", ".xlsm")):
            continue
        path = os.path.join(d, f)
        wb = openpyxl.load_workbook(path, keep_vba=f.lower().endswith(".xlsm"))
        changed = False
        for ws in wb.worksheets:
            for row in ws.iter_rows():
                for c in row:
                    if isinstance(c.value, str) and pattern.search(c.value):
                        c.value = pattern.sub(new, c.value)
                        changed = True
        if changed:
            wb.save(path)
