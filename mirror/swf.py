"""A small SWF writer for the local site copy and the tests' movies: rectangles, frames
and the few AVM1 actions they need."""
import struct

class Bits:
    def __init__(self):
        self.bits = []

    def u(self, value, n):
        for i in reversed(range(n)):
            self.bits.append((value >> i) & 1)

    def s(self, value, n):
        self.u(value & ((1 << n) - 1), n)

    def bytes(self):
        b = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int(''.join(map(str, b[i:i + 8])), 2) for i in range(0, len(b), 8))


def sbits(*values):
    return max(max(abs(v).bit_length() + 1 for v in values), 1)


def rect(xmin, xmax, ymin, ymax):
    n = sbits(xmin, xmax, ymin, ymax)
    b = Bits()
    b.u(n, 5)
    for v in (xmin, xmax, ymin, ymax):
        b.s(v, n)
    return b.bytes()


def tag(code, body=b''):
    if len(body) < 63:
        return struct.pack('<H', (code << 6) | len(body)) + body
    return struct.pack('<HI', (code << 6) | 0x3f, len(body)) + body


def define_rect_shape(shape_id, x, y, w, h, rgb):
    """DefineShape: a filled rectangle (twips)."""
    body = struct.pack('<H', shape_id) + rect(x, x + w, y, y + h)
    body += bytes([1, 0x00]) + bytes(rgb)   # one solid fill style
    body += bytes([0])                        # no line styles
    b = Bits()
    b.u(1, 4)  # fill bits
    b.u(0, 4)  # line bits
    # style change: move to (x, y), fill style 1
    b.u(0, 1); b.u(0, 1); b.u(0, 1); b.u(1, 1); b.u(0, 1); b.u(1, 1)
    n = sbits(x, y)
    b.u(n, 5); b.s(x, n); b.s(y, n)
    b.u(1, 1)
    for dx, dy in ((w, 0), (0, h), (-w, 0), (0, -h)):
        b.u(1, 1); b.u(1, 1)  # edge, straight
        n = sbits(dx, dy)
        b.u(n - 2, 4)
        if dx and dy:
            b.u(1, 1); b.s(dx, n); b.s(dy, n)
        else:
            b.u(0, 1); b.u(1 if dy else 0, 1); b.s(dy if dy else dx, n)
    b.u(0, 6)  # end of shape
    return tag(2, body + b.bytes())


def place(char_id, depth, replace):
    flags = 0x02 | (0x01 if replace else 0)
    return tag(26, bytes([flags]) + struct.pack('<HH', depth, char_id))


def push_string(s):
    data = b'\x00' + s.encode() + b'\x00'
    return b'\x96' + struct.pack('<H', len(data)) + data


def load_once(url, target):
    """if (!loaded) { loaded = true; loadMovieNum(url, target) } as AVM1 bytecode."""
    get_url = url.encode() + b'\x00' + target.encode() + b'\x00'
    set_part = push_string('loaded') + b'\x96\x02\x00\x05\x01' + b'\x1d'
    set_part += b'\x83' + struct.pack('<H', len(get_url)) + get_url
    code = push_string('loaded') + b'\x1c' + b'\x9d' + struct.pack('<Hh', 2, len(set_part)) + set_part + b'\x00'
    return tag(12, code)


def movie(width, height, fps, frames, extra_first_frame=b'', background=(255, 255, 255)):
    body = rect(0, width * 20, 0, height * 20) + struct.pack('<BBH', 0, fps, len(frames))
    body += tag(9, bytes(background))
    for i, frame in enumerate(frames):
        body += frame
        if i == 0:
            body += extra_first_frame
        body += tag(1)
    body += tag(0)
    return b'FWS' + bytes([8]) + struct.pack('<I', 8 + len(body)) + body




# --- AVM1 --------------------------------------------------------------------------

def action(code, payload=b''):
    if code < 0x80:
        return bytes([code])
    return bytes([code]) + struct.pack('<H', len(payload)) + payload


def push(*items):
    """ActionPush of strings, booleans and numbers (as doubles, AVM1's own order)."""
    data = b''
    for item in items:
        if isinstance(item, bool):
            data += b'\x05' + bytes([1 if item else 0])
        elif isinstance(item, (int, float)):
            d = struct.pack('<d', float(item))
            data += b'\x06' + d[4:] + d[:4]
        else:
            data += b'\x00' + item.encode() + b'\x00'
    return action(0x96, data)


GET_VARIABLE = action(0x1c)
SET_VARIABLE = action(0x1d)
GET_PROPERTY = action(0x22)
PROPERTY_URL = 15


def get_url2(load_variables=False, method=0):
    """ActionGetURL2: url and target on the stack; method 0 none, 1 GET, 2 POST."""
    return action(0x9a, bytes([(0x80 if load_variables else 0) | method]))


def unless(variable, body):
    """if (!variable) { body }"""
    return push(variable) + GET_VARIABLE + action(0x9d, struct.pack('<h', len(body))) + body


def do_action(code):
    return tag(12, code + b'\x00')


def get_url(url, target):
    """ActionGetURL: a fixed address and window."""
    return action(0x83, url.encode() + b'\x00' + target.encode() + b'\x00')


def define_button(button_id, shape_id, actions):
    """DefineButton: shape_id in every state (hit area included); actions run on release."""
    record = bytes([0x0f]) + struct.pack('<HH', shape_id, 1) + b'\x00'  # identity matrix
    return tag(7, struct.pack('<H', button_id) + record + b'\x00' + actions + b'\x00')
