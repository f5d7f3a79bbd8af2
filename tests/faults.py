# The proof that no failure costs data: a row of the table runs again with the
# fault shim preloaded, once for every call it makes failing with each error the
# platform gives for that kind of call, and once killed at every call. One rule
# judges every run, and the clean run's calls must come in an order that a power
# cut cannot make unsafe.
import errno, os, re

# The errors each kind of call really meets; "+" fails every later call of
# the kind too, "short" moves half the bytes.
ERRORS = {
    'open': ['EACCES+', 'EIO'], 'create': ['EEXIST', 'EEXIST+', 'ENOSPC', 'EROFS'], 'read': ['EIO+', 'EINTR', 'short'],
    'tmpfile': ['EOPNOTSUPP', 'ENOSPC', 'EACCES', 'EMFILE'], 'name': ['EEXIST', 'EIO+', 'ENOENT'],
    'write': ['ENOSPC+', 'EINTR', 'short'], 'stdout': ['EPIPE+', 'EINTR', 'short'], 'fsync': ['EIO+', 'EINVAL'],
    'syncfs': ['EIO+'], 'close': ['EIO+', 'EINTR'], 'link': ['EPERM+', 'EEXIST', 'EMLINK', 'EXDEV'],
    'rename': ['EINVAL+', 'EXDEV', 'EBUSY', 'EEXIST'], 'noreplace': ['EINVAL+', 'EEXIST'], 'exchange': ['EINVAL+', 'EIO'],
    'opendir': ['EACCES+', 'ENOENT'],
    'readdir': ['EIO+'], 'stat': ['EIO+', 'ENOENT', 'EACCES'], 'chmod': ['EPERM+'],
}
# The faults the program gets over: its output, exit code and files are then the clean run's. (A first
# link of an unnamed file refused with ENOENT: a kernel that lets only root link a descriptor.)
ABSORBED = {'EINTR', 'short', 'create:EEXIST', 'name:EEXIST', 'name:ENOENT', 'tmpfile:EOPNOTSUPP', 'tmpfile:EMFILE',
            'exchange:EINVAL+', 'noreplace:EINVAL+', 'fsync:EINVAL', 'link:EPERM+', 'link:EMLINK'}
HALTS = {b'  ERROR! File not found': 1, b'  ERROR! File is not': 2, b"  ERROR! Can't update": 3,
         b"  ERROR! Can't rename": 4}
TEMPORARY = re.compile(r"(^|/)\.qv[0-9A-F]{5}$")
KEPT = re.compile(r"(.+)\.qv[0-9A-F]{5}$")  # what came back from an exchange undone, kept beside its file


def calls(log):
    return [line.split(' ', 2) for line in log.splitlines()[1:] if not line.startswith('!')]


def blocks(printed):
    # The lines under each "Processing" line, by name; a line cut short is left out.
    shown, name = {}, None
    for line in printed.split(b'\r\n')[:-1]:
        if line.startswith(b'Processing: ['): name = line.split(b'] ', 1)[1].decode('latin-1')
        if name is not None: shown.setdefault(name, []).append(line)
    return shown


