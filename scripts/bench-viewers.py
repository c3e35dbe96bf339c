#!/usr/bin/env python3
"""Viewer figures of the program beside a bare Qt program with one QWebEngineView
(benchmarks/viewers.cpp): click to page loaded, click to the movie's first frame,
memory of all processes with one viewer open, and 200 presses in a row."""
import subprocess
import sys

BUILD = sys.argv[1] if len(sys.argv) > 1 else 'build'
PRESSES = sys.argv[2] if len(sys.argv) > 2 else '200'


def run(*args):
    out = subprocess.run([f'{BUILD}/benchmarks/bench_viewers', *args], capture_output=True, text=True,
                         timeout=900).stdout
    return {k: float(v) for k, v in (line.split() for line in out.splitlines() if len(line.split()) == 2)}


def main():
    app = run('app', PRESSES)
    bare = run('bare')
    print(f"{'':26}{'program':>10}{'bare':>10}{'ratio':>8}")
    for key, label in (('page_first_ms', 'page, first press (ms)'), ('page_later_ms', 'page, later presses (ms)'),
                       ('movie_first_ms', 'movie, first press (ms)'), ('movie_later_ms', 'movie, later presses (ms)'),
                       ('pss_one_viewer_mb', 'PSS, one viewer (MB)')):
        print(f"{label:26}{app[key]:10.1f}{bare[key]:10.1f}{app[key] / bare[key]:8.2f}")
    print(f"{int(app['presses'])} presses: main process grew {app['rss_growth_mb']:.1f} MB, "
          f"renderer processes left after closing: {int(app['renderers_left'])}")
    print("targets: page later < 100 ms and <= 1.2x bare; movie later < 700 ms; PSS <= 1.1x bare; "
          "growth < 20 MB; none left")


if __name__ == '__main__':
    main()
