#!/usr/bin/env python3
"""Writes the sample data of the development server into a folder:

  <out>/users          the server's users (batch with the password "corvantix")
  <out>/pw/batch       the password file the download program reads for batch
  <out>/data/<CUST>/   the files each customer keeps, with generations, stored paths,
                       gzip and plain content, and one file of exactly two sections
  <out>/originals/     the unpacked content of every gzip file, for comparison

With --samples-only, only the sample customers (ACME, BETA) are written, without the
hostile names and damaged files the tests use: that is what the server's package ships.
"""
import gzip
import os
import sys

arguments = sys.argv[1:]
samples_only = "--samples-only" in arguments
arguments = [argument for argument in arguments if argument != "--samples-only"]
out = arguments[0] if arguments else "samples-out"
data = os.path.join(out, "data")


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content)


def lines(tag, count):
    return "".join(f"{tag},{i},{i * 37 % 1000},item {i} of {tag}\n" for i in range(count)).encode()


def packed(content):
    return gzip.compress(content, compresslevel=9, mtime=0)


write(os.path.join(out, "users"), b"batch:corvantix\nreader:another-secret\n")
write(os.path.join(out, "pw", "batch"), b"corvantix\n")

acme = os.path.join(data, "ACME")
for generation in (1, 2, 3):
    write(os.path.join(acme, "reports", f"daily.csv;{generation}"), lines(f"daily-gen{generation}", 40 * generation))
ledger = lines("ledger", 60000)  # about 1.5 MB of text, stored as gzip
write(os.path.join(out, "originals", "ledger.txt"), ledger)
write(os.path.join(acme, "ledger.txt;1"), packed(lines("ledger-old", 500)))
write(os.path.join(acme, "ledger.txt;2"), packed(ledger))
write(os.path.join(acme, "exact.bin"), bytes((i * 7 + i // 65000) % 251 for i in range(130000)))
write(os.path.join(acme, "q4-sales.csv"), lines("q4", 25))
write(os.path.join(acme, ".index"),
      b"q4-sales.csv|reports\\2026\\q4-sales.csv|1|Quarter four sales\n"
      b"ledger.txt;2|||General ledger, current\n"
      b"exact.bin|||Two full sections\n")

write(os.path.join(data, "BETA", "notes.txt"), b"beta notes\n")
if samples_only:
    print(out)
    sys.exit(0)

# Files that must not be taken as they are: names that leave the working folder, gzip
# streams that are damaged. The server's size and CRC are right for the stored bytes.
evil = os.path.join(data, "EVIL")
write(os.path.join(evil, "up.txt"), b"up\n")
write(os.path.join(evil, "abs.txt"), b"absolute\n")
write(os.path.join(evil, ".index"),
      b"up.txt|..\\..\\escape.txt|1|Parent reference\n"
      b"abs.txt|/tmp/zymb-absolute.txt|1|Absolute path\n")
damaged = packed(lines("damaged", 20000))
corrupt = bytearray(damaged)
for i in range(100, 400):
    corrupt[i] ^= 0x5A
write(os.path.join(data, "BAD", "corrupt.txt"), bytes(corrupt))
write(os.path.join(data, "BAD", "truncated.txt"), damaged[: len(damaged) // 2])
os.makedirs(os.path.join(data, "ZED"), exist_ok=True)

# A gzip member followed by bytes that are not gzip: unpacked with a warning, as gzip -d
# gives one.
trailing = lines("trailing", 300)
write(os.path.join(out, "originals", "trailing.txt"), trailing)
write(os.path.join(data, "BAD", "trailing.txt"), packed(trailing) + b"not gzip\n")

# A stored name that holds terminal controls: an escape sequence that writes to the
# clipboard, a carriage return and a C1 control (CSI) in UTF-8.
term = os.path.join(data, "TERM")
write(os.path.join(term, "clip.txt"), b"clip\n")
write(os.path.join(term, ".index"),
      b"clip.txt|\x1b]52;c;ZXZpbA==\x07clip\r\xc2\x9b2J.txt|1|Clip\n")

# A stored name and a description that hold the report writer's field separator.
pipe = os.path.join(data, "PIPE")
write(os.path.join(pipe, "a|b.csv"), b"a,b\n")
write(os.path.join(pipe, "notes.txt"), b"notes\n")
write(os.path.join(pipe, ".index"), b"notes.txt|||left|right\n")
print(out)
