// Runs the converter (kovrel.wasm) off the page's main thread.
//
// Request:  { id, tga: ArrayBuffer }   a complete TGA file
// Reply:    { id, ok: true, width, height, runCount, milliseconds,
//             chr, clr, preview }       the three files' bytes (ArrayBuffers)
//      or   { id, ok: false, message }
'use strict';

// The module is a WASI reactor that never touches a file: its few WASI
// imports (left in by the C library) only need to exist. Each answers
// ENOSYS, "function not supported".
const kWasiNoSys = 52;

function wasiStubs(module) {
  const stubs = {};
  for (const entry of WebAssembly.Module.imports(module)) {
    if (entry.module !== 'wasi_snapshot_preview1' || entry.kind !== 'function') {
      throw new Error(`kovrel.wasm needs an unexpected import: ${entry.module}.${entry.name}`);
    }
    stubs[entry.name] = entry.name === 'proc_exit'
      ? (code) => { throw new Error(`kovrel.wasm exited with status ${code}`); }
      : () => kWasiNoSys;
  }
  return { wasi_snapshot_preview1: stubs };
}

async function loadConverter() {
  const response = await fetch('kovrel.wasm');
  if (!response.ok) {
    throw new Error(`kovrel.wasm could not be loaded (HTTP ${response.status})`);
  }
  const module = await WebAssembly.compile(await response.arrayBuffer());
  const instance = await WebAssembly.instantiate(module, wasiStubs(module));
  instance.exports._initialize();
  warmUp(instance.exports);
  return instance.exports;
}

// The engine compiles the module's hot functions fully only after they have
// run for a while; one small conversion at start-up does that, so the user's
// first picture converts as fast as later ones.
function warmUp(wasm) {
  const side = 64;
  const tga = new Uint8Array(18 + side * side * 3);
  tga[2] = 2;
  tga[12] = side;
  tga[14] = side;
  tga[16] = 24;
  for (let i = 18; i < tga.length; ++i) {
    tga[i] = (i * 37) & 0xff;
  }
  convert(wasm, tga.buffer);
}

const converter = loadConverter();

// A copy of size bytes at address in the module's memory. The memory may
// have grown since the last call, so the view is taken afresh.
function copyOut(wasm, address, size) {
  return new Uint8Array(wasm.memory.buffer, address, size).slice().buffer;
}

function convert(wasm, tga) {
  const size = tga.byteLength;
  const input = wasm.kovrel_alloc(size);
  if (input === 0) {
    return { ok: false, message: 'Not enough memory for this picture.' };
  }
  new Uint8Array(wasm.memory.buffer, input, size).set(new Uint8Array(tga));
  const start = performance.now();
  const status = wasm.kovrel_convert(input, size);
  const milliseconds = performance.now() - start;
  wasm.kovrel_free(input);
  if (status !== 0) {
    const message = new TextDecoder().decode(
      copyOut(wasm, wasm.kovrel_message_data(), wasm.kovrel_message_size()));
    return { ok: false, message: message.trim() };
  }
  return {
    ok: true,
    width: wasm.kovrel_width(),
    height: wasm.kovrel_height(),
    runCount: wasm.kovrel_run_count(),
    milliseconds,
    chr: copyOut(wasm, wasm.kovrel_chr_data(), wasm.kovrel_chr_size()),
    clr: copyOut(wasm, wasm.kovrel_clr_data(), wasm.kovrel_clr_size()),
    preview: copyOut(wasm, wasm.kovrel_preview_data(), wasm.kovrel_preview_size()),
  };
}

self.onmessage = async (event) => {
  const { id, tga } = event.data;
  let reply;
  try {
    reply = convert(await converter, tga);
  } catch (error) {
    reply = { ok: false, message: `The converter failed: ${error.message}` };
  }
  reply.id = id;
  const transfer = reply.ok ? [reply.chr, reply.clr, reply.preview] : [];
  self.postMessage(reply, transfer);
};
