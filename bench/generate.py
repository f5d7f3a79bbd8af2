#!/usr/bin/env python3
# Writes the benchmark's data sets, the same bytes every time:
#   generate.py big FILE MEGABYTES [lf|crlf|cr|mixed]   one SYLK file of that many megabytes
#   generate.py many FOLDER COUNT BYTES                  COUNT SYLK files of about BYTES each
# The cells are those a spreadsheet program writes: row by row, a label, six
# numbers and a formula, about 20 bytes a line.
import os, random, sys

ENDS = {'lf': [b'\n'], 'crlf': [b'\r\n'], 'cr': [b'\r'], 'mixed': [b'\n', b'\r\n', b'\r']}
HEAD = [b'ID;PWXL;N;E', b'P;PGeneral', b'F;P0;DG0G8;M255']


def rows(rng, first, count):
    for y in range(first, first + count):
        yield b'C;Y%d;X1;K"Item %d"' % (y, rng.randrange(100000))
        for x in range(2, 8):
            yield b'C;X%d;K%d.%04d' % (x, rng.randrange(10 ** 5), rng.randrange(10 ** 4))
        yield b'C;X8;K%d;ESUM(RC[-6]:RC[-1])' % rng.randrange(10 ** 6)


def join(cells, ends, rng):
    if len(ends) == 1: return ends[0].join(cells) + ends[0]
    return b''.join(cell + rng.choice(ends) for cell in cells)


def main():
    kind, path = sys.argv[1], sys.argv[2]
    if kind == 'big':
        ends, rng = ENDS[sys.argv[4] if len(sys.argv) > 4 else 'lf'], random.Random(1)
        # A megabyte of rows made once, then repeated with their own row numbers.
        block = join(list(rows(rng, 1, 5000)), ends, rng)
        with open(path, 'wb') as out:
            out.write(join(HEAD, ends, rng))
            size = int(sys.argv[3]) << 20
            while out.tell() + len(block) <= size:
                out.write(block)
            rest = block[:size - out.tell()]
            out.write(rest[:rest.rfind(ends[0]) + len(ends[0])] + b'E' + ends[0])
    else:
        os.makedirs(path, exist_ok=True)
        for number in range(int(sys.argv[3])):
            rng, cells, y = random.Random(number), list(HEAD), 1
            while sum(map(len, cells)) + len(cells) < int(sys.argv[4]) - 2:
                cells += rows(rng, y, 1)
                y += 1
            cells.append(b'E')
            with open(os.path.join(path, 'f%06d.slk' % number), 'wb') as out:
                out.write(join(cells, ENDS['lf'], rng))


if __name__ == '__main__':
    main()
