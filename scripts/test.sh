#!/bin/sh
# Installs what the build and the tests need (Debian packages), then builds
# and runs every test: on Linux as released (the scenarios once more under
# valgrind) and under AddressSanitizer and UndefinedBehaviorSanitizer; the
# 64-bit Windows program under wine64; the 32-bit Windows program and its
# release zip are built; each fuzzer runs for a minute.
set -eu
cd "$(dirname "$0")/.."

missing=""
need() { command -v "$1" >/dev/null 2>&1 || missing="$missing $2"; }
need cmake cmake
need ninja ninja-build
need g++ g++
need chattr e2fsprogs  # lets root make a folder read-only for the tests
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64
need i686-w64-mingw32-g++-posix g++-mingw-w64-i686
need valgrind valgrind
need clang++ clang
[ -x /usr/lib/wine/wine64 ] || missing="$missing wine wine64"
[ -n "$(ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a 2>/dev/null)" ] ||
  missing="$missing libclang-rt-14-dev"
[ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
if [ -n "$missing" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends $missing
fi

cmake --workflow --preset linux
cmake --workflow --preset linux-sanitize
cmake --workflow --preset mingw
cmake --workflow --preset mingw32
cmake --workflow --preset linux-fuzz
