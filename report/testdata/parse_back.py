#!/usr/bin/env python3
"""Reads a report back with Python's own parsers and prints what they found, one line
per record, every text as the hex of its bytes, so that a test can compare it with
the rows it gave without trusting the writer's own idea of its format.

  parse_back.py csv FILE      strict UTF-8 (fails on bytes that are not), then csv module
  parse_back.py json FILE     strict UTF-8, then json; every value must be a string
  parse_back.py html FILE     a browser's DOM dump: "tr TABLE KINDS CELLS" per table row
                              (TABLE counts from 1, an empty cell is "-"), and
                              "markup TABLE TAG" for any element but tt inside a cell
  parse_back.py utf8          hex lines on stdin -> hex of their UTF-8 decoding with
                              U+FFFD replacement, encoded again
  parse_back.py text FILE A:B...
                              strict UTF-8, then every line as a terminal shows it (a
                              combining mark takes no column, an East Asian wide character
                              two): "line WIDTH CELLS", with the text in terminal columns
                              A to B (from 0, B not included) of each range, blanks
                              stripped, in hex ("-" when empty)
"""
import csv
import html.parser
import io
import json
import sys
import unicodedata


def hexed(text, encoding="utf-8"):
    return text.encode(encoding).hex()


def parse_csv(path):
    with open(path, "rb") as handle:
        text = handle.read().decode("utf-8")  # raises on bytes that are not UTF-8
    for record in csv.reader(io.StringIO(text, newline=""), strict=True):
        print("%d:%s" % (len(record), ",".join(hexed(f) for f in record)))


def parse_json(path):
    with open(path, "rb") as handle:
        data = handle.read()
    text = data.decode("utf-8")  # raises on bytes that are not UTF-8
    document = json.loads(text, object_pairs_hook=list)
    if not isinstance(document, list):
        raise SystemExit("the document is not an array")
    for section in document:
        members = dict(section)
        report_id = members.get("report_id")
        print("section %s %s %s" % (hexed(members["title"]), hexed(members["creation_time"]),
                                    "-" if report_id is None else repr(report_id)))
        print("keys %s" % ",".join(key for key, _ in section))
        for record in members["records"]:
            fields = []
            for key, value in record:
                if not isinstance(value, str):
                    raise SystemExit("value of %r is not a string: %r" % (key, value))
                fields.append("%s=%s" % (hexed(key), hexed(value)))
            print("record " + " ".join(fields))


class TableReader(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.cells = None
        self.cell = None
        self.cell_tag = None
        self.tables = 0

    def handle_starttag(self, tag, attrs):
        if tag == "table":
            self.tables += 1
        elif tag == "tr":
            self.cells = []
        elif tag in ("td", "th") and self.cells is not None:
            self.cell, self.cell_tag = [], tag
        elif self.cell is not None and tag != "tt":
            print("markup %d %s" % (self.tables, tag))

    def handle_endtag(self, tag):
        if tag in ("td", "th") and self.cell is not None:
            self.cells.append((self.cell_tag, "".join(self.cell)))
            self.cell = None
        elif tag == "tr" and self.cells is not None:
            kinds = {kind for kind, _ in self.cells}
            print("tr %d %s %s" % (self.tables, "/".join(sorted(kinds)) or "empty",
                                   " ".join(hexed(text) or "-" for _, text in self.cells)))
            self.cells = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell.append(data)


def parse_html(path):
    reader = TableReader()
    with open(path, encoding="utf-8") as handle:
        reader.feed(handle.read())
    reader.close()
    print("tables %d" % reader.tables)


def columns_of(character):
    if unicodedata.combining(character) or unicodedata.category(character) in ("Mn", "Me", "Cf"):
        return 0
    return 2 if unicodedata.east_asian_width(character) in ("W", "F") else 1


def parse_text(path, ranges):
    with open(path, "rb") as handle:
        text = handle.read().decode("utf-8")  # raises on bytes that are not UTF-8
    for line in text.split("\n")[:-1]:
        places = []  # the text that shows in each terminal column
        for character in line:
            width = columns_of(character)
            if width == 0 and places:
                places[-1] += character
            else:
                places.append(character)
                if width == 2:
                    places.append("")
        cells = []
        for piece in ranges:
            first, last = (int(value) for value in piece.split(":"))
            cells.append(hexed("".join(places[first:last]).strip(" ")) or "-")
        print("line %d %s" % (len(places), " ".join(cells)))


def utf8():
    for line in sys.stdin.read().split():
        print(bytes.fromhex(line).decode("utf-8", "replace").encode("utf-8").hex())


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "csv":
        parse_csv(sys.argv[2])
    elif mode == "json":
        parse_json(sys.argv[2])
    elif mode == "html":
        parse_html(sys.argv[2])
    elif mode == "utf8":
        utf8()
    elif mode == "text":
        parse_text(sys.argv[2], sys.argv[3:])
    else:
        raise SystemExit("unknown mode " + mode)
