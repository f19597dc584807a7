// Runs the converter (kovrel-simd.wasm, or kovrel.wasm where the browser
// has no wasm SIMD) off the page's main thread, and decodes the pictures.
//
// Request:  { id, pictureId, file: Blob, settings }
//   pictureId names the picture; file is read only when it differs from the
//   last request's. settings: { palette: { name, text }, dither,
//   brightness, contrast, saturation, gamma (hundredths), method and
//   kernel (--method's and --kernel's names), fit ('crop',
//   'letterbox', 'stretch' or 'original'), aspect ('square' or 'tv'),
//   background (0xRRGGBB), fileName, screen: { formats (the program's
//   format bits, files/run_files.h), centre, dedupe, packing (--compress:
//   0 none, 1 zx0, 2 pletter), output (--output's value, '' for none) } }.
// Reply:    { id, ok: true, width, height, runCount, milliseconds, picture,
//             chr, clr, preview, before, files, names, module, report }
//   files: the files asked for but the PNG, named and made by the core as
//   the program makes them, [{ name, bytes }]; names: { chr, png }, the
//   names the program gives the CHR file and the PNG preview.
//   report: the line --report prints (the perceived difference).
//   chr, clr, preview: the files' bytes; before: the picture as converted
//   (fitted and adjusted) as RGBA pixels; all ArrayBuffers.
//      or   { id, ok: false, message, stage ('picture', 'palette' or
//             'conversion'), picture }
//   picture: { kind ('tga' or 'decoded'), width, height, animated, scaled }
//   describes the picture as read (scaled: the browser shrank it first).
// While an optimise conversion runs, also { id, progress } messages: the
// share done, 0 ... 99 as the command line's figure, then 100.
'use strict';

importScripts('png_decode.js');

// The module is a WASI reactor that never touches a file: its few WASI
// imports (left in by the C library) only need to exist. Each answers
// ENOSYS, "function not supported".
const kWasiNoSys = 52;
// Pictures larger than this on a side are shrunk by the browser before the
// core sees them, to bound the memory a photograph takes.
const kLargestDecodedSide = 4096;
const kTgaHeaderSize = 18;
// All of a TGA the program reads (kMaxTgaBytes: header, the longest ID
// field and colour map, a 512 x 512 picture); the rest of a file is unused.
const kMaxTgaBytes = 18 + 255 + 65535 * 32 + 512 * 512 * 3;

// A module using one SIMD instruction (i8x16.splat): it validates only
// where wasm SIMD is supported.
const kSimdProbe = new Uint8Array([
  0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0, 65, 0, 253, 15,
  253, 98, 11]);

// The job converting now; the module's progress figures are posted as
// { id, progress } while it runs (the page's progress bar).
let convertingJob = null;
function postProgress(percent) {
  if (convertingJob !== null) {
    self.postMessage({ id: convertingJob, progress: percent });
  }
}

function wasiStubs(module) {
  const stubs = {};
  for (const entry of WebAssembly.Module.imports(module)) {
    if (entry.module === 'kovrel' && entry.name === 'progress' && entry.kind === 'function') {
      continue;
    }
    if (entry.module !== 'wasi_snapshot_preview1' || entry.kind !== 'function') {
      throw new Error(`the converter needs an unexpected import: ${entry.module}.${entry.name}`);
    }
    stubs[entry.name] = entry.name === 'proc_exit'
      ? (code) => { throw new Error(`the converter exited with status ${code}`); }
      : () => kWasiNoSys;
  }
  return { wasi_snapshot_preview1: stubs, kovrel: { progress: postProgress } };
}

// ?simd=0 in the worker's address forces the build without SIMD (tests).
const wantSimd = new URLSearchParams(self.location.search).get('simd') !== '0' &&
  WebAssembly.validate(kSimdProbe);
const moduleName = wantSimd ? 'kovrel-simd.wasm' : 'kovrel.wasm';

async function compileConverter() {
  const response = await fetch(moduleName);
  if (!response.ok) {
    throw new Error(`${moduleName} could not be loaded (HTTP ${response.status})`);
  }
  return WebAssembly.compile(await response.arrayBuffer());
}

