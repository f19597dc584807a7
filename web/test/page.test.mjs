// Drives the web page in Debian's chromium and checks its files against the
// command-line program's. Needs build/kovrel and build/web (the `web`
// target); KOVREL_BUILD_DIR names another build folder. Screenshots and
// downloads are kept in BUILD/web-test/.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import vm from 'node:vm';
import zlib from 'node:zlib';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

import { animatedGif, encodePng, encodeTga, makePixels, photoLike } from './pictures.mjs';
import { serve } from './static_server.mjs';

const repo = fileURLToPath(new URL('../..', import.meta.url));
const buildDir = path.resolve(process.env.KOVREL_BUILD_DIR ?? path.join(repo, 'build'));
const site = path.join(buildDir, 'web');
const kovrel = path.join(buildDir, 'kovrel');
const artefacts = path.join(buildDir, 'web-test');

// Debian's chromium, never a browser that playwright would fetch. Playwright
// starts it with a fresh temporary profile (--user-data-dir) each launch.
const chromiumPath = process.env.KOVREL_CHROMIUM ?? '/usr/bin/chromium';
const chromiumFlags = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

const kTimeout = { timeout: 120_000 };

let browser;
let server;
let siteUrl;
const times = [];

before(async () => {
  assert.ok(fs.existsSync(path.join(site, 'kovrel.wasm')),
            `no site in ${site}: run cmake --build build --target web`);
  assert.ok(fs.existsSync(kovrel), `no ${kovrel}: run cmake --build build --target kovrel`);
  fs.rmSync(artefacts, { recursive: true, force: true });
  fs.mkdirSync(artefacts, { recursive: true });
  ({ server, url: siteUrl } = await serve(site));
  browser = await chromium.launch({
    executablePath: chromiumPath,
    headless: true,
    args: chromiumFlags,
  });
});

after(async () => {
  await browser?.close();
  server?.close();
  if (times.length > 0) {
    fs.writeFileSync(path.join(artefacts, 'times.txt'), `${times.join('\n')}\n`);
  }
});

// A page in a new context; problems collects script errors on the page.
async function openPage(options = {}) {
  const context = await browser.newContext({
    viewport: { width: 1280, height: 900 },
    acceptDownloads: true,
    ...options,
  });
  const page = await context.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  page.on('console', (message) => {
    if (message.type() === 'error') {
      problems.push(message.text());
    }
  });
  await page.goto(siteUrl);
  return { context, page, problems };
}

// Waits for the conversion started by the last action to end; returns the
// page's state (every action that starts one sets the state to "working"
// before it returns).
async function finished(page) {
  await page.waitForFunction(
    () => document.body.dataset.state === 'done' || document.body.dataset.state === 'error',
    null, { timeout: 60_000 });
  return page.evaluate(() => document.body.dataset.state);
}

async function choosePicture(page, name, mimeType, buffer) {
  await page.setInputFiles('#picture', { name, mimeType, buffer });
  return finished(page);
}

// Clicks the download link whose name ends with suffix, keeps the file in
// folder and returns its bytes.
async function download(page, suffix, folder) {
  fs.mkdirSync(folder, { recursive: true });
  const [file] = await Promise.all([
    page.waitForEvent('download'),
    page.locator(`a[download$="${suffix}"]`).click(),
  ]);
  const target = path.join(folder, file.suggestedFilename());
  await file.saveAs(target);
  return fs.readFileSync(target);
}

function downloadNames(page) {
  return page.$$eval('a[download]', (links) => links.map((a) => a.download).sort());
}

// The byte size of each offered file, by name suffix.
function offeredSizes(page) {
  return page.$$eval('a[download]', async (links) => {
    const sizes = {};
    for (const link of links) {
      const suffix = link.download.match(/(\.CHR|\.CLR|_tms\.tga|_tms\.png)$/)[1];
      sizes[suffix] = (await (await fetch(link.href)).arrayBuffer()).byteLength;
    }
    return sizes;
  });
}

function canvasSize(page, selector) {
  return page.$eval(selector, (canvas) => [canvas.width, canvas.height]);
}

// Whether every pixel of row y of the source view is black.
function sourceRowIsBlack(page, y) {
  return page.$eval('#source-view', (canvas, row) => {
    const data = canvas.getContext('2d').getImageData(0, row, canvas.width, 1).data;
    return data.every((value, i) => i % 4 === 3 || value === 0);
  }, y);
}

async function shownTime(page, label) {
  const text = await page.textContent('#time');
  assert.match(text, /^\d+\.\d ms$/);
  times.push(`${label}: ${text}`);
  return text;
}

// Runs the command-line program on the TGA of pixels, named NAME.tga in
// folder; returns its three files.
function convertWithProgram(pixels, folder, name) {
  fs.mkdirSync(folder, { recursive: true });
  fs.writeFileSync(path.join(folder, `${name}.tga`), encodeTga(pixels));
  execFileSync(kovrel, [`${name}.tga`], { cwd: folder, stdio: 'ignore' });
  return {
    chr: fs.readFileSync(path.join(folder, `${name}.CHR`)),
    clr: fs.readFileSync(path.join(folder, `${name}.CLR`)),
    preview: fs.readFileSync(path.join(folder, `${name}_tms.tga`)),
  };
}

function assertSameBytes(actual, expected, what) {
  assert.equal(actual.length, expected.length, `${what}: length`);
  assert.ok(actual.equals(expected), `${what}: bytes differ from the command-line program's`);
}

test('a 256 x 192 PNG gives the command-line program\'s files, in either fit', kTimeout, async (t) => {
  const pixels = photoLike(256, 192);
  const expected = convertWithProgram(pixels, path.join(artefacts, 'a-program'), 'sunset');
  const { context, page, problems } = await openPage();

  assert.equal(await page.locator('input[type=file]#picture').count(), 1);
  await page.check('input[name=format][value=png]');
  assert.equal(await choosePicture(page, 'sunset.png', 'image/png', encodePng(pixels)), 'done');
  assert.deepEqual(await downloadNames(page),
                   ['sunset.CHR', 'sunset.CLR', 'sunset_tms.png', 'sunset_tms.tga']);
  t.diagnostic(`256 x 192 conversion time shown: ${await shownTime(page, '256x192 crop')}`);
  await page.screenshot({ path: path.join(artefacts, 'a-256x192.png'), fullPage: true });

  const folder = path.join(artefacts, 'a-page-crop');
  assertSameBytes(await download(page, '.CHR', folder), expected.chr, 'CHR');
  assertSameBytes(await download(page, '.CLR', folder), expected.clr, 'CLR');
  assertSameBytes(await download(page, '_tms.tga', folder), expected.preview, 'preview TGA');
  const png = await download(page, '_tms.png', folder);
  assert.equal(png.subarray(1, 4).toString('latin1'), 'PNG');
  assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [256, 192]);

  // The same pixels at their original size must give the same files.
  await page.check('input[name=fit][value=original]');
  assert.equal(await finished(page), 'done');
  const original = path.join(artefacts, 'a-page-original');
  assertSameBytes(await download(page, '.CHR', original), expected.chr, 'CHR, original size');
  assertSameBytes(await download(page, '.CLR', original), expected.clr, 'CLR, original size');
  assertSameBytes(await download(page, '_tms.tga', original), expected.preview,
                  'preview TGA, original size');
  assert.deepEqual(problems, []);
  await context.close();
});

test('at 200% zoom the page fits the window without sideways scrolling', kTimeout, async () => {
  // A 1280 x 900 window at 200% zoom: half the CSS pixels, twice the density.
  const { context, page, problems } = await openPage({
    viewport: { width: 640, height: 450 },
    deviceScaleFactor: 2,
  });
  assert.equal(await choosePicture(page, 'sunset.png', 'image/png', encodePng(photoLike(256, 192))),
               'done');
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth),
            'the page scrolls sideways');
  await page.screenshot({ path: path.join(artefacts, 'a-256x192-zoom200.png'), fullPage: true });
  assert.deepEqual(problems, []);
  await context.close();
});

