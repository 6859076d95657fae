#!/usr/bin/env python3
"""Reads an .xls workbook with xlrd and prints what it holds, one line per item:

    sheets N
    sheet HEXNAME ROWS COLUMNS
    text ROW COLUMN HEXVALUE
    number ROW COLUMN VALUE
    width COLUMN CHARACTERS        a column's width, where the workbook sets one
    bold ROW COLUMN                a cell drawn in a bold font
    frozen ROWS COLUMNS            the rows and columns that stay in view

Names and texts are UTF-8 in hexadecimal, so any character survives the trip; empty
cells are left out. The workbook is the file named by the argument, or standard input.
"""
import sys

import xlrd


def hexed(text):
    return text.encode("utf-8").hex()


def main():
    if len(sys.argv) > 1:
        book = xlrd.open_workbook(sys.argv[1], ragged_rows=True, formatting_info=True)
    else:
        book = xlrd.open_workbook(file_contents=sys.stdin.buffer.read(), ragged_rows=True,
                                  formatting_info=True)
    print("sheets %d" % book.nsheets)
    for sheet in book.sheets():
        print("sheet %s %d %d" % (hexed(sheet.name) or "-", sheet.nrows, sheet.ncols))
        for column, info in sorted(sheet.colinfo_map.items()):
            print("width %d %r" % (column, info.width / 256))
        if sheet.panes_are_frozen:
            print("frozen %d %d" % (sheet.horz_split_pos, sheet.vert_split_pos))
        for row in range(sheet.nrows):
            for column in range(sheet.row_len(row)):
                cell = sheet.cell(row, column)
                if book.font_list[book.xf_list[cell.xf_index].font_index].bold:
                    print("bold %d %d" % (row, column))
                if cell.ctype == xlrd.XL_CELL_TEXT:
                    print("text %d %d %s" % (row, column, hexed(cell.value) or "-"))
                elif cell.ctype == xlrd.XL_CELL_NUMBER:
                    print("number %d %d %r" % (row, column, cell.value))
                elif cell.ctype != xlrd.XL_CELL_EMPTY:
                    print("other %d %d %d" % (row, column, cell.ctype))


if __name__ == "__main__":
    main()