const compiled = compileConverter();
let converter = null;  // { wasm, palette: the key of the palette set }
let picture = null;     // { id, info } of the picture in the module

async function instance() {
  if (!converter) {
    const module = await compiled;
    const made = await WebAssembly.instantiate(module, wasiStubs(module));
    made.exports._initialize();
    converter = { wasm: made.exports, palette: null };
    picture = null;
  }
  return converter;
}

// The engine compiles a function fully only after it has run for a while;
// one conversion when the worker starts does that, so the user's first
// picture converts as fast as later ones.
async function warmUp() {
  const { wasm } = await instance();
  const width = 256;
  const height = 192;
  const at = wasm.kovrel_picture_rgba(width, height);  // may grow the memory
  const pixels = new Uint8Array(wasm.memory.buffer, at, width * height * 4);
  for (let i = 0; i < pixels.length; ++i) {
    pixels[i] = (i & 3) === 3 ? 255 : (i * 37 + (i >> 10) * 11) & 0xff;
  }
  wasm.kovrel_settings(100, 0, 0, 0, 100, 0, 256, 192, 0, 0);
  wasm.kovrel_convert();
  wasm.kovrel_settings(50, 0, 0, 0, 100, 0, 256, 192, 0, 0);
  wasm.kovrel_convert();
  picture = null;
}

// The command line's --method and --kernel names, in kovrel_method's order.
const kMethods = ['classic', 'linear', 'ordered', 'optimise'];
const kKernels = ['floyd', 'atkinson', 'jjn', 'stucki', 'sierra'];

const ready = warmUp();

// A copy of size bytes at address in the module's memory. The memory may
// have grown since the last call, so the view is taken afresh.
function copyOut(wasm, address, size) {
  return new Uint8Array(wasm.memory.buffer, address, size).slice().buffer;
}

function text(wasm, data, size) {
  return new TextDecoder().decode(copyOut(wasm, data, size)).trim();
}

// Whether the file holds more than one frame: a GIF with a second image, a
// PNG with an animation control chunk, a WebP with an animation chunk.
function isAnimated(bytes) {
  const ascii = (at, length) => String.fromCharCode(...bytes.subarray(at, at + length));
  if (ascii(0, 3) === 'GIF') {
    return gifFrameCount(bytes) > 1;
  }
  if (bytes[0] === 0x89 && ascii(1, 3) === 'PNG') {
    for (let at = 8; at + 8 <= bytes.length;) {
      const length = ((bytes[at] << 24) | (bytes[at + 1] << 16) | (bytes[at + 2] << 8) | bytes[at + 3]) >>> 0;
      const type = ascii(at + 4, 4);
      if (type === 'acTL') {
        return true;
      }
      if (type === 'IDAT' || type === 'IEND') {
        return false;
      }
      at += 12 + length;
    }
    return false;
  }
  if (ascii(0, 4) === 'RIFF' && ascii(8, 4) === 'WEBP') {
    return ascii(12, 4) === 'VP8X' && (bytes[20] & 0x02) !== 0;
  }
  return false;
}

// The GIF's image descriptors, counted up to 2.
function gifFrameCount(bytes) {
  let at = 13;
  if (bytes.length < at) {
    return 0;
  }
  if (bytes[10] & 0x80) {
    at += 3 << ((bytes[10] & 7) + 1);  // global colour table
  }
  const skipBlocks = () => {
    while (at < bytes.length && bytes[at] !== 0) {
      at += bytes[at] + 1;
    }
    at += 1;
  };
  let frames = 0;
  while (at < bytes.length && frames < 2) {
    const block = bytes[at];
    if (block === 0x21) {         // extension: label, then data blocks
      at += 2;
      skipBlocks();
    } else if (block === 0x2c) {  // image: descriptor, colour table, LZW data
      frames += 1;
      const flags = bytes[at + 9];
      at += 10;
      if (flags & 0x80) {
        at += 3 << ((flags & 7) + 1);
      }
      at += 1;  // LZW minimum code size
      skipBlocks();
    } else {
      break;    // trailer or damage
    }
  }
  return frames;
}

