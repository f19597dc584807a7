// The page: takes a picture and the settings, has worker.js convert it with
// the same core as the command-line program (the core reads, fits, adjusts
// and converts), and shows the result. Every change of a setting converts
// again at once; only the newest conversion's result is shown.
'use strict';

const kScreenWidth = 256;
const kScreenHeight = 192;
const kMaxSide = 512;
const kTgaHeaderSize = 18;
const kTileSide = 8;
const kLargestZoom = 4;
const kTvPixelAspect = 8 / 7;  // a chip pixel's width over its height on an NTSC set
const kFormats = ['chr', 'clr', 'tga', 'sc2', 'raw', 'c', 'asm', 'rom', 'ti', 'a99', 'png'];
// The program's format bits (files/run_files.h), and the formats that hold a
// whole screen, that --dedupe shares and that --compress packs (the
// cartridge with ZX0 only).
const kFormatBits = { chr: 1, clr: 2, tga: 4, sc2: 8, raw: 16, c: 32, asm: 64, png: 128, ti: 256, a99: 512,
                      rom: 1024 };
const kScreenBits = 8 | 16 | 32 | 64 | 256 | 512 | 1024;
const kSharedBits = 16 | 32 | 64 | 512;
const kPackedBits = 16 | 32 | 64;
const kDefaultFormats = 'chr,clr,tga';
const kServeCommand = 'python3 -m http.server -d build/web -b 127.0.0.1 8000';

const $ = (id) => document.getElementById(id);
const ui = {
  input: $('picture'),
  settings: $('settings'),
  palette: $('palette'),
  paletteFile: $('palette-file'),
  paletteNote: $('palette-note'),
  reset: $('reset'),
  original: document.querySelector('input[name="fit"][value="original"]'),
  crop: document.querySelector('input[name="fit"][value="crop"]'),
  originalNote: $('original-note'),
  status: $('status'),
  error: $('error'),
  notice: $('notice'),
  served: $('served'),
  views: $('views'),
  stage: $('stage'),
  resultView: $('result-view'),
  sourceView: $('source-view'),
  gridOverlay: $('grid-overlay'),
  resultCaption: $('result-caption'),
  perceived: $('perceived'),
  zoom: $('zoom'),
  tvView: $('tv-view'),
  grid: $('grid'),
  compare: $('compare'),
  commandSection: $('command-section'),
  command: $('command'),
  copyCommand: $('copy-command'),
  copyNote: $('copy-note'),
  downloads: $('downloads'),
  downloadList: $('download-list'),
  nameNote: $('name-note'),
  msxNames: $('msx-names'),
  msxNamesLabel: $('msx-names-label'),
  tableNote: $('table-note'),
  resultColumn: $('result-column'),
  filesProblem: $('files-problem'),
  zipLine: $('zip-line'),
  downloadAll: $('download-all'),
  zipNote: $('zip-note'),
  progressLine: $('progress-line'),
  progress: $('progress'),
  cancel: $('cancel'),
};
const kOriginalNote = ui.originalNote.textContent;

// The picture chosen: { id, file, fileName }; info comes from the worker.
let picture = null;
let pictureInfo = null;
let picturesChosen = 0;
let paletteFile = null;  // { name, text } while a palette file is in use
let paletteBefore = null;  // the palette file in use before the one being tried, if any
let shown = null;        // the result on screen: { job, reply }
let downloadUrls = [];
let offered = [];  // the files offered for download: { name, blob }, for the ZIP

function setState(state) {
  document.body.dataset.state = state;
}

function plural(count, one, many) {
  return `${count.toLocaleString('en')} ${count === 1 ? one : many}`;
}

// ---- Settings ---------------------------------------------------------

