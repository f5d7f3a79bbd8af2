# Each example and each real file of the shared corpus, rewritten: the new
# bytes must be those of an independent split of its lines, and a real SYLK
# reader, Gnumeric's ssconvert, must see the same spreadsheet before and after:
# the cell values after recalculation (CSV), the formulas, formats and names
# (its XML, dates of the export left out), and its warnings. A file that is not
# SYLK must be left untouched.
import csv, os, re, shutil, subprocess, tempfile

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


def check(run, row, reader):
    name, old, folder = os.path.basename(row['source']), open(row['source'], 'rb').read(), tempfile.mkdtemp(dir=row['scratch'])
    shutil.copyfile(row['source'], os.path.join(folder, name))
    code, printed, errors = run.run(dict(run.ROW, run=[[name.encode()]]), 'file', folder, {})
    if not old.startswith(b'ID;'):
        return [] if run.snapshot(folder) == {name: run.entry('file', 0o644, old)} else ['not SYLK, yet changed']
    if code != 0 or errors: return ['exit code %s, %r' % (code, errors)]
    # Every break ends a line; one at the very end adds no empty line after it.
    lines = re.findall(rb'([^\r\n]*)(?:\r\n|\r|\n|$)', old.split(b'\0')[0])[1:-1]
    if open(os.path.join(folder, name), 'rb').read() != b''.join(line + b'\r\n' for line in [b'ID;PSCALC3'] + lines):
        return ['not the bytes of an independent split of its lines']
    difference = reader and first_difference(read_back(os.path.join(folder, name.rsplit('.', 1)[0] + '.bak')),
                                             read_back(os.path.join(folder, name)))
    return [difference] if difference else []


def rows():
    corpus = os.environ.get('QUORVADEL_CORPUS', '')
    folders = [os.path.join(HERE, '..', 'examples')] + ([corpus] if os.path.isdir(corpus) else [])
    return [dict(name='Real file: ' + name, source=os.path.join(folder, name))
            for folder in folders for name in sorted(os.listdir(folder)) if name.endswith('.slk')]
