#!/usr/bin/env python3
"""Applies the naming rules to the source tree; safe to run again at any time.

Two data files beside this script drive it:

  renames.tsv     old<TAB>new[<TAB>scope]   an identifier renamed wherever it
                  stands as a whole word in code (never inside a string literal,
                  whose text a host or a file may see, and never as the name of a
                  gtest case). A scope ending in "::" (Enum::) renames only the
                  qualified form Enum::old; a scope of "." only member calls
                  (x.old(, p->old(), for a method whose name is plain English
                  or shared with a type; any other scope is a path prefix
                  (a file or a folder/) outside which the rename does not apply.
                  Comments, the docs and scripts/mutate.py follow too, except
                  that a one-word name there (Start, Image) changes only where
                  it is called, "Start(", since it may be plain English.
  namespaces.tsv  name<TAB>namespace<TAB>folder[<TAB>qualified|only=<path>]
                  a name declared in stridelog::<namespace> (it lived in plain
                  stridelog before): "stridelog::name" becomes
                  "stridelog::<namespace>::name" everywhere, and an unqualified
                  use in code outside <folder> becomes "<namespace>::name"
                  (not with "qualified": another namespace has that name too;
                  "only=<path prefix>" limits the rule to those files).

Usage: apply.py [paths...]   (default: every tracked C/C++ source, the docs
and scripts/mutate.py). Prints the files it changed.

       apply.py --tidy BUILD_DIR   afterwards, lets clang-tidy rename what is
left in tests/, bench/ and examples/ (helpers local to one file, often spelled
like a type, which no word-for-word rule can tell apart); needs BUILD_DIR
configured with compile_commands.json. Run it after the plain run.
"""
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SOURCE_EXT = ('.cpp', '.hpp', '.h', '.c', '.cc', '.inc')
TEXT_EXT = ('.md', '.py', '.txt', '.dox')


def load_tsv(name):
    rows = []
    with open(os.path.join(HERE, name), encoding='utf-8') as f:
        for line in f:
            line = line.rstrip('\n')
            if not line or line.startswith('#'):
                continue
            rows.append(line.split('\t'))
    return rows


def default_paths():
    out = subprocess.check_output(['git', 'ls-files'], cwd=ROOT, text=True).split('\n')
    paths = []
    for p in out:
        if not p:
            continue
        if p.endswith(SOURCE_EXT) or p == 'scripts/mutate.py' or (
                p.startswith('docs/') and p.endswith(TEXT_EXT)) or (
                p.startswith('examples/') and p.endswith(TEXT_EXT)):
            paths.append(p)
    return paths


# Splits C/C++ text into (kind, text) pieces: kind is 'code', 'comment' or
# 'string' (string and character literals, raw strings included).
TOKEN = re.compile(r'''
    (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<raw>R"(?P<delim>[^(\s]{0,16})\(.*?\)(?P=delim)")
  | (?P<string>"(?:\\.|[^"\\\n])*"|'(?:\\.|[^'\\\n])*')
''', re.S | re.X)


def split_cpp(text):
    pieces = []
    pos = 0
    for m in TOKEN.finditer(text):
        # A quote inside a number like 1'000 is a digit separator, not a literal.
        if m.group('string') and m.group(0).startswith("'") and m.start() > 0 \
                and text[m.start() - 1].isalnum():
            continue
        if m.start() > pos:
            pieces.append(['code', text[pos:m.start()]])
        kind = 'comment' if m.group('comment') else 'string'
        pieces.append([kind, m.group(0)])
        pos = m.end()
    if pos < len(text):
        pieces.append(['code', text[pos:]])
    return pieces


def split_python(text):
    # mutate.py quotes our C++ lines in its strings: they follow the sources,
    # as prose does (a one-word name only where it is called).
    return [['comment', text]]


def split_markdown(text):
    # Prose and code spans alike name our functions; no string literals to keep.
    return [['comment', text]]


ONE_WORD = re.compile(r'^[A-Z][a-z0-9]*$')
GTEST_CASE = re.compile(r'\b((?:TYPED_)?TEST(?:_F|_P)?\s*\(\s*\w+\s*,\s*)(\w+)(\s*\))')