test('a JPEG of another size goes through each fit choice, by keyboard', kTimeout, async () => {
  const { context, page, problems } = await openPage();
  // A 480 x 270 photograph-like JPEG, encoded by the browser itself.
  const jpeg = Buffer.from(await page.evaluate(async () => {
    const canvas = new OffscreenCanvas(480, 270);
    const context2d = canvas.getContext('2d');
    const sky = context2d.createLinearGradient(0, 0, 0, 270);
    sky.addColorStop(0, '#1e3c8c');
    sky.addColorStop(0.6, '#f0a050');
    sky.addColorStop(1, '#2a6e2a');
    context2d.fillStyle = sky;
    context2d.fillRect(0, 0, 480, 270);
    context2d.fillStyle = '#fff2a0';
    context2d.beginPath();
    context2d.arc(360, 90, 45, 0, 2 * Math.PI);
    context2d.fill();
    context2d.fillStyle = '#602010';
    context2d.fillRect(40, 170, 160, 100);
    const blob = await canvas.convertToBlob({ type: 'image/jpeg', quality: 0.9 });
    return Array.from(new Uint8Array(await blob.arrayBuffer()));
  }));
  fs.writeFileSync(path.join(artefacts, 'harbour.jpg'), jpeg);
  await page.check('input[name=format][value=png]');
  assert.equal(await choosePicture(page, 'harbour.jpg', 'image/jpeg', jpeg), 'done');

  // 480 x 270 as it is: 60 x 34 tiles (the last row half empty).
  const screenFiles = { '.CHR': 7 + 32 * 24 * 8, '.CLR': 7 + 32 * 24 * 8, '_tms.tga': 18 + 256 * 192 * 3 };
  const originalFiles = { '.CHR': 7 + 60 * 34 * 8, '.CLR': 7 + 60 * 34 * 8, '_tms.tga': 18 + 480 * 270 * 3 };
  const cases = [
    { fit: 'crop', key: null, size: [256, 192], files: screenFiles },
    { fit: 'letterbox', key: 'ArrowDown', size: [256, 192], files: screenFiles },
    { fit: 'stretch', key: 'ArrowDown', size: [256, 192], files: screenFiles },
    { fit: 'original', key: 'ArrowDown', size: [480, 270], files: originalFiles },
  ];
  await page.focus('input[name=fit]:checked');
  for (const { fit, key, size, files } of cases) {
    if (key) {
      await page.keyboard.press(key);
      assert.equal(await finished(page), 'done', fit);
    }
    assert.equal(await page.$eval('input[name=fit]:checked', (input) => input.value), fit);
    assert.deepEqual(await canvasSize(page, '#source-view'), size, fit);
    assert.deepEqual(await canvasSize(page, '#result-view'), size, fit);
    const sizes = await offeredSizes(page);
    for (const [suffix, bytes] of Object.entries(files)) {
      assert.equal(sizes[suffix], bytes, `${fit}: ${suffix}`);
    }
    assert.deepEqual(await downloadNames(page),
                     ['harbour.CHR', 'harbour.CLR', 'harbour_tms.png', 'harbour_tms.tga']);
    await shownTime(page, `480x270 JPEG ${fit}`);
    await page.screenshot({ path: path.join(artefacts, `b-jpeg-${fit}.png`), fullPage: true });
  }

  // Letterboxing scales 480 x 270 to 256 x 144 with 24 black rows above and
  // below; cropping fills every row.
  await page.keyboard.press('ArrowUp');
  assert.equal(await finished(page), 'done');
  await page.keyboard.press('ArrowUp');
  assert.equal(await finished(page), 'done');
  assert.deepEqual(
    await Promise.all([0, 23, 24, 167, 168, 191].map((y) => sourceRowIsBlack(page, y))),
    [true, true, false, false, true, true]);
  await page.keyboard.press('ArrowUp');
  assert.equal(await finished(page), 'done');
  assert.equal(await sourceRowIsBlack(page, 0), false);
  assert.equal(await sourceRowIsBlack(page, 191), false);
  assert.deepEqual(problems, []);
  await context.close();
});

test('512 x 512 converts at full size; larger pictures cannot keep their size', kTimeout, async (t) => {
  const { context, page, problems } = await openPage();
  await page.check('input[name=fit][value=original]');
  assert.equal(await choosePicture(page, 'square.png', 'image/png', encodePng(photoLike(512, 512))),
               'done');
  assert.deepEqual(await canvasSize(page, '#result-view'), [512, 512]);
  assert.equal((await offeredSizes(page))['.CHR'], 7 + 64 * 64 * 8);
  t.diagnostic(`512 x 512 conversion time shown: ${await shownTime(page, '512x512 original')}`);
  await page.screenshot({ path: path.join(artefacts, 'd-512x512.png'), fullPage: true });

  assert.equal(await choosePicture(page, 'wide.png', 'image/png', encodePng(photoLike(640, 480))),
               'done');
  assert.equal(await page.isDisabled('input[name=fit][value=original]'), true);
  assert.equal(await page.isChecked('input[name=fit][value=crop]'), true);
  assert.deepEqual(await canvasSize(page, '#result-view'), [256, 192]);
  assert.match(await page.textContent('#original-note'), /640 × 480/);
  assert.deepEqual(problems, []);
  await context.close();
});

test('files the browser cannot decode give a clear error and no downloads', kTimeout, async () => {
  const { context, page, problems } = await openPage();
  assert.equal(await choosePicture(page, 'sunset.png', 'image/png', encodePng(photoLike(64, 48))),
               'done');

  // A PNG cut short after its header, dropped on the page.
  const truncated = encodePng(photoLike(64, 48)).subarray(0, 40);
  await page.evaluate((bytes) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(bytes)], 'broken.png', { type: 'image/png' }));
    document.body.dispatchEvent(
      new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, Array.from(truncated));
  assert.equal(await finished(page), 'error');
  assert.match(await page.textContent('#error'),
               /“broken\.png” could not be read as a picture: the PNG file is damaged or cut short/);
  assert.equal(await page.isVisible('#error'), true);
  assert.equal(await page.locator('a[download]').count(), 0);
  assert.equal(await page.isVisible('#views'), false);
  await page.screenshot({ path: path.join(artefacts, 'c-broken.png'), fullPage: true });

  // A text file through the picker fails the same way.
  assert.equal(await choosePicture(page, 'notes.txt', 'text/plain', Buffer.from('not a picture\n')),
               'error');
  assert.match(await page.textContent('#error'), /“notes\.txt” could not be read as a picture/);
  assert.deepEqual(problems, []);
  await context.close();
});

// ---- The studio: settings, the command line, the small things ----------

// Sets a form control by name as a user's change would, firing "input".
async function setControl(page, name, value) {
  await page.$eval(`[name="${name}"]`, (element, v) => {
    if (element.type === 'checkbox') {
      element.checked = v === 'true';
    } else {
      element.value = v;
    }
    element.dispatchEvent(new Event('input', { bubbles: true }));
  }, String(value));
}

// The downloads offered, by file name: their bytes.
async function offeredFiles(page) {
  const files = await page.$$eval('a[download]', async (links) => {
    const out = {};
    for (const link of links) {
      out[link.download] = Array.from(new Uint8Array(await (await fetch(link.href)).arrayBuffer()));
    }
    return out;
  });
  return Object.fromEntries(Object.entries(files).map(([name, bytes]) => [name, Buffer.from(bytes)]));
}

// Runs the command line the page shows, on the same file (and palette
// file) in folder; returns the program's outputs by name.
function runShownCommand(command, folder, inputs) {
  fs.rmSync(folder, { recursive: true, force: true });
  fs.mkdirSync(folder, { recursive: true });
  for (const [name, bytes] of Object.entries(inputs)) {
    fs.writeFileSync(path.join(folder, name), bytes);
  }
  const words = command.split(' ');
  assert.equal(words[0], 'kovrel');
  execFileSync(kovrel, words.slice(1), { cwd: folder, stdio: 'ignore' });
  const out = {};
  for (const name of fs.readdirSync(folder)) {
    if (!(name in inputs)) {
      out[name] = fs.readFileSync(path.join(folder, name));
    }
  }
  return out;
}

// The page's CHR, CLR and preview TGA must be the program's, name and bytes.
async function assertSameAsProgram(page, folder, inputs, what) {
  const command = await page.textContent('#command');
  const expected = runShownCommand(command, folder, inputs);
  const offered = await offeredFiles(page);
  const programNames = Object.keys(expected).sort();
  assert.deepEqual(programNames, Object.keys(offered).filter((name) => !name.endsWith('.png')).sort(),
                   `${what}: the program's files and the page's`);
  for (const name of programNames) {
    assert.ok(offered[name], `${what}: the page offers no ${name} (${Object.keys(offered)})`);
    assertSameBytes(offered[name], expected[name], `${what}: ${name} (${command})`);
  }
  return command;
}

