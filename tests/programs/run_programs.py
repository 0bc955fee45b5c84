#!/usr/bin/env python3
"""Differential test of whole Fortran programs: each program of this
directory is compiled with gfortran and run, then run with vorlix-run on
libvorlix; their standard output, exit status and the bytes of every file
they leave in their working directory must agree.

Processor-dependent results are declared in the program, in comments:
    ! processor-dependent: line 3, line 5   (lines of standard output)
    ! processor-dependent: status           (the exit status)
    ! processor-dependent: file out.txt     (a file the program writes)
Those are not compared with gfortran but with <program>.expected beside it,
which holds "line 3: text", "status: 128" or "file out.txt: text" entries
written from the library's documented behaviour.

A program that needs a library entry that does not exist yet is skipped
(vorlix-run exits with 3 and says "this library has no ... yet").

usage: run_programs.py --vorlix-run PATH [--only NAME ...] [-v]
exit status: 0 when nothing failed, 1 otherwise."""
import argparse
import difflib
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TIMEOUT = 120


def directives(source):
    lines, files, status = set(), set(), False
    for m in re.finditer(r'^\s*!\s*processor-dependent:\s*(.*)$', source, re.M | re.I):
        for part in m.group(1).split(','):
            part = part.strip()
            if part.lower() == 'status':
                status = True
            elif part.lower().startswith('line '):
                lines.add(int(part[5:]))
            elif part.lower().startswith('file '):
                files.add(part[5:].strip())
            elif part:
                raise ValueError('unknown processor-dependent item: ' + part)
    return lines, files, status


def read_expected(path):
    exp = {}
    if not os.path.exists(path):
        return exp
    with open(path) as f:
        for raw in f:
            raw = raw.rstrip('\n')
            if not raw or raw.startswith('#'):
                continue
            key, _, value = raw.partition(': ')
            exp.setdefault(key, []).append(value)
    return exp


def build_gfortran(src, cache):
    with open(src, 'rb') as f:
        key = hashlib.sha256(f.read()).hexdigest()[:24]
    exe = os.path.join(cache, key)
    if not os.path.exists(exe):
        r = subprocess.run(['gfortran', '-O0', '-o', exe + '.tmp', src], capture_output=True, text=True)
        if r.returncode != 0:
            raise RuntimeError('gfortran rejects %s:\n%s' % (src, r.stderr))
        os.replace(exe + '.tmp', exe)
    return exe


def run_in(cmd, workdir, stdin_file):
    stdin = open(stdin_file, 'rb') if stdin_file else subprocess.DEVNULL
    try:
        r = subprocess.run(cmd, cwd=workdir, stdin=stdin, capture_output=True, timeout=TIMEOUT)
    finally:
        if stdin_file:
            stdin.close()
    files = {}
    for name in sorted(os.listdir(workdir)):
        p = os.path.join(workdir, name)
        if os.path.isfile(p):
            with open(p, 'rb') as f:
                files[name] = f.read()
    return r.returncode, r.stdout, r.stderr, files


def diff(a, b, what):
    a = a.decode(errors='replace').splitlines(True)
    b = b.decode(errors='replace').splitlines(True)
    return ''.join(difflib.unified_diff(a, b, 'gfortran/' + what, 'vorlix-run/' + what))


