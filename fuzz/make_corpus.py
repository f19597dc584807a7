#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora: small valid and invalid TGA files.

Run from anywhere; rewrites fuzz/corpus/<target>/ next to this script. The
output is deterministic, so rerunning it leaves the committed files as they
are unless this script changed.
"""
import os
import random
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def header(width, height, image_type=2, depth=24, descriptor=0, id_length=0,
           map_type=0, map_length=0, map_bits=0):
    return struct.pack('<BBBHHBHHHHBB', id_length, map_type, image_type, 0, map_length,
                       map_bits, 0, 0, width, height, depth, descriptor)


def pixels(width, height, colour_at):
    """Bottom-up rows, left to right, blue green red; (x, y) with y = 0 on top."""
    out = bytearray()
    for y in range(height - 1, -1, -1):
        for x in range(width):
            r, g, b = colour_at(x, y)
            out += bytes((b, g, r))
    return bytes(out)


def tga(width, height, colour_at, **fields):
    return header(width, height, **fields) + pixels(width, height, colour_at)


def uniform(r, g, b):
    return lambda x, y: (r, g, b)


def gradient(x, y):
    return ((x * 20) % 256, (y * 9) % 256, (255 - x * y) % 256)


def alternating(x, y):
    v = 255 if (x + y) % 2 == 0 else 0
    return (v, v, v)


def noise(seed):
    rng = random.Random(seed)
    return lambda x, y: (rng.randrange(256), rng.randrange(256), rng.randrange(256))


def records(entries):
    """Stored-sample records of the conversion target: (x, y, channel, value)
    at picture position (x, y), -1 for the margin, and value -1785 ... 5865."""
    out = bytearray()
    for x, y, c, value in entries:
        code = value + 1785
        out += bytes((x + 1, y + 1, c, code >> 8, code & 0xFF))
    return bytes(out)


def valid_pictures():
    return {
        'white-1x1.tga': tga(1, 1, uniform(255, 255, 255)),
        'colour6-8x8.tga': tga(8, 8, uniform(212, 82, 77)),
        'grey-8x8.tga': tga(8, 8, uniform(128, 128, 128)),
        'gradient-13x11.tga': tga(13, 11, gradient),
        'alternating-16x8.tga': tga(16, 8, alternating),
        'noise-64x64.tga': tga(64, 64, noise(1)),
        'noise-9x17.tga': tga(9, 17, noise(2)),
        'id-field-5x3.tga': header(5, 3, id_length=6) + b'kovrel' + pixels(5, 3, gradient),
        'colour-map-4x4.tga': header(4, 4, map_type=1, map_length=3, map_bits=24) + bytes(9)
                              + pixels(4, 4, gradient),
        'truncated-8x8.tga': tga(8, 8, uniform(255, 255, 255))[:18 + 4 * 8 * 3],
        'truncated-mid-pixel-3x3.tga': tga(3, 3, gradient)[:18 + 3 * 3 + 1],
        'header-only-64x64.tga': header(64, 64),
    }


def invalid_pictures():
    good = tga(2, 2, uniform(255, 0, 0))
    out = {'empty.tga': b'', 'short-17.tga': good[:17]}
    for name, offset, value in [('rle', 2, 10), ('greyscale', 2, 3), ('depth32', 16, 32),
                                ('top-left', 17, 0x20), ('alpha-bits', 17, 8),
                                ('width0', 12, 0), ('height0', 14, 0)]:
        bad = bytearray(good)
        bad[offset] = value
        out[name + '.tga'] = bytes(bad)
    out['width513.tga'] = header(513, 1) + bytes(30)
    out['height513.tga'] = header(1, 513) + bytes(30)
    return out


def write(folder, files):
    path = os.path.join(HERE, 'corpus', folder)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    for name, data in sorted(files.items()):
        with open(os.path.join(path, name), 'wb') as f:
            f.write(data)


def main():
    reader = dict(valid_pictures())
    reader.update(invalid_pictures())
    reader['largest-512x512-truncated.tga'] = header(512, 512) + bytes(range(256)) * 4
    write('tga_reader', reader)

    conversion = {k: v for k, v in valid_pictures().items() if not k.startswith(('id-', 'colour-map'))}
    conversion['rle-header.tga'] = invalid_pictures()['rle.tga']
    # Stored samples at the limits the quantiser can meet, in a 16 x 8
    # picture alternating black and white in every channel.
    limits = [(x, 0, c, -1785 if x % 2 else 5865) for x in range(16) for c in range(3)]
    conversion['stored-limits-16x8.tga'] = tga(16, 8, alternating) + records(limits)
    edges = [(x, y, (x + y) % 3, v) for (x, y), v in
             zip([(0, 0), (1, 0), (7, 0), (8, 0), (0, 9), (17, 9), (16, 1)],
                 [5865, -1785, -16, 4081, 5865, -1, 4080])]
    conversion['edge-samples-17x9.tga'] = tga(17, 9, noise(3)) + records(edges)
    write('conversion', conversion)


if __name__ == '__main__':
    main()
