#!/bin/sh
# The main job: builds the programs and runs ZYMB10DownloadFile once.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh" build
"$root/build/download/ZYMB10DownloadFile" "$@"
