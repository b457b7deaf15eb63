#!/usr/bin/env python3
"""Reads SER recordings as another program would, and compares them with what they were made from.

ser_check.py summary FILE            frames, size, depth, endianness flag, trailer, frame interval (ms)
ser_check.py bmp FILE DIR            every frame equals the BMP capture of the same rank in DIR
ser_check.py raw FILE AVI            every frame equals the luminance of the AVI's YUY2 frame
ser_check.py sum SUMFILE RAWFILE N   every 16-bit frame is the sum of N raw frames
ser_check.py partial FILE            a file of a killed run: every frame its header counts is there
ser_check.py fits STEM SERFILE       STEM-000001.fits, ... hold the SER file's frames, each at its time
Prints "ok ..." or the first difference, and exits 1 on a difference.
"""
import os
import struct
import sys

TICKS_1970 = 621355968000000000


def read_ser(path, need_trailer=True):
    with open(path, 'rb') as f:
        data = f.read()
    if len(data) < 178 or data[:14] != b'LUCAM-RECORDER':
        sys.exit('not a SER file: ' + path)
    _lu, color, le_flag, w, h, depth, n = struct.unpack_from('<7i', data, 14)
    bpp = 2 if depth > 8 else 1
    size = w * h * bpp
    end = 178 + size * n
    if len(data) < end:
        sys.exit('%s: %d frames counted, only %d bytes' % (path, n, len(data)))
    frames = [data[178 + i * size:178 + (i + 1) * size] for i in range(n)]
    ticks = []
    if len(data) >= end + 8 * n:
        ticks = list(struct.unpack_from('<%dQ' % n, data, end))
    elif need_trailer:
        sys.exit('%s: no trailer' % path)
    return dict(color=color, le_flag=le_flag, w=w, h=h, depth=depth, n=n, frames=frames, ticks=ticks)


def fail(text):
    print(text)
    sys.exit(1)


def summary(path):
    s = read_ser(path)
    dts = [(b - a) / 1e4 for a, b in zip(s['ticks'], s['ticks'][1:])]
    first = (s['ticks'][0] - TICKS_1970) / 1e7 if s['ticks'] else 0
    print('ok frames=%d width=%d height=%d depth=%d flag=%d color=%d first_utc=%.3f min_dt_ms=%.3f max_dt_ms=%.3f'
          % (s['n'], s['w'], s['h'], s['depth'], s['le_flag'], s['color'], first,
             min(dts) if dts else 0, max(dts) if dts else 0))


def bmp_grey(path):
    with open(path, 'rb') as f:
        b = f.read()
    offset, = struct.unpack_from('<I', b, 10)
    w, h = struct.unpack_from('<ii', b, 18)
    stride = (3 * w + 3) & ~3
    rows = [b[offset + y * stride: offset + y * stride + 3 * w][0::3] for y in range(abs(h))]
    if h > 0:
        rows.reverse()
    return b''.join(rows)


def bmp(path, folder):
    s = read_ser(path)
    names = sorted(n for n in os.listdir(folder) if n.endswith('.bmp'))
    if len(names) != s['n']:
        fail('%d frames, %d captures' % (s['n'], len(names)))
    for i, n in enumerate(names):
        if bmp_grey(os.path.join(folder, n)) != s['frames'][i]:
            fail('frame %d differs from %s' % (i, n))
    print('ok %d' % s['n'])


def avi_yuy2_frames(path, w, h):
    with open(path, 'rb') as f:
        data = f.read()
    size = w * h * 2
    frames, i = [], data.find(b'movi')
    while i >= 0:
        i = data.find(b'00d', i + 1)
        if i < 0:
            break
        if data[i + 3:i + 4] in (b'b', b'c') and struct.unpack_from('<I', data, i + 4)[0] == size:
            frames.append(data[i + 8:i + 8 + size])
            i += 8 + size - 1
    return frames


def raw(path, avi):
    s = read_ser(path)
    src = avi_yuy2_frames(avi, s['w'], s['h'])
    if len(src) != s['n']:
        fail('%d frames, the clip has %d' % (s['n'], len(src)))
    for i, y in enumerate(src):
        if y[0::2] != s['frames'][i]:
            fail('frame %d is not the luminance of the clip\'s frame' % i)
    print('ok %d' % s['n'])


def sums(path, raw_path, count):
    s, r = read_ser(path), read_ser(raw_path)
    if s['depth'] != 16 or s['le_flag'] != 0:
        fail('depth %d flag %d' % (s['depth'], s['le_flag']))
    if s['n'] != r['n'] // count:
        fail('%d sums of %d raw frames' % (s['n'], r['n']))
    for k in range(s['n']):
        got = struct.unpack('<%dH' % (s['w'] * s['h']), s['frames'][k])
        want = [sum(px) for px in zip(*r['frames'][k * count:(k + 1) * count])]
        if list(got) != want:
            fail('sum %d differs' % k)
        if s['ticks'][k] != r['ticks'][k * count]:
            fail('sum %d is not timed by its first frame' % k)
    print('ok %d' % s['n'])


def partial(path):
    s = read_ser(path, need_trailer=False)
    if s['n'] == 0:
        fail('no frame counted')
    print('ok %d' % s['n'])


def read_fits(path):
    with open(path, 'rb') as f:
        data = f.read()
    cards, at = {}, 0
    while True:
        card = data[at:at + 80].decode('ascii')
        at += 80
        if card.startswith('END'):
            break
        if card[8:10] == '= ':
            cards[card[:8].strip()] = card[10:].split(' /')[0].strip().strip("'").strip()
    start = (at + 2879) // 2880 * 2880
    w, h, bitpix = int(cards['NAXIS1']), int(cards['NAXIS2']), int(cards['BITPIX'])
    if bitpix == 8:
        pixels = data[start:start + w * h]
    else:
        zero = int(float(cards.get('BZERO', '0')))
        words = struct.unpack('>%dh' % (w * h), data[start:start + 2 * w * h])
        pixels = struct.pack('<%dH' % (w * h), *[v + zero for v in words])
    return cards, pixels


def fits(stem, ser_path):
    import datetime
    s = read_ser(ser_path)
    for i in range(s['n']):
        cards, pixels = read_fits('%s-%06d.fits' % (stem, i + 1))
        if pixels != s['frames'][i]:
            fail('picture %d differs' % (i + 1))
        when = datetime.datetime(1970, 1, 1) + datetime.timedelta(microseconds=(s['ticks'][i] - TICKS_1970) // 10)
        if cards['DATE-OBS'] != when.strftime('%Y-%m-%dT%H:%M:%S.') + '%03d' % (when.microsecond // 1000):
            fail('picture %d is dated %s, its frame %s' % (i + 1, cards['DATE-OBS'], when))
        if cards.get('ROWORDER') != 'TOP-DOWN':
            fail('no ROWORDER')
    if os.path.exists('%s-%06d.fits' % (stem, s['n'] + 1)):
        fail('more pictures than frames')
    print('ok %d nframes=%s exptime=%s' % (s['n'], cards['NFRAMES'], cards['EXPTIME']))


if __name__ == '__main__':
    mode, args = sys.argv[1], sys.argv[2:]
    {'summary': summary, 'bmp': bmp, 'raw': raw, 'partial': partial, 'fits': fits,
     'sum': lambda a, b, n: sums(a, b, int(n))}[mode](*args)
