#!/usr/bin/env python3
"""check_man_page.py PAGE PROGRAM: the page renders without a warning, and names every
option that PROGRAM --help lists, so that the page and the program do not drift apart."""
import os
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])(--[a-z][a-z-]*|-[A-Za-z])(?![\w-])")


def render(page, warnings):
    environment = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
    environment.pop("MANPAGER", None)
    environment.pop("PAGER", None)
    command = ["man"] + (["--warnings"] if warnings else []) + ["-l", page]
    return subprocess.run(command, env=environment, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=60)


def listed_options(program):
    """The options in the first column of the lines of --help that start with a dash."""
    result = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60,
                            stdin=subprocess.DEVNULL)
    if result.returncode != 0:
        sys.exit(f"{program} --help ended with status {result.returncode}: {result.stderr}")
    options = set()
    for line in result.stdout.splitlines():
        if line.lstrip().startswith("-"):
            options.update(OPTION.findall(re.split(r"\s{2,}", line.strip())[0]))
    return options


def main():
    page, program = sys.argv[1], sys.argv[2]
    faults = []
    checked = render(page, warnings=True)
    if checked.returncode != 0 or checked.stderr.strip():
        faults.append(f"man --warnings -l {page} (status {checked.returncode}):\n{checked.stderr}")
    # Overstrike bold and underline, as col -b takes them away.
    text = re.sub(r".\x08", "", render(page, warnings=False).stdout)
    if "NAME" not in text or "SYNOPSIS" not in text:
        faults.append(f"{page} renders without its NAME or SYNOPSIS section:\n{text[:2000]}")
    options = listed_options(program)
    if not options:
        faults.append(f"{program} --help lists no options")
    present = set(OPTION.findall(text))
    for option in sorted(options - present):
        faults.append(f"{page} does not mention {option}, which {program} --help lists")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
