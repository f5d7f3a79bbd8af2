#!/usr/bin/env python3
# The release's reader check: each example, and each real file of the shared
# corpus, is rewritten by PROGRAM, and a real SYLK reader, Gnumeric's
# ssconvert, must see the same spreadsheet before and after: the cell values
# after recalculation (CSV), the formulas, formats and names (its XML, dates of
# the export left out), and its warnings. (The suite checks the new bytes
# against an independent split of the lines; once they match, this verdict
# cannot change with the code, so it runs before a release, not at every
# commit.)
#   scripts/reader-check.py PROGRAM
import csv, os, re, shutil, subprocess, sys, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
EXPORTS = [('Gnumeric_stf:stf_csv', '--recalc'), ('Gnumeric_XmlIO:sax:0', '')]


# What ssconvert sees in the SYLK file at path: CSV, XML and their warnings.
def read_back(path):
    seen = []
    for exporter, option in EXPORTS:
        out = path + '.out'
        done = subprocess.run(['ssconvert', '-I', 'Gnumeric_sylk:sylk', '-T', exporter] + option.split() + [path, out],
                              capture_output=True)
        text = open(out, 'rb').read().decode('utf-8', 'replace') if os.path.exists(out) else ''
        seen.append(re.sub(r'<(meta|dc):[\w-]*date>[^<]*<', '<', text))
        warnings = done.stderr.decode('utf-8', 'replace').replace(path, 'FILE')
        seen.append(re.sub(r'\(ssconvert:\d+\): (\w+ \*\*): [\d:.]+', r'\1', warnings))
    return seen


def first_difference(before, after):
    parts = ['values', 'warnings on reading', 'XML', 'warnings on reading']
    for part, old, new in zip(parts, before, after):
        lines = list(zip(old.splitlines() + [''], new.splitlines() + ['']))
        at = next((y for y, (a, b) in enumerate(lines) if a != b), None)
        if at is None: continue
        if part != 'values': return '%s, line %d: %r, then %r' % (part, at + 1, *lines[at])
        rows = [next(csv.reader([line]), []) for line in lines[at]]
        cells = [[row[x] if x < len(row) else '' for row in rows] for x in range(max(map(len, rows)))]
        x = next(x for x, (a, b) in enumerate(cells) if a != b)
        return 'cell %s%d: %r, then %r' % (chr(65 + x % 26), at + 1, *cells[x])


def check(program, source, scratch):
    name = os.path.basename(source)
    folder = tempfile.mkdtemp(dir=scratch)
    shutil.copyfile(source, os.path.join(folder, name))
    done = subprocess.run([program, name, '-Q'], cwd=folder)
    if not open(source, 'rb').read().startswith(b'ID;'): return None
    if done.returncode != 0: return 'exit code %d' % done.returncode
    return first_difference(read_back(os.path.join(folder, name.rsplit('.', 1)[0] + '.bak')),
                            read_back(os.path.join(folder, name)))


def main():
    corpus = os.path.join(HERE, '..', '..', 'shared', 'corpus')
    folders = [os.path.join(HERE, '..', 'examples')] + ([corpus] if os.path.isdir(corpus) else [])
    sources = [os.path.join(folder, name) for folder in folders for name in sorted(os.listdir(folder)) if name.endswith('.slk')]
    scratch, failed = tempfile.mkdtemp(prefix='quorvadel-reader-'), 0
    for source in sources:
        difference = check(os.path.abspath(sys.argv[1]), source, scratch)
        failed += bool(difference)
        print('%s: %s' % (os.path.basename(source), difference or 'the same sheet'))
    shutil.rmtree(scratch)
    print('%d files, %d read differently' % (len(sources), failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