const kGpl = 'GIMP Palette\nName: test\n# red, green and blue apart\n' +
  [[0, 0, 0], [20, 20, 20], [60, 200, 60], [120, 230, 120], [80, 80, 240], [130, 120, 250],
   [200, 80, 70], [90, 220, 240], [240, 90, 80], [250, 130, 120], [210, 200, 80], [230, 210, 140],
   [50, 160, 50], [200, 90, 180], [200, 200, 200], [255, 255, 255]]
    .map(([r, g, b]) => `${r} ${g} ${b}\tcolour`).join('\n') + '\n';

test('a PNG with a gamma chunk and a TGA give the program\'s bytes at several settings', kTimeout, async (t) => {
  const { context, page, problems } = await openPage();
  const png = encodePng(photoLike(320, 200), { gamma: true });
  const tga = encodeTga(photoLike(300, 180));
  const translucent = encodePng(photoLike(256, 192), { alpha: (x, y) => (x * 7 + y * 3) % 256 });
  const deep = encodePng(photoLike(256, 192), { deep: true, gamma: true });
  const cases = [
    { file: 'deep.png', bytes: deep, settings: {} },
    { file: 'translucent.png', bytes: translucent, settings: {} },
    { file: 'translucent.png', bytes: translucent, settings: { background: '#2040c0', dither: 50 } },
    { file: 'gamma.png', bytes: png, settings: {} },
    { file: 'gamma.png', bytes: png,
      settings: { palette: 'datasheet', dither: 50, brightness: 30, 'fit-letterbox': true } },
    { file: 'gamma.png', bytes: png,
      settings: { palette: 'v9938', contrast: 25, saturation: -40, gamma: '1.7', 'fit-stretch': true,
                  aspect: true } },
    { file: 'scene.tga', bytes: tga, settings: {} },
    { file: 'scene.tga', bytes: tga,
      settings: { palette: 'datasheet', dither: 50, brightness: 30, 'fit-letterbox': true,
                  background: '#2040c0' } },
    { file: 'scene.tga', bytes: tga, settings: { dither: 0, gamma: '0.6', 'fit-crop': true, aspect: true } },
    { file: 'scene.tga', bytes: tga, settings: { paletteFile: true, dither: 75, 'fit-letterbox': true } },
    { file: 'scene.tga', bytes: tga, settings: { method: 'linear' } },
    { file: 'scene.tga', bytes: tga, settings: { method: 'linear', kernel: 'stucki', dither: 60 } },
    { file: 'scene.tga', bytes: tga, settings: { method: 'ordered', dither: 80 } },
    { file: 'scene.tga', bytes: tga, settings: { kernel: 'atkinson' } },
    { file: 'scene.tga', bytes: tga, settings: { method: 'linear', kernel: 'jjn', 'fit-letterbox': true } },
    { file: 'scene.tga', bytes: tga, settings: { method: 'linear', kernel: 'sierra' } },
    { file: 'small.tga', bytes: encodeTga(photoLike(200, 120)),
      settings: { 'fit-original': true, formats: ['sc2', 'raw', 'c', 'asm'], centre: true, dedupe: true } },
    { file: 'small.tga', bytes: encodeTga(photoLike(200, 120)),
      settings: { 'fit-original': true, formats: ['rom'], centre: true, compress: 'pletter' } },
    { file: 'small.tga', bytes: encodeTga(photoLike(200, 120)),
      settings: { 'fit-original': true, centre: true, compress: 'zx0' } },
    // The TI files, a base name for every file (the packed raw tables and the
    // cartridge too), and the background around the picture.
    { file: 'small.tga', bytes: encodeTga(photoLike(200, 120)),
      settings: { 'fit-original': true, formats: ['ti', 'a99'], output: 'title', background: '#ffffff',
                  compress: 'zx0' } },
  ];
  let chosen = null;
  for (const [i, { file, bytes, settings }] of cases.entries()) {
    if (chosen !== file) {
      assert.equal(await choosePicture(page, file, 'application/octet-stream', bytes), 'done', file);
      chosen = file;
    }
    // Back to the defaults, then this case's settings.
    await page.selectOption('[name=palette]', 'mame');
    for (const [name, value] of Object.entries({ dither: 100, brightness: 0, contrast: 0, saturation: 0,
                                                  gamma: '1', aspect: false, background: '#000000',
                                                  output: '', method: 'classic', kernel: 'floyd' })) {
      await setControl(page, name, value);
    }
    await page.check('input[name=fit][value=crop]');
    await page.check('input[name=place][value=topleft]');
    for (const [name, value] of Object.entries(settings)) {
      if (name === 'palette') {
        await page.selectOption('[name=palette]', value);
      } else if (name === 'paletteFile') {
        await page.setInputFiles('#palette-file', { name: 'test.gpl', mimeType: 'text/plain', buffer: Buffer.from(kGpl) });
      } else if (name === 'formats') {
        for (const format of value) {
          await page.check(`input[name=format][value=${format}]`);
        }
      } else if (name === 'centre') {
        await page.check('input[name=place][value=centre]');
      } else if (name === 'dedupe') {
        await page.check('input[name=dedupe]');
      } else if (name.startsWith('fit-')) {
        await page.check(`input[name=fit][value=${name.slice(4)}]`);
      } else {
        await setControl(page, name, value);
      }
    }
    assert.equal(await finished(page), 'done', `case ${i}`);
    const inputs = { [file]: bytes, ...(settings.paletteFile ? { 'test.gpl': Buffer.from(kGpl) } : {}) };
    const command = await assertSameAsProgram(page, path.join(artefacts, `e-case${i}`), inputs, `case ${i}`);
    t.diagnostic(`same bytes as: ${command}`);
    await page.screenshot({ path: path.join(artefacts, `e-case${i}.png`), fullPage: true });
  }
  assert.equal(await page.textContent('#command'),
               'kovrel --background=FFFFFF --format=chr,clr,tga,sc2,raw,c,asm,rom,ti,a99 --dedupe --compress=zx0 ' +
               '--output=title small.tga');
  assert.deepEqual(problems, []);
  await context.close();
});

test('a JPEG gives libjpeg-turbo\'s pixels: the program\'s bytes', kTimeout, async () => {
  // Encoded by libjpeg-turbo's cjpeg: 4:2:0 and 4:4:4, baseline and progressive.
  const folder = path.join(artefacts, 'f-jpeg');
  fs.mkdirSync(folder, { recursive: true });
  const ppm = path.join(folder, 'source.ppm');
  const { width, height, rgb } = photoLike(300, 200);
  fs.writeFileSync(ppm, Buffer.concat([Buffer.from(`P6\n${width} ${height}\n255\n`), rgb]));
  const { context, page, problems } = await openPage();
  for (const options of [['-quality', '85'], ['-quality', '92', '-sample', '1x1', '-progressive']]) {
    const jpeg = execFileSync('cjpeg', [...options, ppm]);
    assert.equal(await choosePicture(page, 'photo.jpg', 'image/jpeg', jpeg), 'done');
    await assertSameAsProgram(page, path.join(folder, options.join('')), { 'photo.jpg': jpeg },
                              `JPEG ${options.join(' ')}`);
  }
  assert.deepEqual(problems, []);
  await context.close();
});

// What a PNG's IHDR says: [bit depth, colour type, interlace], and whether it has a tRNS chunk.
function pngKind(bytes) {
  return { depth: bytes[24], colourType: bytes[25], interlaced: bytes[28], trns: bytes.includes(Buffer.from('tRNS')) };
}

