#!/bin/sh
# run_fuzz_target.sh <program> <seconds> <seeds> <work>: runs one libFuzzer program for a
# fixed time from its seed inputs. New inputs go to <work>/corpus, and an input that
# crashes, leaks, hangs or trips a sanitizer goes to <work>/ and fails the run. A hang is
# 25 s of wall time on one input: on a loaded machine an ordinary input can take several.
set -u
program=$1
seconds=$2
seeds=$3
work=$4
if [ ! -x "$program" ]; then
    if [ "${CI:-}" = true ]; then
        echo "FAILED: $program was not built (is clang installed?), so nothing was fuzzed"
        exit 1
    fi
    echo "SKIPPED: $program was not built (clang missing?)"
    exit 77
fi
rm -rf "$work"
mkdir -p "$work/corpus"
# The targets' own output (server log lines, report text) is dropped; libFuzzer keeps
# its own report and the sanitizers' on a copy of standard error.
# libFuzzer's own code for a finding is 77, which the test would read as "skipped": every
# finding must end the run with 1. Leaks inside the libraries we call, which we cannot
# fix, are listed in lsan.supp.
export LSAN_OPTIONS="suppressions=$(dirname "$0")/lsan.supp:print_suppressions=0"
exec "$program" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
    -error_exitcode=1 -timeout_exitcode=1 -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" "$seeds"
