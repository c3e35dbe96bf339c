#!/usr/bin/env python3
"""Writes what the local web archive holds beyond the site copy (mirror/archive/): the
files of its later capture that differ from the copy. At the later capture, the first
atlas page says which capture it is, and the first album also loads a frame movie by a
root-relative address (/kpfolder/kpphotos/frame.swf, captured then only) over its photo
strip. captures.txt says the rest. Run from the project root; the output is committed."""
import importlib.util
import os
import struct

from swf import define_rect_shape, movie, place, push_string, tag

HERE = os.path.dirname(os.path.abspath(__file__))
LATER = os.path.join(HERE, 'archive', 'later')
spec = importlib.util.spec_from_file_location('make_site', os.path.join(HERE, 'make-site.py'))
site = importlib.util.module_from_spec(spec)
spec.loader.exec_module(site)

FRAME_COLOUR = (20, 20, 20)


def load_once(flag, url, target):
    """if (!flag) { flag = true; loadMovieNum(url, target) } as AVM1 bytecode."""
    get_url = url.encode() + b'\x00' + target.encode() + b'\x00'
    set_part = push_string(flag) + b'\x96\x02\x00\x05\x01' + b'\x1d'
    set_part += b'\x83' + struct.pack('<H', len(get_url)) + get_url
    code = push_string(flag) + b'\x1c' + b'\x9d' + struct.pack('<Hh', 2, len(set_part)) + set_part + b'\x00'
    return tag(12, code)


def later_album(colours):
    w, h = site.STAGE
    frames = [define_rect_shape(i + 1, 0, 0, w * 20, h * 20, rgb) + place(i + 1, 1, i > 0) for i, rgb in enumerate(colours)]
    loads = load_once('strip', 'photos.swf', '_level1') + load_once('frame', '/kpfolder/kpphotos/frame.swf', '_level2')
    return movie(w, h, 4, frames, extra_first_frame=loads)


def frame_movie():
    """A dark band along the stage's bottom edge, drawn above the album's frames."""
    w, h = site.STAGE
    return movie(w, h, 4, [define_rect_shape(1, 0, (h - 40) * 20, w * 20, 40 * 20, FRAME_COLOUR) + place(1, 1, False)])


def write(path, data):
    full = os.path.join(LATER, path.lstrip('/'))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, 'wb') as f:
        f.write(data)


def main():
    write(site.ALBUMS[0][1], later_album(site.ALBUM_COLOURS[0]))
    write('/kpfolder/kpphotos/frame.swf', frame_movie())
    atlas = '/kpfolder/swf/x01.html'
    with open(os.path.join(site.ROOT, atlas.lstrip('/')), 'rb') as f:
        page = f.read()
    write(atlas, page.replace(b'</body>', b'<p id="capture">2011</p>\n</body>', 1))


if __name__ == '__main__':
    main()
