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

// The largest PNG or JPEG file read, as the program reads.
const kMaxPictureFileBytes = 512 * 1024 * 1024;
// How much of a Blob is read at a time.
const kWindowBytes = 1 << 20;

// A PNG file's bytes, front to back, from a Uint8Array or a Blob (read a
// window at a time, so a large file costs no more memory than a window).
class PngBytes {
  constructor(source) {
    this.source = source;
    this.size = source instanceof Uint8Array ? source.length : source.size;
    this.window = source instanceof Uint8Array ? source : new Uint8Array(0);
    this.windowAt = 0;
  }

  // Bytes [at, at + n) when the window holds them, else null.
  peek(at, n) {
    return at >= this.windowAt && at + n <= this.windowAt + this.window.length
      ? this.window.subarray(at - this.windowAt, at - this.windowAt + n) : null;
  }

  // Bytes [at, at + n) (n at most a window), or PngDamaged when the file
  // ends first.
  async get(at, n) {
    if (at + n > this.size) {
      throw new PngDamaged('cut short');
    }
    if (at < this.windowAt || at + n > this.windowAt + this.window.length) {
      const end = Math.min(this.size, at + Math.max(n, kWindowBytes));
      this.window = new Uint8Array(await this.source.slice(at, end).arrayBuffer());
      this.windowAt = at;
    }
    return this.window.subarray(at - this.windowAt, at - this.windowAt + n);
  }
}

