#!/bin/sh
# build_fuzz_tree.sh <source> <tree>: configures and builds the libFuzzer programs with
# clang. Without clang it is skipped (77), except under CI, where that is a failure.
set -u
source=$1
tree=$2
if ! command -v clang++ >/dev/null 2>&1 || ! command -v clang >/dev/null 2>&1; then
    if [ "${CI:-}" = true ]; then
        echo "FAILED: clang is not installed, so nothing was fuzzed (scripts/deps.sh installs it)"
        exit 1
    fi
    echo "SKIPPED: clang is not installed; the fuzz targets were not built"
    exit 77
fi
cmake -S "$source" -B "$tree" -G Ninja -DZYMB_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
cmake --build "$tree" --target zymb_fuzz_targets -j "$(nproc)"
