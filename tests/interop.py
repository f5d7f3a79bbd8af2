# A real SYLK reader, Gnumeric's ssconvert, reads each example and each file of
# the shared corpus before and after the rewrite, and must see the same
# spreadsheet: the cell values after recalculation (CSV), the formulas, formats
# and names (its XML, dates of the export left out), and its warnings. A file
# that is not SYLK must be left untouched.
import csv, io, os, re, shutil, subprocess, tempfile

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
    rows = [list(csv.reader(io.StringIO(text))) for text in (before[0], after[0])]
    for y in range(max(map(len, rows))):
        cells = [row[y] if y < len(row) else [] for row in rows]
        for x in range(max(map(len, cells))):
            old, new = [line[x] if x < len(line) else '' for line in cells]
            if old != new: return 'cell %s%d: %r, then %r' % (chr(65 + x % 26), y + 1, old, new)
    names = ['values', 'warnings on reading', 'XML', 'warnings on reading']
    for part, (old, new) in enumerate(zip(before, after)):
        if old != new:
            line = next(i for i, (a, b) in enumerate(zip(old.splitlines() + [''], new.splitlines() + [''])) if a != b)
            return '%s, line %d: %r, then %r' % (names[part], line + 1, old.splitlines()[line:line + 1],
                                                 new.splitlines()[line:line + 1])


def check(run, source):
    name = os.path.basename(source)
    folder = tempfile.mkdtemp(prefix='quorvadel-interop-')
    try:
        shutil.copyfile(source, os.path.join(folder, name))
        code, printed, errors = run.run(dict(run.ROW, run=[name.encode()]), 'file', folder, {})
        old = open(source, 'rb').read()
        if not old.startswith(b'ID;'):
            return [] if run.snapshot(folder) == {name: run.entry('file', 0o644, old)} else ['not SYLK, yet changed']
        if code != 0 or errors: return ['exit code %s, %r' % (code, errors)]
        difference = first_difference(read_back(os.path.join(folder, name.rsplit('.', 1)[0] + '.bak')),
                                      read_back(os.path.join(folder, name)))
        return [difference] if difference else []
    finally:
        shutil.rmtree(folder)


def rows():
    corpus = os.environ.get('QUORVADEL_CORPUS', '')
    folders = [os.path.join(HERE, '..', 'examples')] + ([corpus] if os.path.isdir(corpus) else [])
    return [dict(name='Interop: ' + name, source=os.path.join(folder, name))
            for folder in folders for name in sorted(os.listdir(folder)) if name.endswith('.slk')]
