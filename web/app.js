// The page: takes a picture, fits it to the screen with a canvas, writes
// those pixels as a TGA file in memory, and has worker.js convert it with
// the same core as the command-line program.
'use strict';

const kScreenWidth = 256;
const kScreenHeight = 192;
const kMaxSide = 512;
const kTgaHeaderSize = 18;
const kLargestDisplayScale = 3;  // enlarge a picture at most this much on screen

const fitNames = { crop: 'cropped to fill', letterbox: 'letterboxed', original: 'original size' };
const kOriginalNote = document.getElementById('original-note').textContent;

const ui = {
  input: document.getElementById('picture'),
  fit: document.getElementById('fit'),
  original: document.querySelector('input[name="fit"][value="original"]'),
  crop: document.querySelector('input[name="fit"][value="crop"]'),
  originalNote: document.getElementById('original-note'),
  status: document.getElementById('status'),
  error: document.getElementById('error'),
  views: document.getElementById('views'),
  sourceView: document.getElementById('source-view'),
  resultView: document.getElementById('result-view'),
  sourceCaption: document.getElementById('source-caption'),
  resultCaption: document.getElementById('result-caption'),
  downloads: document.getElementById('downloads'),
  downloadList: document.getElementById('download-list'),
  tableNote: document.getElementById('table-note'),
};

// The picture being shown: { bitmap, fileName, baseName }.
let picture = null;
let pictureLoads = 0;  // counts file reads, so a slow read can't override a later one

// The worker converts one job at a time. While it works, only the newest
// request waits; older ones are dropped. Replies to anything but the newest
// job are ignored.
const worker = new Worker('worker.js');
let jobsStarted = 0;
let newestJob = 0;
let running = null;
let waiting = null;
let downloadUrls = [];

function setState(state) {
  document.body.dataset.state = state;
}

function showStatus(text) {
  ui.status.textContent = text;
}

function showError(message) {
  if (!picture) {
    ui.original.disabled = false;
    ui.originalNote.textContent = kOriginalNote;
  }
  ui.error.textContent = message;
  ui.error.hidden = false;
  ui.views.hidden = true;
  ui.downloads.hidden = true;
  clearDownloads();
  showStatus('');
  setState('error');
}

function clearDownloads() {
  for (const url of downloadUrls) {
    URL.revokeObjectURL(url);
  }
  downloadUrls = [];
  ui.downloadList.replaceChildren();
}

// "photo.jpg" gives "photo"; a name that is only an extension is kept.
function baseNameOf(fileName) {
  const dot = fileName.lastIndexOf('.');
  const base = dot > 0 ? fileName.slice(0, dot) : fileName;
  return base || 'picture';
}

function formatCount(n) {
  return n.toLocaleString('en');
}

function chosenFit() {
  return ui.fit.querySelector('input[name="fit"]:checked').value;
}

// Original size is offered only for pictures the converter accepts as they
// are; otherwise the choice falls back to cropping.
function updateOriginalChoice() {
  const { width, height } = picture.bitmap;
  const fits = width <= kMaxSide && height <= kMaxSide;
  ui.original.disabled = !fits;
  ui.originalNote.textContent = fits
    ? `Original size keeps all ${width} × ${height} pixels of this picture.`
    : `This picture is ${width} × ${height}: original size needs one of at most ` +
      `${kMaxSide} × ${kMaxSide}.`;
  if (!fits && ui.original.checked) {
    ui.crop.checked = true;
  }
}

