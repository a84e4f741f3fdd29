#!/usr/bin/python3
"""Independent check of workbooks the engine wrote, with openpyxl.

Reads lines "original<TAB>changed<TAB>sheet<TAB>cell<TAB>expected" from stdin and prints one line
per input: "ok", "skip<TAB>reason" (openpyxl cannot read the original either) or
"fail<TAB>reason".
"""
import sys
import warnings

import openpyxl

warnings.simplefilter("ignore")


def load(path):
    return openpyxl.load_workbook(path, data_only=False, keep_links=False)


for line in sys.stdin:
    original, changed, sheet, cell, expected = line.rstrip("\n").split("\t")
    try:
        load(original)
    except Exception as e:  # noqa: BLE001 - any failure means the oracle cannot judge this file
        print("skip\topenpyxl cannot read the original: %s" % type(e).__name__, flush=True)
        continue
    try:
        wb = load(changed)
        value = wb[sheet][cell].value
        if str(value) == expected:
            print("ok", flush=True)
        else:
            print("fail\t%s holds %r, expected %r" % (cell, value, expected), flush=True)
    except Exception as e:  # noqa: BLE001
        print("fail\topenpyxl cannot read the result: %s: %s" % (type(e).__name__, e), flush=True)