def judge(run, row, clean, result, files, killed, output_failed, vanished=False):
    # The promise for every file, and the truth of what the run said. A file
    # that the platform said was gone (vanished) may be left out of a clean end.
    problems, before = [], run.entries(row['file'])
    after = {**before, **run.entries(row['after'])}
    # A kill may leave the one new file being placed, under its temporary name.
    temporaries = [path for path in files if TEMPORARY.search(path)]
    if len(temporaries) > killed: problems.append('temporary files left: %s' % temporaries)
    for path, found in files.items():
        kept = KEPT.match(path)
        if found not in (before.get(path), after.get(path)) and path not in temporaries and not (kept and found == after.get(kept[1])):
            problems.append('neither old nor new: ' + path)
    problems += ['old content lost: ' + path for path, old in before.items()
                 if path not in files and old not in files.values()]
    code, printed, errors = result
    if errors: problems.append('standard error: %r' % errors[:200])
    if output_failed: return problems + ([] if code != 0 else ['output lost, yet exit code 0'])
    shown = blocks(printed)
    for path, lines in shown.items():
        updated, renamed = b'  successfully updated' in lines, [l[13:].decode('latin-1') for l in lines if l.startswith(b'  renamed as ')]
        if updated and files.get(path) != after.get(path): problems.append('said updated, not updated: ' + path)
        if any(files.get(backup) != before.get(path) for backup in renamed): problems.append('said renamed, no backup: ' + path)
        unchanged = files.get(path) == before.get(path) or (renamed and path not in files)
        if not (killed or updated or unchanged or any(b'Exception EWriteError' in line for line in lines)):
            problems.append('changed, yet not said updated: ' + path)
    # Only the failure of a group's last flush leaves the others of the group updated unsaid.
    unsaid = killed or b'Exception EWriteError' in printed
    problems += ['changed, never shown: ' + path for path, old in before.items()
                 if path not in shown and files.get(path) != old and not unsaid]
    if killed: return problems
    lines = printed.split(b'\r\n')[:-1]
    runtime = re.search(rb'^Runtime error +(\d+)', printed, re.M)
    if runtime: want = int(runtime[1])
    elif any(line.startswith(b'Exception ') for line in lines): want = 1
    elif lines and lines[-1] == b'  Process halted': want = next(c for e, c in HALTS.items() if lines[-2].startswith(e))
    elif any(line.startswith(b'ERROR! SYLK file list') for line in lines): want = 5
    else:
        want = 0
        if set(shown) != set(blocks(clean)) and not vanished: problems.append('a clean end, but not every file was processed')
        problems += ['a clean end, but no result for ' + path for path, said in shown.items()
                     if not any(line.startswith((b'  successfully', b'  ERROR!')) for line in said)]
    return problems + ([] if code == want else ['exit code %s, expected %d' % (code, want)])


def check_order(log):
    # A power cut keeps what was flushed: a file's content and the entries of
    # a folder reach the disk with its fsync (or a syncfs). A rename may put a
    # file in place only once its content is there, and, in a folder where a
    # backup link was just made, once that link is there too; every rename is
    # flushed before the run ends.
    problems, fds, unflushed, entries = [], {}, set(), {}
    for kind, result, args in calls(log):
        words = args.split(' ')
        if kind in ('open', 'create', 'tmpfile') and int(result) >= 0:
            fds[result] = '#' + result if kind == 'tmpfile' else words[0] + '/' * (int(words[1], 8) & os.O_DIRECTORY > 0)
        path = fds.get(words[0], '')
        if kind == 'name' and fds.get(words[1].rsplit('/', 1)[-1] or words[0]) in unflushed: unflushed.add(words[2])
        if kind == 'write': unflushed.add(path)
        elif kind == 'fsync' and path.endswith('/'): entries[os.path.normpath(path)] = []
        elif kind == 'fsync': unflushed.discard(path)
        elif kind in ('syncfs', 'sync'): unflushed, entries = set(), {}
        elif kind in ('link', 'rename', 'noreplace', 'exchange') and int(result) == 0:
            folder = os.path.normpath(os.path.dirname(words[1]) or '.')
            if kind != 'link' and words[0] in unflushed: problems.append('renamed before flushed: ' + words[0])
            if kind != 'link' and 'link' in entries.get(folder, []):
                problems.append('renamed before the backup link was flushed: ' + words[1])
            entries.setdefault(folder, []).append(kind)
    return problems + ['a rename never flushed in ' + f for f, done in entries.items() if set(done) - {'link'}]


def attempt(run, row, fault):
    # Runs the row with the shim acting as fault says; returns (result, files, the shim's log).
    log = os.path.join(row['scratch'], (fault or 'clean') + '.log')
    number, action = fault.partition(':')[::2]
    action = str(getattr(errno, action.rstrip('+'))) + '+' * action.endswith('+') if action[:1] == 'E' else action
    env = {'QUORVADEL_FAULT_LOG': log, 'QUORVADEL_FAULT': number + ':' + action}
    return (*run.scenario(row, 'file', env), open(log).read() if os.path.exists(log) else '')


