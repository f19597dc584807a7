// Drives the web page in Debian's chromium and checks its files against the
// command-line program's. Needs build/kovrel and build/web (the `web`
// target); KOVREL_BUILD_DIR names another build folder. Screenshots and
// downloads are kept in BUILD/web-test/.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

import { encodePng, encodeTga, photoLike } from './pictures.mjs';
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
  await page.setInputFiles('input[type=file]', { name, mimeType, buffer });
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

  assert.equal(await page.locator('input[type=file]').count(), 1);
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
  assert.equal(await choosePicture(page, 'harbour.jpg', 'image/jpeg', jpeg), 'done');

  // 480 x 270 as it is: 60 x 34 tiles (the last row half empty).
  const screenFiles = { '.CHR': 7 + 32 * 24 * 8, '.CLR': 7 + 32 * 24 * 8, '_tms.tga': 18 + 256 * 192 * 3 };
  const originalFiles = { '.CHR': 7 + 60 * 34 * 8, '.CLR': 7 + 60 * 34 * 8, '_tms.tga': 18 + 480 * 270 * 3 };
  const cases = [
    { fit: 'crop', key: null, size: [256, 192], files: screenFiles },
    { fit: 'letterbox', key: 'ArrowDown', size: [256, 192], files: screenFiles },
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
               /“broken\.png” could not be read as a picture: this browser cannot decode it/);
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
