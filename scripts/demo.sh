#!/bin/sh
# Builds the tool and runs it on a scratch copy of examples/, then shows the
# files it left there. The examples themselves are never touched.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DQUORVADEL_TESTS=OFF >/dev/null
cmake --build build >/dev/null
program="$(pwd)/build/quorvadel"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/quorvadel-demo.XXXXXX")"
cp examples/* "$scratch"
cd "$scratch"
status=0
"$program" '*.slk' || status=$?
echo "exit code: $status"
echo "files in $scratch:"
ls -l
exit "$status"
