#!/usr/bin/env python3
"""Runs a Fortran program built by gfortran and prints what it wrote.

The tests use GNU Fortran as an independent oracle for behaviour the
Fortran standard defines: they generate a program from a table of cases,
run it here, and compare its output with the library's. Builds are cached
by the hash of the source, so a test run compiles each program once.

usage: gfortran_oracle.py [--cache DIR] [--flags '...'] < program.f90
exit status 3 when gfortran is not installed (tests then skip)."""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--cache', default=os.environ.get('VORLIX_ORACLE_CACHE',
                                                      os.path.join(tempfile.gettempdir(), 'vorlix-oracle')))
    ap.add_argument('--flags', default='-O0')
    args = ap.parse_args()
    compiler = shutil.which('gfortran')
    if not compiler:
        print('gfortran is not installed', file=sys.stderr)
        return 3
    source = sys.stdin.read()
    key = hashlib.sha256((args.flags + '\0' + source).encode()).hexdigest()[:24]
    os.makedirs(args.cache, exist_ok=True)
    exe = os.path.join(args.cache, key)
    if not os.path.exists(exe):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, 'p.f90')
            with open(src, 'w') as f:
                f.write(source)
            built = os.path.join(tmp, 'p')
            r = subprocess.run([compiler, *args.flags.split(), '-o', built, src],
                               capture_output=True, text=True)
            if r.returncode != 0:
                sys.stderr.write(r.stderr)
                return 2
            os.replace(built, exe)  # atomic: parallel tests may race to build it
    r = subprocess.run([exe], capture_output=True, cwd=args.cache)
    sys.stdout.buffer.write(r.stdout)
    sys.stderr.buffer.write(r.stderr)
    return 0 if r.returncode == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