// Formats the browser decodes; anything else goes to the core's reader.
function browserDecodes(bytes) {
  const ascii = (at, length) => String.fromCharCode(...bytes.subarray(at, at + length));
  return (bytes[0] === 0x89 && ascii(1, 3) === 'PNG') ||
    (bytes[0] === 0xff && bytes[1] === 0xd8 && bytes[2] === 0xff) ||
    ascii(0, 3) === 'GIF' || ascii(0, 2) === 'BM' ||
    (ascii(0, 4) === 'RIFF' && ascii(8, 4) === 'WEBP');
}

function looksLikeSvg(bytes) {
  const start = new TextDecoder().decode(bytes.subarray(0, 1024)).trimStart().toLowerCase();
  return start.startsWith('<svg') || (start.startsWith('<?xml') && start.includes('<svg'));
}

class PictureError extends Error {}

const decodeOptions = { colorSpaceConversion: 'none', premultiplyAlpha: 'none', imageOrientation: 'from-image' };

// The pixels of a bitmap as RGBA bytes, rows top down.
function bitmapPixels(bitmap) {
  const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
  const context = canvas.getContext('2d', { willReadFrequently: true, colorSpace: 'srgb' });
  context.drawImage(bitmap, 0, 0);
  return context.getImageData(0, 0, bitmap.width, bitmap.height, { colorSpace: 'srgb' }).data;
}

// What the program refuses in a JPEG before decoding it, as its message
// says it: components that are neither grey nor colour (nor CMYK, which
// the browser reads), or more scans than kMaxJpegScans. Null otherwise.
function jpegProblem(bytes) {
  let scans = 0;
  for (let at = 2; at + 4 <= bytes.length;) {
    const marker = bytes[at + 1];
    if (bytes[at] !== 0xff || marker === 0xff || marker === 0x00 || marker === 0x01 ||
        (marker >= 0xd0 && marker <= 0xd7)) {
      at += bytes[at] !== 0xff || marker === 0xff ? 1 : 2;  // entropy-coded data, fill, RST
      continue;
    }
    if (marker === 0xd9) {
      break;
    }
    if (marker >= 0xc0 && marker <= 0xcf && marker !== 0xc4 && marker !== 0xc8 && marker !== 0xcc &&
        at + 9 < bytes.length && ![1, 3, 4].includes(bytes[at + 9])) {
      return 'a JPEG whose colour components are neither greyscale (1) nor colour (3), which Kovrel does not ' +
        'read; save it as an RGB or greyscale JPEG, or as a PNG.';
    }
    if (marker === 0xda && ++scans > 100) {
      return 'the JPEG file has more than 100 scans, more than Kovrel reads (an encoder writes about 10); ' +
        'save it again as a JPEG or as a PNG.';
    }
    at += 2 + ((bytes[at + 2] << 8) | bytes[at + 3]);
  }
  return null;
}