// Draws the picture on a canvas of the converter's input size: scaled to
// cover or to fit inside the 256 x 192 screen and centred, or unscaled.
// Transparent parts end up on black. Returns the canvas.
function fitPicture(bitmap, fit) {
  const sourceWidth = bitmap.width;
  const sourceHeight = bitmap.height;
  let width = kScreenWidth;
  let height = kScreenHeight;
  let drawWidth = sourceWidth;
  let drawHeight = sourceHeight;
  if (fit === 'original') {
    width = sourceWidth;
    height = sourceHeight;
  } else {
    const scaleX = kScreenWidth / sourceWidth;
    const scaleY = kScreenHeight / sourceHeight;
    const scale = fit === 'crop' ? Math.max(scaleX, scaleY) : Math.min(scaleX, scaleY);
    drawWidth = Math.max(1, Math.round(sourceWidth * scale));
    drawHeight = Math.max(1, Math.round(sourceHeight * scale));
  }
  const canvas = document.createElement('canvas');
  canvas.width = width;
  canvas.height = height;
  const context = canvas.getContext('2d', { alpha: false, willReadFrequently: true, colorSpace: 'srgb' });
  context.fillStyle = '#000';
  context.fillRect(0, 0, width, height);
  // An unscaled picture is copied pixel for pixel; a scaled one is resampled.
  const unscaled = drawWidth === sourceWidth && drawHeight === sourceHeight;
  context.imageSmoothingEnabled = !unscaled;
  context.imageSmoothingQuality = 'high';
  const x = Math.floor((width - drawWidth) / 2);
  const y = Math.floor((height - drawHeight) / 2);
  context.drawImage(bitmap, x, y, drawWidth, drawHeight);
  return canvas;
}

