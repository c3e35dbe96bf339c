#!/usr/bin/env python3
"""Viewer figures, all in one run: the program (benchmarks/viewers_app.cpp); the fair
anchor, a bare Qt program that makes a new browser view in a new window for every press
and deletes the old one; one kept view that reloads, which no press can be; the floor,
one page that keeps the emulator compiled and makes a new player for every album; and
the program's page viewer with and without the movie search (benchmarks/viewers.cpp, and
benchmarks/bigalbum.cpp for a 100 MB album).

The phases run interleaved, in a different order each round, so that a change of load
falls on all of them; every figure is the median over the rounds, printed with its
spread. Ends with one line per target:
    ratio <name> <value> <target>
    bench-viewers.py [BUILD] [ROUNDS] [PRESSES]"""
import statistics
import subprocess
import sys

BUILD = sys.argv[1] if len(sys.argv) > 1 else 'build'
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
PRESSES = sys.argv[3] if len(sys.argv) > 3 else '200'


def run(program, *args):
    out = subprocess.run([f'{BUILD}/benchmarks/{program}', *args], capture_output=True, text=True,
                         timeout=1800).stdout
    return {k: float(v) for k, v in (line.split() for line in out.splitlines() if len(line.split()) == 2)}


def main():
    phases = {
        'kept': lambda last: run('bench_viewers', 'kept'),
        'anchor': lambda last: run('bench_viewers', 'anchor'),
        'floor': lambda last: run('bench_viewers', 'floor'),
        'plain': lambda last: run('bench_viewers', 'plain'),
        'search': lambda last: run('bench_viewers', 'search'),
        'direct': lambda last: run('bench_viewers', 'direct'),
        'archive': lambda last: run('bench_viewers', 'archive'),
        'file': lambda last: run('bench_viewers', 'file'),
        # The same three against a site copy and an archive that keep connections open.
        'search_kept': lambda last: run('bench_viewers', 'search', 'kept'),
        'direct_kept': lambda last: run('bench_viewers', 'direct', 'kept'),
        'archive_kept': lambda last: run('bench_viewers', 'archive', 'kept'),
        'far_live': lambda last: run('bench_viewers', 'far-live'),
        'far_archive': lambda last: run('bench_viewers', 'far-archive'),
        # The long session and the wait for what is kept warm to go, once.
        'app': lambda last: run('bench_viewers_app', PRESSES if last else '0', *(['cool'] if last else [])),
    }
    names = list(phases)
    rounds = {name: [] for name in names}
    for r in range(ROUNDS):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            rounds[name].append(phases[name](r == ROUNDS - 1))
        print(f"round {r + 1} of {ROUNDS}: {', '.join(order)}", file=sys.stderr)

    def fig(name, key):
        values = [f[key] for f in rounds[name] if key in f]
        return statistics.median(values) if values else float('nan')

    def spread(name, key):
        values = [f[key] for f in rounds[name] if key in f]
        return f"{min(values):.0f}-{max(values):.0f}" if values else '-'

    app = lambda key: fig('app', key)
    anchor = lambda key: fig('anchor', key)
    big = run('bench_big_album', '3')
    bomb = run('bench_bomb')
    floods = run('bench_floods')

    print(f"medians over {ROUNDS} interleaved rounds (spread: lowest-highest)")
    print(f"{'':34}{'program':>16}{'anchor':>16}{'kept':>16}{'floor':>16}")
    for key, label in (('page_first_ms', 'page, first press (ms)'), ('page_later_ms', 'page, later presses (ms)'),
                       ('movie_first_ms', 'album, first press (ms)'),
                       ('movie_later_ms', 'album, later presses (ms)'),
                       ('pss_page_open_mb', 'PSS, page open (MB)'), ('pss_movie_open_mb', 'PSS, album open (MB)'),
                       ('pss_page_open_after_albums_mb', 'PSS, page open after albums (MB)')):
        cells = ''.join(f"{fig(n, key):8.1f} {spread(n, key):>7}" if rounds[n] and key in rounds[n][0] else f"{'':16}"
                        for n in ('app', 'anchor', 'kept', 'floor'))
        print(f"{label:34}{cells}")
    print(f"page, later presses, the page viewer alone: {fig('search', 'page_later_ms'):.1f} ms "
          f"({spread('search', 'page_later_ms')}), without the movie search {fig('plain', 'page_later_ms'):.1f} ms "
          f"({spread('plain', 'page_later_ms')}); of a press, the command itself {fig('search', 'page_command_ms'):.1f} ms, "
          f"the load started after {fig('search', 'page_load_started_ms'):.1f} ms; a card page until its movie's "
          f"first frame {fig('search', 'card_movie_later_ms'):.1f} ms ({spread('search', 'card_movie_later_ms')})")
    print(f"after closing the viewer: page {app('page_after_close_ms'):.1f} ms, album "
          f"{app('movie_after_close_ms'):.1f} ms ({spread('app', 'movie_after_close_ms')}); album after the pointer "
          f"came over its button {app('movie_after_intent_ms'):.1f} ms")
    print(f"kept beyond the engine itself: {app('pss_warm_mb'):.1f} MB PSS after pages "
          f"({int(app('renderers_warm'))} page processes), {app('pss_album_grace_mb'):.1f} MB in the grace after "
          f"an album ({app('pss_album_grace_first_mb'):.1f} MB in its first seconds), "
          f"{app('pss_intent_warm_mb'):.1f} MB for an album warmed up ahead")
    if 'renderers_idle' in rounds['app'][-1]:
        print(f"after the warm time: {app('pss_after_warm_time_mb'):.1f} MB beyond the engine, "
              f"{int(app('renderers_idle'))} page processes left")
    if 'presses' in rounds['app'][-1]:
        print(f"{int(app('presses'))} presses: main process grew {app('rss_growth_mb'):.1f} MB")
    print(f"100 MB album: first frame relayed {big['big_relay_first_frame_ms']:.0f} ms, straight "
          f"{big['big_straight_first_frame_ms']:.0f} ms; main process peak growth relayed "
          f"{big['big_relay_peak_growth_mb']:.1f} MB, straight {big['big_straight_peak_growth_mb']:.1f} MB")
    kinds = ('quiet', 'console', 'console_long', 'console_worker', 'calls', 'messages')
    print('a page that floods, then the album (main thread stall, album first frame): '
          + ', '.join(f"{k} {floods[f'flood_{k}_stall_ms']:.0f} ms, {floods[f'flood_{k}_album_ms']:.0f} ms"
                      for k in kinds if f'flood_{k}_stall_ms' in floods))

    print(f"stamp page of 12 pictures, 150 ms per connection and answer: live {fig('far_live', 'far_first_ms'):.0f} ms "
          f"first, {fig('far_live', 'far_later_ms'):.0f} ms later; archived {fig('far_archive', 'far_first_ms'):.0f} ms "
          f"first, {fig('far_archive', 'far_later_ms'):.0f} ms later; a later archived press: "
          f"{fig('far_archive', 'far_later_new_connections'):.0f} new connections, "
          f"{fig('far_archive', 'far_later_requests_per_file'):.2f} requests per file (live: "
          f"{fig('far_live', 'far_later_new_connections'):.0f}, {fig('far_live', 'far_later_requests_per_file'):.2f})")
    ratios = [
        ('page_later_vs_anchor', app('page_later_ms') / anchor('page_later_ms'), 0.4),
        ('page_later_vs_kept', app('page_later_ms') / fig('kept', 'page_later_ms'), 2.0),
        ('page_first_vs_anchor', app('page_first_ms') / anchor('page_first_ms'), 0.6),
        ('album_later_vs_floor', app('movie_later_ms') / fig('floor', 'movie_later_ms'), 1.2),
        ('album_later_vs_anchor', app('movie_later_ms') / anchor('movie_later_ms'), 0.2),
        ('album_close_vs_anchor', app('movie_after_close_ms') / anchor('movie_first_ms'), 0.4),
        ('album_first_vs_anchor', app('movie_first_ms') / anchor('movie_first_ms'), 1.1),
        ('pss_page_open_vs_anchor', app('pss_page_open_mb') / anchor('pss_page_open_mb'), 1.15),
        ('pss_album_open_vs_anchor', app('pss_movie_open_mb') / anchor('pss_movie_open_mb'), 1.15),
        ('pss_page_after_albums_vs_anchor',
         app('pss_page_open_after_albums_mb') / anchor('pss_page_open_after_albums_mb'), 1.15),
        ('warm_pss_mb', app('pss_warm_mb'), 150),
        ('intent_warm_pss_mb', app('pss_intent_warm_mb'), 150),
        ('album_grace_pss_mb', app('pss_album_grace_mb'), 300),
        ('movie_search_cost', fig('search', 'page_later_ms') / fig('plain', 'page_later_ms'), 1.05),
        ('page_later_guarded_vs_direct', fig('search', 'page_later_ms') / fig('direct', 'page_later_ms'), 1.05),
        ('album_later_guarded_vs_direct', fig('search', 'album_later_ms') / fig('direct', 'album_later_ms'), 1.05),
        ('page_archive_vs_live', fig('archive', 'page_later_ms') / fig('search', 'page_later_ms'), 1.3),
        ('album_archive_vs_live', fig('archive', 'album_later_ms') / fig('search', 'album_later_ms'), 1.3),
        ('file_vs_archive', fig('file', 'page_later_ms') / fig('archive', 'page_later_ms'), 1.1),
        ('album_file_vs_archive', fig('file', 'album_later_ms') / fig('archive', 'album_later_ms'), 1.1),
        ('page_later_guarded_vs_direct_kept',
         fig('search_kept', 'page_later_ms') / fig('direct_kept', 'page_later_ms'), 1.05),
        ('page_archive_vs_live_kept', fig('archive_kept', 'page_later_ms') / fig('search_kept', 'page_later_ms'), 1.3),
        ('album_archive_vs_live_kept',
         fig('archive_kept', 'album_later_ms') / fig('search_kept', 'album_later_ms'), 1.3),
        ('archive_vs_live_far_first', fig('far_archive', 'far_first_ms') / fig('far_live', 'far_first_ms'), 1.25),
        ('archive_vs_live_far_later', fig('far_archive', 'far_later_ms') / fig('far_live', 'far_later_ms'), 1.25),
        ('far_later_new_connections', fig('far_archive', 'far_later_new_connections'), 1),
        ('far_later_requests_per_file', fig('far_archive', 'far_later_requests_per_file'), 1),
        ('big_album_first_frame_vs_straight', big['big_relay_first_frame_ms'] / big['big_straight_first_frame_ms'], 1.2),
        ('big_album_peak_growth_mb', big['big_relay_peak_growth_mb'], 32),
        ('bomb_main_thread_stall_ms', bomb['bomb_main_thread_stall_ms'], 50),
        ('flood_main_thread_stall_ms', floods['flood_main_thread_stall_ms'], 50),
        ('flood_album_vs_quiet', floods['flood_album_vs_quiet'], 1.5),
    ]
    if 'renderers_idle' in rounds['app'][-1]:
        ratios.append(('renderers_after_warm_time', app('renderers_idle'), 0))
        ratios.append(('pss_after_warm_time_mb', app('pss_after_warm_time_mb'), 150))
    if 'presses' in rounds['app'][-1]:
        ratios.append(('soak_growth_mb', app('rss_growth_mb'), 20))
    for name, value, target in ratios:
        print(f"ratio {name} {value:.3f} {target}")


if __name__ == '__main__':
    main()
