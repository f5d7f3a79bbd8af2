#!/usr/bin/env python3
# Runs the scenario table (the files of scenarios/, whose common.txt tells their
# form) against the built program and compares all it leaves: standard output to
# the byte, the exit code, nothing on standard error, every file.
#
#   run.py [--wrap CMD] PROGRAM   every row; CMD (wine64, valgrind ...) runs the program
#   run.py -k NAME --keep ...     only the rows whose name holds NAME, in any mode; with
#                                 --keep each row's folder stays and its place is printed
#   run.py --oracle PROGRAM       each example and file of $QUORVADEL_CORPUS rewritten: its bytes
#                                 must be those of an independent split of its lines
#   run.py --shim LIB [--faults] PROGRAM
#                                 LIB is the fault shim, for the rows that inject a
#                                 change; with --faults the rows marked "faults" run again
#                                 with it, every call failing in turn, a kill at every call
#
# A Windows program (its name ends in .exe) keeps permission bits only as the
# read-only attribute, has hidden and system attributes too, and its texts are in
# code page 1252.
import argparse, ctypes, hashlib, itertools, os, pty, pwd, re, resource, shutil, signal, stat, subprocess, sys, tempfile, tty

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'scenarios')
TOKEN = re.compile(r'"((?:[^"\\]|\\.)*)"(?:\*(\d+))?|(\S+)')
ATTRIBUTES = ('dir', 'fifo', 'link', 'gone', 'mode', 'owner', 'group', 'size', 'attrib', 'same')
ROW = dict(file=[], after=[], run=[], setup=[], stdout=b'', stdin=b'', exit=0, fsize=0, memory=0, nofile=0, mounts=[],
           hold=None, outputs=['file'], faults=False, only=None, user=None, inject=None, writer=None)
PROGRAM, WRAP, WINDOWS, HELPER, SHIM, KEEP, FOLDER = '', [], False, [], None, False, ''


class Skip(Exception):
    pass  # a row this machine cannot run; any other failure fails it


def parse_files(words):
    # PATH [ATTR...] VALUE, once or more: a bare word after a value starts the next file.
    files = []
    for text, is_value in words:
        key, _, value = ('', '', '') if is_value else text.decode('latin-1').partition('=')
        if not files or (not is_value and key not in ATTRIBUTES and (files[-1]['valued'] or files[-1]['kind'] != 'file')):
            files.append(dict(path=text.decode('unicode_escape'), content=b'', mode=0o644, kind='file', valued=False))
        elif is_value: files[-1].update(content=files[-1]['content'] + text, valued=True)
        elif key in ('dir', 'fifo', 'link', 'gone'): files[-1]['kind'] = key
        elif key in ('attrib', 'same'): files[-1].update({key: value, 'valued': key == 'same'})
        elif key in ATTRIBUTES: files[-1][key] = int(value, 8 if key == 'mode' else 10)
        else: raise ValueError('a value is missing before ' + key)
    return files


def read_table():
    own, other = ('windows:', 'posix:') if WINDOWS else ('posix:', 'windows:')
    lines, rows, lets = [], [], {}
    names = sorted(os.listdir(TABLE), key=lambda name: (name != 'common.txt', name))
    for line in (line for name in names for line in open(os.path.join(TABLE, name), encoding='latin-1')):
        if line[:1].isspace() and line.strip() and lines: lines[-1] += line.rstrip('\n')
        elif line.strip() and not line.startswith(('#', other)): lines.append(line.rstrip('\n').replace(own, '', 1))
    for line in lines:
        if line.startswith('== '):
            rows.append(dict(ROW, name=line[3:]))
            continue
        words = [(m[1].encode('latin-1').decode('unicode_escape').encode('latin-1') * int(m[2] or 1), True)
                 if m[1] is not None else (lets[m[3][1:]], True) if m[3][0] == '$'
                 else (m[3].encode('latin-1'), False) for m in TOKEN.finditer(line)]
        key, value = words[0][0].decode(), b''.join(text for text, is_value in words if is_value)
        bare = [text.decode('latin-1') for text, _ in words[1:]]
        if key == 'let': lets[bare[0]] = value
        elif key in ('file', 'after'): rows[-1][key] = rows[-1][key] + parse_files(words[1:])
        elif key == 'run': rows[-1][key] = rows[-1][key] + [[text for text, _ in words[1:]]]
        elif key in ('stdout', 'stdin'): rows[-1][key] += value
        elif key in ('exit', 'fsize', 'memory', 'nofile'): rows[-1][key] = int(bare[0])
        elif key == 'setup': rows[-1][key] = rows[-1][key] + [line.split(None, 1)[1]]
        elif key in ('only', 'user', 'inject'): rows[-1][key] = bare[0]
        elif key in ('hold', 'outputs', 'faults', 'writer', 'mounts'): rows[-1][key] = bare or True
        else: raise ValueError('unknown line ' + line)
    return [row for row in rows if row['only'] in (None, own[:-1])]


