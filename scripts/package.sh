#!/bin/sh
# package.sh [out-dir]: builds the Debian packages (zymb-download, zymb-batch,
# zymb-batch-window, zymb-devserver) from a Release build in build-package/ and puts the
# .deb files into out-dir (default out/packages).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/out/packages}
build=${ZYMB_PACKAGE_BUILD:-$root/build-package}
# Debian's hardening flags. Not -Wdate-time, which dpkg-buildflags adds too: the
# programs show their build date on purpose, and warnings are errors here.
hardening="-D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wformat -Werror=format-security"
link="-Wl,-z,relro -Wl,-z,now"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_C_FLAGS="$hardening" -DCMAKE_CXX_FLAGS="$hardening" \
    -DCMAKE_EXE_LINKER_FLAGS="$link" -DCMAKE_SHARED_LINKER_FLAGS="$link" \
    -DCMAKE_MODULE_LINKER_FLAGS="$link" >/dev/null
# Only what the packages hold, not the tests.
cmake --build "$build" -j "$(nproc)" --target zymb_package_contents
rm -rf "$build/_CPack_Packages" "$build/debs"
(cd "$build" && cpack -G DEB -B "$build/debs" >/dev/null)
mkdir -p "$out"
rm -f "$out"/zymb-*.deb
cp "$build"/debs/zymb-*.deb "$out"/
ls "$out"/zymb-*.deb