test('PNGs of other kinds, written by netpbm, give libpng\'s pixels: the program\'s bytes', kTimeout, async () => {
  const folder = path.join(artefacts, 'g-png-kinds');
  fs.mkdirSync(folder, { recursive: true });
  const netpbm = (program, args, input) => execFileSync(program, args, { input });
  // Six flat colours, red and blue apart: few enough for a palette.
  const blocks = makePixels(250, 190, (x, y) =>
    [[230, 40, 30], [30, 60, 220], [250, 220, 40], [20, 20, 20], [200, 90, 180], [90, 220, 240]][
      (Math.floor(x / 40) + Math.floor(y / 30) * 2) % 6]);
  const ppm = (pixels) => Buffer.concat([Buffer.from(`P6\n${pixels.width} ${pixels.height}\n255\n`), pixels.rgb]);
  const grey2 = Buffer.alloc(256 * 192);
  grey2.forEach((_, i) => { grey2[i] = ((i % 256) >> 4 ^ Math.floor(i / 256) >> 3) & 3; });
  const greyAlpha = Buffer.alloc(256 * 192 * 4);
  for (let i = 0; i < 256 * 192; ++i) {
    const x = i % 256;
    const y = Math.floor(i / 256);
    greyAlpha.writeUInt16BE(Math.min(65535, x * 257 + ((x * 31 + y) % 256)), 4 * i);
    greyAlpha.writeUInt16BE(Math.min(65535, ((x + y * 3) % 256) * 257 + (y % 200)), 4 * i + 2);
  }
  const pam = Buffer.concat([
    Buffer.from('P7\nWIDTH 256\nHEIGHT 192\nDEPTH 2\nMAXVAL 65535\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n'), greyAlpha]);
  const cases = [
    { file: 'palette.png', kind: { depth: 8, colourType: 3, interlaced: 0, trns: true },
      bytes: netpbm('pnmtopng', ['-transparent', '=rgb:1e/3c/dc'], ppm(blocks)), settings: { background: '#e0a020' } },
    { file: 'grey2.png', kind: { depth: 2, colourType: 0, interlaced: 0, trns: false },
      bytes: netpbm('pnmtopng', [], Buffer.concat([Buffer.from('P5\n256 192\n3\n'), grey2])), settings: {} },
    { file: 'greyalpha.png', kind: { depth: 16, colourType: 4, interlaced: 0, trns: false },
      bytes: netpbm('pamtopng', [], pam), settings: { background: '#2040c0' } },
    { file: 'interlaced.png', kind: { depth: 8, colourType: 2, interlaced: 1, trns: false },
      bytes: netpbm('pnmtopng', ['-interlace'], ppm(photoLike(253, 189))), settings: {} },
    { file: 'interlaced-palette.png', kind: { depth: 8, colourType: 3, interlaced: 1, trns: true },
      bytes: netpbm('pnmtopng', ['-interlace', '-transparent', '=rgb:e6/28/1e'], ppm(blocks)),
      settings: { background: '#40c020' } },
  ];
  const { context, page, problems } = await openPage();
  for (const { file, kind, bytes, settings } of cases) {
    const written = pngKind(bytes);
    // pnmtopng may pick a smaller depth for a palette; the kind tested is what counts.
    assert.deepEqual({ ...written, depth: kind.colourType === 3 ? 8 : written.depth }, kind, `${file} as written`);
    fs.writeFileSync(path.join(folder, file), bytes);
    assert.equal(await choosePicture(page, file, 'image/png', bytes), 'done', file);
    await setControl(page, 'background', settings.background ?? '#000000');
    assert.equal(await finished(page), 'done', file);
    await assertSameAsProgram(page, path.join(folder, file.replace('.png', '')), { [file]: bytes }, file);
  }
  assert.deepEqual(problems, []);
  await context.close();
});

// The page's PNG decoder, loaded as the worker loads it.
function pageDecoder() {
  const source = fs.readFileSync(path.join(repo, 'web', 'png_decode.js'), 'utf8');
  return vm.runInThisContext(`${source}\n;({ decodePng, PngDamaged })`, { filename: 'png_decode.js' });
}

// A copy of a PNG's bytes with the chunk of the given type (the first one)
// changed by edit(data) and its checksum made right again, unless keepCrc.
function editChunk(png, type, edit, { fixCrc = true } = {}) {
  const out = Buffer.from(png);
  for (let at = 8; at < out.length;) {
    const length = out.readUInt32BE(at);
    if (out.toString('latin1', at + 4, at + 8) === type) {
      edit(out.subarray(at + 8, at + 8 + length));
      if (fixCrc) {
        out.writeUInt32BE(zlib.crc32 ? zlib.crc32(out.subarray(at + 4, at + 8 + length)) : crcOf(out.subarray(at + 4, at + 8 + length)), at + 8 + length);
      }
      return out;
    }
    at += 12 + length;
  }
  throw new Error(`no ${type} chunk`);
}

function crcOf(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) {
    c ^= b;
    for (let k = 0; k < 8; ++k) {
      c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    }
  }
  return (c ^ 0xffffffff) >>> 0;
}

test('damaged PNGs are refused with the reason, as libpng refuses them', kTimeout, async () => {
  const { decodePng, PngDamaged } = pageDecoder();
  const good = encodePng(photoLike(40, 30));
  const decoded = await decodePng(good, 4096);
  // The picture itself, red first: the decoder's pixels are the encoder's.
  const expected = photoLike(40, 30).rgb;
  assert.deepEqual([decoded.width, decoded.height], [40, 30]);
  assert.equal(decoded.rgba.filter((_, i) => i % 4 === 3 && decoded.rgba[i] !== 255).length, 0);
  assert.deepEqual(Buffer.from(decoded.rgba.filter((_, i) => i % 4 !== 3)), expected);
  const idatAt = good.indexOf(Buffer.from('IDAT'));
  const withoutIend = good.subarray(0, good.length - 12);
  const damaged = {
    'cut inside IDAT': good.subarray(0, idatAt + 20),
    'cut after IDAT, no IEND': withoutIend,
    'IDAT checksum wrong': editChunk(good, 'IDAT', (d) => { d[d.length - 1] ^= 1; }, { fixCrc: false }),
    'IHDR bit depth 3': editChunk(good, 'IHDR', (d) => { d[8] = 3; }),
    'IHDR width 0': editChunk(good, 'IHDR', (d) => { d.writeUInt32BE(0, 0); }),
    'compressed data wrong': editChunk(good, 'IDAT', (d) => { d.fill(0xff, 2, 12); }),
    'too little image data': editChunk(encodePng(photoLike(40, 31)), 'IHDR', (d) => { d.writeUInt32BE(32, 4); }),
    'palette picture without PLTE': editChunk(good, 'IHDR', (d) => { d[9] = 3; }),
    'unknown critical chunk': Buffer.concat([good.subarray(0, 33), Buffer.from([0, 0, 0, 0]),
      Buffer.from('ABCD'), Buffer.alloc(4), good.subarray(33)]),
  };
  // A filter byte of 5: the first row's, in a stored (uncompressed) zlib stream.
  const raw = Buffer.alloc(30 * (1 + 40 * 3));
  raw[0] = 5;
  const stored = zlib.deflateSync(raw, { level: 0 });
  damaged['filter type 5'] = Buffer.concat([good.subarray(0, 33),
    (() => { const c = Buffer.alloc(12 + stored.length); c.writeUInt32BE(stored.length, 0); c.write('IDAT', 4, 'latin1');
             stored.copy(c, 8); c.writeUInt32BE(crcOf(c.subarray(4, 8 + stored.length)), 8 + stored.length); return c; })(),
    good.subarray(good.length - 12)]);
  for (const [what, bytes] of Object.entries(damaged)) {
    await assert.rejects(decodePng(new Uint8Array(bytes), 4096), PngDamaged, what);
  }
  // A wrong checksum on an ancillary chunk only drops that chunk, as libpng does.
  const gamma = encodePng(photoLike(40, 30), { gamma: true });
  const badGamma = editChunk(gamma, 'gAMA', (d) => { d[0] ^= 1; }, { fixCrc: false });
  assert.deepEqual((await decodePng(new Uint8Array(badGamma), 4096)).rgba, decoded.rgba);
});

test('the build without wasm SIMD gives the same bytes', kTimeout, async () => {
  const { context, page, problems } = await openPage();
  await page.goto(`${siteUrl}?simd=0`);
  const tga = encodeTga(photoLike(256, 192));
  assert.equal(await choosePicture(page, 'plain.tga', 'application/octet-stream', tga), 'done');
  await setControl(page, 'dither', 60);
  assert.equal(await finished(page), 'done');
  assert.match(await page.textContent('#status'), /no wasm SIMD/);
  await assertSameAsProgram(page, path.join(artefacts, 'g-no-simd'), { 'plain.tga': tga }, 'without SIMD');
  // The optimiser's four-lane float arithmetic, here one lane at a time.
  await page.selectOption('[name=method]', 'optimise');
  assert.equal(await finished(page), 'done');
  await assertSameAsProgram(page, path.join(artefacts, 'g-no-simd-optimise'), { 'plain.tga': tga },
                            'optimise without SIMD');
  assert.deepEqual(problems, []);
  await context.close();
});

test('moving a slider quickly ends with the result for its last position', kTimeout, async () => {
  const { context, page, problems } = await openPage();
  const png = encodePng(photoLike(256, 192));
  assert.equal(await choosePicture(page, 'slide.png', 'image/png', png), 'done');
  await page.focus('[name=brightness]');
  for (let i = 0; i < 25; ++i) {
    await page.keyboard.press('ArrowRight');  // each a change, none waited for
  }
  for (let i = 0; i < 3; ++i) {
    await page.keyboard.press('ArrowLeft');
  }
  assert.equal(await finished(page), 'done');
  assert.equal(await page.inputValue('[name=brightness]'), '22');
  assert.match(await page.textContent('#command'), /--brightness=22 /);
  await assertSameAsProgram(page, path.join(artefacts, 'h-slider'), { 'slide.png': png }, 'after the slide');
  assert.deepEqual(problems, []);
  await context.close();
});

