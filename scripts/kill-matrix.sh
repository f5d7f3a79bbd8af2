#!/bin/sh
# The kill matrix: which check of the suite catches which fault, and which
# catches a fault no other does. Every case (a row of the table, the fault
# or writer runs of a row, the units, the fuzzer's seeds, the byte oracle)
# runs on every mutant of the Linux sources, in a worktree of its own so the
# sources here are never touched.
#   scripts/kill-matrix.sh SAMPLE SEED OUT.json
set -eu
cd "$(dirname "$0")/.."
sample=${1:-80} seed=${2:-1} out=$(realpath -m "${3:-kill-matrix.json}")
mutate=$(realpath ../shared/tools/mutate.py)
tree=$(mktemp -d "${TMPDIR:-/tmp}/quorvadel-matrix.XXXXXX")
chmod 755 "$tree"  # rows run as another user must reach the program
git worktree add --detach "$tree" HEAD >/dev/null
trap 'git worktree remove --force "$tree"' EXIT
cd "$tree"
cmake --preset linux >/dev/null && cmake --build build-linux >/dev/null
cmake --preset linux-fuzz >/dev/null && cmake --build build-fuzz >/dev/null
run="python3 tests/run.py --shim build-linux/tests/libFaultShim.so"
python3 - "$run" > cases.txt <<'PY'
import sys
sys.path.insert(0, 'tests')
import run
rows = run.read_table()
for row in rows:
    name = row['name'].replace("'", "'\\''")
    print("row: %s\t%s -k '%s' build-linux/quorvadel" % (row['name'], sys.argv[1], name))
    if row['faults'] or row['writer']:
        print("sweep: %s\t%s --faults -k '%s' build-linux/quorvadel" % (row['name'], sys.argv[1], name))
print('units\tbuild-linux/tests/UnitTests')
print('fuzz seeds\tbuild-fuzz/fuzz/LinesFuzz fuzz/corpus/Lines/*')
print('oracle\t%s --oracle build-linux/quorvadel' % sys.argv[1])
PY
python3 "$mutate" --build "cmake --build build-linux && cmake --build build-fuzz" --test true \
  --cases cases.txt --sample "$sample" --seed "$seed" --timeout 60 --json "$out" \
  $(ls src/*.cpp src/support/*.cpp | grep -v Win32)
