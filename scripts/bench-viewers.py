#!/usr/bin/env python3
"""Viewer figures of the program beside a bare Qt program with one QWebEngineView
(benchmarks/viewers.cpp): click to page loaded, click to the movie's first frame,
memory of all processes with one viewer open, and 200 presses in a row; then a 100 MB
album through the player's relay beside the same movie read straight by the emulator
from a server that allows it (benchmarks/bigalbum.cpp)."""
import subprocess
import sys

BUILD = sys.argv[1] if len(sys.argv) > 1 else 'build'
PRESSES = sys.argv[2] if len(sys.argv) > 2 else '200'


def run(*args, program='bench_viewers'):
    out = subprocess.run([f'{BUILD}/benchmarks/{program}', *args], capture_output=True, text=True,
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
    big = run('3', program='bench_big_album')
    print(f"100 MB album, first frame: relayed {big['big_relay_first_frame_ms']:.0f} ms, straight "
          f"{big['big_straight_first_frame_ms']:.0f} ms, ratio "
          f"{big['big_relay_first_frame_ms'] / big['big_straight_first_frame_ms']:.2f} (target <= 1.2)")
    print(f"100 MB album, main process peak growth: relayed {big['big_relay_peak_growth_mb']:.1f} MB, straight "
          f"{big['big_straight_peak_growth_mb']:.1f} MB (target < 32 MB)")


if __name__ == '__main__':
    main()