test('every control works from the keyboard', kTimeout, async () => {
  const { context, page, problems } = await openPage();
  assert.equal(await choosePicture(page, 'keys.png', 'image/png', encodePng(photoLike(200, 150))), 'done');
  // Tab reaches every control, in the page's order.
  const order = [];
  await page.focus('#picture');
  for (let i = 0; i < 60; ++i) {
    order.push(await page.evaluate(() => {
      const e = document.activeElement;
      return e.name || e.id || e.tagName;
    }));
    await page.keyboard.press('Tab');
  }
  for (const name of ['picture', 'palette', 'palette-file', 'dither', 'brightness', 'contrast', 'saturation',
                      'gamma', 'reset', 'fit', 'aspect', 'background', 'format', 'zoom', 'tv-view', 'grid', 'compare',
                      'copy-command']) {
    assert.ok(order.includes(name), `Tab never reaches ${name}: ${order.join(' ')}`);
  }
  // Each kind of control, operated by keys, converts again or changes the view.
  const pressOn = async (selector, ...keys) => {
    await page.focus(selector);
    for (const key of keys) {
      await page.keyboard.press(key);
    }
  };
  await pressOn('[name=palette]', 'ArrowDown');
  assert.equal(await finished(page), 'done');
  assert.equal(await page.inputValue('[name=palette]'), 'datasheet');
  for (const name of ['dither', 'brightness', 'contrast', 'saturation', 'gamma']) {
    await pressOn(`[name=${name}]`, 'ArrowLeft', 'ArrowLeft');
    assert.equal(await finished(page), 'done', name);
  }
  assert.match(await page.textContent('#command'),
               /--palette=datasheet --dither=98 --brightness=-2 --contrast=-2 --saturation=-2 --gamma=0.98 /);
  await pressOn('#reset', 'Enter');
  assert.equal(await finished(page), 'done');
  assert.match(await page.textContent('#command'), /^kovrel --palette=datasheet --dither=98 --fit=crop keys.png$/);
  await pressOn('input[name=fit]:checked', 'ArrowDown');
  assert.equal(await finished(page), 'done');
  await pressOn('[name=aspect]', ' ');
  assert.equal(await finished(page), 'done');
  assert.match(await page.textContent('#command'), /--fit=letterbox --aspect=tv keys.png$/);
  await pressOn('input[name=format][value=sc2]', ' ');
  assert.equal(await finished(page), 'done');
  await pressOn('input[name=place][value=topleft]', 'ArrowDown');
  assert.equal(await finished(page), 'done');
  assert.match(await page.textContent('#command'), /--format=chr,clr,tga,sc2 --place=centre keys.png$/);
  assert.equal(await page.isDisabled('input[name=dedupe]'), true);  // sharing needs raw, C or assembler
  await pressOn('input[name=format][value=raw]', ' ');
  assert.equal(await finished(page), 'done');
  await pressOn('input[name=dedupe]', ' ');
  assert.equal(await finished(page), 'done');
  assert.match(await page.textContent('#command'), /--format=chr,clr,tga,sc2,raw --place=centre --dedupe keys.png$/);
  assert.equal(await page.locator('a[download$=".nam"]').count(), 1);
  await pressOn('#zoom', 'ArrowDown', 'ArrowDown');
  assert.match(await page.textContent('#result-caption'), /shown at 2×/);
  assert.equal(await page.$eval('#result-view', (c) => c.getBoundingClientRect().width), 512);
  await pressOn('#tv-view', ' ');
  assert.match(await page.textContent('#result-caption'), /television pixels/);
  assert.ok(Math.abs(await page.$eval('#result-view', (c) => c.getBoundingClientRect().width) - 512 * 8 / 7) < 0.5);
  await pressOn('#grid', ' ');
  assert.equal(await page.isVisible('#grid-overlay'), true);
  await page.screenshot({ path: path.join(artefacts, 'i-keyboard-grid-tv.png'), fullPage: true });
  await pressOn('#compare', 'Enter');
  assert.equal(await page.isVisible('#source-view'), true);
  assert.equal(await page.isVisible('#result-view'), false);
  assert.match(await page.textContent('#result-caption'), /^Before/);
  await page.screenshot({ path: path.join(artefacts, 'i-keyboard-before.png'), fullPage: true });
  await pressOn('#compare', ' ');
  assert.equal(await page.isVisible('#result-view'), true);
  // The background colour's own picker is the browser's; the control takes focus and a value.
  assert.deepEqual(problems, []);
  await context.close();
});

test('at 390 px wide the page fits without sideways scrolling', kTimeout, async () => {
  const { context, page, problems } = await openPage({ viewport: { width: 390, height: 844 }, deviceScaleFactor: 2 });
  assert.equal(await choosePicture(page, 'phone.png', 'image/png', encodePng(photoLike(256, 192))), 'done');
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth),
            'the page scrolls sideways');
  // 256 pixels at 1x is the largest whole zoom that fits.
  assert.match(await page.textContent('#result-caption'), /shown at 1×/);
  await page.screenshot({ path: path.join(artefacts, 'j-390px.png'), fullPage: true });
  await page.check('input[name=fit][value=original]');
  assert.equal(await choosePicture(page, 'big.png', 'image/png', encodePng(photoLike(512, 512))), 'done');
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth),
            'a 512-pixel result makes the page scroll sideways');
  await page.screenshot({ path: path.join(artefacts, 'j-390px-512.png'), fullPage: true });
  assert.deepEqual(problems, []);
  await context.close();
});

test('the small things: drops, counts, animations, SVG, big pictures, 8.3 names', kTimeout, async () => {
  const { context, page, problems } = await openPage();
  // One tile: 8 x 8 at its original size.
  await page.check('input[name=fit][value=original]');
  assert.equal(await choosePicture(page, 'tiny.png', 'image/png',
                                   encodePng(makePixels(8, 8, (x, y) => [x * 30, 90, y * 30]))), 'done');
  assert.match(await page.textContent('#result-caption'), /1 tile across, 1 tile down, 8 tile lines/);
  assert.match(await page.textContent('#table-note'), /1 tile to a row/);

  // Dropping text keeps the result.
  await page.evaluate(() => {
    const transfer = new DataTransfer();
    transfer.setData('text/plain', 'some words');
    document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  });
  assert.equal(await page.evaluate(() => document.body.dataset.state), 'done');
  assert.equal(await page.isVisible('#result-view'), true);
  assert.equal(await page.locator('a[download]').count(), 3);
  assert.match(await page.textContent('#notice'), /not a file/);

  // An animated GIF: the first frame, and a note saying so.
  await page.check('input[name=fit][value=crop]');
  assert.equal(await choosePicture(page, 'blink.gif', 'image/gif', animatedGif()), 'done');
  assert.match(await page.textContent('#notice'), /animated: only its first frame/);
  const firstPixel = await page.$eval('#source-view', (c) => Array.from(c.getContext('2d').getImageData(0, 0, 1, 1).data));
  assert.deepEqual(firstPixel, [255, 0, 0, 255]);

  // An SVG is named in the message.
  const svg = Buffer.from('<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"><rect width="10" height="10"/></svg>');
  assert.equal(await choosePicture(page, 'logo.svg', 'image/svg+xml', svg), 'error');
  assert.match(await page.textContent('#error'), /“logo\.svg” could not be read as a picture: it is an SVG drawing/);

  // Over 4096 on a side: scaled down by the browser, and said.
  assert.equal(await choosePicture(page, 'banner.png', 'image/png', encodePng(photoLike(5000, 40))), 'done');
  assert.match(await page.textContent('#notice'), /5000 × 40: the browser scaled it down to 4096 × 33/);

  // A name that does not fit 8.3: the program's names, and the MSX's on request.
  assert.equal(await choosePicture(page, 'holiday photo.png', 'image/png', encodePng(photoLike(256, 192))), 'done');
  await page.check('input[name=format][value=png]');
  assert.equal(await finished(page), 'done');
  assert.deepEqual(await downloadNames(page),
                   ['holiday photo.CHR', 'holiday photo.CLR', 'holiday photo_tms.png', 'holiday photo_tms.tga']);
  assert.match(await page.textContent('#name-note'), /will not load by that name on an MSX/);
  assert.match(await page.textContent('#table-note'), /BLOAD "HOLIDAYP\.CHR",S: BLOAD "HOLIDAYP\.CLR",S/);
  await page.check('#msx-names');
  assert.deepEqual(await downloadNames(page), ['HOLIDAYP.CHR', 'HOLIDAYP.CLR', 'HOLIDAYP_T.PNG', 'HOLIDAYP_T.TGA']);
  await page.screenshot({ path: path.join(artefacts, 'k-names.png'), fullPage: true });
  assert.deepEqual(problems, []);
  await context.close();
});

