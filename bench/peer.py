#!/usr/bin/env python3
# What a user might write instead of quorvadel: for each file named, keep the
# original as NAME.bak, then write the converted text under the file's name.
# Nothing is flushed to disk.
import os, sys

for name in sys.argv[1:]:
    backup = os.path.splitext(name)[0] + '.bak'
    os.rename(name, backup)
    with open(backup, 'rb') as source:
        lines = source.read().splitlines()
    if not lines or not lines[0].startswith(b'ID;'):
        os.rename(backup, name)
        continue
    lines[0] = b'ID;PSCALC3'
    with open(name, 'wb') as target:
        target.write(b'\r\n'.join(lines) + b'\r\n')
