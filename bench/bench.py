#!/usr/bin/python3
# Times quorvadel against what a user would otherwise type, on identical fresh
# copies of the same data, the tools taking turns, several rounds each:
#   - one 512 MB SYLK file on tmpfs, with LF ends and with CR LF ends already;
#   - 10,000 small files on tmpfs, each tool on a fresh copy (cp -R), with
#     the safe floor (bench/SafeFloor.cpp) beside the peers, and, the way
#     one tries it by hand, on a hard-linked copy of a master (cp -al);
#   - 10,000 small files on the disk (a fresh ext4 file system in an image
#     on this folder's disk, as root; else this folder's file system), with
#     the safe floor (bench/SafeFloor.cpp) and the Python script flushed
#     once at its end beside the peers;
#   - 2,000 small files named in a list file, a missing name after each,
#     against the same list without them, on the disk;
#   - the scale: one file of 1 MB to 1.5 GB, and 10 to 100,000 small files.
# It reports median wall time, CPU time and peak memory, with the spread, the
# ratio to the set's base (cp, or as named) and the targets, writes
# docs/performance/results.md, results.json and the plots there.
#
#   bench/bench.py [--quick] [--rounds N] [PROGRAM]
#
# PROGRAM defaults to build-release/quorvadel, built with bench/SafeFloor by
# the linux-release preset when missing. What the script needs (dos2unix,
# time, matplotlib) is installed with apt where missing. Nothing here is a
# test: no figure is asserted.
import argparse, contextlib, json, os, shutil, statistics, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
OUT = os.path.join(ROOT, 'docs', 'performance')
BUILD = os.path.join(ROOT, 'build-release')
# The peers, in backup mode where they have one. {files} is the files' pattern.
PEERS = {
    'sed + unix2dos': "sed -i.bak '1s/^ID;.*/ID;PSCALC3/' {files} && unix2dos -q {files}",
    'perl -pi': "perl -pi.bak -e '$_ = \"ID;PSCALC3\\n\" if $. == 1; s/\\r?\\n\\z/\\r\\n/; close ARGV if eof' {files}",
    'python': sys.executable + ' ' + os.path.join(HERE, 'peer.py') + ' {files}',
}
# The same bytes copied: the floor every set is measured against.
ONE_FILE = {'cp': 'cp big.slk copy.slk', 'read/write loop': 'dd if=big.slk of=copy.slk bs=1M status=none'}
FOLDER = {'cp -R': 'cp -R . ../{folder}-copy'}


def install():
    wanted = [package for command, package in (('unix2dos', 'dos2unix'), ('perl', 'perl')) if not shutil.which(command)]
    wanted += [] if os.path.exists('/usr/bin/time') else ['time']
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        wanted.append('python3-matplotlib')
    if wanted:
        sudo = [] if os.geteuid() == 0 else ['sudo']
        subprocess.run(sudo + ['apt-get', 'update'], check=True)
        subprocess.run(sudo + ['apt-get', 'install', '-y', '--no-install-recommends'] + wanted, check=True,
                       env=dict(os.environ, DEBIAN_FRONTEND='noninteractive'))


