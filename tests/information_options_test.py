#!/usr/bin/env python3
"""information_options_test.py DOWNLOAD BATCH DEVSERVER VERSION: --help and --version of
the three programs, and the command lines where they must not be taken as such."""
import os
import re
import subprocess
import sys

download, batch, devserver, version = sys.argv[1:5]
BUILT = re.compile(r"^Built [A-Z][a-z]{2} [ 0-9]\d \d{4} \d\d:\d\d:\d\d$", re.MULTILINE)

# program, arguments, extra environment, expected status, stdout must hold, stdout must not hold
CASES = [
    (download, ["--help"], {}, 0, ["Usage: ZYMB10DownloadFile -C VALUE -f VALUE [OPTION]...",
                                   "  -C VALUE", "Customer-ID (required)", "  -p ", "Strip Path",
                                   "-S USER:PASSWORD@HOST:PORT", "-h, --help", "--version"], []),
    (download, ["-h"], {}, 0, ["Usage: ZYMB10DownloadFile"], []),
    (download, ["-C", "ACME", "-l", "--help"], {}, 0, ["Usage: ZYMB10DownloadFile"], []),
    (download, ["--version"], {}, 0, [f"ZYMB10DownloadFile {version}\n"], ["Usage"]),
    # A value that happens to read "--help" is the option's value, not a request.
    (download, ["-o", "--help"], {}, 1, [], ["Usage"]),
    # After "--" it is a word of no option: refused as such (status 2, before the log),
    # never answered.
    (download, ["-C", "ACME", "-f", "x", "--", "--version"], {}, 2, [], [version]),
    # Under a web server the form holds the arguments; the command line changes nothing.
    (download, ["--help"], {"REQUEST_URI": "/cgi-bin/ZYMB10DownloadFile",
                            "REQUEST_METHOD": "GET", "QUERY_STRING": ""}, 1,
     ["ended with RC=1"], ["Usage"]),
    # A long option the program does not know ends the run at once (no banner): status 2.
    (download, ["-C", "ACME", "-f", "x", "--verbose"], {}, 2, [], ["Usage"]),
    # So does a word of no option, often an unquoted pattern the shell expanded.
    (download, ["-C", "ACME", "-f", "a.txt", "b.txt"], {}, 2, [], ["Usage"]),
    (download, ["b.txt", "--help"], {}, 0, ["Usage: ZYMB10DownloadFile"], []),
    (batch, ["--help"], {}, 0, ["Usage: ZYMBBatch [FILE.cvbatch]", "--run FILE.cvbatch",
                                "-h, --help", "--version"], []),
    (batch, ["-h"], {}, 0, ["Usage: ZYMBBatch"], []),
    (batch, ["--version"], {}, 0, [f"ZYMBBatch {version}\n"], []),
    (batch, ["--history", "5", "--help"], {}, 0, ["Usage: ZYMBBatch"], []),
    (batch, ["--bogus", "--help"], {}, 0, ["Usage: ZYMBBatch"], []),
    (batch, ["--bogus"], {}, 2, [], ["Usage"]),
    # The definition's name, not a request for help.
    (batch, ["--run", "--help"], {}, 2, [], ["Usage"]),
    (devserver, ["--help"], {}, 0, ["Usage: zymb-devserver --data FOLDER", "-h, --help",
                                    "--version", "--fault"], []),
    (devserver, ["-h"], {}, 0, ["Usage: zymb-devserver"], []),
    (devserver, ["--version"], {}, 0, [f"zymb-devserver {version}\n"], []),
    (devserver, ["--bogus"], {}, 2, [], ["Usage"]),
]

faults = []
for program, arguments, environment, status, wanted, unwanted in CASES:
    name = f"{os.path.basename(program)} {' '.join(arguments)}"
    run_environment = {k: v for k, v in os.environ.items()
                       if k not in ("REQUEST_URI", "ZYMBSTDERRDIR", "ZYMBSLACKURL")}
    run_environment.update(environment)
    result = subprocess.run([program] + arguments, env=run_environment, capture_output=True,
                            text=True, stdin=subprocess.DEVNULL, timeout=60)
    if result.returncode != status:
        faults.append(f"{name}: status {result.returncode}, expected {status}\n{result.stderr}")
    for text in wanted:
        if text not in result.stdout:
            faults.append(f"{name}: standard output lacks {text!r}:\n{result.stdout}")
    for text in unwanted:
        if text in result.stdout:
            faults.append(f"{name}: standard output holds {text!r}:\n{result.stdout}")
    if "--version" in arguments and status == 0:
        if not BUILT.search(result.stdout):
            faults.append(f"{name}: no build date line:\n{result.stdout}")
        if result.stderr:
            faults.append(f"{name}: wrote to standard error:\n{result.stderr}")
    if status in (0, 2) and "ZBT" in result.stderr:
        faults.append(f"{name}: the log started (banner on standard error):\n{result.stderr}")

for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