// Reads the file into the module as the current picture; returns its info.
// Only as much of the file is read as its reader needs: a TGA's first
// kMaxTgaBytes (all the program reads of it), a PNG a window at a time.
async function loadPicture(wasm, file) {
  const head = new Uint8Array(await file.slice(0, kMaxTgaBytes).arrayBuffer());
  const isPng = head[0] === 0x89 && String.fromCharCode(...head.subarray(1, 4)) === 'PNG';
  const isJpeg = head[0] === 0xff && head[1] === 0xd8 && head[2] === 0xff;
  if (browserDecodes(head) && file.size > kMaxPictureFileBytes) {
    throw new PictureError('the file is larger than 512 MiB, more than Kovrel reads of a picture file.');
  }
  const bytes = isPng || !browserDecodes(head) ? head : new Uint8Array(await file.arrayBuffer());
  const problem = isJpeg ? jpegProblem(bytes) : null;
  if (problem) {
    throw new PictureError(problem);
  }
  if (looksLikeSvg(bytes)) {
    throw new PictureError('it is an SVG drawing, which the page does not read. ' +
      'Export it as a PNG of the size you want first.');
  }
  if (!browserDecodes(bytes)) {
    // A TGA, or nothing readable: the core's reader decides, as the
    // program's does.
    if (bytes.length < kTgaHeaderSize) {
      throw new PictureError('the file is neither a picture this browser decodes nor a TGA file.');
    }
    const at = wasm.kovrel_picture_file(bytes.length);
    if (at === 0) {
      throw new PictureError('the file is larger than any TGA Kovrel reads.');
    }
    new Uint8Array(wasm.memory.buffer, at, bytes.length).set(bytes);
    const width = bytes[12] | (bytes[13] << 8);
    const height = bytes[14] | (bytes[15] << 8);
    return { kind: 'tga', width, height, animated: false, scaled: null };
  }
  if (bytes[0] === 0x89 && String.fromCharCode(...bytes.subarray(1, 4)) === 'PNG') {
    // Decoded here, as the program's reader decodes it (png_decode.js); one
    // too large for that goes to the browser, which scales it down.
    try {
      const png = await decodePng(file, kLargestDecodedSide);
      const at = wasm.kovrel_picture_rgba(png.width, png.height);
      if (at === 0) {
        throw new PictureError(`at ${png.width} × ${png.height} it is larger than Kovrel reads.`);
      }
      new Uint8Array(wasm.memory.buffer, at, png.rgba.length).set(png.rgba);
      return { kind: 'decoded', width: png.width, height: png.height, animated: png.animated, scaled: null };
    } catch (error) {
      if (error instanceof PngDamaged) {
        throw new PictureError('the PNG file is damaged or cut short.');
      }
      if (!(error instanceof PngTooLarge)) {
        throw error;
      }
    }
  }
  let bitmap;
  try {
    bitmap = await createImageBitmap(file, decodeOptions);
  } catch {
    throw new PictureError('this browser cannot decode it.');
  }
  const original = { width: bitmap.width, height: bitmap.height };
  let scaled = null;
  if (bitmap.width > kLargestDecodedSide || bitmap.height > kLargestDecodedSide) {
    const scale = Math.min(kLargestDecodedSide / bitmap.width, kLargestDecodedSide / bitmap.height);
    const resizeWidth = Math.max(1, Math.round(bitmap.width * scale));
    const resizeHeight = Math.max(1, Math.round(bitmap.height * scale));
    bitmap.close();
    bitmap = await createImageBitmap(file, { ...decodeOptions, resizeWidth, resizeHeight,
                                             resizeQuality: 'high' });
    scaled = original;
  }
  const { width, height } = bitmap;
  const at = wasm.kovrel_picture_rgba(width, height);
  if (at === 0) {
    bitmap.close();
    throw new PictureError(`at ${width} × ${height} it is larger than Kovrel reads.`);
  }
  new Uint8Array(wasm.memory.buffer, at, width * height * 4).set(bitmapPixels(bitmap));
  bitmap.close();
  return { kind: 'decoded', width, height, animated: isAnimated(bytes), scaled };
}

const fitCodes = { original: 0, crop: 1, letterbox: 2, stretch: 3 };

function applySettings(state, settings) {
  const { wasm } = state;
  const key = `${settings.palette.name}\u0000${settings.palette.text ?? ''}`;
  if (state.palette !== key) {
    const encoder = new TextEncoder();
    const name = encoder.encode(settings.palette.name);
    const body = encoder.encode(settings.palette.text ?? '');
    const at = wasm.kovrel_alloc(name.length + body.length);
    new Uint8Array(wasm.memory.buffer, at, name.length + body.length).set(name);
    new Uint8Array(wasm.memory.buffer, at + name.length, body.length).set(body);
    const status = wasm.kovrel_palette(at, name.length, at + name.length, body.length);
    wasm.kovrel_free(at);
    if (status !== 0) {
      state.palette = null;
      return text(wasm, wasm.kovrel_palette_message_data(), wasm.kovrel_palette_message_size());
    }
    state.palette = key;
  }
  wasm.kovrel_settings(settings.dither, settings.brightness, settings.contrast, settings.saturation,
                       settings.gamma, fitCodes[settings.fit] ?? 0, 256, 192,
                       settings.aspect === 'tv' ? 1 : 0, settings.background >>> 0);
  wasm.kovrel_method(Math.max(0, kMethods.indexOf(settings.method)), Math.max(0, kKernels.indexOf(settings.kernel)));
  return null;
}

