#!/bin/sh
# The release: builds and tests everything (scripts/test.sh), has a real
# spreadsheet reader read every example and corpus file before and after the
# rewrite (scripts/reader-check.py, with Gnumeric's ssconvert), then leaves in
# release/ the Debian package, the Linux tarball, the 32-bit and 64-bit
# Windows zips and SHA256SUMS.
set -eu
cd "$(dirname "$0")/.."
scripts/test.sh
if ! command -v ssconvert >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends gnumeric
fi
scripts/reader-check.py build-release/quorvadel
rm -rf release
mkdir release
cp build-release/quorvadel_*.deb build-release/quorvadel-*-linux-*.tar.gz \
   build-mingw/quorvadel-*-windows-x86_64.zip build-mingw32/quorvadel-*-windows-i686.zip release/
(cd release && sha256sum -- * > SHA256SUMS && cat SHA256SUMS)
