// A ZIP archive of files kept as they are ("stored", method 0): the files of
// a run are small and mostly incompressible tables, and every unzip tool
// reads stored entries. Names are UTF-8 (flag bit 11); the date is the
// time of making. Loaded as a classic script by the page, and by the tests.
'use strict';

const kZipCrcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) {
      c = (c & 1) ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    }
    table[n] = c >>> 0;
  }
  return table;
})();

// CRC-32 (ISO 3309, as zlib computes it) of bytes.
function zipCrc32(bytes) {
  let crc = 0xFFFFFFFF;
  for (let i = 0; i < bytes.length; ++i) {
    crc = kZipCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >>> 8);
  }
  return (crc ^ 0xFFFFFFFF) >>> 0;
}

// files: [{ name, bytes: Uint8Array }]. Returns the archive's bytes. Throws
// when a file or the archive is beyond what a ZIP without its 64-bit
// extension holds (4 GiB, 65535 entries): a run's files are far below.
function makeZip(files, date = new Date()) {
  if (files.length > 0xFFFF) {
    throw new RangeError('too many files for a ZIP');
  }
  const encoder = new TextEncoder();
  const time = (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1);
  const day = ((Math.max(date.getFullYear(), 1980) - 1980) << 9) | ((date.getMonth() + 1) << 5) | date.getDate();
  const entries = files.map((file) => ({ name: encoder.encode(file.name), bytes: file.bytes,
                                         crc: zipCrc32(file.bytes) }));
  let size = 22;
  for (const entry of entries) {
    size += 30 + 46 + 2 * entry.name.length + entry.bytes.length;
  }
  if (size > 0xFFFFFFFF) {
    throw new RangeError('too large for a ZIP');
  }
  const out = new Uint8Array(size);
  const view = new DataView(out.buffer);
  let at = 0;
  const u16 = (value) => { view.setUint16(at, value, true); at += 2; };
  const u32 = (value) => { view.setUint32(at, value, true); at += 4; };
  const common = (entry) => {
    u16(20);         // version needed: 2.0
    u16(0x0800);     // UTF-8 names
    u16(0);          // stored
    u16(time);
    u16(day);
    u32(entry.crc);
    u32(entry.bytes.length);  // compressed size
    u32(entry.bytes.length);
    u16(entry.name.length);
    u16(0);          // no extra field
  };
  for (const entry of entries) {
    entry.offset = at;
    u32(0x04034B50);
    common(entry);
    out.set(entry.name, at);
    at += entry.name.length;
    out.set(entry.bytes, at);
    at += entry.bytes.length;
  }
  const directory = at;
  for (const entry of entries) {
    u32(0x02014B50);
    u16(20);         // made by: version 2.0
    common(entry);
    u16(0);          // no comment
    u16(0);          // disk 0
    u16(0);          // internal attributes
    u32(0);          // external attributes
    u32(entry.offset);
    out.set(entry.name, at);
    at += entry.name.length;
  }
  const directorySize = at - directory;
  u32(0x06054B50);
  u16(0);
  u16(0);
  u16(entries.length);
  u16(entries.length);
  u32(directorySize);
  u32(directory);
  u16(0);            // no comment
  return out;
}

if (typeof module !== 'undefined') {
  module.exports = { makeZip, zipCrc32 };
}