test('opened as a file, the page says it must be served and how', kTimeout, async () => {
  const context = await browser.newContext();
  const page = await context.newPage();
  await page.goto(`file://${path.join(site, 'index.html')}`);
  assert.equal(await page.isVisible('#served'), true);
  assert.match(await page.textContent('#served'),
               /must be served.*python3 -m http\.server -d build\/web -b 127\.0\.0\.1 8000/);
  await page.screenshot({ path: path.join(artefacts, 'l-file-url.png'), fullPage: true });
  await context.close();
});

// ---- Layout, messages beside their controls, the ZIP -------------------

// True when the element's box lies wholly inside the viewport.
function insideViewport(page, selector) {
  return page.$eval(selector, (element) => {
    const box = element.getBoundingClientRect();
    return box.width > 0 && box.height > 0 && box.left >= 0 && box.top >= 0 &&
      box.right <= window.innerWidth && box.bottom <= window.innerHeight;
  });
}

test('the result and the dither slider are in the window together, also while the slider moves', kTimeout,
  async () => {
    for (const viewport of [{ width: 1280, height: 900 }, { width: 1366, height: 768 },
                            { width: 390, height: 844 }]) {
      const what = `${viewport.width} x ${viewport.height}`;
      const { context, page, problems } = await openPage({ viewport });
      assert.equal(await choosePicture(page, 'view.png', 'image/png', encodePng(photoLike(256, 192))), 'done');
      assert.ok(await insideViewport(page, '#stage'), `${what}: the result is out of the window`);
      assert.ok(await insideViewport(page, '#dither'), `${what}: the dither slider is out of the window`);
      await page.focus('#dither');
      for (let i = 0; i < 5; ++i) {
        await page.keyboard.press('ArrowLeft');
      }
      assert.equal(await finished(page), 'done');
      assert.ok(await insideViewport(page, '#stage'), `${what}: the result left the window as the slider moved`);
      assert.ok(await insideViewport(page, '#dither'), `${what}: the slider left the window`);
      assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth),
                `${what}: the page scrolls sideways`);
      // The largest whole zoom that fits: 3x on the wide windows, 1x on the phone.
      const zoom = viewport.width > 1000 ? 3 : 1;
      assert.equal(await page.$eval('#result-view', (c) => c.getBoundingClientRect().height), 192 * zoom, what);
      // Controls added later (a further fieldset) keep both in view.
      await page.evaluate(() => {
        const extra = document.createElement('fieldset');
        extra.innerHTML = '<legend>More</legend><label>A setting <select><option>one</option></select></label>';
        document.querySelector('#settings').append(extra);
        window.dispatchEvent(new Event('resize'));
      });
      assert.ok(await insideViewport(page, '#stage'), `${what}: an added control pushed the result out`);
      await page.screenshot({ path: path.join(artefacts, `m-layout-${viewport.width}x${viewport.height}.png`) });
      assert.deepEqual(problems, [], what);
      await context.close();
    }
  });

test('a refused palette file leaves the palette in use, and says so beside it', kTimeout, async () => {
  const { context, page, problems } = await openPage({ viewport: { width: 1366, height: 768 } });
  const png = encodePng(photoLike(256, 192));
  assert.equal(await choosePicture(page, 'pal.png', 'image/png', png), 'done');
  await page.selectOption('#palette', 'datasheet');
  assert.equal(await finished(page), 'done');
  const tryPalette = async (name, text) => {
    await page.setInputFiles('#palette-file', { name, mimeType: 'text/plain', buffer: Buffer.from(text) });
    await page.waitForFunction((n) => document.querySelector('#palette-note').textContent.includes(n), name);
    return finished(page);
  };
  assert.equal(await tryPalette('bad.gpl', 'GIMP Palette\n1 2\n'), 'done');
  assert.match(await page.textContent('#palette-note'),
               /^bad\.gpl was not used: .*line 2.* Still in use: the datasheet palette\.$/);
  assert.ok(await insideViewport(page, '#palette-note'), 'the palette message is out of the window');
  assert.equal(await page.isVisible('#result-view'), true);
  assert.match(await page.textContent('#command'), /^kovrel --palette=datasheet --fit=crop pal\.png$/);
  await assertSameAsProgram(page, path.join(artefacts, 'n-palette'), { 'pal.png': png }, 'after a refused file');
  // A good file, then a bad one: the good file stays in use.
  assert.equal(await tryPalette('test.gpl', kGpl), 'done');
  assert.equal(await tryPalette('short.gpl', 'GIMP Palette\n0 0 0\n'), 'done');
  assert.match(await page.textContent('#palette-note'), /Still in use: the palette file test\.gpl\.$/);
  await assertSameAsProgram(page, path.join(artefacts, 'n-palette-file'),
                            { 'pal.png': png, 'test.gpl': Buffer.from(kGpl) }, 'the earlier file');
  await page.screenshot({ path: path.join(artefacts, 'n-palette-refused.png') });
  // No file to make: said beside the file choices.
  for (const format of ['chr', 'clr', 'tga']) {
    await page.uncheck(`input[name=format][value=${format}]`);
  }
  assert.equal(await finished(page), 'error');
  assert.equal(await page.textContent('#files-problem'), 'Choose at least one file to make.');
  assert.equal(await page.isVisible('#files-problem'), true);
  assert.deepEqual(problems, []);
  await context.close();
});

test('all the files of a run come as one ZIP that unzip and Python read back', kTimeout, async () => {
  const { context, page, problems } = await openPage();
  assert.equal(await choosePicture(page, 'zip me.png', 'image/png', encodePng(photoLike(200, 150))), 'done');
  for (const format of ['sc2', 'raw', 'png']) {
    await page.check(`input[name=format][value=${format}]`);
    assert.equal(await finished(page), 'done');
  }
  const offered = await offeredFiles(page);
  const folder = path.join(artefacts, 'o-zip');
  fs.mkdirSync(folder, { recursive: true });
  const [file] = await Promise.all([page.waitForEvent('download'), page.click('#download-all')]);
  assert.equal(file.suggestedFilename(), 'zip me.zip');
  const zipPath = path.join(folder, 'zip me.zip');
  await file.saveAs(zipPath);
  // Python's zipfile checks every CRC-32 and gives back the members.
  const listed = JSON.parse(execFileSync('python3', ['-c', `
import json, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None
    print(json.dumps({i.filename: list(z.read(i)) for i in z.infolist()}))
`, zipPath]).toString());
  assert.deepEqual(Object.keys(listed).sort(), Object.keys(offered).sort());
  for (const [name, bytes] of Object.entries(offered)) {
    assertSameBytes(Buffer.from(listed[name]), bytes, `${name} in the ZIP`);
  }
  if (fs.existsSync('/usr/bin/unzip')) {
    assert.match(execFileSync('unzip', ['-t', zipPath]).toString(), /No errors detected/);
  }
  assert.match(await page.textContent('#zip-note'), /^zip me\.zip: /);
  assert.deepEqual(problems, []);
  await context.close();
});

test('GIF, BMP and WebP: the command line the page shows gives the page\'s bytes', kTimeout, async () => {
  const { context, page, problems } = await openPage();
  const folder = path.join(artefacts, 'p-formats');
  fs.mkdirSync(folder, { recursive: true });
  const pixels = photoLike(120, 90);
  const ppm = Buffer.concat([Buffer.from(`P6\n${pixels.width} ${pixels.height}\n255\n`), pixels.rgb]);
  fs.writeFileSync(path.join(folder, 'in.ppm'), ppm);
  const make = (command) => execFileSync('bash', ['-o', 'pipefail', '-c', command], { cwd: folder });
  const files = {
    'pic.gif': make('pnmquant 200 in.ppm 2>/dev/null | ppmtogif 2>/dev/null'),
    'pic.bmp': make('ppmtobmp in.ppm 2>/dev/null'),
    'pic8.bmp': make('pnmquant 100 in.ppm 2>/dev/null | ppmtobmp -bpp=8 2>/dev/null'),
    'lossless.webp': make('cwebp -quiet -lossless in.ppm -o -'),
    'lossy.webp': make('cwebp -quiet -q 75 in.ppm -o -'),
  };
  await page.check('input[name=fit][value=original]');
  for (const [name, bytes] of Object.entries(files)) {
    const type = name.endsWith('.gif') ? 'image/gif' : (name.endsWith('.bmp') ? 'image/bmp' : 'image/webp');
    assert.equal(await choosePicture(page, name, type, bytes), 'done', name);
    assert.match(await page.textContent('#command'), new RegExp(`^kovrel ${name.replace('.', '\\.')}$`));
    await assertSameAsProgram(page, path.join(folder, name), { [name]: bytes }, name);
  }
  assert.deepEqual(problems, []);
  await context.close();
});