async function handle({ id, pictureId, file, settings }) {
  await ready;
  const state = await instance();
  const { wasm } = state;
  if (!picture || picture.id !== pictureId) {
    picture = null;
    try {
      picture = { id: pictureId, info: await loadPicture(wasm, file) };
    } catch (error) {
      if (!(error instanceof PictureError)) {
        throw error;
      }
      return { id, ok: false, stage: 'picture', message: error.message };
    }
  }
  const problem = applySettings(state, settings);
  if (problem) {
    return { id, ok: false, stage: 'palette', message: problem, picture: picture.info };
  }
  const start = performance.now();
  convertingJob = id;
  let status;
  try {
    status = wasm.kovrel_convert();
    if (settings.method === 'optimise') {
      postProgress(100);  // the core stops its figures at 99
    }
  } finally {
    convertingJob = null;
  }
  const milliseconds = performance.now() - start;
  if (status !== 0) {
    return { id, ok: false, stage: 'conversion', picture: picture.info,
             message: text(wasm, wasm.kovrel_message_data(), wasm.kovrel_message_size()) };
  }
  const files = [];
  const screen = settings.screen ?? { formats: 0, output: '' };
  const encoder = new TextEncoder();
  const name = encoder.encode(settings.fileName ?? 'picture');
  const output = encoder.encode(screen.output ?? '');
  const at = wasm.kovrel_alloc(name.length + output.length + 3);
  new Uint8Array(wasm.memory.buffer, at, name.length).set(name);
  new Uint8Array(wasm.memory.buffer, at + name.length, output.length).set(output);
  const path = (extension, preview) => {
    new Uint8Array(wasm.memory.buffer, at + name.length + output.length, 3).set(encoder.encode(extension));
    wasm.kovrel_file_path(at, name.length, at + name.length, output.length, at + name.length + output.length,
                          3, preview ? 1 : 0);
    return text(wasm, wasm.kovrel_path_data(), wasm.kovrel_path_size());
  };
  const names = { chr: path('CHR', false), png: path('png', true) };
  const made = wasm.kovrel_files(screen.formats, screen.centre ? 1 : 0, screen.dedupe ? 1 : 0, screen.packing ?? 0,
                                 at, name.length, at + name.length, output.length);
  wasm.kovrel_free(at);
  if (made !== 0) {
    return { id, ok: false, stage: 'conversion', picture: picture.info,
             message: text(wasm, wasm.kovrel_message_data(), wasm.kovrel_message_size()) };
  }
  for (let i = 0; i < wasm.kovrel_file_count(); ++i) {
    files.push({ name: text(wasm, wasm.kovrel_file_name_data(i), wasm.kovrel_file_name_size(i)),
                 bytes: copyOut(wasm, wasm.kovrel_file_data(i), wasm.kovrel_file_size(i)) });
  }
  const reportSize = wasm.kovrel_report();  // measured first: the text's place is known after
  const report = text(wasm, wasm.kovrel_report_data(), reportSize).trim();
  return {
    id,
    ok: true,
    module: moduleName,
    files,
    names,
    picture: picture.info,
    width: wasm.kovrel_width(),
    height: wasm.kovrel_height(),
    runCount: wasm.kovrel_run_count(),
    milliseconds,
    chr: copyOut(wasm, wasm.kovrel_chr_data(), wasm.kovrel_chr_size()),
    clr: copyOut(wasm, wasm.kovrel_clr_data(), wasm.kovrel_clr_size()),
    preview: copyOut(wasm, wasm.kovrel_preview_data(), wasm.kovrel_preview_size()),
    before: copyOut(wasm, wasm.kovrel_before_data(), wasm.kovrel_width() * wasm.kovrel_height() * 4),
    report,
  };
}

self.onmessage = async (event) => {
  let reply;
  try {
    reply = await handle(event.data);
  } catch (error) {
    // A trap (memory exhausted, say) leaves the module unusable: the next
    // request starts a fresh one.
    converter = null;
    picture = null;
    reply = { id: event.data.id, ok: false, stage: 'conversion',
              message: `the converter failed: ${error.message}` };
  }
  const transfer = reply.ok ? [reply.chr, reply.clr, reply.preview, reply.before, ...reply.files.map((f) => f.bytes)] : [];
  self.postMessage(reply, transfer);
};