class Renamer:
    def __init__(self):
        self.plain = {}      # old -> new, any whole-word use
        self.scoped = []     # (compiled regex, replacement)
        self.local = []      # (path prefix, compiled regex, new)
        for row in load_tsv('renames.tsv'):
            old, new = row[0], row[1]
            scope = row[2] if len(row) > 2 and row[2] else ''
            if scope == '.':
                self.scoped.append((re.compile(r'(?:(?<=\.)|(?<=->))' + old + r'\b(?=\s*\()'), new))
            elif scope.endswith('::'):
                self.scoped.append((re.compile(r'(?<![\w])' + re.escape(scope) + old + r'\b'),
                                    scope + new))
            elif scope:
                self.local.append((scope, re.compile(r'(?<![\w$])' + old + r'\b'), new))
            else:
                self.plain[old] = new
        words = sorted(self.plain, key=len, reverse=True)
        self.word_re = re.compile(r'(?<![\w$])(' + '|'.join(map(re.escape, words)) + r')\b') \
            if words else None
        self.path = ''
        self.namespaces = []
        for row in load_tsv('namespaces.tsv'):
            name, ns, folder = row[:3]
            option = row[3] if len(row) > 3 else ''
            qualified_only = option == 'qualified'
            only = option[len('only='):] if option.startswith('only=') else ''
            self.namespaces.append((name, ns, folder.rstrip('/') + '/', qualified_only, only))

    def rename_words(self, s, prose=False):
        def repl(m, new):
            old = m.group(0)
            if prose and ONE_WORD.match(old) and not m.string.startswith('(', m.end()):
                return old
            return new
        if self.word_re:
            s = self.word_re.sub(lambda m: repl(m, self.plain[m.group(1)]), s)
        for regex, new in self.scoped:
            s = regex.sub(new, s)
        for prefix, regex, new in self.local:
            if self.path.startswith(prefix):
                s = regex.sub(lambda m, n=new: repl(m, n), s)
        return s

    def rename_code(self, s):
        # gtest case names are what filters and reports see: they keep their spelling.
        kept = []

        def keep(m):
            kept.append(m.group(2))
            return m.group(1) + '\x00%d\x00' % (len(kept) - 1) + m.group(3)
        s = GTEST_CASE.sub(keep, s)
        s = self.rename_words(s)
        return re.sub('\x00(\\d+)\x00', lambda m: kept[int(m.group(1))], s)

    def qualify(self, s, path):
        for name, ns, folder, qualified_only, only in self.namespaces:
            if name not in s or not path.startswith(only):
                continue
            s = re.sub(r'\bstridelog::' + re.escape(name) + r'\b',
                       'stridelog::' + ns + '::' + name, s)
            if not qualified_only and not path.startswith(folder):
                # Unqualified: not after ::, a member access or a declaration
                # keyword, and not in an include line.
                s = re.sub(r'(?<![\w:.>~])(?<!::\s)(?<!class )(?<!struct )(?<!enum )' + re.escape(name) + r'\b(?!\.(?:hpp|h)\b)',
                           lambda m, q=ns + '::' + name: q, s)
        return s

    def apply(self, path):
        self.path = path
        full = os.path.join(ROOT, path)
        with open(full, encoding='utf-8') as f:
            text = f.read()
        if path.endswith(SOURCE_EXT):
            pieces = split_cpp(text)
        elif path.endswith('.py'):
            pieces = split_python(text)
        else:
            pieces = split_markdown(text)
        for piece in pieces:
            if piece[0] == 'code':
                piece[1] = self.rename_code(piece[1])
                if path.endswith(SOURCE_EXT):
                    piece[1] = self.qualify_code(piece[1], path)
            elif piece[0] == 'comment':
                piece[1] = self.qualify_prose(self.rename_words(piece[1], prose=True))
        new = ''.join(p[1] for p in pieces)
        if new != text:
            with open(full, 'w', encoding='utf-8') as f:
                f.write(new)
            print(path)

    def qualify_prose(self, s):
        # Prose names the full path only where it already spelled one out.
        for name, ns, _, _, _ in self.namespaces:
            if name in s:
                s = re.sub(r'\bstridelog::' + re.escape(name) + r'\b',
                           'stridelog::' + ns + '::' + name, s)
        return s

    def qualify_code(self, code, path):
        # Include lines and preprocessor lines stay as they are.
        lines = code.split('\n')
        for i, line in enumerate(lines):
            if line.lstrip().startswith('#'):
                continue
            lines[i] = self.qualify(line, path)
        return '\n'.join(lines)


def tidy(build):
    # clang-tidy knows a helper Point() from a struct Point: it renames the
    # declarations and every use it can see, and clang-apply-replacements
    # merges the edits of all units.
    build = os.path.abspath(build)
    folders = '(tests|bench|examples)'
    # The rules come from .clang-tidy; its warnings count as errors, so the
    # exit status says only that there was something to fix.
    subprocess.call([
        'run-clang-tidy', '-p', build, '-j', str(os.cpu_count() or 2), '-quiet', '-fix',
        # Headers are also reached through the build's per-layer include roots.
        '-header-filter=^(' + ROOT + '|' + build + '/include-roots/[^/]+)/' + folders + '/',
        '^' + ROOT + '/' + folders + '/'], cwd=ROOT, stdout=subprocess.DEVNULL)


def main():
    if sys.argv[1:2] == ['--tidy']:
        tidy(sys.argv[2] if len(sys.argv) > 2 else 'build')
        return
    renamer = Renamer()
    paths = sys.argv[1:] or default_paths()
    for p in paths:
        p = os.path.relpath(os.path.abspath(p), ROOT) if os.path.isabs(p) else p
        if os.path.isfile(os.path.join(ROOT, p)):
            renamer.apply(p)


if __name__ == '__main__':
    main()
