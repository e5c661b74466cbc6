#!/usr/bin/env python3
"""Reads clang-tidy readability-identifier-naming output (stdin) and prints one
line per distinct finding: kind<TAB>name<TAB>suggestion<TAB>file:line.
A helper for extending renames.tsv; apply.py does not need it."""
import os
import re
import sys

ANSI = re.compile(r'\x1b\[[0-9;]*m')
WARN = re.compile(r"^(.*?):(\d+):\d+: warning: invalid case style for (.+?) '(\w+)'")
lines = [ANSI.sub('', l.rstrip('\n')) for l in sys.stdin]
seen = {}
for i, line in enumerate(lines):
    m = WARN.match(line)
    if not m:
        continue
    path = os.path.realpath(m.group(1))
    fix = ''
    if i + 3 < len(lines) and '^' in lines[i + 2]:
        fix = lines[i + 3].strip()
    key = (m.group(3), m.group(4), path, m.group(2))
    seen[key] = fix
root = os.getcwd() + '/'
for (kind, name, path, line), fix in sorted(seen.items(), key=lambda kv: (kv[0][2], int(kv[0][3]))):
    print('\t'.join([kind, name, fix, path.replace(root, '') + ':' + line]))
