#!/usr/bin/env python3
"""Measures the library against its peers on the same work.

Each benchmark directory bench/<name>/ holds peer.f90, a Fortran program
that does the work, and our side, the C++ program bench_<name> that calls
the library's entries as compiled code does. Every program takes the
output file and a count as arguments. A benchmark that reads may hold
prepare.py as well, which writes the input file once, before any program
is timed (arguments: the file and the count); the programs then take the
input file as a third argument. The peers are built with gfortran -O2
and, when installed, LLVM flang (flang-new-19 -O2). Runs are interleaved,
medians reported, and every run's output is checked to hold the same values
as the first peer's.

A program may also report phases of its work on stderr ('phase NAME
SECONDS'); their medians are shown too. A directory holding a file raw
(one word: big or small) also runs bench_raw_io in that mode, the file
system's own bandwidth for the same bytes, whose phases are set against
ours.

With --baseline REV the same benchmark programs are also built from the
revision REV (in a scratch worktree) and run interleaved with the others,
as "before": the table then shows what a change did to our own times.

usage: tools/bench.py [--runs N] [--count N] [--baseline REV] [names...]"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, 'build-bench')


def numbers(path):
    """The values a file holds, whatever their layout."""
    with open(path, 'rb') as f:
        text = f.read().decode('latin-1')
    out = []
    for tok in re.split(r'[\s,()]+', text):
        if not tok:
            continue
        try:
            out.append(float(tok.replace('D', 'E').replace('d', 'e')))
        except ValueError:
            out.append(tok)
    return out


def same_values(a, b):
    if len(a) != len(b):
        return False
    for x, y in zip(a, b):
        if isinstance(x, float) and isinstance(y, float):
            if x != y and abs(x - y) > 1e-14 * max(abs(x), abs(y)):
                return False
        elif x != y:
            return False
    return True


def build_ours(names, root=ROOT, build=BUILD):
    subprocess.run(['cmake', '-S', root, '-B', build, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=Release',
                    '-DVORLIX_TESTS=OFF'], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '--build', build, '--target'] + [f'bench_{n}' for n in names],
                   check=True, stdout=subprocess.DEVNULL)
    return {n: os.path.join(build, 'bench', n, f'bench_{n}') for n in names}


def build_baseline(names, rev):
    """The benchmark programs as revision rev builds them, from a worktree
    kept beside the build so that a second comparison builds only what
    changed."""
    base = os.path.join(ROOT, 'build-bench-baseline')
    tree = os.path.join(base, 'tree')
    if os.path.isdir(tree):
        subprocess.run(['git', '-C', tree, 'checkout', '--quiet', '--detach', rev], check=True)
    else:
        os.makedirs(base, exist_ok=True)
        subprocess.run(['git', '-C', ROOT, 'worktree', 'add', '--detach', tree, rev], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return build_ours(names, tree, os.path.join(base, 'build'))


def build_raw():
    subprocess.run(['cmake', '--build', BUILD, '--target', 'bench_raw_io'], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(BUILD, 'bench', 'raw_io', 'bench_raw_io')


def build_peers(name, tmp):
    src = os.path.join(ROOT, 'bench', name, 'peer.f90')
    peers = {}
    for label, compiler in (('gfortran', 'gfortran'), ('flang', 'flang-new-19')):
        exe = shutil.which(compiler)
        if not exe:
            continue
        out = os.path.join(tmp, f'{name}_{label}')
        subprocess.run([exe, '-O2', '-o', out, src], check=True, cwd=tmp)
        peers[label] = out
    return peers


def timed(cmd, cwd):
    """Wall time of the run, and the phases it reported on stderr as lines
    'phase NAME SECONDS' (the parts of the work it timed itself)."""
    t0 = time.perf_counter()
    r = subprocess.run(cmd, check=True, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                       text=True)
    t = time.perf_counter() - t0
    phases = {}
    for line in r.stderr.splitlines():
        f = line.split()
        if len(f) == 3 and f[0] == 'phase':
            phases[f[1]] = float(f[2])
    return t, phases


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--runs', type=int, default=5)
    ap.add_argument('--count', type=int, default=10_000_000)
    ap.add_argument('--baseline', metavar='REV')
    ap.add_argument('names', nargs='*')
    args = ap.parse_args()
    names = args.names or sorted(d for d in os.listdir(os.path.join(ROOT, 'bench'))
                                 if os.path.exists(os.path.join(ROOT, 'bench', d, 'peer.f90')))
    ours = build_ours(names)
    raw_exe = build_raw() if any(os.path.exists(os.path.join(ROOT, 'bench', n, 'raw')) for n in names) else None
    rows = []
    phase_rows = []
    with tempfile.TemporaryDirectory() as tmp:
        before = build_baseline(names, args.baseline) if args.baseline else {}
        for name in names:
            progs = {'ours': ours[name], **build_peers(name, tmp)}
            if name in before:
                progs['before'] = before[name]
            raw_file = os.path.join(ROOT, 'bench', name, 'raw')
            raw_mode = open(raw_file).read().split()[0] if os.path.exists(raw_file) else None
            times = {k: [] for k in progs}
            phases = {k: {} for k in list(progs) + ['raw']}
            reference = None
            extra = []
            prepare = os.path.join(ROOT, 'bench', name, 'prepare.py')
            if os.path.exists(prepare):
                extra = [os.path.join(tmp, f'{name}.in')]
                subprocess.run([sys.executable, prepare, extra[0], str(args.count)], check=True)
            for _ in range(args.runs):
                for label, exe in progs.items():
                    out = os.path.join(tmp, f'{name}.{label}.out')
                    t, ph = timed([exe, out, str(args.count)] + extra, tmp)
                    times[label].append(t)
                    for k, v in ph.items():
                        phases[label].setdefault(k, []).append(v)
                    vals = numbers(out)
                    if reference is None:
                        reference = vals
                    elif not same_values(reference, vals):
                        sys.exit(f'{name}: {label} wrote other values than the first run')
                    os.unlink(out)
                if raw_mode:
                    _, ph = timed([raw_exe, os.path.join(tmp, f'{name}.raw'), str(args.count), raw_mode], tmp)
                    for k, v in ph.items():
                        phases['raw'].setdefault(k, []).append(v)
            for label, ph in phases.items():
                for k, v in ph.items():
                    phase_rows.append((name, k, label, statistics.median(v)))
            for path in extra:
                os.unlink(path)
            med = {k: statistics.median(v) for k, v in times.items()}
            peers = [v for k, v in med.items() if k not in ('ours', 'before')]
            best = min(peers) if peers else float('nan')
            rows.append((name, med, best / med['ours'] if peers else float('nan')))
    nan = float('nan')
    extra_head = f'{"before s":>10}{"before / ours":>15}' if args.baseline else ''
    print(f'{"benchmark":<16}{"ours s":>10}{"gfortran s":>12}{"flang s":>10}{"speed-up vs faster peer":>26}'
          + extra_head)
    for name, med, ratio in rows:
        g = med.get('gfortran', nan)
        f = med.get('flang', nan)
        line = f'{name:<16}{med["ours"]:>10.3f}{g:>12.3f}{f:>10.3f}{ratio:>25.2f}x'
        if args.baseline:
            b = med.get('before', nan)
            line += f'{b:>10.3f}{b / med["ours"]:>14.2f}x'
        print(line)
    if phase_rows:
        print()
        print(f'{"phase":<22}{"ours s":>10}{"gfortran s":>12}{"flang s":>10}{"raw s":>10}'
              f'{"vs faster peer":>16}{"ours / raw":>12}')
        keys = []
        for name, k, _, _ in phase_rows:
            if (name, k) not in keys:
                keys.append((name, k))
        for name, k in keys:
            m = {label: v for n, kk, label, v in phase_rows if n == name and kk == k}
            o = m.get('ours', float('nan'))
            peers = [v for label, v in m.items() if label not in ('ours', 'raw', 'before')]
            ratio = min(peers) / o if peers else float('nan')
            raw = m.get('raw', float('nan'))
            print(f'{name + " " + k:<22}{o:>10.4f}{m.get("gfortran", float("nan")):>12.4f}'
                  f'{m.get("flang", float("nan")):>10.4f}{raw:>10.4f}{ratio:>15.2f}x{o / raw:>11.2f}x')


if __name__ == '__main__':
    main()