def sweep(row, run):
    # Every fault at every call, and every kill; returns the problems.
    sanitized = 'QUORVADEL_SANITIZED' in os.environ
    if row['user']: os.chmod(row['scratch'], 0o777)  # where the shim writes its log
    clean, clean_files, clean_log = attempt(run, row, '')
    if not clean_log.startswith('loaded\n'): return ['the fault shim did not load']
    problems = judge(run, row, clean[1], clean, clean_files, False, False) + check_order(clean_log)
    made = calls(clean_log)

    def actions(kind):
        # Each error of the call's kind, and a kill before it and after a write; under a sanitizer,
        # which cannot watch a kill, the first error alone. A second writer saves the file, or appends to it,
        # once or before every call from there on.
        if row['writer']: return [act + '=' + row['writer'][0] + more for act in ('save', 'append') for more in ('', '+')]
        return ERRORS.get(kind, [])[:1] + ([] if sanitized else ERRORS.get(kind, [])[1:] + ['kill'] + ['killafter'] * (kind == 'write'))
    faults = [(n, kind, action) for n, (kind, _, _) in enumerate(made, 1) for action in actions(kind)]
    for n, kind, action in faults:
        fault = '%d:%s' % (n, action)
        result, files, fault_log = attempt(run, row, fault)
        struck = re.search(r'^! \d+ ', fault_log, re.M)
        if not struck: problems.append('%s: the calls changed, the fault never struck' % fault)
        killed = 'kill' in fault
        output_failed = 'EINTR' not in fault and bool(re.search(r'^(stdout|stat) -1 1$', fault_log, re.M))
        if row['writer']: found = judge_writer(run, row, result, files, fault_log if action.endswith('+') else '')
        else: found = judge(run, row, clean[1], result, files, killed, output_failed, 'ENOENT' in fault)
        if killed and struck and result[0] != -9: found.append('not killed: %s' % (result[0],))
        if (action in ABSORBED or kind + ':' + action in ABSORBED) and (result, files) != (clean, clean_files):
            found.append('a fault got over, yet the outcome differs from the clean run')
        problems += ['%s: %s' % (fault, problem) for problem in found]
        if len(problems) > 20: break
    print('%s: %d calls, %d runs' % (row['name'], len(made), len(faults) + 1))
    return problems


def judge_writer(run, row, result, files, every):
    # Every record of the other program is under the name at the end, as it
    # wrote it or converted (when it came before the read), or in a file kept
    # beside it (NAME.qvXXXXX); the output says updated exactly where the name
    # holds a converted file; a backup holds what was read.
    name = row['writer'][0]
    code, printed, errors = result
    old, final = run.entries(row['file'])[name][2], (files.get(name) or ('', 0, b''))[2]
    kept = [found[2] for path, found in files.items() if (KEPT.match(path) or [0, 0])[1] == name]
    lines = blocks(printed).get(name, [])
    problems = ['standard error: %r' % errors[:200]] if errors else []
    problems += ['temporary file left: ' + path for path in files if TEMPORARY.search(path)]
    # every: the shim's log of a writer that acted before every call, its records numbered by the call.
    records = [b'W;' + n.encode() for n in re.findall(r'^! (\d+) ', every, re.M)] if every else [b'W;saved']
    problems += ["the other program's record %s is lost" % record.decode() for record in records
                 if not any(record + end in data for data in [final] + kept for end in (b'\n', b'\r\n'))]
    if (b'  successfully updated' in lines) != final.startswith(b'ID;PSCALC3\r\n'):
        problems.append('the output says %r, the file holds %r' % (lines[1:], final[:40]))
    backup = name.rsplit('.', 1)[0] + '.bak'  # shown exactly where one is left, holding what was read
    if (backup in files) != any(line.startswith(b'  renamed as ') for line in lines): problems.append('backup %s left unsaid, or said and gone' % backup)
    if backup in files and not re.fullmatch(re.escape(old) + rb'(W;\w+\n)*', files[backup][2]):
        problems.append('backup %s holds neither what was read nor the old content' % backup)
    return problems + ([] if code == 0 else ['exit code %s, expected 0' % code])