function crc32Update(c, bytes) {
  for (let i = 0; i < bytes.length; ++i) {
    c = crcTable[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  }
  return c;
}

// Walks the chunks from at, calling visit({ type, length, at }) with each
// header; visit returns 'data' to be given the chunk's data a window at a
// time (onData(piece)), 'small' for the data whole (as chunk.data, when
// the chunk is at most a window), or 'skip'. A critical chunk's CRC is
// always checked, as libpng checks it; an ancillary chunk whose data was
// read and whose CRC is wrong has chunk.intact false (libpng drops it).
// Stops after IEND, or when visit returns 'stop'. With passEmptyIdat,
// empty IDAT chunks with the right CRC are passed over without a visit (a
// file can hold millions of them).
// Where the run of empty IDAT chunks (with the right CRC) from at ends.
async function passEmptyIdats(file, at) {
  for (;;) {
    if (file.peek(at, 12) === null) {
      if (at + 12 > file.size) {
        return at;
      }
      await file.get(at, 12);
    }
    const w = file.window;
    let i = at - file.windowAt;
    while (i + 12 <= w.length && w[i] === 0 && w[i + 1] === 0 && w[i + 2] === 0 && w[i + 3] === 0 &&
           w[i + 4] === 0x49 && w[i + 5] === 0x44 && w[i + 6] === 0x41 && w[i + 7] === 0x54 &&
           w[i + 8] === 0x35 && w[i + 9] === 0xaf && w[i + 10] === 0x06 && w[i + 11] === 0x1e) {
      i += 12;
    }
    at = file.windowAt + i;
    if (i + 12 <= w.length) {
      return at;  // on another chunk, not at the window's end
    }
  }
}

async function walkChunks(file, at, visit, passEmptyIdat = false) {
  for (;;) {
    if (passEmptyIdat) {
      at = await passEmptyIdats(file, at);
    }
    const header = file.peek(at, 8) ?? await file.get(at, 8);
    const length = ((header[0] << 24) | (header[1] << 16) | (header[2] << 8) | header[3]) >>> 0;
    const type = String.fromCharCode(header[4], header[5], header[6], header[7]);
    if (length > 0x7fffffff) {
      throw new PngDamaged('a chunk length the format does not allow');
    }
    if (at + 12 + length > file.size) {
      throw new PngDamaged('cut short');
    }
    const critical = (header[4] & 0x20) === 0;
    const chunk = { type, length, at, critical, data: null, intact: true, onData: null };
    const wanted = visit(chunk);
    if (wanted === 'stop') {
      return at;
    }
    if (critical || wanted !== 'skip') {
      let crc = crc32Update(0xffffffff, header.subarray(4, 8));
      if (wanted === 'small' && length <= kWindowBytes) {
        chunk.data = (await file.get(at + 8, length)).slice();
        crc = crc32Update(crc, chunk.data);
      } else {
        for (let from = 0; from < length; from += kWindowBytes) {
          const piece = await file.get(at + 8 + from, Math.min(kWindowBytes, length - from));
          crc = crc32Update(crc, piece);
          if (chunk.onData) {
            await chunk.onData(piece);
          }
        }
      }
      const stored = file.peek(at + 8 + length, 4) ?? await file.get(at + 8 + length, 4);
      chunk.intact = (((crc ^ 0xffffffff) >>> 0) ===
                      (((stored[0] << 24) | (stored[1] << 16) | (stored[2] << 8) | stored[3]) >>> 0));
      if (!chunk.intact && critical) {
        throw new PngDamaged(`CRC error in ${type}`);
      }
      if (chunk.after) {
        await chunk.after();
      }
    }
    at += 12 + length;
    if (type === 'IEND') {
      return at;
    }
  }
}

// Inflates the zlib stream given in pieces into exactly needed bytes and
// no more: once the picture's rows are complete, the rest of the stream is
// neither inflated nor checked (libpng, as the program uses it, stops
// there too). A damaged stream rejects with PngDamaged.
const kInflateStep = 1 << 14;

class CappedInflater {
  constructor(needed) {
    this.out = new Uint8Array(needed);
    this.have = 0;
    this.failed = false;
    const stream = new DecompressionStream('deflate');
    this.writer = stream.writable.getWriter();
    this.writer.closed.catch(() => {});
    const reader = stream.readable.getReader();
    this.done = (async () => {
      try {
        while (this.have < needed) {
          const { value, done } = await reader.read();
          if (done) {
            return;
          }
          const n = Math.min(value.length, needed - this.have);
          this.out.set(value.subarray(0, n), this.have);
          this.have += n;
        }
        reader.cancel().catch(() => {});
      } catch {
        this.failed = true;
      }
    })();
  }

  get complete() {
    return this.have === this.out.length || this.failed;
  }

  // Gives the stream the piece 16 KiB at a time, so that inflating stops
  // within 16 MiB (the most 16 KiB of deflate data can give) of the end of
  // the rows: the stream inflates whatever it is given.
  async write(piece) {
    for (let from = 0; from < piece.length && !this.complete; from += kInflateStep) {
      // A write settles once the stream has taken the bytes, or fails once
      // the reading side has stopped; either way the reader's state decides.
      const bytes = piece.slice(from, from + kInflateStep);
      await Promise.race([this.writer.write(bytes).catch(() => {}), this.done]);
    }
  }

  async finish() {
    if (!this.complete) {
      this.writer.close().catch(() => {});
    }
    await this.done;
    if (this.failed) {
      throw new PngDamaged('the compressed data is damaged');
    }
    return this.out.subarray(0, this.have);
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

// The bytes of the image data that a picture of these sides needs: a
// filter byte and the packed samples of each row of each pass.
function imageDataBytes(width, height, bitsPerPixel, interlaced) {
  let bytes = 0;
  for (const [x0, y0, dx, dy] of interlaced ? kPasses : [[0, 0, 1, 1]]) {
    const columns = Math.ceil((width - x0) / dx);
    const rows = Math.ceil((height - y0) / dy);
    if (columns > 0 && rows > 0) {
      bytes += rows * (1 + Math.ceil((columns * bitsPerPixel) / 8));
    }
  }
  return bytes;
}

// source: the file, a Uint8Array or a Blob.
async function decodePng(source, largestSide) {
  const file = new PngBytes(source);
  const signature = await file.get(0, 8).catch(() => { throw new PngDamaged('not a PNG signature'); });
  if (kPngSignature.some((b, i) => signature[i] !== b)) {
    throw new PngDamaged('not a PNG signature');
  }
  let header = null;
  let palette = null;
  let transparency = null;
  let animated = false;
  let inflater = null;
  let data = null;
  // Chunks before the image data, the image data (only as far as the
  // picture needs), then every chunk to IEND, whole and with critical
  // chunks intact, as the program reads them.
  let end = await walkChunks(file, 8, (chunk) => {
    const { type } = chunk;
    if (header === null) {
      if (type !== 'IHDR' || chunk.length !== 13) {
        throw new PngDamaged('no image header');
      }
      chunk.after = () => { header = chunk.data; };
      return 'small';
    }
    if (type === 'IDAT') {
      return 'stop';
    }
    if (type === 'PLTE') {
      chunk.after = () => { palette = chunk.data; };
      return 'small';
    }
    if (type === 'tRNS' || type === 'acTL') {
      chunk.after = () => {
        if (chunk.intact) {
          if (type === 'tRNS') {
            transparency = chunk.data;
          } else {
            animated = true;
          }
        }
      };
      return 'small';
    }
    if (type === 'IEND') {
      throw new PngDamaged('no image data');
    }
    if (chunk.critical && type !== 'IHDR') {
      throw new PngDamaged(`an unknown critical chunk ${type}`);
    }
    return 'skip';
  });
  if (header === null) {
    throw new PngDamaged('no image header');
  }
  const h = new DataView(header.buffer, header.byteOffset, 13);
  const width = h.getUint32(0);
  const height = h.getUint32(4);
  const depth = header[8];
  const colourType = header[9];
  const interlaced = header[12];
  if (width === 0 || height === 0 || !(colourType in kChannels) || !kDepths[colourType].includes(depth) ||
      header[10] !== 0 || header[11] !== 0 || interlaced > 1) {
    throw new PngDamaged('an image header the format does not allow');
  }
  if (width > largestSide || height > largestSide) {
    throw new PngTooLarge(`${width} × ${height}`);
  }
  if (palette && (palette.length % 3 !== 0 || palette.length === 0 || palette.length > 768)) {
    if (colourType === 3) {
      throw new PngDamaged('a palette of the wrong size');
    }
    palette = null;  // a suggested palette, which libpng drops too
  }
  if (colourType === 3 && !palette) {
    throw new PngDamaged('no palette before the image data');
  }
  const channels = kChannels[colourType];
  const bitsPerPixel = channels * depth;
  inflater = new CappedInflater(imageDataBytes(width, height, bitsPerPixel, interlaced));
  // The run of IDAT chunks; empty ones cost a header each.
  end = await walkChunks(file, end, (chunk) => {
    if (chunk.type !== 'IDAT') {
      return 'stop';
    }
    if (chunk.length > 0 && !inflater.complete) {
      chunk.onData = (piece) => inflater.write(piece);
      return 'data';
    }
    return 'skip';
  }, true);
  data = await inflater.finish();
  // The rest, up to IEND.
  await walkChunks(file, end, (chunk) => {
    if (chunk.critical && !['IDAT', 'IEND', 'PLTE'].includes(chunk.type)) {
      throw new PngDamaged(`an unknown critical chunk ${chunk.type}`);
    }
    return 'skip';
  }, true);

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