// The TGA file the command-line program would read for these pixels:
// uncompressed true colour, 24 bits, origin at the bottom left, no ID field
// or colour map; rows bottom-up, each pixel blue, green, red.
function encodeTga(rgba, width, height) {
  const tga = new Uint8Array(kTgaHeaderSize + width * height * 3);
  tga[2] = 2;  // uncompressed true colour
  tga[12] = width & 0xff;
  tga[13] = width >> 8;
  tga[14] = height & 0xff;
  tga[15] = height >> 8;
  tga[16] = 24;  // bits per pixel
  let out = kTgaHeaderSize;
  for (let y = height - 1; y >= 0; --y) {
    for (let i = y * width * 4, end = i + width * 4; i < end; i += 4) {
      tga[out++] = rgba[i + 2];
      tga[out++] = rgba[i + 1];
      tga[out++] = rgba[i];
    }
  }
  return tga;
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

async function openFile(file) {
  const load = ++pictureLoads;
  newestJob = 0;  // a conversion of the previous picture is no longer wanted
  ui.error.hidden = true;
  setState('working');
  showStatus(`Reading ${file.name}…`);
  let bitmap;
  try {
    bitmap = await createImageBitmap(file);
  } catch {
    if (load === pictureLoads) {
      picture?.bitmap.close();
      picture = null;
      showError(`“${file.name}” could not be read as a picture: this browser cannot decode it. ` +
                'Choose a PNG, JPEG, GIF, BMP or WebP file.');
    }
    return;
  }
  if (load !== pictureLoads) {
    bitmap.close();
    return;
  }
  if (picture) {
    picture.bitmap.close();
  }
  picture = { bitmap, fileName: file.name, baseName: baseNameOf(file.name) };
  updateOriginalChoice();
  convertPicture();
}

function convertPicture() {
  if (!picture) {
    return;
  }
  const fit = chosenFit();
  const canvas = fitPicture(picture.bitmap, fit);
  const { width, height } = canvas;
  const pixels = canvas.getContext('2d').getImageData(0, 0, width, height);
  const job = {
    id: ++jobsStarted,
    tga: encodeTga(pixels.data, width, height).buffer,
    pixels,
    fit,
    fileName: picture.fileName,
    baseName: picture.baseName,
    sourceWidth: picture.bitmap.width,
    sourceHeight: picture.bitmap.height,
  };
  newestJob = job.id;
  ui.error.hidden = true;
  setState('working');
  showStatus(`Converting ${job.fileName} (${fitNames[fit]}, ${width} × ${height})…`);
  if (running) {
    waiting = job;
  } else {
    startJob(job);
  }
}

function startJob(job) {
  running = job;
  worker.postMessage({ id: job.id, tga: job.tga }, [job.tga]);
}

worker.onmessage = (event) => {
  const reply = event.data;
  const job = running;
  running = null;
  if (waiting) {
    const next = waiting;
    waiting = null;
    startJob(next);
  }
  if (reply.id !== newestJob) {
    return;
  }
  if (reply.ok) {
    showResult(job, reply);
  } else {
    showError(`${job.fileName} could not be converted: ${reply.message}`);
  }
};

worker.onerror = (event) => {
  event.preventDefault();
  running = null;
  waiting = null;
  showError(`The converter could not start: ${event.message || 'the worker failed to load'}.`);
};

function drawOn(canvas, image) {
  canvas.width = image.width;
  canvas.height = image.height;
  canvas.getContext('2d').putImageData(image, 0, 0);
  canvas.style.maxWidth = `${image.width * kLargestDisplayScale}px`;
}

function addDownload(fileName, blob, description) {
  const url = URL.createObjectURL(blob);
  downloadUrls.push(url);
  const link = document.createElement('a');
  link.href = url;
  link.download = fileName;
  link.type = blob.type;
  link.textContent = fileName;
  const detail = document.createElement('small');
  detail.textContent = `${description}, ${formatCount(blob.size)} bytes`;
  link.append(detail);
  const item = document.createElement('li');
  item.append(link);
  ui.downloadList.append(item);
}

// How the tables load: their headers hold the addresses of a full screen.
function showTableNote(baseName, width, height) {
  if (width === kScreenWidth && height === kScreenHeight) {
    const code = document.createElement('code');
    code.textContent = `SCREEN 2: BLOAD "${baseName}.CHR",S: BLOAD "${baseName}.CLR",S`;
    ui.tableNote.replaceChildren(
      'The tables start with a 7-byte BSAVE header. In MSX BASIC: ', code, '.');
  } else {
    ui.tableNote.textContent =
      `These tables hold a ${width} × ${height} picture, ${Math.ceil(width / 8)} tiles to a row. ` +
      'Their 7-byte BSAVE headers give the addresses of a full 256 × 192 screen, which is ' +
      'right only for 256 × 192 pictures.';
  }
}

async function showResult(job, reply) {
  const { width, height } = reply;
  drawOn(ui.sourceView, job.pixels);
  drawOn(ui.resultView, decodePreview(new Uint8Array(reply.preview), width, height));
  const png = await new Promise((resolve) => ui.resultView.toBlob(resolve, 'image/png'));
  if (job.id !== newestJob) {
    return;  // a newer conversion has started meanwhile
  }
  const octets = 'application/octet-stream';
  clearDownloads();
  addDownload(`${job.baseName}.CHR`, new Blob([reply.chr], { type: octets }), 'pattern table');
  addDownload(`${job.baseName}.CLR`, new Blob([reply.clr], { type: octets }), 'colour table');
  addDownload(`${job.baseName}_tms.tga`, new Blob([reply.preview], { type: 'image/x-tga' }),
              'preview, TGA');
  if (png) {
    addDownload(`${job.baseName}_tms.png`, png, 'preview, PNG');
  }

  ui.sourceCaption.textContent =
    `Source: ${job.fileName}, ${job.sourceWidth} × ${job.sourceHeight}, ` + {
      crop: `cropped to fill ${width} × ${height}`,
      letterbox: `letterboxed in ${width} × ${height}`,
      original: 'original size',
    }[job.fit];
  showTableNote(job.baseName, width, height);
  ui.resultCaption.textContent = `Screen 2 result: ${Math.ceil(width / 8)} × ` +
    `${Math.ceil(height / 8)} tiles, ${formatCount(reply.runCount)} tile lines`;
  ui.status.replaceChildren(
    `Converted ${job.fileName} (${width} × ${height}) in `,
    Object.assign(document.createElement('span'), {
      id: 'time',
      textContent: `${reply.milliseconds.toFixed(1)} ms`,
    }),
    '.');
  ui.error.hidden = true;
  ui.views.hidden = false;
  ui.downloads.hidden = false;
  setState('done');
}

ui.input.addEventListener('change', () => {
  const file = ui.input.files[0];
  if (file) {
    openFile(file);
  }
});

ui.fit.addEventListener('change', () => convertPicture());

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
  ui.input.value = '';  // the picker no longer names the picture shown
  if (file) {
    openFile(file);
  } else {
    showError('Drop a picture file here (the dropped item was not a file).');
  }
});
