#!/usr/bin/env python3
"""Start-to-first-frame and peak memory of the main window, beside a bare Qt program
that shows the same controls. Runs both alternately, prints medians and ratios."""
import os
import statistics
import subprocess
import sys
import time

ROUNDS = int(os.environ.get('ROUNDS', '15'))
BUILD = sys.argv[1] if len(sys.argv) > 1 else 'build'


def once(binary):
    start = time.monotonic_ns()
    out = subprocess.run([binary], capture_output=True, text=True, timeout=60).stdout
    fields = dict(line.split(' ', 1) for line in out.splitlines() if ' ' in line)
    return (int(fields['first-frame-ns']) - start) / 1e6, int(fields['peak-kb']) / 1024


def main():
    app = os.path.join(BUILD, 'benchmarks', 'bench_startup_app')
    bare = os.path.join(BUILD, 'benchmarks', 'bench_startup_bare')
    once(app), once(bare)  # warm the file cache
    results = {'app': [], 'bare': []}
    for _ in range(ROUNDS):
        results['app'].append(once(app))
        results['bare'].append(once(bare))
    med = {k: (statistics.median(v[0] for v in r), statistics.median(v[1] for v in r)) for k, r in results.items()}
    print(f"rounds: {ROUNDS} (medians)")
    print(f"{'':18}{'first frame ms':>16}{'peak MB':>10}")
    for k in ('app', 'bare'):
        print(f"{k:18}{med[k][0]:16.1f}{med[k][1]:10.1f}")
    ft = med['app'][0] / med['bare'][0]
    mem = med['app'][1] / med['bare'][1]
    print(f"ratio first frame: {ft:.2f} (target <= 1.5)")
    print(f"ratio peak memory: {mem:.2f} (target <= 1.25)")


if __name__ == '__main__':
    main()
