#!/bin/sh
# The release: builds and tests everything (scripts/test.sh), then leaves in
# release/ the Debian package, the Linux tarball, the 32-bit and 64-bit
# Windows zips and SHA256SUMS.
set -eu
cd "$(dirname "$0")/.."
scripts/test.sh
rm -rf release
mkdir release
cp build-release/quorvadel_*.deb build-release/quorvadel-*-linux-*.tar.gz \
   build-mingw/quorvadel-*-windows-x86_64.zip build-mingw32/quorvadel-*-windows-i686.zip release/
(cd release && sha256sum -- * > SHA256SUMS && cat SHA256SUMS)