// ---- Hostile files: the page's cost and outcome, against the program's ----

function pngChunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'latin1');
  data.copy(out, 8);
  out.writeUInt32BE(crcOf(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}

// A 64 x 48 PNG whose image data carries extraMiB MiB of zeros past the
// rows (one compressed MiB repeated; the checksum of the whole), with
// chunks before and after it.
function hostilePng({ extraMiB = 0, before = [], idatBefore = null } = {}) {
  const { rgb } = photoLike(64, 48);
  const rows = Buffer.alloc(48 * (1 + 64 * 3));
  for (let y = 0; y < 48; ++y) {
    rgb.copy(rows, y * (1 + 192) + 1, y * 192, (y + 1) * 192);
  }
  const full = { finishFlush: zlib.constants.Z_FULL_FLUSH };
  const zeros = zlib.deflateRawSync(Buffer.alloc(1 << 20), full);
  let a = 1;
  let b = 0;
  for (const byte of rows) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  b = (b + (((extraMiB * (1 << 20)) % 65521) * a) % 65521) % 65521;
  const adler = Buffer.alloc(4);
  adler.writeUInt32BE(((b << 16) | a) >>> 0);
  const stream = Buffer.concat([zlib.deflateSync(rows, full), ...Array(extraMiB).fill(zeros),
                                Buffer.from([1, 0, 0, 0xff, 0xff]), adler]);
  const header = Buffer.alloc(13);
  header.writeUInt32BE(64, 0);
  header.writeUInt32BE(48, 4);
  header.set([8, 2, 0, 0, 0], 8);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), pngChunk('IHDR', header),
                        ...before, ...(idatBefore ? [idatBefore] : []), pngChunk('IDAT', stream),
                        pngChunk('IEND', Buffer.alloc(0))]);
}

// The renderer processes of this test's browser, by process id.
function ourRenderers() {
  const parentOf = (pid) => Number(fs.readFileSync(`/proc/${pid}/stat`, 'latin1').replace(/^.*\) /s, '').split(' ')[1]);
  const ours = (pid) => {
    for (let p = pid; p > 1; p = parentOf(p)) {
      if (p === process.pid) {
        return true;
      }
    }
    return false;
  };
  const pids = [];
  for (const name of fs.readdirSync('/proc').filter((n) => /^\d+$/.test(n))) {
    try {
      if (fs.readFileSync(`/proc/${name}/cmdline`, 'latin1').includes('--type=renderer') && ours(Number(name))) {
        pids.push(Number(name));
      }
    } catch {
      // gone meanwhile
    }
  }
  return pids;
}

// Processor seconds (user and system) and peak and current memory (MiB) of a process.
function usageOf(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, 'latin1').replace(/^.*\) /s, '').split(' ');
  const status = fs.readFileSync(`/proc/${pid}/status`, 'latin1');
  const kib = (key) => Number(status.match(new RegExp(`${key}:\\s+(\\d+)`))[1]);
  return { seconds: (Number(fields[11]) + Number(fields[12])) / 100, peak: kib('VmHWM') / 1024, now: kib('VmRSS') / 1024 };
}