def timed(command, folder):
    """Runs command in folder; returns wall seconds, user and system CPU seconds, peak memory in bytes."""
    report = folder + '.time'
    start = time.perf_counter()
    child = subprocess.Popen(['/usr/bin/time', '-f', '%M', '-o', report, 'sh', '-c', command], cwd=folder,
                             stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if status != 0: raise RuntimeError('%s failed: %d' % (command, status))
    with open(report) as lines:
        peak = int(lines.read().split()[-1]) * 1024
    os.remove(report)
    return wall, usage.ru_utime, usage.ru_stime, peak


def copy_of(source, place, way):
    """A copy of source under place: its own bytes (cp -R) or its files' names (cp -al)."""
    target = tempfile.mkdtemp(dir=place)
    subprocess.run(['cp', '-al' if way == 'links' else '-R', source + '/.', target], check=True)
    return target


def measure(name, source, place, rounds, tools, base, disk=False, way='fresh'):
    """Every tool in turn on its own copy of source, rounds times; the medians.
    On the disk all copies are made before the first run: removing thousands
    of files just before a run makes the file system's search for free
    inodes slow, for whichever tool comes next. And each run starts on a
    flushed file system: a tool that flushes would otherwise also write what
    the unflushed tool before it left in memory."""
    order = [tool for _ in range(rounds) for tool in tools]
    copies = [copy_of(source, place, way) for _ in order] if disk else []
    runs = {tool: [] for tool in tools}
    for tool in order:
        folder = copies.pop(0) if disk else copy_of(source, place, way)
        if disk: subprocess.run(['sync'], check=True)
        runs[tool].append(timed(tools[tool].format(folder=os.path.basename(folder)), folder))
        if not disk:
            shutil.rmtree(folder)
            shutil.rmtree(folder + '-copy', ignore_errors=True)
    result = {}
    for tool, values in runs.items():
        walls = [value[0] for value in values]
        result[tool] = dict(wall=statistics.median(walls), low=min(walls), high=max(walls), walls=walls,
                            user=statistics.median(value[1] for value in values),
                            system=statistics.median(value[2] for value in values),
                            memory=max(value[3] for value in values))
    print('\n%s' % name)
    for tool, figures in result.items():
        figures['ratio'] = figures['wall'] / result[base]['wall']
        print('  %-26s %8.3f s (%.3f-%.3f)  user %6.3f s  system %6.3f s  %8.1f MB  %5.2f x %s' % (
            tool, figures['wall'], figures['low'], figures['high'], figures['user'], figures['system'],
            figures['memory'] / 2 ** 20, figures['ratio'], base), flush=True)
    result['base'] = base
    return result


def data(kind, size, place, *args):
    folder = tempfile.mkdtemp(dir=place, prefix='data-')
    if kind == 'big':
        subprocess.run([sys.executable, os.path.join(HERE, 'generate.py'), 'big', folder + '/big.slk', str(size)] + list(args), check=True)
    else:
        subprocess.run([sys.executable, os.path.join(HERE, 'generate.py'), 'many', folder, str(size), '2048'], check=True)
    return folder


@contextlib.contextmanager
def fresh_disk(place):
    """A folder on a fresh ext4 file system in an image under place, as root;
    else place itself. A file system that tests or an earlier set have just
    filled and emptied is slow to give out inodes, whichever tool asks. Its
    inode tables are written now, not by the kernel in the background during
    the runs."""
    image, mount = os.path.join(place, 'ext4.img'), os.path.join(place, 'd')
    made = os.geteuid() == 0 and subprocess.run(
        'truncate -s 16G {0} && mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 {0} && '
        'mkdir {1} && mount -o loop {0} {1}'.format(image, mount), shell=True).returncode == 0
    folder = tempfile.mkdtemp(dir=mount if made else place)
    try:
        yield folder
    finally:
        if made:
            subprocess.run(['umount', mount])
            os.rmdir(mount)
            os.remove(image)
        else:
            shutil.rmtree(folder, ignore_errors=True)


def with_missing_names(folder, place, missing):
    """A list file naming the files of folder, each followed by a missing name when missing is set."""
    path = os.path.join(place, 'list-%s.txt' % ('missing' if missing else 'present'))
    with open(path, 'w') as out:
        for number, name in enumerate(sorted(os.listdir(folder))):
            out.write(name + '\n' + ('missing%d\n' % (number + 1) if missing else ''))
    return path


def plot(results):
    import matplotlib
    matplotlib.use('Agg')
    import matplotlib.pyplot as plt
    for key, label in (('bytes', 'file size (MB)'), ('files', 'files of 2 KB')):
        points = sorted((size, figures) for (kind, size), figures in results['scale'].items() if kind == key)
        if not points: continue
        figure, axes = plt.subplots(1, 2 if key == 'bytes' else 1, figsize=(10 if key == 'bytes' else 5, 4))
        axes = list(axes) if key == 'bytes' else [axes]
        sizes = [size for size, _ in points]
        for tool in ('quorvadel', 'cp'):
            axes[0].plot(sizes, [figures[tool]['wall'] for _, figures in points], 'o-', label=tool)
        # A line of slope one through the largest point: linear time lies on it.
        last_size, last = points[-1]
        axes[0].plot(sizes, [last['quorvadel']['wall'] * size / last_size for size in sizes], ':', color='grey',
                     label='proportional')
        axes[0].set(xscale='log', yscale='log', xlabel=label, ylabel='wall time (s)', title='Time, tmpfs')
        axes[0].legend()
        if key == 'bytes':
            axes[1].plot(sizes, [figures['quorvadel']['memory'] / 2 ** 20 for _, figures in points], 'o-', label='quorvadel')
            axes[1].plot(sizes, sizes, '--', label='the file size')
            axes[1].set(xscale='log', yscale='log', xlabel=label, ylabel='peak memory (MB)', title='Memory')
            axes[1].legend()
        figure.tight_layout()
        figure.savefig(os.path.join(OUT, 'scale-%s.png' % key), dpi=100)


def paired(figures, tool, base):
    """The ratio of medians, and the lowest and highest ratio within a round."""
    rounds = [mine / theirs for mine, theirs in zip(figures[tool]['walls'], figures[base]['walls'])]
    return '%.2f × (%.2f–%.2f a round)' % (figures[tool]['wall'] / figures[base]['wall'], min(rounds), max(rounds))


def targets(results, names):
    """The targets as rows: what is asked, what was measured."""
    sets, scale = results['sets'], results['scale']
    peak = lambda size: scale[('bytes', size)]['quorvadel']['memory'] / 2 ** 20
    sizes = sorted(size for kind, size in scale if kind == 'bytes')
    memory = ', '.join('%.1f MB at %d MB' % (peak(size), size) for size in (sizes[0], names['middle'], sizes[-1]))
    rows = [('1', 'peak memory, one file', '≤ 16 MB at every size', memory,
             max(peak(size) for size in sizes) <= 16)]
    for number, key in (('2', 'lf'), ('3', 'crlf')):
        figures = sets[names[key]]
        rows.append((number, names[key], '≤ %s × cp' % ('1.5' if key == 'lf' else '1.3'),
                     paired(figures, 'quorvadel', 'cp') + '; read/write loop ' + paired(figures, 'read/write loop', 'cp'),
                     figures['quorvadel']['ratio'] <= (1.5 if key == 'lf' else 1.3)))
    fresh, links = sets[names['tmpfs']], sets[names['links']]
    rows.append(('4', names['tmpfs'], '≤ 1.1 × cp -R', 'fresh copies ' + paired(fresh, 'quorvadel', 'cp -R') +
                 '; hard-linked copies ' + paired(links, 'quorvadel', 'cp -R') + '; the safe floor ' +
                 paired(fresh, 'safe floor', 'cp -R'), fresh['quorvadel']['ratio'] <= 1.1))
    disk = sets[names['disk']]
    rows.append(('5', names['disk'], '≤ 1.2 × python (unflushed), ≤ 1.2 × the safe floor',
                 paired(disk, 'quorvadel', 'python') + ' python; ' + paired(disk, 'quorvadel', 'safe floor') + ' the floor',
                 max(disk['quorvadel']['wall'] / disk[tool]['wall'] for tool in ('python', 'safe floor')) <= 1.2))
    missing = sets[names['missing']]
    rows.append(('6', names['missing'], '≤ 1.2 × without them', paired(missing, 'with missing names', 'without'),
                 missing['with missing names']['ratio'] <= 1.2))
    per_byte = ', '.join('%.2f' % (scale[('bytes', size)]['quorvadel']['wall'] / size / 2 ** 20 * 1e9) for size in sizes)
    counts = sorted(count for kind, count in scale if kind == 'files')
    per_file = ', '.join('%.0f' % (scale[('files', count)]['quorvadel']['wall'] / count * 1e6) for count in counts)
    rows.append(('7', 'scale', 'linear in time, flat in memory',
                 'ns a byte from %d MB to %d MB: %s; µs a file from %d to %d files: %s' % (
                     sizes[0], sizes[-1], per_byte, counts[0], counts[-1], per_file), None))
    return rows


def report(results, names):
    lines = ['| data set | tool | median wall (s) | spread (s) | user (s) | system (s) | peak memory (MB) | × base |',
             '|---|---|---|---|---|---|---|---|']
    for name, figures in results['sets'].items():
        for tool, f in figures.items():
            if tool == 'base': continue
            lines.append('| %s | %s | %.3f | %.3f–%.3f | %.3f | %.3f | %.1f | %.2f × %s |' % (
                name, tool, f['wall'], f['low'], f['high'], f['user'], f['system'], f['memory'] / 2 ** 20, f['ratio'],
                figures['base']))
    lines += ['', '| scale | quorvadel wall (s) | spread (s) | cp wall (s) | × cp | quorvadel peak memory (MB) |',
              '|---|---|---|---|---|---|']
    for (kind, size), figures in sorted(results['scale'].items()):
        q = figures['quorvadel']
        lines.append('| %d %s | %.3f | %.3f–%.3f | %.3f | %.2f | %.1f |' % (
            size, 'MB' if kind == 'bytes' else 'files', q['wall'], q['low'], q['high'], figures['cp']['wall'],
            q['ratio'], q['memory'] / 2 ** 20))
    goals = ['| # | measure | target | measured | met |', '|---|---|---|---|---|']
    for number, what, asked, got, met in targets(results, names):
        goals.append('| %s | %s | %s | %s | %s |' % (number, what, asked, got, '' if met is None else 'yes' if met else 'no'))
    with open(os.path.join(OUT, 'results.md'), 'w') as out:
        out.write('\n'.join(lines + [''] + goals) + '\n')
    print('\n' + '\n'.join(goals))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--rounds', type=int, default=5)
    parser.add_argument('--quick', action='store_true', help='small data sets, to try the script')
    parser.add_argument('program', nargs='?', default=os.path.join(BUILD, 'quorvadel'))
    args = parser.parse_args()
    install()
    floor = os.path.join(BUILD, 'bench', 'SafeFloor')
    if not os.path.exists(args.program) or not os.path.exists(floor):
        subprocess.run(['cmake', '--workflow', '--preset', 'linux-release'], cwd=ROOT, check=True)
    program = os.path.abspath(args.program)
    quorvadel = {'quorvadel': program + " -Q '*.slk'"}
    os.makedirs(OUT, exist_ok=True)
    memory = tempfile.mkdtemp(dir='/dev/shm', prefix='quorvadel-bench-')
    disk = tempfile.mkdtemp(dir=HERE, prefix='run-')
    quick, rounds = args.quick, args.rounds
    megabytes, count, listed = (16, 100, 20) if quick else (512, 10000, 2000)
    names = dict(lf='one %d MB file, LF, tmpfs' % megabytes, crlf='one %d MB file, CR LF, tmpfs' % megabytes,
                 tmpfs='%d files of 2 KB, tmpfs' % count, links='%d files of 2 KB, tmpfs, hard-linked copies' % count,
                 disk='%d files of 2 KB, ext4, durable' % count,
                 missing='%d files of 2 KB, a missing name after each, ext4, durable' % listed, middle=megabytes)
    results = {'sets': {}, 'scale': {}}
    try:
        for key, ends in (('lf', 'lf'), ('crlf', 'crlf')):
            big = data('big', megabytes, memory, ends)
            tools = dict(quorvadel, **{tool: command.format(files='big.slk') for tool, command in PEERS.items()})
            results['sets'][names[key]] = measure(names[key], big, memory, rounds, dict(tools, **ONE_FILE), 'cp')
            shutil.rmtree(big)
        many = data('many', count, memory)
        tools = dict(quorvadel, **{tool: command.format(files='*.slk') for tool, command in PEERS.items()})
        tools['safe floor'] = floor + ' *.slk'
        results['sets'][names['tmpfs']] = measure(names['tmpfs'], many, memory, rounds, dict(tools, **FOLDER), 'cp -R')
        # One master, each run on a copy of its names: the files are the
        # master's, their content neither copied nor freed between runs.
        results['sets'][names['links']] = measure(names['links'], many, memory, rounds, dict(quorvadel, **FOLDER),
                                                  'cp -R', way='links')
        with fresh_disk(disk) as place:
            source = shutil.copytree(many, place + '/many')
            # The Python script flushed once at its end: durable, though not safe.
            python = PEERS['python'].format(files='*.slk')
            tools = dict(quorvadel, **FOLDER, python=python, **{'python + syncfs': python + ' && sync -f .',
                                                                'safe floor': floor + ' *.slk'})
            results['sets'][names['disk']] = measure(names['disk'], source, place, rounds, tools, 'python', disk=True)
        shutil.rmtree(many)
        few = data('many', listed, memory)
        with fresh_disk(disk) as place:
            source = shutil.copytree(few, place + '/few')
            tools = {'with missing names': program + ' -Q -F' + with_missing_names(source, place, True),
                     'without': program + ' -Q -F' + with_missing_names(source, place, False)}
            results['sets'][names['missing']] = measure(names['missing'], source, place, rounds, tools, 'without', disk=True)
        shutil.rmtree(few)
        for size in ([1, 4, 16] if quick else [1, 4, 16, 64, 256, 512, 1024, 1536]):
            source = data('big', size, memory, 'lf')
            results['scale'][('bytes', size)] = measure('%d MB' % size, source, memory, 3, dict(quorvadel, cp=ONE_FILE['cp']), 'cp')
            shutil.rmtree(source)
        for size in ([10, 100] if quick else [10, 100, 1000, 10000, 100000]):
            source = data('many', size, memory)
            results['scale'][('files', size)] = measure('%d files' % size, source, memory, 3, dict(quorvadel, cp=FOLDER['cp -R']), 'cp')
            shutil.rmtree(source)
    finally:
        shutil.rmtree(memory, ignore_errors=True)
        shutil.rmtree(disk, ignore_errors=True)
    report(results, names)
    plot(results)
    with open(os.path.join(OUT, 'results.json'), 'w') as out:
        json.dump({'sets': results['sets'], 'scale': {'%s %d' % key: value for key, value in results['scale'].items()}},
                  out, indent=1)
    print('\nwritten: %s' % OUT)


if __name__ == '__main__':
    main()
