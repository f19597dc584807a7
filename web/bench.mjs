// The page's conversion speed in Debian's chromium: converts the benchmark
// photographs (bench/make_pictures.cpp's, tiled from examples/) at their
// original size, 256 x 192 and 512 x 512, and prints the time the page
// reports in #time for each run after the first: the median, the lowest and
// the highest. A measurement, not a test: nothing here passes or fails.
//
//   npm run bench [-- RUNS]      (default 15 runs a picture; at least 10)
//
// Needs build/web (the `web` target) and build/bench/kovrel_make_pictures;
// KOVREL_BUILD_DIR names another build folder, ?simd=0 is measured too.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

import { serve } from './test/static_server.mjs';

const repo = fileURLToPath(new URL('..', import.meta.url));
const buildDir = path.resolve(process.env.KOVREL_BUILD_DIR ?? path.join(repo, 'build'));
const runs = Math.max(10, Number(process.argv[2] ?? 15));
const pictures = fs.mkdtempSync(path.join(os.tmpdir(), 'kovrel-bench-'));
execFileSync(path.join(buildDir, 'bench', 'kovrel_make_pictures'),
             [pictures, path.join(repo, 'examples', 'chelsea.tga'), path.join(repo, 'examples', 'coffee.tga')]);

const { server, url } = await serve(path.join(buildDir, 'web'));
const browser = await chromium.launch({
  executablePath: process.env.KOVREL_CHROMIUM ?? '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});

async function measure(query, name) {
  const page = await browser.newPage();
  await page.goto(url + query);
  await page.check('input[name=fit][value=original]');
  const buffer = fs.readFileSync(path.join(pictures, name));
  const times = [];
  for (let run = 0; run <= runs; ++run) {
    await page.setInputFiles('#picture', { name, mimeType: 'application/octet-stream', buffer });
    await page.waitForFunction(() => document.body.dataset.state !== 'working', null, { timeout: 60_000 });
    if (await page.evaluate(() => document.body.dataset.state) !== 'done') {
      throw new Error(`${name}: ${await page.textContent('#error')}`);
    }
    if (run > 0) {
      times.push(Number((await page.textContent('#time')).replace(' ms', '')));
    }
  }
  await page.close();
  times.sort((a, b) => a - b);
  const middle = times.length >> 1;
  const median = times.length % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
  return { median, lowest: times[0], highest: times[times.length - 1] };
}

const cpu = os.cpus()[0]?.model ?? 'unknown processor';
console.log(`${browser.version()} (chromium), ${cpu}, ${os.cpus().length} processors; ` +
            `${runs} runs a picture after the first, as #time shows them`);
for (const [query, module] of [['', 'kovrel-simd.wasm'], ['?simd=0', 'kovrel.wasm (no SIMD)']]) {
  for (const name of ['photo256.tga', 'noise256.tga', 'photo512.tga', 'noise512.tga']) {
    const { median, lowest, highest } = await measure(query, name);
    console.log(`${module.padEnd(22)} ${name.padEnd(13)} median ${median.toFixed(1)} ms ` +
                `(lowest ${lowest.toFixed(1)}, highest ${highest.toFixed(1)})`);
  }
}
await browser.close();
server.close();
fs.rmSync(pictures, { recursive: true, force: true });
