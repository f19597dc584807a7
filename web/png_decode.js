// PNG decoding for the worker, to the pixels the program's reader (libpng
// with png_set_expand, png_set_scale_16, png_set_gray_to_rgb and an opaque
// alpha added) gives: RGBA, 8 bits a channel, rows top down. The browser's
// own decoder reduces 16-bit samples another way, and its canvas keeps
// pixels premultiplied, which loses partly transparent colours; so PNG
// files are decoded here, with the browser's zlib (DecompressionStream).
//
// decodePng(bytes) resolves to { width, height, rgba, animated } or rejects
// with PngDamaged for a file that is damaged or cut short, PngTooLarge for
// sides beyond what the caller allows (the check comes before any pixel is
// decoded).
'use strict';

class PngDamaged extends Error {}
class PngTooLarge extends Error {}

const kPngSignature = [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a];

const crcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) {
      c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    }
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes, from, to) {
  let c = 0xffffffff;
  for (let i = from; i < to; ++i) {
    c = crcTable[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  }
  return (c ^ 0xffffffff) >>> 0;
}

// The chunks, each { type, data }; the critical ones' CRCs are checked, as
// libpng does (an ancillary chunk with a bad CRC is dropped).
function readChunks(bytes) {
  if (bytes.length < 8 || kPngSignature.some((b, i) => bytes[i] !== b)) {
    throw new PngDamaged('not a PNG signature');
  }
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const chunks = [];
  let at = 8;
  for (;;) {
    if (at + 12 > bytes.length) {
      throw new PngDamaged('cut short');
    }
    const length = view.getUint32(at);
    const type = String.fromCharCode(bytes[at + 4], bytes[at + 5], bytes[at + 6], bytes[at + 7]);
    if (length > 0x7fffffff || at + 12 + length > bytes.length) {
      throw new PngDamaged('cut short');
    }
    const critical = (bytes[at + 4] & 0x20) === 0;
    const intact = crc32(bytes, at + 4, at + 8 + length) === view.getUint32(at + 8 + length);
    if (!intact && critical) {
      throw new PngDamaged(`CRC error in ${type}`);
    }
    if (intact) {
      chunks.push({ type, data: bytes.subarray(at + 8, at + 8 + length) });
    }
    at += 12 + length;
    if (type === 'IEND') {
      return chunks;
    }
  }
}

async function inflate(data) {
  try {
    const stream = new Blob([data]).stream().pipeThrough(new DecompressionStream('deflate'));
    return new Uint8Array(await new Response(stream).arrayBuffer());
  } catch {
    throw new PngDamaged('the compressed data is damaged');
  }
}

const kChannels = { 0: 1, 2: 3, 3: 1, 4: 2, 6: 4 };
const kDepths = { 0: [1, 2, 4, 8, 16], 2: [8, 16], 3: [1, 2, 4, 8], 4: [8, 16], 6: [8, 16] };

// Adam7: [x start, y start, x step, y step] per pass.
const kPasses = [[0, 0, 8, 8], [4, 0, 8, 8], [0, 4, 4, 8], [2, 0, 4, 4], [0, 2, 2, 4], [1, 0, 2, 2], [0, 1, 1, 2]];

function paeth(a, b, c) {
  const p = a + b - c;
  const pa = Math.abs(p - a);
  const pb = Math.abs(p - b);
  const pc = Math.abs(p - c);
  return pa <= pb && pa <= pc ? a : (pb <= pc ? b : c);
}

// Undoes the filters of one image (a pass) of rows x rowBytes, in place in
// out; returns the bytes read from data.
function unfilter(data, from, rows, rowBytes, bpp, out) {
  let at = from;
  for (let y = 0; y < rows; ++y) {
    if (at + 1 + rowBytes > data.length) {
      throw new PngDamaged('cut short');
    }
    const filter = data[at++];
    const row = y * rowBytes;
    const prior = row - rowBytes;
    for (let i = 0; i < rowBytes; ++i) {
      const raw = data[at + i];
      const a = i >= bpp ? out[row + i - bpp] : 0;
      const b = y > 0 ? out[prior + i] : 0;
      const c = i >= bpp && y > 0 ? out[prior + i - bpp] : 0;
      let v;
      switch (filter) {
        case 0: v = raw; break;
        case 1: v = raw + a; break;
        case 2: v = raw + b; break;
        case 3: v = raw + ((a + b) >> 1); break;
        case 4: v = raw + paeth(a, b, c); break;
        default: throw new PngDamaged(`unknown filter ${filter}`);
      }
      out[row + i] = v & 0xff;
    }
    at += rowBytes;
  }
  return at - from;
}

// round(v x 255 / 65535), as libpng's png_set_scale_16.
function scale16(v) {
  return (v * 255 + 32895) >>> 16;
}

async function decodePng(bytes, largestSide) {
  const chunks = readChunks(bytes);
  const header = chunks[0];
  if (!header || header.type !== 'IHDR' || header.data.length !== 13) {
    throw new PngDamaged('no image header');
  }
  const h = new DataView(header.data.buffer, header.data.byteOffset, 13);
  const width = h.getUint32(0);
  const height = h.getUint32(4);
  const depth = header.data[8];
  const colourType = header.data[9];
  const interlaced = header.data[12];
  if (width === 0 || height === 0 || !(colourType in kChannels) || !kDepths[colourType].includes(depth) ||
      header.data[10] !== 0 || header.data[11] !== 0 || interlaced > 1) {
    throw new PngDamaged('an image header the format does not allow');
  }
  if (width > largestSide || height > largestSide) {
    throw new PngTooLarge(`${width} × ${height}`);
  }
  let palette = null;
  let transparency = null;
  const compressed = [];
  let animated = false;
  for (const { type, data } of chunks) {
    if (type === 'PLTE') {
      if (data.length % 3 !== 0 || data.length === 0 || data.length > 768) {
        if (colourType === 3) {
          throw new PngDamaged('a palette of the wrong size');
        }
        continue;  // a suggested palette, which libpng drops too
      }
      palette = data;
    } else if (type === 'tRNS') {
      transparency = data;
    } else if (type === 'IDAT') {
      compressed.push(data);
    } else if (type === 'acTL') {
      animated = true;
    } else if ((type.charCodeAt(0) & 0x20) === 0 && !['IHDR', 'IEND'].includes(type)) {
      throw new PngDamaged(`an unknown critical chunk ${type}`);
    }
  }
  if (compressed.length === 0 || (colourType === 3 && !palette)) {
    throw new PngDamaged('no image data');
  }
  const all = new Uint8Array(compressed.reduce((n, d) => n + d.length, 0));
  compressed.reduce((at, d) => (all.set(d, at), at + d.length), 0);
  const data = await inflate(all);

  const channels = kChannels[colourType];
  const bitsPerPixel = channels * depth;
  const bpp = Math.max(1, bitsPerPixel >> 3);
  const rgba = new Uint8Array(width * height * 4);
  // The sample of channel c of pixel x in an unfiltered row, at full depth.
  const sample = (row, at, x, c) => {
    if (depth === 16) {
      const i = at + (x * channels + c) * 2;
      return (row[i] << 8) | row[i + 1];
    }
    if (depth === 8) {
      return row[at + x * channels + c];
    }
    const bit = x * depth;  // one channel below 8 bits
    return (row[at + (bit >> 3)] >> (8 - depth - (bit & 7))) & ((1 << depth) - 1);
  };
  const toByte = (v) => (depth === 16 ? scale16(v) : depth === 8 ? v : v * (255 / ((1 << depth) - 1)));
  // A transparency chunk of the wrong size for the colour type is dropped,
  // as libpng drops it (a benign error there).
  const keyLength = colourType === 0 ? 1 : colourType === 2 ? 3 : 0;
  if (transparency && (colourType === 4 || colourType === 6 ||
                       (keyLength > 0 && transparency.length !== 2 * keyLength) ||
                       (colourType === 3 && (transparency.length === 0 ||
                                             transparency.length > palette.length / 3)))) {
    transparency = null;
  }
  // The colour (or grey level) that tRNS makes transparent, compared at the
  // file's own depth before any reduction.
  const key = transparency && keyLength > 0
    ? Array.from({ length: keyLength }, (_, c) => (transparency[2 * c] << 8) | transparency[2 * c + 1])
    : null;
  const put = (row, at, x, px, py) => {
    const o = (py * width + px) * 4;
    if (colourType === 3) {
      const index = sample(row, at, x, 0);
      if (3 * index + 2 < palette.length) {
        rgba[o] = palette[3 * index];
        rgba[o + 1] = palette[3 * index + 1];
        rgba[o + 2] = palette[3 * index + 2];
      }
      rgba[o + 3] = transparency && index < transparency.length ? transparency[index] : 255;
      return;
    }
    const grey = colourType === 0 || colourType === 4;
    const colour = grey ? 1 : 3;
    let matchesKey = key !== null;
    for (let c = 0; c < colour; ++c) {
      const v = sample(row, at, x, c);
      matchesKey = matchesKey && v === key[c];
      rgba[o + c] = toByte(v);
    }
    if (grey) {
      rgba[o + 1] = rgba[o + 2] = rgba[o];
    }
    const hasAlpha = colourType === 4 || colourType === 6;
    rgba[o + 3] = hasAlpha ? toByte(sample(row, at, x, colour)) : (matchesKey ? 0 : 255);
  };

  let read = 0;
  const passes = interlaced ? kPasses : [[0, 0, 1, 1]];
  for (const [x0, y0, dx, dy] of passes) {
    const columns = Math.ceil((width - x0) / dx);
    const rows = Math.ceil((height - y0) / dy);
    if (columns <= 0 || rows <= 0) {
      continue;
    }
    const rowBytes = Math.ceil((columns * bitsPerPixel) / 8);
    const image = new Uint8Array(rows * rowBytes);
    read += unfilter(data, read, rows, rowBytes, bpp, image);
    for (let y = 0; y < rows; ++y) {
      for (let x = 0; x < columns; ++x) {
        put(image, y * rowBytes, x, x0 + x * dx, y0 + y * dy);
      }
    }
  }
  return { width, height, rgba, animated };
}
