#!/usr/bin/env python3
"""Viewer figures, all in one run (benchmarks/viewers.cpp, benchmarks/bigalbum.cpp):
the program; the fair anchor, a bare Qt program that makes a new browser view in a new
window for every press and deletes the old one; and one kept view that reloads, which
no press can be. Later presses are medians. Ends with one line per target:
    ratio <name> <value> <target>"""
import subprocess
import sys

BUILD = sys.argv[1] if len(sys.argv) > 1 else 'build'
PRESSES = sys.argv[2] if len(sys.argv) > 2 else '200'


def run(*args, program='bench_viewers'):
    out = subprocess.run([f'{BUILD}/benchmarks/{program}', *args], capture_output=True, text=True,
                         timeout=1800).stdout
    return {k: float(v) for k, v in (line.split() for line in out.splitlines() if len(line.split()) == 2)}


def main():
    kept = run('kept')
    anchor = run('anchor')
    app = run('app', PRESSES)
    plain = run('plain')
    big = run('3', program='bench_big_album')

    print(f"{'':34}{'program':>10}{'anchor':>10}{'kept':>10}")
    for key, label in (('page_first_ms', 'page, first press (ms)'), ('page_later_ms', 'page, later presses (ms)'),
                       ('movie_first_ms', 'album, first press (ms)'),
                       ('movie_later_ms', 'album, later presses (ms)'),
                       ('pss_page_open_mb', 'PSS, page open (MB)'), ('pss_movie_open_mb', 'PSS, album open (MB)'),
                       ('pss_page_open_after_albums_mb', 'PSS, page open after albums (MB)')):
        print(f"{label:34}{app.get(key, 0):10.1f}{anchor.get(key, 0):10.1f}{kept.get(key, 0):10.1f}")
    print(f"page, later presses, no movie search: {plain['page_later_ms']:.1f} ms")
    print(f"after closing the viewer: page {app['page_after_close_ms']:.1f} ms, album {app['movie_after_close_ms']:.1f} ms")
    print(f"kept warm after closing: {app['pss_warm_mb']:.1f} MB PSS ({int(app['renderers_warm'])} page processes), "
          f"given back after the warm time ({int(app['renderers_idle'])} left); the engine itself, once started, "
          f"{app['pss_engine_mb']:.1f} MB")
    if 'presses' in app:
        print(f"{int(app['presses'])} presses: main process grew {app['rss_growth_mb']:.1f} MB")
    print(f"100 MB album: first frame relayed {big['big_relay_first_frame_ms']:.0f} ms, straight "
          f"{big['big_straight_first_frame_ms']:.0f} ms; main process peak growth relayed "
          f"{big['big_relay_peak_growth_mb']:.1f} MB, straight {big['big_straight_peak_growth_mb']:.1f} MB")

    ratios = [
        ('page_later_vs_kept', app['page_later_ms'] / kept['page_later_ms'], 2.5),
        ('page_later_vs_anchor', app['page_later_ms'] / anchor['page_later_ms'], 0.5),
        ('album_later_vs_kept', app['movie_later_ms'] / kept['movie_later_ms'], 1.5),
        ('album_later_vs_anchor', app['movie_later_ms'] / anchor['movie_later_ms'], 0.35),
        ('page_first_vs_anchor', app['page_first_ms'] / anchor['page_first_ms'], 1.1),
        ('album_first_vs_anchor', app['movie_first_ms'] / anchor['movie_first_ms'], 1.1),
        ('pss_page_open_vs_anchor', app['pss_page_open_mb'] / anchor['pss_page_open_mb'], 1.15),
        ('pss_album_open_vs_anchor', app['pss_movie_open_mb'] / anchor['pss_movie_open_mb'], 1.15),
        ('pss_page_after_albums_vs_anchor',
         app['pss_page_open_after_albums_mb'] / anchor['pss_page_open_after_albums_mb'], 1.15),
        ('warm_pss_mb', app['pss_warm_mb'], 120),
        ('renderers_after_warm_time', app['renderers_idle'], 0),
        ('movie_search_cost', app['page_later_ms'] / plain['page_later_ms'], 1.1),
        ('big_album_first_frame_vs_straight', big['big_relay_first_frame_ms'] / big['big_straight_first_frame_ms'], 1.2),
        ('big_album_peak_growth_mb', big['big_relay_peak_growth_mb'], 32),
    ]
    if 'presses' in app:
        ratios.append(('soak_growth_mb', app['rss_growth_mb'], 20))
    for name, value, target in ratios:
        print(f"ratio {name} {value:.3f} {target}")


if __name__ == '__main__':
    main()
