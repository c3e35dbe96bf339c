#!/usr/bin/env python3
"""Writes the movies the player's sandbox test plays (tests/player/probe/): a probe that
reads data from its own host and from the hosts named in its query (allowed_url,
refused_url), loads a second movie by a root-relative address, and reports every
variable it holds (its own _url among them) back to its host as report.txt?...;
and links.swf, two buttons that ask for pages: the left half in a new window, the right
half in the movie's own; hoarder.swf, which asks its host for slow.txt?1 to ?8 at once;
and menu.swf, two frames whose menu has an entry of its own, 翻页, that asks its host for
picked.txt; external.swf, which talks with its page by ExternalInterface; wanderer.swf, which
asks for landed.html in its own frame by an empty target at once, and for after.txt a
second later.
Run from the project root; the output is committed."""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'mirror'))
from swf import (GET_PROPERTY, GET_VARIABLE, PROPERTY_URL, SET_VARIABLE, action, define_button,  # noqa: E402
                 define_rect_shape, do_action, get_url, get_url2, movie, place, push, unless)

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'probe')
W, H = 400, 300
PROBE_GREY = (90, 90, 90)
CHILD_MAGENTA = (255, 0, 255)


def load_variables(url_code):
    return url_code + push('_level0') + get_url2(load_variables=True)


def probe():
    start = (push('started', True) + SET_VARIABLE
             + push('myurl', '', PROPERTY_URL) + GET_PROPERTY + SET_VARIABLE
             + load_variables(push('own.txt'))
             + load_variables(push('allowed_url') + GET_VARIABLE)
             + load_variables(push('refused_url') + GET_VARIABLE)
             + push('/movies/child.swf', '_level1') + get_url2())
    report = push('report.txt', '_level0') + get_url2(load_variables=True, method=1)
    frames = [define_rect_shape(1, 0, 0, W * 20, H * 20, PROBE_GREY) + place(1, 1, False)
              + do_action(unless('started', start))]
    frames += [b''] * 6
    frames += [do_action(report)]
    return movie(W, H, 8, frames)


def child():
    shape = define_rect_shape(1, W * 10, H * 10, W * 10, H * 10, CHILD_MAGENTA)
    return movie(W, H, 8, [shape + place(1, 1, False)])


def links():
    left = define_rect_shape(1, 0, 0, W * 10, H * 20, (40, 120, 200))
    right = define_rect_shape(2, W * 10, 0, W * 10, H * 20, (200, 120, 40))
    buttons = (define_button(3, 1, get_url('http://www.example.com/new-window', '_blank'))
               + define_button(4, 2, get_url('http://www.example.com/same-frame', '_self')))
    return movie(W, H, 8, [left + right + buttons + place(3, 1, False) + place(4, 2, False)])


def wanderer():
    shape = define_rect_shape(1, 0, 0, W * 20, H * 20, PROBE_GREY)
    frames = [shape + place(1, 1, False) + do_action(get_url('/landed.html', ''))] + [b''] * 6
    frames += [do_action(unless('after', push('after', True) + SET_VARIABLE + load_variables(push('after.txt'))))]
    return movie(W, H, 8, frames)


def hoarder():
    loads = b''.join(load_variables(push('slow.txt?%d' % n)) for n in range(1, 9))
    shape = define_rect_shape(1, 0, 0, W * 20, H * 20, PROBE_GREY)
    return movie(W, H, 8, [shape + place(1, 1, False) + do_action(unless('started', push('started', True) + SET_VARIABLE
                                                                            + loads))])


def menu():
    def define_function(body):
        return action(0x9b, b'\x00' + struct.pack('<HH', 0, len(body))) + body
    new_object, call_method, get_member, set_member, pop = (action(0x40), action(0x52), action(0x4e),
                                                            action(0x4f), action(0x17))
    picked = load_variables(push('picked.txt'))
    code = (push('m', 0, 'ContextMenu') + new_object + SET_VARIABLE
            + push('item') + define_function(picked) + push('翻页', 2, 'ContextMenuItem') + new_object + SET_VARIABLE
            + push('item') + GET_VARIABLE + push(1, 'm') + GET_VARIABLE + push('customItems') + get_member
            + push('push') + call_method + pop
            + push('_root') + GET_VARIABLE + push('menu', 'm') + GET_VARIABLE + set_member)
    first = define_rect_shape(1, 0, 0, W * 20, H * 20, PROBE_GREY) + place(1, 1, False)
    second = define_rect_shape(2, 0, 0, W * 20, H * 20, CHILD_MAGENTA) + place(2, 1, True)
    return movie(W, H, 8, [first + do_action(unless('started', push('started', True) + SET_VARIABLE + code)), second])


def external():
    """ExternalInterface both ways: offers fromPage(x), which calls movieSays("back:" + x);
    calls movieSays("hello"); and tells its host whether it has ExternalInterface at all
    (avail.txt?avail=...)."""
    call_method, get_member, add, pop, null = action(0x52), action(0x4e), action(0x47), action(0x17), action(0x96, b'\x02')
    ei = push('ei') + GET_VARIABLE

    def call(*args_code):
        return b''.join(reversed(args_code)) + push(len(args_code)) + ei + push('call') + call_method + pop
    back = call(push('movieSays'), push('back:', 'x') + GET_VARIABLE + add)
    offer = (action(0x9b, b'\x00' + struct.pack('<H', 1) + b'x\x00' + struct.pack('<H', len(back))) + back
             + null + push('fromPage', 3) + ei + push('addCallback') + call_method + pop)
    code = (push('ei', 'flash') + GET_VARIABLE + push('external') + get_member + push('ExternalInterface') + get_member
            + SET_VARIABLE
            + push('avail') + ei + push('available') + get_member + SET_VARIABLE
            + push('avail.txt', '_level0') + get_url2(load_variables=True, method=1)
            + offer + call(push('movieSays'), push('hello')))
    shape = define_rect_shape(1, 0, 0, W * 20, H * 20, PROBE_GREY)
    return movie(W, H, 8, [shape + place(1, 1, False) + do_action(unless('started', push('started', True) + SET_VARIABLE
                                                                            + code))])


def main():
    folder = os.path.join(ROOT, 'movies')
    os.makedirs(folder, exist_ok=True)
    for name, data in (('probe.swf', probe()), ('child.swf', child()), ('links.swf', links()), ('hoarder.swf', hoarder()), ('menu.swf', menu()), ('external.swf', external()),
                       ('wanderer.swf', wanderer()),
                       ('own.txt', b'own=yes'),
                       ('report.txt', b'reported=yes')):
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
