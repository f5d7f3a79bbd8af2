#!/usr/bin/python3
# Times quorvadel against what a user would otherwise type, on identical fresh
# copies of the same data, the tools taking turns, several rounds each:
#   - one large SYLK file with LF ends, on tmpfs;
#   - many small files, on tmpfs and on the disk (a fresh ext4 file system in an
#     image on this folder's disk, as root; else this folder's file system);
#   - the scale: one file of 1 MB to 1 GB, and 10 to 100,000 small files.
# It reports median wall time, CPU time and peak memory, with the spread, and
# the ratio to cp, writes docs/performance/results.md and the plots there.
#
#   bench/bench.py [--quick] [--rounds N] [PROGRAM]
#
# PROGRAM defaults to build-release/quorvadel, built by the linux-release preset
# when missing. What the script needs (dos2unix, matplotlib) is installed with
# apt where missing. Nothing here is a test: no figure is asserted.
import argparse, json, os, resource, shutil, statistics, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
OUT = os.path.join(ROOT, 'docs', 'performance')
PEERS = {
    'quorvadel': '{program} -Q {files}',
    'sed + unix2dos': "sed -i.bak '1s/^ID;.*/ID;PSCALC3/' {files} && unix2dos -q {files}",
    'perl -pi': "perl -pi.bak -e '$_ = \"ID;PSCALC3\\n\" if $. == 1; s/\\r?\\n\\z/\\r\\n/; close ARGV if eof' {files}",
    'python': sys.executable + ' ' + os.path.join(HERE, 'peer.py') + ' {files}',
}


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
    """Runs command in folder; returns wall seconds, CPU seconds, peak memory in bytes."""
    report = os.path.join(folder, '..', os.path.basename(folder) + '.time')
    start = time.perf_counter()
    child = subprocess.Popen(['/usr/bin/time', '-f', '%M', '-o', report, 'sh', '-c', command], cwd=folder,
                             stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if status != 0: raise RuntimeError('%s failed: %d' % (command, status))
    with open(report) as lines:
        peak = int(lines.read().split()[-1]) * 1024
    os.remove(report)
    return wall, usage.ru_utime + usage.ru_stime, peak


def fresh(source, place, disk):
    """A copy of source under place, its data on the disk when disk is set."""
    target = tempfile.mkdtemp(dir=place)
    subprocess.run(['cp', '-R', source + '/.', target], check=True)
    if disk: subprocess.run(['sync'], check=True)
    return target


def measure(name, source, place, disk, rounds, program, tools):
    """Every tool in turn on its own fresh copy, rounds times; the medians.
    On the disk all copies are made, and flushed, before the first run:
    removing thousands of files just before a run makes the file system's
    search for free inodes slow, for whichever tool comes next."""
    runs = {tool: [] for tool in tools}
    single = os.listdir(source) == ['big.slk']
    order = [tool for _ in range(rounds) for tool in tools]
    copies = [fresh(source, place, disk) for _ in order] if disk else []
    for tool in order:
        folder = copies.pop(0) if disk else fresh(source, place, disk)
        if tool == 'cp':  # the same bytes copied: a file, or the whole folder
            command = 'cp big.slk copy.slk' if single else 'cp -R . ../copy-%s' % os.path.basename(folder)
        else:
            files = 'big.slk' if single else "'*.slk'" if tool == 'quorvadel' else '*.slk'
            command = PEERS[tool].format(program=program, files=files)
        runs[tool].append(timed(command, folder))
        if not disk:
            shutil.rmtree(folder)
            shutil.rmtree(os.path.join(place, 'copy-' + os.path.basename(folder)), ignore_errors=True)
    result = {}
    for tool, values in runs.items():
        walls = sorted(value[0] for value in values)
        result[tool] = dict(wall=statistics.median(walls), low=walls[0], high=walls[-1],
                            cpu=statistics.median(value[1] for value in values),
                            memory=max(value[2] for value in values))
    print('\n%s' % name)
    for tool, figures in result.items():
        figures['ratio'] = figures['wall'] / result['cp']['wall']
        print('  %-15s %8.3f s (%.3f-%.3f)  cpu %7.3f s  %8.1f MB  %5.2f x cp' % (
            tool, figures['wall'], figures['low'], figures['high'], figures['cpu'], figures['memory'] / 2 ** 20,
            figures['ratio']), flush=True)
    return result


def data(kind, size, place, *args):
    folder = tempfile.mkdtemp(dir=place, prefix='data-')
    if kind == 'big':
        subprocess.run([sys.executable, os.path.join(HERE, 'generate.py'), 'big', folder + '/big.slk', str(size)] + list(args), check=True)
    else:
        subprocess.run([sys.executable, os.path.join(HERE, 'generate.py'), 'many', folder, str(size), '2048'], check=True)
    return folder


def plot(results):
    import matplotlib
    matplotlib.use('Agg')
    import matplotlib.pyplot as plt
    for key, label, unit in (('bytes', 'file size (MB)', 'MB'), ('files', 'files of 2 KB', 'files')):
        points = sorted((size, figures) for (kind, size), figures in results['scale'].items() if kind == key)
        if not points: continue
        figure, axes = plt.subplots(1, 2 if key == 'bytes' else 1, figsize=(10 if key == 'bytes' else 5, 4))
        axes = list(axes) if key == 'bytes' else [axes]
        sizes = [size for size, _ in points]
        for tool in ('quorvadel', 'cp'):
            axes[0].plot(sizes, [figures[tool]['wall'] for _, figures in points], 'o-', label=tool)
        axes[0].set(xscale='log', yscale='log', xlabel=label, ylabel='wall time (s)', title='Time, tmpfs')
        axes[0].legend()
        if key == 'bytes':
            axes[1].plot(sizes, [figures['quorvadel']['memory'] / 2 ** 20 for _, figures in points], 'o-', label='quorvadel')
            axes[1].plot(sizes, sizes, '--', label='the file size')
            axes[1].set(xscale='log', yscale='log', xlabel=label, ylabel='peak memory (MB)', title='Memory')
            axes[1].legend()
        figure.tight_layout()
        figure.savefig(os.path.join(OUT, 'scale-%s.png' % key), dpi=100)


def report(results):
    lines = ['| data set | tool | median wall (s) | spread (s) | CPU (s) | peak memory (MB) | × cp |', '|---|---|---|---|---|---|---|']
    for name, figures in results['sets'].items():
        for tool, f in figures.items():
            lines.append('| %s | %s | %.3f | %.3f–%.3f | %.3f | %.1f | %.2f |' % (
                name, tool, f['wall'], f['low'], f['high'], f['cpu'], f['memory'] / 2 ** 20, f['ratio']))
    lines += ['', '| scale | quorvadel wall (s) | cp wall (s) | quorvadel peak memory (MB) |', '|---|---|---|---|']
    for (kind, size), figures in sorted(results['scale'].items()):
        lines.append('| %d %s | %.3f | %.3f | %.1f |' % (size, 'MB' if kind == 'bytes' else 'files', figures['quorvadel']['wall'],
                                                        figures['cp']['wall'], figures['quorvadel']['memory'] / 2 ** 20))
    with open(os.path.join(OUT, 'results.md'), 'w') as out:
        out.write('\n'.join(lines) + '\n')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--rounds', type=int, default=5)
    parser.add_argument('--quick', action='store_true', help='small data sets, to try the script')
    parser.add_argument('program', nargs='?', default=os.path.join(ROOT, 'build-release', 'quorvadel'))
    args = parser.parse_args()
    install()
    if not os.path.exists(args.program):
        subprocess.run(['cmake', '--workflow', '--preset', 'linux-release'], cwd=ROOT, check=True)
    program = os.path.abspath(args.program)
    os.makedirs(OUT, exist_ok=True)
    memory = tempfile.mkdtemp(dir='/dev/shm', prefix='quorvadel-bench-')
    disk = tempfile.mkdtemp(dir=HERE, prefix='run-')
    # As root, a fresh ext4 file system on an image in this folder: a file
    # system that tests have just filled and emptied is slow to give out
    # inodes, whichever tool asks.
    image = os.path.join(disk, 'ext4.img')
    fresh_disk = os.geteuid() == 0 and subprocess.run(
        'truncate -s 8G %s && mkfs.ext4 -q -F %s && mkdir %s/d && mount -o loop %s %s/d' % ((image, image, disk, image, disk)),
        shell=True).returncode == 0
    if fresh_disk: disk += '/d'
    quick = args.quick
    all_tools = ['quorvadel', 'cp', 'sed + unix2dos', 'perl -pi', 'python']
    results = {'sets': {}, 'scale': {}}
    try:
        big = data('big', 16 if quick else 512, memory, 'lf')
        results['sets']['one %s file, LF, tmpfs' % ('16 MB' if quick else '512 MB')] = measure(
            'one large file, tmpfs', big, memory, False, args.rounds, program, all_tools)
        shutil.rmtree(big)
        many = data('many', 100 if quick else 10000, memory)
        results['sets']['%d files of 2 KB, tmpfs' % (100 if quick else 10000)] = measure(
            'many small files, tmpfs', many, memory, False, args.rounds, program, all_tools)
        on_disk = shutil.copytree(many, disk + '/many')
        results['sets']['%d files of 2 KB, disk' % (100 if quick else 10000)] = measure(
            'many small files, disk', on_disk, disk, True, args.rounds, program, ['quorvadel', 'cp', 'python'])
        shutil.rmtree(many)
        for megabytes in ([1, 4] if quick else [1, 4, 16, 64, 256, 1024]):
            source = data('big', megabytes, memory, 'lf')
            results['scale'][('bytes', megabytes)] = measure('%d MB' % megabytes, source, memory, False, 3, program, ['quorvadel', 'cp'])
            shutil.rmtree(source)
        for count in ([10, 100] if quick else [10, 100, 1000, 10000, 100000]):
            source = data('many', count, memory)
            results['scale'][('files', count)] = measure('%d files' % count, source, memory, False, 3, program, ['quorvadel', 'cp'])
            shutil.rmtree(source)
    finally:
        shutil.rmtree(memory, ignore_errors=True)
        if fresh_disk: subprocess.run(['umount', disk])
        shutil.rmtree(os.path.dirname(disk) if fresh_disk else disk, ignore_errors=True)
    report(results)
    plot(results)
    with open(os.path.join(OUT, 'results.json'), 'w') as out:
        json.dump({'sets': results['sets'], 'scale': {'%s %d' % key: value for key, value in results['scale'].items()}}, out, indent=1)
    print('\nwritten: %s' % OUT)


if __name__ == '__main__':
    main()
