#!/bin/sh
# The whole test suite: once as built normally, once under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh" build
(cd "$root/build" && ctest --output-on-failure -j "$(nproc)")
"$root/scripts/build.sh" build-asan -DZYMB_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$root/build-asan" && ctest --output-on-failure -j "$(nproc)")
echo "All tests passed, normal and sanitizer builds."