function readSettings() {
  const form = ui.settings.elements;
  return {
    palette: paletteFile ? { name: paletteFile.name, text: paletteFile.text } : { name: form.palette.value },
    dither: Number(form.dither.value),
    method: form.method.value,
    kernel: form.kernel.value,
    brightness: Number(form.brightness.value),
    contrast: Number(form.contrast.value),
    saturation: Number(form.saturation.value),
    gamma: Math.round(Number(form.gamma.value) * 100),
    fit: ui.settings.querySelector('input[name="fit"]:checked').value,
    aspect: form.aspect.checked ? 'tv' : 'square',
    background: parseInt(form.background.value.slice(1), 16),
    formats: kFormats.filter((name) => ui.settings.querySelector(`input[name=format][value=${name}]`).checked),
    centre: ui.settings.querySelector('input[name=place]:checked').value === 'centre',
    dedupe: form.dedupe.checked,
    compress: form.compress.value,
    output: baseName(form.output.value),
  };
}

// --output's base name as the page takes it: downloads have no folders, so
// only what follows the last '/'.
function baseName(text) {
  return text.trim().replace(/^.*\//, '');
}

// The files the core makes for the worker, as the program's format bits
// (the PNG is the page's own), and how.
function screenRequest(settings) {
  const formats = settings.formats.reduce((sum, name) => sum | kFormatBits[name], 0) & ~kFormatBits.png;
  // Packing: 1 ZX0, 2 Pletter, for the raw, C and assembler files (and ZX0 for the cartridge).
  const packing = { none: 0, zx0: 1, pletter: 2 }[settings.compress] ?? 0;
  const packs = (formats & kPackedBits) !== 0 || (packing === 1 && (formats & kFormatBits.rom) !== 0);
  return { formats, centre: settings.centre && (formats & kScreenBits) !== 0,
           dedupe: settings.dedupe && (formats & kSharedBits) !== 0, packing: packs ? packing : 0,
           output: settings.output };
}

// Placement and sharing mean something only with the formats they shape.
function updateFileControls(settings) {
  const screen = screenRequest(settings);
  for (const input of ui.settings.querySelectorAll('input[name=place]')) {
    input.disabled = (screen.formats & kScreenBits) === 0;
  }
  ui.settings.elements.dedupe.disabled = (screen.formats & kSharedBits) === 0;
  // Ordered dithering spreads no error, so it takes no kernel.
  ui.settings.elements.kernel.disabled = settings.method === 'ordered';
  ui.settings.elements.compress.disabled = (screen.formats & (kPackedBits | kFormatBits.rom)) === 0;
  $('png-note').hidden = !settings.formats.includes('png');
}

function showValues() {
  for (const name of ['dither', 'brightness', 'contrast', 'saturation']) {
    const value = Number(ui.settings.elements[name].value);
    $(`${name}-value`).textContent = name !== 'dither' && value > 0 ? `+${value}` : String(value);
  }
  $('gamma-value').textContent = Number(ui.settings.elements.gamma.value).toFixed(2);
}

// A name on the command line, quoted for a POSIX shell when it needs it.
function shellWord(word) {
  return /^[A-Za-z0-9_.,:+@%/=-]+$/.test(word) ? word : `'${word.replace(/'/g, `'\\''`)}'`;
}

// The options of the command line that converts as the page does, in the
// order of kovrel --help; options at their defaults are left out.
function commandOptions(settings) {
  const options = [];
  if (paletteFile) {
    options.push(`--palette=${paletteFile.name}`);
  } else if (settings.palette.name !== 'mame') {
    options.push(`--palette=${settings.palette.name}`);
  }
  if (settings.dither !== 100) options.push(`--dither=${settings.dither}`);
  if (settings.method !== 'classic') options.push(`--method=${settings.method}`);
  if (settings.kernel !== 'floyd' && settings.method !== 'ordered') options.push(`--kernel=${settings.kernel}`);
  if (settings.brightness !== 0) options.push(`--brightness=${settings.brightness}`);
  if (settings.contrast !== 0) options.push(`--contrast=${settings.contrast}`);
  if (settings.saturation !== 0) options.push(`--saturation=${settings.saturation}`);
  if (settings.gamma !== 100) options.push(`--gamma=${(settings.gamma / 100).toFixed(2)}`);
  if (settings.fit !== 'original') options.push(`--fit=${settings.fit}`);
  if (settings.aspect === 'tv') options.push('--aspect=tv');
  if (settings.background !== 0) {
    options.push(`--background=${settings.background.toString(16).toUpperCase().padStart(6, '0')}`);
  }
  if (settings.formats.join(',') !== kDefaultFormats) options.push(`--format=${settings.formats.join(',')}`);
  const screen = screenRequest(settings);
  if (screen.centre) options.push('--place=centre');
  if (screen.dedupe) options.push('--dedupe');
  if (screen.packing !== 0) options.push(`--compress=${settings.compress}`);
  if (settings.output) options.push(`--output=${settings.output}`);
  return options;
}

function commandLine(settings, fileName) {
  const name = fileName.startsWith('-') ? `./${fileName}` : fileName;
  return ['kovrel', ...commandOptions(settings).map(shellWord), shellWord(name)].join(' ');
}

// ---- File names -------------------------------------------------------

// Whether name loads by that name on an MSX: at most 8 characters, a dot and
// at most 3 more, from letters, digits and ! # $ % & ' ( ) - @ ^ _ ` { } ~.
// Otherwise also the name to use instead: the characters that can stay, in
// upper case, cut to 8 and 3 ("PICTURE" when none are left).
const kMsxCharacter = /[A-Za-z0-9!#$%&'()\-@^_`{}~]/;
function msxName(name) {
  const dot = name.lastIndexOf('.');
  const stem = dot >= 0 ? name.slice(0, dot) : name;
  const extension = dot >= 0 ? name.slice(dot + 1) : '';
  const valid = (part, most) => part.length <= most && [...part].every((c) => kMsxCharacter.test(c));
  if (stem.length > 0 && valid(stem, 8) && valid(extension, 3)) {
    return { ok: true, suggestion: name };
  }
  const keep = (part, most) => [...part].filter((c) => kMsxCharacter.test(c)).join('').toUpperCase()
    .slice(0, most);
  const suggestedStem = keep(stem, 8) || 'PICTURE';
  const suggestedExtension = keep(extension, 3);
  return { ok: false, suggestion: suggestedExtension ? `${suggestedStem}.${suggestedExtension}` : suggestedStem };
}

// ---- The worker -------------------------------------------------------

// The worker converts one job at a time. While it works, only the newest
// request waits; older ones are dropped. Replies to anything but the newest
// job are ignored. An optimise job takes seconds: a newer request does not
// wait for it, the busy worker is ended and a fresh one takes the request
// (each request carries the picture and the palette).
let worker = null;
let jobsStarted = 0;
let newestJob = 0;
let running = null;
let waiting = null;

function startWorker() {
  if (location.protocol === 'file:') {
    // Browsers run no worker, nor fetch the module, for a page opened from a
    // file: it must come from a web server, even one on this computer.
    const code = document.createElement('code');
    code.textContent = kServeCommand;
    ui.served.replaceChildren(
      'This page must be served, not opened as a file: browsers do not run its converter from ' +
      'file://. In the folder with Kovrel\'s sources, after building the site, run ', code,
      ' and open http://127.0.0.1:8000/.');
    ui.served.hidden = false;
    ui.status.textContent = '';
    setState('error');
    return;
  }
  const simd = new URLSearchParams(location.search).get('simd');
  worker = new Worker(simd === '0' ? 'worker.js?simd=0' : 'worker.js');
  worker.onmessage = (event) => {
    if ('progress' in event.data) {
      showProgress(event.data);
    } else {
      finishJob(event.data);
    }
  };
  worker.onerror = (event) => {
    event.preventDefault();
    running = null;
    waiting = null;
    showError(`The converter could not start: ${event.message || 'the worker failed to load'}.`);
  };
}

function convert() {
  if (!picture || !worker) {
    return;
  }
  const settings = readSettings();
  updateFileControls(settings);
  ui.filesProblem.hidden = settings.formats.length !== 0;
  if (settings.formats.length === 0) {
    ui.filesProblem.textContent = 'Choose at least one file to make.';
    clearDownloads();
    ui.downloads.hidden = true;
    ui.zipLine.hidden = true;
    ui.status.textContent = 'Nothing to make: choose a file under Files.';
    setState('error');
    return;
  }
  const job = { id: ++jobsStarted, picture, settings };
  newestJob = job.id;
  setState('working');
  ui.status.textContent = `Converting ${picture.fileName}…`;
  updateCommand();
  if (running && running.settings.method === 'optimise') {
    restartWorker();
  }
  if (running) {
    waiting = job;
  } else {
    startJob(job);
  }
}

// Ends the worker and whatever it is doing, and starts a fresh one.
function restartWorker() {
  // A worker ended while it still loads its scripts reports their failed
  // fetch as an error: the old worker's handlers go with it.
  worker.onmessage = null;
  worker.onerror = null;
  worker.terminate();
  running = null;
  waiting = null;
  ui.progressLine.hidden = true;
  startWorker();
}

// The bar shows while an optimise job runs, with the figure the worker
// posts; it is hidden again when the job ends.
function showProgress({ id, progress }) {
  if (running && running.id === id) {
    ui.progress.value = progress;
  }
}

// Cancel: the running job stops; the result shown before stays, with its
// command line and downloads, or the page says nothing was converted.
function cancel() {
  if (!running) {
    return;
  }
  newestJob = ++jobsStarted;  // no reply already on its way is shown
  restartWorker();
  if (shown) {
    ui.command.textContent = commandLine(shown.job.settings, shown.job.picture.fileName);
    ui.status.textContent = `Cancelled. Shown: the previous result, ${shown.job.picture.fileName} with the ` +
      'command below; change a setting to convert again.';
    setState('done');
  } else {
    ui.status.textContent = 'Cancelled: nothing was converted. Change a setting to convert again.';
    setState('cancelled');
  }
}

function startJob(job) {
  running = job;
  ui.progress.value = 0;
  ui.progressLine.hidden = job.settings.method !== 'optimise';
  worker.postMessage({ id: job.id, pictureId: job.picture.id, file: job.picture.file,
                       settings: { ...job.settings, fileName: job.picture.fileName,
                                   screen: screenRequest(job.settings) } });
}

function finishJob(reply) {
  const job = running;
  running = null;
  ui.progress.value = ui.progress.max;
  ui.progressLine.hidden = true;
  if (waiting) {
    const next = waiting;
    waiting = null;
    startJob(next);
  }
  if (reply.picture && job.picture === picture) {
    pictureInfo = reply.picture;
    updateOriginalChoice();
  }
  if (reply.id !== newestJob) {
    return;
  }
  if (reply.ok) {
    showResult(job, reply);
  } else if (reply.stage === 'picture') {
    showError(`“${job.picture.fileName}” could not be read as a picture: ${reply.message}`);
  } else if (reply.stage === 'palette') {
    refusePaletteFile(job.settings.palette.name, reply.message);
  } else {
    showError(`${job.picture.fileName} could not be converted: ${reply.message}`);
  }
}

// A palette file the core refused: the palette in use before it stays in
// use (a preset, or the previous file), and the note beside the palette
// control says so; the picture is converted again with it.
function refusePaletteFile(name, message) {
  paletteFile = paletteBefore;
  paletteBefore = null;
  ui.paletteFile.value = '';
  const still = paletteFile ? `the palette file ${paletteFile.name}` : `the ${ui.palette.value} palette`;
  ui.paletteNote.textContent = `${name} was not used: ${message} Still in use: ${still}.`;
  ui.paletteNote.classList.add('problem');
  convert();
}

// Original size is offered only for pictures the converter takes as they
// are; otherwise the choice falls back to cropping and converts again.
function updateOriginalChoice() {
  if (!pictureInfo) {
    ui.original.disabled = false;
    ui.originalNote.textContent = kOriginalNote;
    return;
  }
  const { width, height, scaled } = pictureInfo;
  const fits = !scaled && width <= kMaxSide && height <= kMaxSide;
  ui.original.disabled = !fits;
  ui.originalNote.textContent = fits
    ? `Original size keeps all ${width} × ${height} pixels of this picture.`
    : `This picture is ${(scaled ?? pictureInfo).width} × ${(scaled ?? pictureInfo).height}: ` +
      `original size needs one of at most ${kMaxSide} × ${kMaxSide}.`;
  if (!fits && ui.original.checked) {
    ui.crop.checked = true;
    convert();
  }
}

// ---- Showing ----------------------------------------------------------

function showError(message) {
  ui.error.textContent = message;
  ui.error.hidden = false;
  ui.views.hidden = true;
  ui.downloads.hidden = true;
  ui.zipLine.hidden = true;
  shown = null;
  clearDownloads();
  ui.status.textContent = '';
  setState('error');
}

// A message that leaves the result on screen as it is.
function showNotice(message) {
  ui.notice.textContent = message;
  ui.notice.hidden = !message;
}

function clearDownloads() {
  for (const url of downloadUrls) {
    URL.revokeObjectURL(url);
  }
  downloadUrls = [];
  offered = [];
  ui.downloadList.replaceChildren();
  ui.zipNote.textContent = '';
}

// The pixels of a preview TGA (bottom-up, blue green red) as ImageData.
function decodePreview(bytes, width, height) {
  const image = new ImageData(width, height);
  let i = kTgaHeaderSize;
  for (let y = height - 1; y >= 0; --y) {
    for (let o = y * width * 4, end = o + width * 4; o < end; o += 4, i += 3) {
      image.data[o] = bytes[i + 2];
      image.data[o + 1] = bytes[i + 1];
      image.data[o + 2] = bytes[i];
      image.data[o + 3] = 255;
    }
  }
  return image;
}

function drawOn(canvas, image) {
  canvas.width = image.width;
  canvas.height = image.height;
  canvas.getContext('2d').putImageData(image, 0, 0);
}

// The room the result column leaves the picture: its width, and the height
// of the column's limit (the window's, or part of it on a narrow window)
// less what the column holds besides the picture.
function pictureRoom() {
  const column = ui.resultColumn;
  const style = getComputedStyle(column);
  const limit = parseFloat(style.maxHeight) || window.innerHeight;
  const padding = parseFloat(style.paddingTop) + parseFloat(style.paddingBottom);
  ui.stage.style.height = '0px';
  const others = column.scrollHeight - padding;
  return { width: ui.views.clientWidth || document.documentElement.clientWidth,
           height: Math.max(limit - padding - others, 48) };
}

// The zoom in use: the one chosen, or the largest whole number (1 to 4) at
// which the picture fits the room there is, across and down; a picture too
// large for that even at 1x is scaled down to fit.
function zoomFor(width, height) {
  const aspect = ui.tvView.checked ? kTvPixelAspect : 1;
  if (ui.zoom.value !== 'auto') {
    return Number(ui.zoom.value);
  }
  const room = pictureRoom();
  let zoom = kLargestZoom;
  while (zoom > 1 && (width * zoom * aspect > room.width || height * zoom > room.height)) {
    zoom -= 1;
  }
  if (width * aspect > room.width || height > room.height) {
    zoom = Math.min(room.width / (width * aspect), room.height / height);
  }
  return zoom;
}

function layoutViews() {
  if (!shown) {
    return;
  }
  const { width, height } = shown.reply;
  const zoom = zoomFor(width, height);
  const aspect = ui.tvView.checked ? kTvPixelAspect : 1;
  const cssWidth = width * zoom * aspect;
  const cssHeight = height * zoom;
  for (const canvas of [ui.resultView, ui.sourceView]) {
    canvas.style.width = `${cssWidth}px`;
    canvas.style.height = `${cssHeight}px`;
  }
  ui.stage.style.width = `${cssWidth}px`;
  ui.stage.style.height = `${cssHeight}px`;
  ui.gridOverlay.hidden = !ui.grid.checked;
  ui.gridOverlay.style.backgroundSize = `${kTileSide * zoom * aspect}px ${kTileSide * zoom}px`;
  const before = ui.compare.getAttribute('aria-pressed') === 'true';
  ui.sourceView.hidden = !before;
  ui.resultView.hidden = before;
  ui.compare.textContent = before ? 'Show after' : 'Show before';
  ui.resultCaption.textContent =
    `${before ? 'Before: the picture as converted (fitted and adjusted)' : 'Screen 2 result'}: ` +
    `${plural(Math.ceil(width / kTileSide), 'tile', 'tiles')} across, ` +
    `${plural(Math.ceil(height / kTileSide), 'tile', 'tiles')} down, ` +
    `${plural(shown.reply.runCount, 'tile line', 'tile lines')}; shown at ` +
    (zoom >= 1 ? `${zoom}×` : `${Math.round(zoom * 100)} %, smaller than its pixels`) +
    (ui.tvView.checked ? ', with television pixels (8:7)' : '');
}

function updateCommand() {
  if (!picture) {
    return;
  }
  ui.command.textContent = commandLine(readSettings(), picture.fileName);
  ui.commandSection.hidden = false;
  ui.copyNote.textContent = '';
}

function addDownload(fileName, blob, description) {
  offered.push({ name: fileName, blob });
  const url = URL.createObjectURL(blob);
  downloadUrls.push(url);
  const link = document.createElement('a');
  link.href = url;
  link.download = fileName;
  link.type = blob.type;
  link.textContent = fileName;
  const detail = document.createElement('small');
  detail.textContent = `${description}, ${blob.size.toLocaleString('en')} bytes`;
  link.append(detail);
  const item = document.createElement('li');
  item.append(link);
  ui.downloadList.append(item);
}

// The names of the CHR, CLR and preview files: the program's (the core
// gives them through the worker), or with "Name the downloads for the MSX"
// the 8.3 name suggested when the program's would not load.
function outputNames(reply) {
  const chr = reply.names.chr;
  const program = { chr, clr: chr.replace(/CHR$/, 'CLR'), tga: reply.names.png.replace(/png$/, 'tga'),
                    png: reply.names.png };
  const msx = msxName(chr);
  const useMsx = !msx.ok && ui.msxNames.checked;
  const stem = useMsx ? msx.suggestion.replace(/\.[^.]*$/, '') : null;
  return {
    program,
    chr: useMsx ? `${stem}.CHR` : program.chr,
    clr: useMsx ? `${stem}.CLR` : program.clr,
    tga: useMsx ? `${stem}_T.TGA` : program.tga,
    png: useMsx ? `${stem}_T.PNG` : program.png,
    msxOk: msx.ok,
    msxChr: msx.ok ? chr : `${msx.suggestion.replace(/\.[^.]*$/, '')}.CHR`,
  };
}

// How the tables load on an MSX: their headers hold the addresses of a full
// screen; a name must fit MSX-DOS's 8.3.
function showTableNote(names, width, height) {
  const chrName = names.msxOk || ui.msxNames.checked ? names.chr : names.msxChr;
  const clrName = chrName.replace(/CHR$/, 'CLR');
  ui.nameNote.hidden = names.msxOk;
  ui.msxNamesLabel.hidden = names.msxOk;
  if (!names.msxOk) {
    ui.nameNote.textContent = ui.msxNames.checked
      ? `The files are named ${names.chr} and ${names.clr}, so that an MSX can load them ` +
        '(the command line keeps the picture\'s name).'
      : `“${names.chr}” will not load by that name on an MSX, which takes names of at most 8 ` +
        `characters and 3 after the dot: rename the files ${chrName} and ${clrName}, or tick ` +
        'the box below.';
  }
  if (width === kScreenWidth && height === kScreenHeight) {
    const code = document.createElement('code');
    code.textContent = `SCREEN 2: BLOAD "${chrName}",S: BLOAD "${clrName}",S`;
    ui.tableNote.replaceChildren('The tables start with a 7-byte BSAVE header. In MSX BASIC: ', code, '.');
  } else {
    ui.tableNote.textContent =
      `These tables hold a ${width} × ${height} picture, ` +
      `${plural(Math.ceil(width / kTileSide), 'tile', 'tiles')} to a row. Their 7-byte BSAVE ` +
      'headers give the addresses of a full 256 × 192 screen, which is right only for ' +
      '256 × 192 pictures.';
  }
}

function offerDownloads(job, reply) {
  const png = shown.png;
  const names = outputNames(reply);
  const octets = 'application/octet-stream';
  clearDownloads();
  const renamed = { [names.program.chr]: [names.chr, 'pattern table', octets],
                    [names.program.clr]: [names.clr, 'colour table', octets],
                    [names.program.tga]: [names.tga, 'preview, TGA', 'image/x-tga'] };
  const descriptions = { SC2: 'whole screen, BLOAD', pat: 'pattern table, raw', col: 'colour table, raw',
                         nam: 'name table, raw', h: 'C arrays', asm: 'assembler', rom: 'MSX cartridge',
                         a99: 'TMS9900 assembler', _P: 'TI Artist pattern table', _C: 'TI Artist colour table' };
  const packers = { zx0: 'ZX0', plet5: 'Pletter' };
  // The core's files in the program's order, the PNG last as there.
  for (const file of reply.files) {
    const [name, description, type] = renamed[file.name] ?? (() => {
      const parts = file.name.split('.');
      const extension = /_[PC]$/.test(file.name) ? file.name.slice(-2) : parts[parts.length - 1];
      const text = ['h', 'asm', 'a99'].includes(extension);
      // A packed raw table: pic.pat.zx0 is the pattern table packed with ZX0.
      const packed = packers[extension] && parts.length > 2 ? descriptions[parts[parts.length - 2]] : undefined;
      const described = packed ? `${packed.replace(', raw', '')}, ${packers[extension]}` : descriptions[extension];
      return [file.name, described ?? 'file', text ? 'text/plain' : octets];
    })();
    addDownload(name, new Blob([file.bytes], { type }), description);
  }
  if (png && job.settings.formats.includes('png')) {
    addDownload(names.png, png, 'preview, PNG');
  }
  showTableNote(names, reply.width, reply.height);
}

function pictureNotes(info) {
  const notes = [];
  if (info.animated) {
    notes.push('This picture is animated: only its first frame is converted.');
  }
  if (info.scaled) {
    notes.push(`This picture is ${info.scaled.width} × ${info.scaled.height}: the browser scaled it ` +
               `down to ${info.width} × ${info.height} before the conversion, so the command line ` +
               'would give other bytes for it.');
  }
  return notes.join(' ');
}

async function showResult(job, reply) {
  const { width, height } = reply;
  drawOn(ui.resultView, decodePreview(new Uint8Array(reply.preview), width, height));
  drawOn(ui.sourceView, new ImageData(new Uint8ClampedArray(reply.before), width, height));
  const png = await new Promise((resolve) => ui.resultView.toBlob(resolve, 'image/png'));
  if (job.id !== newestJob) {
    return;  // a newer conversion has started meanwhile
  }
  shown = { job, reply, png };
  offerDownloads(job, reply);
  ui.perceived.textContent = reply.report;
  showNotice(pictureNotes(reply.picture));
  ui.status.replaceChildren(
    `Converted ${job.picture.fileName} (${width} × ${height}) in `,
    Object.assign(document.createElement('span'), { id: 'time', textContent: `${reply.milliseconds.toFixed(1)} ms` }),
    reply.module === 'kovrel.wasm' ? ' (this browser has no wasm SIMD: the slower build runs).' : '.');
  ui.error.hidden = true;
  ui.views.hidden = false;
  ui.downloads.hidden = false;
  ui.zipLine.hidden = false;
  ui.downloadAll.textContent = `Download all ${offered.length} files (${zipName(job.picture.fileName)})`;
  layoutViews();
  setState('done');
}

// ---- Events -----------------------------------------------------------

function openFile(file) {
  picture = { id: ++picturesChosen, file, fileName: file.name };
  pictureInfo = null;
  ui.original.disabled = false;
  ui.originalNote.textContent = kOriginalNote;
  ui.error.hidden = true;
  showNotice('');
  convert();
}

ui.input.addEventListener('change', () => {
  const file = ui.input.files[0];
  if (file) {
    openFile(file);
  }
});

// Sliders, radios, boxes and the colour fire "input" at every change; the
// palette controls have their own handlers below.
ui.settings.addEventListener('input', (event) => {
  if (event.target === ui.paletteFile || event.target === ui.palette) {
    return;
  }
  showValues();
  convert();
});
ui.settings.addEventListener('submit', (event) => event.preventDefault());
ui.cancel.addEventListener('click', cancel);

ui.palette.addEventListener('change', () => {
  paletteFile = null;
  paletteBefore = null;
  ui.paletteFile.value = '';
  ui.paletteNote.textContent = '';
  ui.paletteNote.classList.remove('problem');
  convert();
});

ui.paletteFile.addEventListener('change', async () => {
  const file = ui.paletteFile.files[0];
  if (!file) {
    return;
  }
  paletteBefore = paletteFile;
  paletteFile = { name: file.name, text: await file.text() };
  ui.paletteNote.textContent = `In use: ${file.name}. Choosing a preset above returns to it.`;
  ui.paletteNote.classList.remove('problem');
  convert();
});

ui.reset.addEventListener('click', () => {
  for (const name of ['brightness', 'contrast', 'saturation']) {
    ui.settings.elements[name].value = '0';
  }
  ui.settings.elements.gamma.value = '1';
  showValues();
  convert();
});

for (const control of [ui.zoom, ui.tvView, ui.grid]) {
  control.addEventListener('change', layoutViews);
}
ui.compare.addEventListener('click', () => {
  ui.compare.setAttribute('aria-pressed', ui.compare.getAttribute('aria-pressed') === 'true' ? 'false' : 'true');
  layoutViews();
});
ui.msxNames.addEventListener('change', () => {
  if (shown) {
    offerDownloads(shown.job, shown.reply);
  }
});
window.addEventListener('resize', layoutViews);

// The archive's name: the picture's, its extension replaced by .zip.
function zipName(fileName) {
  const dot = fileName.lastIndexOf('.');
  return `${dot > 0 ? fileName.slice(0, dot) : fileName}.zip`;
}

ui.downloadAll.addEventListener('click', async () => {
  if (!shown || offered.length === 0) {
    return;
  }
  const files = await Promise.all(offered.map(async (file) => ({
    name: file.name, bytes: new Uint8Array(await file.blob.arrayBuffer()) })));
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([makeZip(files)], { type: 'application/zip' }));
  link.download = zipName(shown.job.picture.fileName);
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 60_000);
  ui.zipNote.textContent = `${link.download}: ${files.map((file) => file.name).join(', ')}.`;
});

ui.copyCommand.addEventListener('click', async () => {
  try {
    await navigator.clipboard.writeText(ui.command.textContent);
    ui.copyNote.textContent = 'Copied.';
  } catch {
    // No clipboard (an insecure address, say): select the text instead.
    getSelection().selectAllChildren(ui.command);
    ui.copyNote.textContent = 'Selected: press Ctrl+C to copy.';
  }
});

// Drag and drop anywhere on the page.
let dragDepth = 0;
document.addEventListener('dragenter', (event) => {
  event.preventDefault();
  dragDepth += 1;
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', () => {
  dragDepth = Math.max(0, dragDepth - 1);
  if (dragDepth === 0) {
    document.body.classList.remove('dragging');
  }
});
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  event.dataTransfer.dropEffect = 'copy';
});
document.addEventListener('drop', (event) => {
  event.preventDefault();
  dragDepth = 0;
  document.body.classList.remove('dragging');
  const file = event.dataTransfer.files[0];
  if (file) {
    ui.input.value = '';  // the picker no longer names the picture shown
    openFile(file);
  } else {
    // Text or a link: whatever is on screen stays.
    showNotice('Only a picture file can be dropped here; the dropped item was not a file.');
  }
});

showValues();
updateFileControls(readSettings());
startWorker();
