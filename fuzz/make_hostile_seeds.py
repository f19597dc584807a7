#!/usr/bin/env python3
"""Writes small seeds of each hostile shape into fuzz/corpus/picture_reader/:
files that once cost a reader far more than their pictures need. Each is a
scaled-down copy of its kind, so the fuzzer starts next to those shapes:
compressed text chunks and a colour profile that inflate to megabytes,
image data running on past the rows, runs of empty IDAT chunks, a large
text chunk, a declared size far above the picture, a JPEG repeating one
scan past the scan limit, and a JPEG of two components. The fuzz target
reads the framing from the last byte, so the seeds end as their files do.
"""
import os
import struct
import subprocess
import tempfile
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', 'picture_reader')


def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))


def png(width, height, before=b'', extra=0, idat_before=b''):
    rows = b''.join(b'\0' + bytes((x * 7 + y * 3) % 256 for x in range(3 * width)) for y in range(height))
    header = chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
    return (b'\x89PNG\r\n\x1a\n' + header + before + idat_before +
            chunk(b'IDAT', zlib.compress(rows + bytes(extra), 9)) + chunk(b'IEND', b''))


def write(name, data):
    with open(os.path.join(OUT, name), 'wb') as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    bomb = zlib.compress(bytes(1 << 20), 9)
    write('hostile-ztxt.png', png(8, 8, chunk(b'zTXt', b'Comment\0\0' + bomb) * 3))
    write('hostile-itxt.png', png(8, 8, chunk(b'iTXt', b'Comment\0\1\0\0\0' + bomb)))
    write('hostile-iccp.png', png(8, 8, chunk(b'iCCP', b'profile\0\0' + bomb)))
    write('hostile-extra-data.png', png(8, 8, extra=4 << 20))
    write('hostile-empty-idat.png', png(8, 8, idat_before=chunk(b'IDAT', b'') * 500))
    write('hostile-text.png', png(8, 8, chunk(b'tEXt', b'Comment\0' + b'a' * 4000)))
    header = chunk(b'IHDR', struct.pack('>IIBBBBB', 8192, 8192, 8, 2, 0, 0, 0))
    write('hostile-declared-size.png', b'\x89PNG\r\n\x1a\n' + header + chunk(b'IDAT', zlib.compress(bytes(256))) +
          chunk(b'IEND', b''))
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, 'g.pgm'), 'wb') as f:
            f.write(b'P5 16 16 255\n' + bytes(range(0, 256)))
        with open(os.path.join(tmp, 's.txt'), 'w') as f:
            f.write('0: 0 0 0 0;\n0: 1 63 0 0;\n')
        jpeg = subprocess.check_output(['cjpeg', '-grayscale', '-scans', os.path.join(tmp, 's.txt'),
                                        os.path.join(tmp, 'g.pgm')])
        grey = subprocess.check_output(['cjpeg', '-grayscale', os.path.join(tmp, 'g.pgm')])
    scan = jpeg[jpeg.rfind(b'\xff\xda'):-2]
    write('hostile-scans.jpg', jpeg[:-2] + scan * 110 + b'\xff\xd9')
    # The one component of a grey JPEG made two (the second a copy, id 2).
    sof = grey.find(b'\xff\xc0')
    component = grey[sof + 10:sof + 13]
    write('hostile-two-components.jpg', grey[:sof + 2] + b'\x00\x0e' + grey[sof + 4:sof + 9] + b'\x02' +
          component + b'\x02' + component[1:] + grey[sof + 13:])


if __name__ == '__main__':
    main()
