#!/usr/bin/env python3
"""Reads an .xls workbook with xlrd and prints what it holds, one line per item:

    sheets N
    sheet HEXNAME ROWS COLUMNS
    text ROW COLUMN HEXVALUE
    number ROW COLUMN VALUE

Names and texts are UTF-8 in hexadecimal, so any character survives the trip; empty
cells are left out. The workbook is the file named by the argument, or standard input.
"""
import sys

import xlrd


def hexed(text):
    return text.encode("utf-8").hex()


def main():
    if len(sys.argv) > 1:
        book = xlrd.open_workbook(sys.argv[1], ragged_rows=True)
    else:
        book = xlrd.open_workbook(file_contents=sys.stdin.buffer.read(), ragged_rows=True)
    print("sheets %d" % book.nsheets)
    for sheet in book.sheets():
        print("sheet %s %d %d" % (hexed(sheet.name) or "-", sheet.nrows, sheet.ncols))
        for row in range(sheet.nrows):
            for column in range(sheet.row_len(row)):
                cell = sheet.cell(row, column)
                if cell.ctype == xlrd.XL_CELL_TEXT:
                    print("text %d %d %s" % (row, column, hexed(cell.value) or "-"))
                elif cell.ctype == xlrd.XL_CELL_NUMBER:
                    print("number %d %d %r" % (row, column, cell.value))
                elif cell.ctype != xlrd.XL_CELL_EMPTY:
                    print("other %d %d %d" % (row, column, cell.ctype))


if __name__ == "__main__":
    main()
