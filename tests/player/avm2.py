#!/usr/bin/env python3
"""Writes external2.swf (tests/player/probe/movies/): an ActionScript 3 movie, a grey
400x300 rectangle, that talks to its page through ExternalInterface: it offers the page
fromPage(x), which answers by calling movieSays("back:" + x), and it says hello with
movieSays("hello") as soon as it starts. Only as much of the ABC format as that needs.
Run from the project root; the output is committed."""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'mirror'))
from swf import define_rect_shape, place, rect, tag  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'probe')
W, H = 400, 300
GREY = (90, 90, 90)


def u30(value):
    out = b''
    while True:
        byte = value & 0x7f
        value >>= 7
        if value:
            out += bytes([byte | 0x80])
        else:
            return out + bytes([byte])


class Abc:
    """Constant pools filled on demand; index 0 of each pool is the implicit entry."""

    PACKAGE_NAMESPACE = 0x16
    QNAME = 0x07

    def __init__(self):
        self.strings, self.namespaces, self.multinames = [], [], []
        self.methods, self.bodies = [], []

    @staticmethod
    def _index(pool, item):
        if item not in pool:
            pool.append(item)
        return pool.index(item) + 1

    def string(self, s):
        return self._index(self.strings, s)

    def package(self, name):
        return self._index(self.namespaces, (self.PACKAGE_NAMESPACE, self.string(name)))

    def qname(self, package, name):
        return self._index(self.multinames, (self.package(package), self.string(name)))

    def method(self, params, code, max_stack, local_count, init_scope, max_scope):
        """A method of `params` untyped parameters returning *, with its body."""
        index = len(self.methods)
        self.methods.append(u30(params) + u30(0) + u30(0) * params + u30(0) + b'\x00')
        self.bodies.append(u30(index) + u30(max_stack) + u30(local_count) + u30(init_scope) + u30(max_scope)
                           + u30(len(code)) + code + u30(0) + u30(0))
        return index

    def bytes(self, script_init):
        def pool(items, write):
            return u30(len(items) + 1 if items else 0) + b''.join(write(i) for i in items)
        out = struct.pack('<HH', 16, 46)
        out += u30(0) + u30(0) + u30(0)  # no int, uint or double constants
        out += pool(self.strings, lambda s: u30(len(s.encode())) + s.encode())
        out += pool(self.namespaces, lambda ns: bytes([ns[0]]) + u30(ns[1]))
        out += u30(0)  # no namespace sets
        out += pool(self.multinames, lambda m: bytes([self.QNAME]) + u30(m[0]) + u30(m[1]))
        out += u30(len(self.methods)) + b''.join(self.methods)
        out += u30(0) + u30(0)  # no metadata, no classes
        out += u30(1) + u30(script_init) + u30(0)  # one script, no traits
        out += u30(len(self.bodies)) + b''.join(self.bodies)
        return out


GETLOCAL0, GETLOCAL1, PUSHSCOPE, PUSHNULL = b'\xd0', b'\xd1', b'\x30', b'\x20'
ADD, RETURNVALUE, RETURNVOID = b'\xa0', b'\x48', b'\x47'


def getlex(index):
    return b'\x60' + u30(index)


def pushstring(index):
    return b'\x2c' + u30(index)


def newfunction(index):
    return b'\x40' + u30(index)


def callpropvoid(index, args):
    return b'\x4f' + u30(index) + u30(args)


def external_abc():
    abc = Abc()
    ei = abc.qname('flash.external', 'ExternalInterface')
    call, add_callback = abc.qname('', 'call'), abc.qname('', 'addCallback')
    says = abc.string('movieSays')
    # The closure runs in the script's scope (depth 1) and pushes none of its own.
    answer = abc.method(1, getlex(ei) + pushstring(says) + pushstring(abc.string('back:')) + GETLOCAL1 + ADD
                        + callpropvoid(call, 2) + PUSHNULL + RETURNVALUE,
                        max_stack=4, local_count=2, init_scope=1, max_scope=1)
    init = abc.method(0, GETLOCAL0 + PUSHSCOPE
                      + getlex(ei) + pushstring(abc.string('fromPage')) + newfunction(answer)
                      + callpropvoid(add_callback, 2)
                      + getlex(ei) + pushstring(says) + pushstring(abc.string('hello')) + callpropvoid(call, 2)
                      + RETURNVOID,
                      max_stack=3, local_count=1, init_scope=0, max_scope=1)
    return abc.bytes(init)


def external_avm2():
    # FileAttributes must come first for the player to run the movie as ActionScript 3;
    # DoABC flags 0 (not lazy) runs the script initialiser as soon as the tag is read.
    tags = (tag(69, struct.pack('<I', 0x08))
            + tag(9, bytes(GREY))
            + define_rect_shape(1, 0, 0, W * 20, H * 20, GREY) + place(1, 1, False)
            + tag(82, struct.pack('<I', 0) + b'external\x00' + external_abc())
            + tag(1) + tag(0))
    body = rect(0, W * 20, 0, H * 20) + struct.pack('<BBH', 0, 8, 1) + tags
    return b'FWS' + bytes([10]) + struct.pack('<I', 8 + len(body)) + body


if __name__ == '__main__':
    folder = os.path.join(ROOT, 'movies')
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'external2.swf'), 'wb') as f:
        f.write(external_avm2())
