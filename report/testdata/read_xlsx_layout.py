#!/usr/bin/env python3
"""Prints the layout of the first sheet of an .xlsx workbook (as LibreOffice writes one when
it converts a workbook it read), one item a line:

    frozen ROWS                  rows kept in view (0 when none)
    width COLUMN CHARACTERS      the width of a column, from 1, rounded to whole characters
    bold CELL                    a cell of the first row drawn in a bold font (A1, B1, ...)
"""
import re
import sys
import xml.etree.ElementTree as tree
import zipfile

MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"


def main():
    book = zipfile.ZipFile(sys.argv[1])
    sheet = tree.fromstring(book.read("xl/worksheets/sheet1.xml"))
    styles = tree.fromstring(book.read("xl/styles.xml"))
    frozen = 0
    for pane in sheet.iter(MAIN + "pane"):
        if pane.get("state") == "frozen":
            frozen = int(float(pane.get("ySplit", "0")))
    print("frozen %d" % frozen)
    for column in sheet.iter(MAIN + "col"):
        for number in range(int(column.get("min")), int(column.get("max")) + 1):
            print("width %d %d" % (number, round(float(column.get("width")))))
    fonts = list(styles.find(MAIN + "fonts"))
    formats = list(styles.find(MAIN + "cellXfs"))
    for cell in sheet.iter(MAIN + "c"):
        if not re.fullmatch(r"[A-Z]+1", cell.get("r", "")):
            continue
        font = fonts[int(formats[int(cell.get("s", "0"))].get("fontId", "0"))]
        bold = font.find(MAIN + "b")
        if bold is not None and bold.get("val", "true") in ("true", "1"):
            print("bold %s" % cell.get("r"))


if __name__ == "__main__":
    main()