def text(data):
    # The table's placeholders filled in for this program, platform and folder ({dir}, as the program
    # sees it); {deepN} is a folder name that makes that folder's path N bytes long.
    where = ('Z:' + FOLDER.replace('/', '\\') if WINDOWS else FOLDER).encode()
    data = re.sub(rb'{deep(\d+)}', lambda m: b'd' * (int(m[1]) - len(where) - 1), data.replace(b'{dir}', where))
    data = data.replace(b'{module}', os.path.basename(PROGRAM).encode())
    return data.replace(b'{\xc3\xa0}', b'\xe0' if WINDOWS else b'\xc3\xa0').replace(b'{\xc3\xa9}', b'\xe9' if WINDOWS else b'\xc3\xa9')


def entry(kind, mode, content, attrib='', owner=0, group=0):
    mode = mode & ~0o222 if 'r' in attrib else mode
    return (kind, 0o777 if kind == 'link' else (0o644 if mode & 0o222 else 0o444) if WINDOWS else mode, content,
            ''.join(bit for bit in 'hs' if bit in attrib), owner, group)


def dos_attributes(path, bits=None):
    # wine keeps a file's hidden and system attributes in an extended attribute (read-only is
    # the write bits): sets them to bits, or returns them as letters.
    if bits is not None: return os.setxattr(path, 'user.DOSATTRIB', b'0x%x' % bits)
    try: bits = int(os.getxattr(path, 'user.DOSATTRIB').split(b'\0')[0], 16)
    except OSError: bits = 0
    return ''.join(bit for bit, mask in (('h', 2), ('s', 4)) if bits & mask)


def filled(name):
    return text(name.encode('raw_unicode_escape')).decode('raw_unicode_escape')


def content(f):
    # A file's bytes in pieces: its value, then NULs up to its size.
    data = text(f['content'])
    yield data
    for n in range(len(data), f.get('size', 0), 1 << 24): yield b'\0' * min(f['size'] - n, 1 << 24)


def digest(pieces):
    # What stands for a file's bytes: themselves, or past 64 MB their hash (such files are never held whole).
    hashed, data = hashlib.sha256(), b''
    for piece in pieces:
        hashed.update(piece)
        data = data + piece if len(data) <= 1 << 26 else data
    return data if len(data) <= 1 << 26 else b'sha256:' + hashed.digest()


def entries(files):
    named = {f['path']: f for f in files}  # a file with "same" is another name of that one
    return {filled(f['path']): None if g['kind'] == 'gone' else
            entry(g['kind'], g['mode'], digest(content(g)), g.get('attrib', ''), g.get('owner', 0), g.get('group', 0))
            for f in files if f['kind'] != 'dir' for g in [named.get(f.get('same'), f)]}


def lay_out(row, folder):
    for f in row['file']:
        path = os.path.join(folder, filled(f['path']))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if 'same' in f: os.link(os.path.join(folder, f['same']), path)
        elif f['kind'] == 'link': os.symlink(f['content'], path)
        elif f['kind'] == 'dir': os.makedirs(path, exist_ok=True)
        elif f['kind'] == 'fifo': os.mkfifo(path)
        else:  # the content, then NULs up to its size, as a hole
            with open(path, 'wb') as out: out.truncate(max(f.get('size', 0), out.write(text(f['content']))))
        attrib = f.get('attrib', '')
        if f['kind'] != 'link' and 'same' not in f: os.chmod(path, f['mode'] & ~0o222 if 'r' in attrib else f['mode'])
        if 'owner' in f or 'group' in f: os.chown(path, f.get('owner', -1), f.get('group', -1))
        if 'h' in attrib or 's' in attrib: dos_attributes(path, 2 * ('h' in attrib) + 4 * ('s' in attrib))


def snapshot(folder):
    files = {}
    for path in (os.path.join(top, name) for top, dirs, names in os.walk(folder) for name in dirs + names):
        (mode, owner, group), rel = (lambda i: (i.st_mode, i.st_uid, i.st_gid))(os.lstat(path)), os.path.relpath(path, folder)
        if stat.S_ISLNK(mode): files[rel] = entry('link', 0, os.readlink(path).encode())
        elif stat.S_ISFIFO(mode): files[rel] = entry('fifo', mode & 0o7777, b'')
        elif not stat.S_ISDIR(mode): files[rel] = entry('file', mode & 0o7777, digest(iter(lambda f=open(path, 'rb'): f.read(1 << 24), b'')),
                                                        dos_attributes(path) if WINDOWS else '', owner, group)
    return files


