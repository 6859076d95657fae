#!/bin/sh
# Installs the Debian packages the build, the demo and the tests need.
# Does nothing when they are all present; runs apt-get update once otherwise.
set -eu
here=$(dirname "$0")
packages=$(grep -v '^#' "$here/packages.txt" | tr '\n' ' ')
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# shellcheck disable=SC2086
apt-get install -y -q --no-install-recommends $missing