// The program's outcome on the file: its CHR, or its message's reason.
function programOutcome(file) {
  const folder = fs.mkdtempSync(path.join(artefacts, 'program-'));
  const name = path.basename(file);
  fs.symlinkSync(file, path.join(folder, name));
  try {
    execFileSync(kovrel, [name], { cwd: folder, stdio: 'pipe' });
    const chr = fs.readFileSync(path.join(folder, name.replace(/\.[^.]+$/, '.CHR')));
    return { converted: true, chr };
  } catch (error) {
    const text = error.stdout.toString();
    return { converted: false, reason: text.slice(text.indexOf(`${name}: `) + name.length + 2).trim() };
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
}

test('hostile files cost the page about a second and a few hundred MiB, with the program\'s outcome', { timeout: 600_000 }, async () => {
  const folder = path.join(artefacts, 'hostile');
  fs.mkdirSync(folder, { recursive: true });
  const write = (name, bytes) => { fs.writeFileSync(path.join(folder, name), bytes); return path.join(folder, name); };
  const sparse = (name, head, size) => {
    const at = path.join(folder, name);
    fs.writeFileSync(at, head);
    fs.truncateSync(at, size);
    return at;
  };
  const emptyIdats = (count) => {
    const at = path.join(folder, 'empty-idat.png');
    const png = hostilePng();
    const empty = pngChunk('IDAT', Buffer.alloc(0));
    const block = Buffer.concat(Array(1_000_000).fill(empty));
    const fd = fs.openSync(at, 'w');
    fs.writeSync(fd, png.subarray(0, 33));
    for (let i = 0; i < count / 1_000_000; ++i) {
      fs.writeSync(fd, block);
    }
    fs.writeSync(fd, png.subarray(33));
    fs.closeSync(fd);
    return at;
  };
  const zText = pngChunk('zTXt', Buffer.concat([Buffer.from('Comment\0\0', 'latin1'), zlib.deflateSync(Buffer.alloc(7_900_000))]));
  const ppm = path.join(folder, 'g.ppm');
  fs.writeFileSync(ppm, Buffer.concat([Buffer.from('P6 64 64 255\n'), Buffer.alloc(64 * 64 * 3, 90)]));
  // A DC scan, then one AC scan, repeated (each repeat is valid, and costs
  // as much as decoding the picture again).
  const script = path.join(folder, 'scans.txt');
  fs.writeFileSync(script, '0 1 2: 0 0 0 0;\n0: 1 63 0 0;\n1: 1 63 0 0;\n2: 1 63 0 0;\n');
  const progressive = execFileSync('cjpeg', ['-scans', script, ppm]);
  const lastScan = progressive.lastIndexOf(Buffer.from([0xff, 0xda]));
  const manyScans = Buffer.concat([progressive.subarray(0, progressive.length - 2),
    ...Array(120).fill(progressive.subarray(lastScan, progressive.length - 2)), Buffer.from([0xff, 0xd9])]);
  const twoComponents = Buffer.from(execFileSync('cjpeg', ['-grayscale', ppm]));
  const sof = twoComponents.indexOf(Buffer.from([0xff, 0xc0]));
  // One component becomes two, the second a copy of the first (id 2).
  const twoJpeg = Buffer.concat([twoComponents.subarray(0, sof + 2), Buffer.from([0, 14]),
    twoComponents.subarray(sof + 4, sof + 9), Buffer.from([2]), twoComponents.subarray(sof + 10, sof + 13),
    Buffer.from([2]), twoComponents.subarray(sof + 11, sof + 13), twoComponents.subarray(sof + 13)]);
  const tga = encodeTga(photoLike(256, 192));

  const cases = [
    ['40 million empty IDAT chunks (480 MB)', () => emptyIdats(40_000_000)],
    ['3 GiB of zeros past the rows', () => write('extra-3g.png', hostilePng({ extraMiB: 3072 }))],
    ['1 GiB of zeros past the rows', () => write('extra-1g.png', hostilePng({ extraMiB: 1024 }))],
    ['999 zTXt chunks of 7.9 MB each', () => write('text.png', hostilePng({ before: Array(999).fill(zText) }))],
    ['a 64 x 48 PNG in a file over 512 MiB', () => sparse('huge.png', hostilePng(), 600 << 20)],
    ['a JPEG of 122 scans', () => write('scans.jpg', manyScans)],
    ['a two-component JPEG', () => write('two.jpg', twoJpeg)],
    ['a 256 x 192 TGA and 3 MB of other bytes', () => write('long.tga', Buffer.concat([tga, Buffer.alloc(3_000_000, 0x55)]))],
  ];
  const report = [];
  for (const [what, make] of cases) {
    const file = make();
    const expected = programOutcome(file);
    const before = new Set(ourRenderers());
    const { context, page, problems } = await openPage();
    await page.check('input[name=fit][value=original]');
    // The renderers this context started (the page's, with its worker, and
    // perhaps a spare): their sum bounds the page's cost from above.
    const renderers = ourRenderers().filter((pid) => !before.has(pid));
    assert.ok(renderers.length > 0, `${what}: the page's renderer process`);
    const start = renderers.map(usageOf);
    await page.setInputFiles('#picture', file);
    const state = await finished(page);
    const end = renderers.map(usageOf);
    assert.equal(await page.evaluate(() => 1 + 1), 2, `${what}: the tab lives on`);
    if (expected.converted) {
      assert.equal(state, 'done', `${what}: converted, as by the program`);
      const offered = await offeredFiles(page);
      const chr = Object.entries(offered).find(([name]) => name.endsWith('.CHR'))[1];
      assertSameBytes(chr, expected.chr, `${what}: CHR`);
    } else {
      assert.equal(state, 'error', `${what}: refused, as by the program`);
      assert.ok((await page.textContent('#error')).includes(expected.reason),
                `${what}: the page's message gives the program's reason: ${expected.reason}`);
    }
    const seconds = end.reduce((sum, e, i) => sum + e.seconds - start[i].seconds, 0);
    const extraMiB = end.reduce((sum, e, i) => sum + e.peak - start[i].now, 0);
    const peak = end.reduce((sum, e) => sum + e.peak, 0);
    report.push(`${what}: ${state}, ${seconds.toFixed(2)} s processor time, peak ${peak.toFixed(0)} MiB ` +
                `(${extraMiB.toFixed(0)} MiB over the page before)`);
    // The bound, with room for a busy machine: about 1 s, 256 MiB.
    assert.ok(seconds < 3, `${what}: ${seconds} s`);
    assert.ok(extraMiB < 256, `${what}: ${extraMiB} MiB`);
    assert.deepEqual(problems, []);
    await context.close();
    fs.rmSync(file, { force: true });
  }
  fs.writeFileSync(path.join(artefacts, 'hostile.txt'), `${report.join('\n')}\n`);
  for (const line of report) {
    console.log(line);
  }
});

test('optimise gives the command-line program\'s bytes', kTimeout, async () => {
  const { context, page, problems } = await openPage();
  const cases = [
    { file: 'scene.tga', bytes: encodeTga(photoLike(300, 180)), settings: {} },
    { file: 'odd.png', bytes: encodePng(photoLike(90, 45)), settings: { 'fit-original': true, dither: 60 } },
  ];
  for (const [i, { file, bytes, settings }] of cases.entries()) {
    assert.equal(await choosePicture(page, file, 'application/octet-stream', bytes), 'done', file);
    await page.selectOption('[name=method]', 'optimise');
    for (const [name, value] of Object.entries(settings)) {
      if (name.startsWith('fit-')) {
        await page.check(`input[name=fit][value=${name.slice(4)}]`);
      } else {
        await setControl(page, name, value);
      }
    }
    assert.equal(await finished(page), 'done', file);
    const command = await assertSameAsProgram(page, path.join(artefacts, `o-case${i}`), { [file]: bytes }, file);
    assert.match(command, /--method=optimise/);
    await page.screenshot({ path: path.join(artefacts, `o-case${i}.png`), fullPage: true });
  }
  assert.deepEqual(problems, []);
  await context.close();
});

test('the perceived difference beside the result is the one --report prints', kTimeout, async () => {
  const { context, page, problems } = await openPage();
  const tga = encodeTga(photoLike(300, 180));
  assert.equal(await choosePicture(page, 'scene.tga', 'application/octet-stream', tga), 'done');
  const folder = path.join(artefacts, 'q-report');
  for (const settings of [{}, { brightness: 30, 'fit-letterbox': true }, { dither: 40, saturation: -50 }]) {
    for (const [name, value] of Object.entries(settings)) {
      if (name.startsWith('fit-')) {
        await page.check(`input[name=fit][value=${name.slice(4)}]`);
      } else {
        await setControl(page, name, value);
      }
    }
    assert.equal(await finished(page), 'done');
    const shown = await page.textContent('#perceived');
    assert.match(shown, /^Perceived difference .*: \d+\.\d\d \/ \d+\.\d\d at 24 .*, \d+\.\d\d \/ \d+\.\d\d at 48\.$/);
    fs.rmSync(folder, { recursive: true, force: true });
    fs.mkdirSync(folder, { recursive: true });
    fs.writeFileSync(path.join(folder, 'scene.tga'), tga);
    const words = (await page.textContent('#command')).split(' ');
    const printed = execFileSync(kovrel, ['--report', ...words.slice(1)], { cwd: folder, encoding: 'latin1' });
    assert.ok(printed.includes(`${shown}\n`), `${JSON.stringify(settings)}: the page shows "${shown}"`);
  }
  await page.screenshot({ path: path.join(artefacts, 'q-report.png'), fullPage: true });
  assert.deepEqual(problems, []);
  await context.close();
});

// Starts an optimise run with act and waits until its bar has moved;
// window.barSeen holds the values the bar showed, workersEnded counts the
// workers ended.
async function startOptimise(page, act) {
  await page.evaluate(() => {
    window.barSeen = [];
    if (window.workersEnded === undefined) {
      window.workersEnded = 0;
      const terminate = Worker.prototype.terminate;
      Worker.prototype.terminate = function end() { window.workersEnded += 1; terminate.call(this); };
      const line = document.getElementById('progress-line');
      new MutationObserver(() => line.hidden || window.barSeen.push(line.firstElementChild.value))
        .observe(line, { attributes: true, subtree: true });
    }
  });
  await act();
  await page.waitForFunction(() => window.barSeen.some((v) => v > 0 && v < 100), null, { timeout: 60_000 });
}

test('optimise shows its progress, can be cancelled, and gives way to a newer request', kTimeout, async () => {
  const { context, page, problems } = await openPage();
  const first = encodeTga(photoLike(256, 192));
  const second = encodePng(photoLike(200, 150));
  assert.equal(await choosePicture(page, 'scene.tga', 'application/octet-stream', first), 'done');
  // The bar rises step by step to the end, and goes.
  await startOptimise(page, () => page.selectOption('[name=method]', 'optimise'));
  assert.equal(await finished(page), 'done');
  const seen = await page.evaluate(() => window.barSeen);
  assert.ok(seen.every((value, i) => i === 0 || value >= seen[i - 1]), `the bar went back: ${seen}`);
  assert.ok(seen.filter((value) => value > 0 && value < 100).length >= 10, `too few steps: ${seen}`);
  assert.deepEqual([seen.at(-1), await page.isHidden('#progress-line')], [100, true]);

  // Cancel: the previous (classic) result stays, with its command and files.
  await page.selectOption('[name=method]', 'classic');
  assert.equal(await finished(page), 'done');
  await startOptimise(page, () => page.selectOption('[name=method]', 'optimise'));
  await page.screenshot({ path: path.join(artefacts, 'p-optimising.png'), fullPage: true });
  await page.click('#cancel');
  assert.equal(await finished(page), 'done');
  assert.match(await page.textContent('#status'), /^Cancelled\. Shown: the previous result/);
  const kept = await assertSameAsProgram(page, path.join(artefacts, 'p-cancelled'), { 'scene.tga': first }, 'cancel');
  assert.doesNotMatch(kept, /optimise/);

  // A setting, then a picture, changed while optimise runs: the busy worker
  // is ended and the newest request's result is the program's.
  const interruptions = [
    { act: () => setControl(page, 'dither', 55), inputs: { 'scene.tga': first }, expect: /--dither=55 --method=opt/ },
    { act: () => page.setInputFiles('#picture', { name: 'next.png', mimeType: 'image/png', buffer: second }),
      inputs: { 'next.png': second }, expect: /--method=optimise .*next\.png$/ },
  ];
  for (const [i, { act, inputs, expect }] of interruptions.entries()) {
    await startOptimise(page, () => setControl(page, 'dither', 90));  // optimise is still chosen
    const ended = await page.evaluate(() => window.workersEnded);
    await act();
    assert.equal(await page.evaluate(() => window.workersEnded), ended + 1, `case ${i}: the busy worker stays`);
    assert.equal(await finished(page), 'done');
    assert.match(await assertSameAsProgram(page, path.join(artefacts, `p-newer${i}`), inputs, `case ${i}`), expect);
  }
  assert.deepEqual(problems, []);
  await context.close();
});