def run(row, output, folder, env):
    # Runs the program in folder; returns (exit code, or minus the signal, stdout, stderr).
    # Each run line runs the program once more, in turn, its output after the last one's.
    commands, env = [WRAP + [PROGRAM] + [text(arg) for arg in args] for args in row['run']], dict(os.environ, **env)
    if row['inject'] and (not SHIM or WRAP): raise Skip('the change is injected by the fault shim into a plain program')
    if row['inject']: env['QUORVADEL_FAULT'] = row['inject']
    if 'QUORVADEL_FAULT' in env:  # the shim comes before a sanitizer's runtime, which must not mind
        env.update(LD_PRELOAD=SHIM, ASAN_OPTIONS=env.get('ASAN_OPTIONS', '') + ':verify_asan_link_order=0')
    user = row['user'] and pwd.getpwnam(row['user'])
    reader, out = None, os.open({'full': '/dev/full'}.get(output, folder + '.out'), os.O_RDWR | os.O_CREAT)
    if output == 'terminal': reader, out = pty.openpty()
    if output in ('pipe', 'closed-pipe'): reader, out = os.pipe()
    if output == 'closed-pipe': reader = os.close(reader)

    def prepare():
        if output == 'terminal': tty.setraw(1)
        if output == 'closed': os.close(1)
        if user: os.setgroups([]), os.setgid(user.pw_gid), os.setuid(user.pw_uid)
        if row['fsize']: signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        # A program that writes without end is stopped at 256 MB, not at a full disk.
        for limit, size in ((resource.RLIMIT_FSIZE, row['fsize'] or 1 << 28), (resource.RLIMIT_AS, row['memory']),
                            (resource.RLIMIT_NOFILE, row['nofile'])):
            if size: resource.setrlimit(limit, (size, size))
    holder = row['hold'] and subprocess.Popen(HELPER + ['hold'] + [filled(word) for word in row['hold']], cwd=folder,
                                              stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    if holder and not holder.stdout.readline().startswith(b'ready'): raise RuntimeError('the file could not be held')
    codes, errors = [], open(folder + '.err', 'wb')
    for command in commands:
        try:
            codes.append(subprocess.run(command, cwd=folder, env=env, input=row['stdin'], stdout=out, stderr=errors,
                                        preexec_fn=prepare, timeout=20).returncode)
        except subprocess.TimeoutExpired:
            codes.append('no end within 20 s')
    code = codes[0] if len(set(codes)) == 1 else codes
    os.close(out)
    errors = open(folder + '.err', 'rb').read()
    holder and holder.communicate()
    printed = b''
    if reader is not None:
        os.set_blocking(reader, False)
        try:
            while chunk := os.read(reader, 65536): printed += chunk
        except OSError:  # a pipe holds no more, a terminal is gone (EIO)
            os.close(reader)
    elif output == 'file': printed = open(folder + '.out', 'rb').read()
    return code, printed, errors


def scenario(row, output, env={}):
    # Runs a row in a fresh folder of the row's scratch folder; returns (result, the files left).
    global FOLDER
    folder = FOLDER = tempfile.mkdtemp(prefix=output + '-', dir=row['scratch'])
    mounts = [os.path.join(folder, name) for name in row['mounts']]  # each a small tmpfs, seen by wine's server too
    try:
        for mount in mounts:
            if os.mkdir(mount) or ctypes.CDLL(None).mount(b'tmpfs', mount.encode(), b'tmpfs', 0, b'size=1m'):
                raise Skip('cannot mount a tmpfs here')
        if (row['memory'] or row['nofile']) and (WRAP or 'QUORVADEL_SANITIZED' in os.environ):
            raise Skip('only a plain program has a memory or open-file limit')
        if row['user'] and os.geteuid() != 0: raise Skip('only root runs the program as another user')
        if row['user']: os.chmod(folder, 0o777)
        lay_out(row, folder)
        for command in row['setup']:
            if subprocess.run(command, shell=True, cwd=folder, stderr=subprocess.DEVNULL).returncode:
                raise Skip('cannot set up: ' + command)
        result = run(row, output, folder, env)
        return result, snapshot(folder)
    finally:  # what a setup made immutable or append-only is made plain again, for its removal
        if row['setup']: subprocess.run(['chattr', '-R', '-i', '-a', folder], stderr=subprocess.DEVNULL)
        for mount in mounts: ctypes.CDLL(None).umount2(mount.encode(), 2)


def check(row):
    problems = []
    for output in row['outputs']:
        if WINDOWS and output == 'terminal': continue  # wine draws a console there
        (code, printed, errors), files = scenario(row, output)
        where = '' if output == 'file' else ' (standard output: %s)' % output
        if code != row['exit']: problems.append('exit code %s, expected %d%s' % (code, row['exit'], where))
        got = re.sub(rb'(\xc3\xa0|\xe0|at) [0-9A-F]{8}', rb'\1 ADDR', printed)
        if got != text(row['stdout']): problems.append('standard output%s%s' % (where, difference(text(row['stdout']), got)))
        if errors: problems.append('standard error: %r' % errors[:300])
        wanted = {**entries(row['file']), **entries(row['after'])}  # the files before, and those new, changed or gone
        wanted = {path: found for path, found in wanted.items() if found}
        problems += ['file %s%s: %s, expected %s' % (path, where, show(files.get(path)), show(wanted.get(path)))
                     for path in sorted(set(files) | set(wanted)) if files.get(path) != wanted.get(path)]
    return problems


def difference(want, got):
    # The first line that differs (b'' past the end), numbered from 1.
    lines = itertools.zip_longest(want.splitlines(True), got.splitlines(True), fillvalue=b'')
    return ', line %d:\n    expected %r\n    got      %r' % next((n, *pair) for n, pair in enumerate(lines, 1) if pair[0] != pair[1])


def show(found):
    return 'none' if found is None else '%s 0%o%s %r%s' % (*found[:2], found[3] and ' ' + found[3], found[2][:80],
                                                            '...' if len(found[2]) > 80 else '')


def oracle_rows():
    corpus = os.environ.get('QUORVADEL_CORPUS', '')
    folders = [os.path.join(TABLE, '..', '..', 'examples')] + ([corpus] if os.path.isdir(corpus) else [])
    return [dict(ROW, name='Real file: ' + name, source=os.path.join(folder, name))
            for folder in folders for name in sorted(os.listdir(folder)) if name.endswith('.slk')]


def check_oracle(row):
    # The new bytes: every break ends a line, one at the very end adds no empty line, the first NUL ends
    # the text; a file that is not SYLK stays as it was.
    name, old = os.path.basename(row['source']), open(row['source'], 'rb').read()
    lines = re.findall(rb'([^\r\n]*)(?:\r\n|\r|\n|$)', old.split(b'\0')[0])[1:-1]
    new = b''.join(line + b'\r\n' for line in [b'ID;PSCALC3'] + lines) if old.startswith(b'ID;') else old
    file = dict(path=name, content=old, mode=0o644, kind='file')
    (code, printed, errors), files = scenario(dict(row, file=[file], run=[[name.encode(), b'-B-', b'-Q']]), 'file')
    return [] if (code, errors, files) == (0, b'', {name: entry('file', 0o644, new)}) else ['not the bytes of an independent split']


def main():
    global PROGRAM, WRAP, WINDOWS, HELPER, SHIM, KEEP
    parser = argparse.ArgumentParser()
    parser.add_argument('--wrap', default='', help='command that runs the program')
    parser.add_argument('--shim', help='the fault shim')
    parser.add_argument('--faults', action='store_true', help='run the fault sweep and the kills')
    parser.add_argument('--oracle', action='store_true', help='rewrite the examples and the corpus')
    parser.add_argument('-k', default='', metavar='NAME', help='run only the rows whose name holds NAME')
    parser.add_argument('--keep', action='store_true', help="keep each row's scratch folder and say where")
    parser.add_argument('program')
    args = parser.parse_args()
    PROGRAM, WRAP, WINDOWS, KEEP = os.path.abspath(args.program), args.wrap.split(), args.program.endswith('.exe'), args.keep
    SHIM, HELPER = args.shim and os.path.abspath(args.shim), WRAP + [os.environ.get('QUORVADEL_TEST_HELPER', 'TestHelper.exe')]
    rows, judge = read_table(), check
    if args.oracle: rows, judge = oracle_rows(), check_oracle
    if args.faults:
        import faults
        rows, judge = [row for row in rows if row['faults'] or row['writer']], lambda row: faults.sweep(row, sys.modules[__name__])
    rows, failed, skipped = [row for row in rows if args.k in row['name']], 0, 0
    for row in rows:
        row['scratch'] = tempfile.mkdtemp(prefix='quorvadel-')
        try:
            problems = judge(row)
        except Skip as reason:
            problems, skipped = None, skipped + 1
            print('%s: skipped, %s' % (row['name'], reason))
        failed += bool(problems)
        if problems: print('FAILED %s\n  %s' % (row['name'], '\n  '.join(problems)))
        if KEEP and problems is not None: print('%s: kept in %s' % (row['name'], row['scratch']))
        else: shutil.rmtree(row['scratch'], ignore_errors=True)
    print('%d rows, %d failed, %d skipped' % (len(rows), failed, skipped))
    return 1 if failed or not rows else 0


if __name__ == '__main__':
    sys.exit(main())
