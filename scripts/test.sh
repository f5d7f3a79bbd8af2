#!/bin/sh
# Installs what the build and the tests need (Debian packages), then builds
# and runs every test: on Linux as released (the scenarios once more under
# valgrind, the faults, the byte oracle over real files) and under AddressSanitizer
# and UndefinedBehaviorSanitizer; the 64-bit Windows program under wine64 and
# the 32-bit one under wine in a 32-bit prefix (where the machine runs 32-bit
# code at all), each with its zip; the fuzzer
# runs for half a minute on both cores; the Debian package is built, installed, run from the PATH
# and removed, and the tarball unpacked; the micro-benchmarks are built, not run.
set -eu
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
missing=""
need() { command -v "$1" >/dev/null 2>&1 || missing="$missing $2"; }
need cmake cmake
need ninja ninja-build
need g++ g++
need python3 python3
need chattr e2fsprogs  # lets root make a file or folder immutable for the tests
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64
need i686-w64-mingw32-g++-posix g++-mingw-w64-i686
need valgrind valgrind
need clang++ clang
need dpkg-shlibdeps dpkg-dev
[ -x /usr/lib/wine/wine64 ] || missing="$missing wine wine64"
if [ ! -x /usr/lib/wine/wine ]; then  # the 32-bit wine, from the i386 architecture
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  missing="$missing wine32:i386"
fi
[ -n "$(ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a 2>/dev/null)" ] ||
  missing="$missing libclang-rt-14-dev"
[ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
[ -f /usr/include/benchmark/benchmark.h ] || missing="$missing libbenchmark-dev"
if [ -n "$missing" ]; then
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends $missing
fi

cmake --workflow --preset linux
cmake --workflow --preset linux-sanitize
cmake --workflow --preset mingw
cmake --workflow --preset mingw32
cmake --workflow --preset linux-fuzz

# The Debian package, installed and run from the PATH on a scratch copy of an example;
# the tarball, unpacked as bin/ and share/ with the package's program, the README and the licence.
cmake --workflow --preset linux-release
$sudo dpkg -i build-release/quorvadel_*.deb
scratch="$(mktemp -d "${TMPDIR:-/tmp}/quorvadel-package.XXXXXX")"
cp examples/orders.slk "$scratch"
(cd "$scratch" && [ "$(command -v quorvadel)" = /usr/bin/quorvadel ] && quorvadel orders.slk &&
  cmp orders.bak "$OLDPWD/examples/orders.slk" && [ "$(head -n 1 orders.slk)" = "$(printf 'ID;PSCALC3\r')" ])
mkdir "$scratch/tarball"
tar -C "$scratch/tarball" -xzf build-release/quorvadel-*-linux-*.tar.gz
(cd "$scratch/tarball" && [ "$(echo *)" = "bin share" ] && cmp bin/quorvadel /usr/bin/quorvadel &&
  cmp share/doc/quorvadel/README.md "$OLDPWD/README.md" && cmp share/doc/quorvadel/LICENSE "$OLDPWD/LICENSE" &&
  cmp share/doc/quorvadel/copyright "$OLDPWD/docs/copyright")
rm -rf "$scratch"
$sudo dpkg -r quorvadel

# Where the machine runs no 32-bit code, the 32-bit program's tests skipped
# themselves; the last line says so.
only64='the 32-bit Windows program was built, not run: this machine runs 64-bit programs only'
if grep -qxF "$only64" build-mingw32/Testing/Temporary/LastTest.log; then echo "$only64"; fi