def check(name, vorlix_run, cache, verbose):
    src = os.path.join(HERE, name + '.f90')
    with open(src) as f:
        source = f.read()
    pd_lines, pd_files, pd_status = directives(source)
    expected = read_expected(os.path.join(HERE, name + '.expected'))
    stdin_file = os.path.join(HERE, name + '.in')
    stdin_file = stdin_file if os.path.exists(stdin_file) else None
    try:
        exe = build_gfortran(src, cache)
    except RuntimeError as e:
        return 'fail', str(e)
    with tempfile.TemporaryDirectory() as g_dir, tempfile.TemporaryDirectory() as v_dir:
        g = run_in([exe], g_dir, stdin_file)
        v = run_in([vorlix_run, src], v_dir, stdin_file)
    g_rc, g_out, g_err, g_files = g
    v_rc, v_out, v_err, v_files = v
    v_msg = v_err.decode(errors='replace')
    if v_rc == 3 and 'this library has no ' in v_msg:
        need = re.search(r'this library has no (.*) yet \(entry (\w+)\)', v_msg)
        return 'skip', 'needs entry %s (%s)' % (need.group(2), need.group(1)) if need else v_msg.strip()
    problems = []
    if v_rc == 2 and re.search(r':\d+:\d+: ', v_msg):
        problems.append('vorlix-run failed: ' + v_msg.strip())
    # Standard output, with declared lines taken from the expected file.
    g_lines = g_out.split(b'\n')
    v_lines = v_out.split(b'\n')
    for n in sorted(pd_lines):
        want = expected.get('line %d' % n)
        if want is None:
            problems.append('line %d is declared processor-dependent but %s.expected has no entry' % (n, name))
            continue
        got = v_lines[n - 1].decode(errors='replace') if n - 1 < len(v_lines) else '<missing>'
        if got != want[0]:
            problems.append('line %d: expected %r, got %r' % (n, want[0], got))
        if n - 1 < len(g_lines):
            g_lines[n - 1] = b'<processor-dependent>'
        if n - 1 < len(v_lines):
            v_lines[n - 1] = b'<processor-dependent>'
    g_cmp, v_cmp = b'\n'.join(g_lines), b'\n'.join(v_lines)
    if g_cmp != v_cmp:
        problems.append('standard output differs:\n' + diff(g_cmp, v_cmp, 'stdout'))
    if pd_status:
        want = expected.get('status')
        if want is None or int(want[0]) != v_rc:
            problems.append('exit status %d, expected %s' % (v_rc, want[0] if want else '<no entry>'))
    elif g_rc != v_rc:
        problems.append('exit status %d, gfortran %d (stderr: %s)' % (v_rc, g_rc, v_msg.strip()[:500]))
    for f in sorted(set(g_files) | set(v_files)):
        if f in pd_files:
            want = expected.get('file ' + f)
            got = v_files.get(f, b'').decode(errors='replace')
            if want is None or got != '\n'.join(want) + ('\n' if want else ''):
                problems.append('file %s: expected %r, got %r' % (f, want, got))
            continue
        if f not in v_files:
            problems.append('file %s written by gfortran only' % f)
        elif f not in g_files:
            problems.append('file %s written by vorlix-run only' % f)
        elif g_files[f] != v_files[f]:
            problems.append('file %s differs:\n%s' % (f, diff(g_files[f], v_files[f], f)))
    if problems:
        return 'fail', '\n'.join(problems)
    return 'pass', ''


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--vorlix-run', required=True)
    ap.add_argument('--only', nargs='*')
    ap.add_argument('--cache', default=os.path.join(tempfile.gettempdir(), 'vorlix-programs'))
    ap.add_argument('-v', action='store_true')
    args = ap.parse_args()
    if not shutil.which('gfortran'):
        print('gfortran is not installed: nothing to compare with')
        return 0
    os.makedirs(args.cache, exist_ok=True)
    names = sorted(f[:-4] for f in os.listdir(HERE) if f.endswith('.f90'))
    if args.only:
        names = [n for n in names if n in args.only]
    counts = {'pass': 0, 'fail': 0, 'skip': 0}
    for n in names:
        verdict, detail = check(n, os.path.abspath(args.vorlix_run), args.cache, args.v)
        counts[verdict] += 1
        if verdict != 'pass' or args.v:
            print('%-4s %s%s' % (verdict.upper(), n, (': ' + detail) if detail else ''))
    print('%d passed, %d failed, %d skipped (waiting for library entries)' %
          (counts['pass'], counts['fail'], counts['skip']))
    return 1 if counts['fail'] else 0


if __name__ == '__main__':
    sys.exit(main())
