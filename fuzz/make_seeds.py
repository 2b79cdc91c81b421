#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets whose input is binary
(command_set_fuzzer, usb_replies_fuzzer, virtual_printer_fuzzer) into
fuzz/corpus/<target>/. The inputs are laid out the way the targets read them
through LLVM's FuzzedDataProvider: byte runs and strings from the front,
integers from the back; each one follows one real-looking exchange (a version
reply, a device ID with its count, a verify over USB, ...). The INI-shaped
seeds of the other two targets are plain files, written by hand.

    python3 fuzz/make_seeds.py [corpus-folder]     (default: fuzz/corpus)
"""
import os
import sys


class Input:
    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()   # in consumption order

    def integral(self, value, lo, hi):
        rng = hi - lo
        v = value - lo
        assert 0 <= v <= rng
        nbytes = 0
        while nbytes < 8 and (rng >> (8 * nbytes)) > 0:
            nbytes += 1
        # the first byte consumed is the most significant
        self.back += v.to_bytes(nbytes, 'big') if nbytes else b''
        return self

    def u8(self, v): return self.integral(v, 0, 0xFF)
    def u16(self, v): return self.integral(v, 0, 0xFFFF)
    def u32(self, v): return self.integral(v & 0xFFFFFFFF, 0, 0xFFFFFFFF)
    def i32(self, v): return self.integral(v + 2**31, 0, 0xFFFFFFFF)  # ConsumeIntegral<int32>: min + raw
    def boolean(self, b): return self.integral(1 if b else 0, 0, 0xFF)

    def bytes(self, data):
        self.front += data
        return self

    def string(self, text):
        data = text if isinstance(text, (bytes, bytearray)) else text.encode('latin-1')
        self.front += data.replace(b'\\', b'\\\\') + b'\\.'
        return self

    def build(self):
        return bytes(self.front) + bytes(reversed(self.back))


root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def save(target, name, data):
    d = os.path.join(root, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), 'wb') as f:
        f.write(data)

ESC = b'\x1b'
def version_reply(esc, field):
    head = (ESC if esc else b'') + b'\xa5\x00' + (b'\x08' if esc else b'\x07') + b'\x50\xe0\x82\x06'
    return head + field
def download_reply(esc, status, fn=5):
    head = (ESC if esc else b'') + b'\xa5\x00' + (b'\x05' if esc else b'\x04') + b'\x50\xe0\x82' + bytes([fn])
    return head + bytes([status])

# ---- command_set_fuzzer -------------------------------------------------
def cs_reply(name, esc, demo, reply, received=None, odd=10):
    i = Input().integral(0, 0, 3).boolean(esc).boolean(demo)
    if esc: i.u32(1)
    i.integral(len(reply), 0, 255).bytes(reply)
    i.integral(len(reply) if received is None else received, 0, 255)
    i.integral(odd, 0, 300)
    save('command_set_fuzzer', name, i.build())

cs_reply('version-106-plain', False, False, version_reply(False, b'106'))
cs_reply('version-106-esc', True, False, version_reply(True, b'106'))
cs_reply('version-blank-99', False, False, version_reply(False, b' 99'))
cs_reply('version-1A6', False, False, version_reply(False, b'1A6'))
cs_reply('version-minus-12', True, False, version_reply(True, b'-12'))
cs_reply('version-letters', False, False, version_reply(False, b'abc'))
cs_reply('version-zero-inside', False, False, version_reply(False, b'1\x006'))
cs_reply('version-short-by-one', False, False, version_reply(False, b'106')[:-1], odd=3)
cs_reply('download-accepted', False, False, download_reply(False, 0))
cs_reply('download-esc-busy', True, False, download_reply(True, 1))
cs_reply('download-demo-status-2', False, True, download_reply(False, 2, 7))
cs_reply('download-firmware-status-2', False, False, download_reply(False, 2))
cs_reply('download-lpt-12-bytes', False, False, download_reply(False, 0) + b'\xee\xee\xee\xee', odd=12)

def cs_ident(name, device_id, model):
    i = Input().integral(1, 0, 3).integral(len(device_id), 0, 255).bytes(device_id).string(model)
    save('command_set_fuzzer', name, i.build())

DID = b'MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;'
cs_ident('ident-match', DID, 'VP-1000')
cs_ident('ident-prefix-match', DID, 'VP-10')
cs_ident('ident-case-differs', DID, 'vp-1000')
cs_ident('ident-empty-text', b'', 'VP-1000')
cs_ident('ident-empty-model', DID, '')
cs_ident('ident-sjis-trail-byte', b'MFG:\x83\x56;MODEL:\x82VP-1000;', 'VP-1000')
cs_ident('ident-sjis-split', b'MODEL:\x81\x41\x81VP;', 'AV')
cs_ident('ident-lead-byte-last', b'MODEL:VP-1000\x81', '\x81')
cs_ident('ident-full-255', (DID * 6)[:255], 'PRINTER;MFG')

def cs_cmd(name, esc, size, lpt):
    save('command_set_fuzzer', name, Input().integral(2, 0, 3).i32(esc).u32(size).i32(lpt).build())
cs_cmd('commands-plain', 0, 1, 1)
cs_cmd('commands-esc-demo-limit', 1, 1024000, 3)
cs_cmd('commands-odd-esc', 7, 0xFFFFFFFF, 0)
cs_cmd('commands-negative', -1, 0x01020304, -5)

def cs_num(name, text):
    save('command_set_fuzzer', name, Input().integral(3, 0, 3).string(text).build())
for n, t in [('number-plain', '106'), ('number-spaces-sign', ' \t-12x'), ('number-huge', '99999999999999'),
             ('number-min', '-2147483648'), ('number-plus', '+7'), ('number-empty', '')]:
    cs_num(n, t)

# ---- virtual_printer_fuzzer ---------------------------------------------
def vp(name, esc, version, dl, demo, idf, short, fail_after, sink, ops):
    i = Input().boolean(esc).string(version).u8(dl).u8(demo).integral(idf, 0, 3).integral(short, 0, 3)
    i.boolean(fail_after is not None)
    if fail_after is not None: i.integral(fail_after, 0, 100000)
    i.boolean(sink)
    for op in ops:
        if op[0] == 'read':
            i.integral(0, 0, 5).integral(op[1], 0, 300)
        elif op[0] == 'id':
            i.integral(1, 0, 5)
        else:
            data = op[1]
            for k in range(0, max(len(data), 1), 64):
                chunk = data[k:k + 64]
                i.integral(2, 0, 5).integral(len(chunk), 0, 64).bytes(chunk)
    save('virtual_printer_fuzzer', name, i.build())

VQ = bytes.fromhex('a5000450e08206'); DL = bytes.fromhex('a5000450e08205')
DEMO = bytes.fromhex('a5000850e0820700000400')
image = bytes((k * 37) & 0xff for k in range(300))
vp('verify-plain', False, '100', 0, 0, 0, 0, None, False, [('id',), ('w', VQ), ('read', 10)])
vp('verify-esc-short-reply', True, '106', 0, 0, 0, 1, None, False, [('w', ESC + VQ), ('read', 11), ('read', 11)])
vp('download-image', False, '100', 0, 0, 0, 0, None, True, [('w', DL), ('read', 255), ('w', image)])
vp('download-fails-midway', False, '100', 0, 0, 0, 0, 100, False, [('w', DL), ('read', 8), ('w', image)])
vp('download-busy', True, '100', 1, 0, 0, 0, None, False, [('w', ESC + DL), ('read', 9), ('w', image[:40])])
vp('demo-download', False, '101', 0, 0, 0, 0, None, False, [('w', DEMO), ('read', 8), ('w', image)])
vp('demo-refused', False, '101', 0, 2, 0, 0, None, False, [('w', DEMO), ('read', 8)])
vp('garbage-then-command', False, '100', 0, 0, 2, 0, None, False,
   [('id',), ('id',), ('id',), ('w', b'\x00\xa5\x00\x99\x1b\x1b' + VQ), ('read', 64)])
vp('command-in-pieces', False, '1', 0, 0, 0, 0, None, False, [('w', VQ[:3]), ('w', VQ[3:]), ('read', 5), ('read', 10)])

# ---- usb_replies_fuzzer ---------------------------------------------------
PATH_OK = 7
class Usb:
    def __init__(self):
        self.i = Input()
    def call(self, n): self.i.integral(n, 0, 6); return self
    def os(self, which): self.i.integral(which, 0, 4); return self
    def discovery(self):
        # create set; enumerate member 0; its path; open it
        self.i.integral(1, 0, 15).integral(2, 0, 3).integral(1, 0, 7).boolean(True).u8(PATH_OK).integral(1, 0, 5)
        return self
    def open_ok(self): self.i.integral(1, 0, 5); return self
    def ioctl(self, answer, returned=True):
        self.i.integral(1, 0, 5)
        self.i.integral(len(answer), 0, 4096).bytes(answer)
        self.i.boolean(returned)
        return self
    def ioctl_device_id(self, count, text):
        self.i.integral(1, 0, 5).boolean(True).u16(count).string(text).boolean(True)
        return self
    def ioctl_timeout(self):
        self.i.integral(1, 0, 5).integral(0, 0, 8).boolean(True)
        return self
    def descriptor(self, vendor):
        d = bytearray(18); d[0] = 18; d[1] = 1; d[8] = vendor & 0xff; d[9] = vendor >> 8
        return self.ioctl(bytes(d))
    def environment(self, os_which, vendor):
        return self.os(os_which).discovery().descriptor(vendor)
    def build(self): return self.i.build()

def win(os_which): return os_which == 0
def usb_identify(u, os_which, vendor, text, count=None):
    u.i.boolean(True)          # capacity 255
    u.environment(os_which, vendor)
    u.discovery()
    u.ioctl_device_id(len(text) if count is None else count, text)
    return u
def usb_write(u, os_which, length, first=True):
    u.i.integral(length, 0, 9000).integral(0, 0, 3)   # length, timeout "1000"
    if first: u.discovery()                              # fill the port-name cache
    u.open_ok()                                          # the write pipe
    if win(os_which): u.open_ok().ioctl_timeout()        # control path, SET_WRITE_TIMEOUT
    u.i.boolean(True).integral(1, 0, 7)                  # all written, no failure
    return u
def usb_read(u, os_which, reply, first=False):
    u.i.integral(len(reply), 0, 9000).integral(0, 0, 3)
    if first: u.discovery()
    u.open_ok()
    if win(os_which): u.open_ok().ioctl_timeout()
    u.i.integral(1, 0, 5).integral(len(reply), 0, len(reply)).bytes(reply)
    return u

for os_which, tag in [(1, 'win2000'), (0, 'win98')]:
    u = Usb(); u.call(6)
    usb_identify(u, os_which, 0x043D, DID.decode())
    usb_write(u, os_which, 7)
    usb_read(u, os_which, version_reply(False, b'100'))
    save('usb_replies_fuzzer', f'verify-{tag}', u.build())

    u = Usb(); u.call(1)
    u.environment(os_which, 0x0419).discovery().ioctl_device_id(len(DID), DID.decode())
    save('usb_replies_fuzzer', f'model-name-{tag}', u.build())

for name, count, text in [('count-zero', 0, 'MODEL:X;'), ('count-300', 300, 'MODEL:' + 'Y' * 300 + ';'),
                          ('count-4096', 4096, 'MFG:Z;MODEL:' + 'Q' * 200), ('count-ffff', 0xFFFF, 'MODEL:A B;'),
                          ('mdl-only', 19, 'MFG:X;MDL:Y;CMD:Z;')]:
    u = Usb(); u.call(0)
    usb_identify(u, 1, 0x049F, text, count)
    save('usb_replies_fuzzer', f'device-id-{name}', u.build())
    u = Usb(); u.call(1)
    u.environment(1, 0x0550).discovery().ioctl_device_id(count, text)
    save('usb_replies_fuzzer', f'model-name-{name}', u.build())

u = Usb(); u.call(2).discovery().descriptor(0x1234)
save('usb_replies_fuzzer', 'vendor-unaccepted', u.build())
u = Usb(); u.call(3); u.i.integral(255, 0, 300).integral(1, 0, 2); u.environment(1, 0x043D).discovery()
save('usb_replies_fuzzer', 'write-port-name', u.build())
u = Usb(); u.call(5)
usb_read(u, 0, b'\x00' * 64, first=True)
save('usb_replies_fuzzer', 'read-64-no-cache', u.build())
