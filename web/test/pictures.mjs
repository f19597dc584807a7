// Pictures built in code for the page tests: a PNG encoder and the TGA file
// the command-line program reads, both from the same RGB pixels.
import zlib from 'node:zlib';

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; ++k) {
    c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  }
  return c >>> 0;
});

function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) {
    c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
  }
  return (c ^ 0xffffffff) >>> 0;
}

function uint32s(values) {
  const out = Buffer.alloc(4 * values.length);
  values.forEach((v, i) => out.writeUInt32BE(v, 4 * i));
  return out;
}

function chunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'latin1');
  data.copy(out, 8);
  out.writeUInt32BE(crc32(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}

// Pixels as { width, height, rgb } with rgb holding rows top to bottom, each
// pixel red, green, blue; colourAt(x, y) gives [r, g, b].
export function makePixels(width, height, colourAt) {
  const rgb = Buffer.alloc(width * height * 3);
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) {
      rgb.set(colourAt(x, y), (y * width + x) * 3);
    }
  }
  return { width, height, rgb };
}

// An RGB PNG, 8 bits a channel. Without options it has no colour-space
// chunks; with { gamma: true } it has the gAMA (1/2.2) and cHRM chunks
// ImageMagick writes by default, which a colour-managing reader would act
// on. { alpha: (x, y) => a } makes it RGBA, { deep: true } 16 bits a
// channel, each 8-bit value v written as v * 257 + (x + y) % 200 so that the
// low byte matters.
export function encodePng({ width, height, rgb }, { gamma = false, alpha = null, deep = false } = {}) {
  const channels = alpha ? 4 : 3;
  const bytes = deep ? 2 : 1;
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = deep ? 16 : 8;  // bits per channel
  header[9] = alpha ? 6 : 2;  // truecolour, with alpha or without
  const stride = 1 + width * channels * bytes;
  const raw = Buffer.alloc(height * stride);
  for (let y = 0; y < height; ++y) {
    raw[y * stride] = 0;  // filter: none
    for (let x = 0; x < width; ++x) {
      const values = [...rgb.subarray((y * width + x) * 3, (y * width + x) * 3 + 3)];
      if (alpha) {
        values.push(alpha(x, y));
      }
      values.forEach((v, c) => {
        const at = y * stride + 1 + (x * channels + c) * bytes;
        if (deep) {
          raw.writeUInt16BE(Math.min(65535, v * 257 + ((x + y) % 200)), at);
        } else {
          raw[at] = v;
        }
      });
    }
  }
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header),
    ...(gamma ? [chunk('gAMA', uint32s([45455])),
                 chunk('cHRM', uint32s([31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000]))] : []),
    chunk('IDAT', zlib.deflateSync(raw)),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

// Uncompressed 24-bit TGA, origin bottom left: rows bottom-up, pixels blue,
// green, red.
export function encodeTga({ width, height, rgb }) {
  const out = Buffer.alloc(18 + width * height * 3);
  out[2] = 2;
  out.writeUInt16LE(width, 12);
  out.writeUInt16LE(height, 14);
  out[16] = 24;
  let o = 18;
  for (let y = height - 1; y >= 0; --y) {
    for (let x = 0; x < width; ++x) {
      const i = (y * width + x) * 3;
      out[o++] = rgb[i + 2];
      out[o++] = rgb[i + 1];
      out[o++] = rgb[i];
    }
  }
  return out;
}

// Smooth gradients in every channel with a few saturated discs on top: a
// picture that needs dithering and many colour pairs.
export function photoLike(width, height) {
  const discs = [
    [0.25, 0.3, 0.12, [230, 40, 30]],
    [0.7, 0.35, 0.15, [30, 60, 220]],
    [0.5, 0.75, 0.18, [250, 220, 40]],
  ];
  return makePixels(width, height, (x, y) => {
    for (const [cx, cy, r, colour] of discs) {
      const dx = x / width - cx;
      const dy = y / height - cy;
      if (dx * dx + dy * dy < r * r) {
        return colour;
      }
    }
    return [
      Math.round((255 * x) / (width - 1)),
      Math.round((255 * y) / (height - 1)),
      ((x * 3) ^ (y * 5)) & 0xff,
    ];
  });
}

// A 1 x 1 GIF of two frames, red then blue: an animation.
export function animatedGif() {
  const frame = (colour) => [
    0x21, 0xf9, 0x04, 0x00, 0x0a, 0x00, 0x00, 0x00,              // graphic control: 0.1 s
    0x2c, 0, 0, 0, 0, 1, 0, 1, 0, 0x00,                            // image 1 x 1
    0x02, 0x02, colour === 0 ? 0x44 : 0x4c, 0x01, 0x00,            // LZW: clear, index, end
  ];
  return Buffer.from([
    ...Buffer.from('GIF89a', 'latin1'), 1, 0, 1, 0, 0x80, 0, 0,  // 1 x 1, 2-colour table
    255, 0, 0, 0, 0, 255,                                          // red, blue
    ...frame(0), ...frame(1), 0x3b,
  ]);
}
