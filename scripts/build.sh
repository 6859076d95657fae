#!/bin/sh
# build.sh <build-dir> [cmake options...]: configures and builds the tree.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
cmake -S "$root" -B "$root/$dir" -G Ninja "$@" >/dev/null
cmake --build "$root/$dir" -j "$(nproc)"
