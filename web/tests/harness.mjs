// Serves build/web on loopback with Python's http.server and drives Debian's chromium through
// playwright-core: no browser download, no network beyond 127.0.0.1.
import { spawn } from 'node:child_process';
import { createServer } from 'node:net';
import { once } from 'node:events';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import os from 'node:os';
import { before, after } from 'node:test';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const sourceRoot = path.resolve(here, '../..');
export const webRoot = process.env.DC_WEB_ROOT ?? path.join(sourceRoot, 'build/web');

async function freePort() {
  const server = createServer();
  server.listen(0, '127.0.0.1');
  await once(server, 'listening');
  const { port } = server.address();
  server.close();
  await once(server, 'close');
  return port;
}

// Serves `root` on a free port of loopback; the caller kills `server`.
export async function serve(root = webRoot) {
  const port = await freePort();
  const server = spawn('python3', ['-m', 'http.server', String(port), '--bind', '127.0.0.1',
    '--directory', root], { stdio: 'ignore' }); // its log, unread, would fill a pipe and stop it
  const url = `http://127.0.0.1:${port}/`;
  for (let attempt = 0; attempt < 100; attempt++) {
    try {
      const response = await fetch(url);
      if (response.ok) return { server, url };
    } catch {
      // not listening yet
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  server.kill();
  throw new Error(`http.server did not answer on ${url}`);
}

export const kChromiumArgs = ['--no-sandbox', '--autoplay-policy=no-user-gesture-required',
  '--headless', '--disable-gpu', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--no-first-run', '--disable-quic'];

// Serves the page and opens it in a browser of its own (not a persistent profile), whose
// DevTools session can read the processes' CPU times; close() ends both.
export async function openPageInBrowser() {
  const { server, url } = await serve(webRoot);
  const browser = await launchBrowser();
  const page = await browser.newPage();
  await page.goto(url);
  await page.waitForFunction(() => window.doodleChorus?.ready === true);
  return {
    browser,
    page,
    async close() {
      await browser.close();
      server.kill();
    },
  };
}

// Collects the page's console errors and warnings and its uncaught errors.
export function watchProblems(page, problems = []) {
  page.on('console', (message) => {
    if (message.type() === 'error' || message.type() === 'warning') {
      problems.push(`${message.type()}: ${message.text()}`);
    }
  });
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  return problems;
}

// Loads `url` in the page and waits until the page's script has started.
export async function load(page, url) {
  await page.goto(url);
  await page.waitForFunction(() => window.doodleChorus?.ready === true);
}

export function launchBrowser() {
  return chromium.launch({ executablePath: '/usr/bin/chromium', args: kChromiumArgs,
    headless: true });
}

// A browser whose profile (storage, service workers) lives in the folder `profile`, so that a
// second launch is the same browser restarted.
export function launchProfile(profile, options = {}) {
  return chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    args: kChromiumArgs,
    headless: true,
    acceptDownloads: true,
    ...options,
  });
}

// A served page in a fresh browser; close() ends both. `initScript` (a function) runs in the
// page before its own scripts.
export async function openPage({ viewport = { width: 1100, height: 800 }, hasTouch = false,
  initScript = null } = {}) {
  const { server, url } = await serve(webRoot);
  const profile = mkdtempSync(path.join(os.tmpdir(), 'dc-web-profile-'));
  const context = await launchProfile(profile, { viewport, hasTouch });
  if (initScript) await context.addInitScript(initScript);
  const page = context.pages()[0] ?? await context.newPage();
  const problems = watchProblems(page);
  await load(page, url);
  return {
    page,
    url,
    problems,
    async close() {
      await context.close();
      server.kill();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// One page for a test file, opened before its tests with the listeners of listen() and closed
// after them; `opened` gets it (page, problems) before the first test.
export function pageForTests({ hasTouch = false, sound = true, initScript = null } = {},
  opened = () => {}) {
  const shared = {};
  before(async () => {
    Object.assign(shared, await openPage({ hasTouch, initScript }));
    await listen(shared.page);
    if (sound) await startSound(shared.page);
    opened(shared);
  });
  after(async () => {
    await shared.close();
  });
  return shared;
}

// Starts listening to the program's view calls and the worklet's samples inside the page.
export async function listen(page) {
  await page.evaluate(() => {
    window.heard = { views: [], taps: [] };
    window.doodleChorus.observe((message) => window.heard.views.push(message));
    window.doodleChorus.tap((frame, samples) => {
      window.heard.taps.push({ frame, samples });
    });
  });
}

// The view calls heard so far, and forgets them.
export async function takeViews(page) {
  return page.evaluate(() => window.heard.views.splice(0));
}

// The tapped samples from frame `from` for `count` frames, waiting until they have arrived.
export async function tappedSamples(page, from, count) {
  await page.waitForFunction(([end]) => {
    const last = window.heard.taps.at(-1);
    return last !== undefined && last.frame + last.samples.length >= end;
  }, [from + count], { timeout: 10_000 });
  return page.evaluate(([start, length]) => {
    const out = new Float32Array(length);
    for (const { frame, samples } of window.heard.taps) {
      if (frame + samples.length <= start || frame >= start + length) continue;
      for (let i = 0; i < samples.length; i++) {
        const at = frame + i - start;
        if (at >= 0 && at < length) out[at] = samples[i];
      }
    }
    return Array.from(out);
  }, [from, count]);
}

// Where drawing-area pixel (x, y) lies on the page: the canvas is shown scaled.
export async function areaPixel(page, x, y) {
  const box = await page.evaluate(() => {
    const area = document.querySelector('#drawing-area');
    const rect = area.getBoundingClientRect();
    return { left: rect.left + area.clientLeft, top: rect.top + area.clientTop,
      width: area.clientWidth, height: area.clientHeight };
  });
  return { x: box.left + ((x + 0.5) * box.width) / 240, y: box.top + ((y + 0.5) * box.height) / 200 };
}

// The page's first press starts the sound; waits until the worklet's clock runs.
export async function startSound(page) {
  await page.getByRole('button', { name: 'clear' }).click();
  await page.waitForFunction(() => window.heard.taps.length > 0, null, { timeout: 10_000 });
}

// Chooses a menu item: File > Save, Voice > Type 2.
export async function menu(page, title, item) {
  await page.getByRole('menuitem', { name: title, exact: true }).click();
  const choice = item.startsWith('Type') || item === 'Classic' || item === 'Concert';
  await page.getByRole(choice ? 'menuitemradio' : 'menuitem', { name: item, exact: true }).click();
}

// The bytes of the download that `action` starts.
export async function downloaded(page, action) {
  const download = page.waitForEvent('download');
  await action();
  return readFileSync(await (await download).path());
}

// The bytes File > Save gives.
export function savedRecording(page) {
  return downloaded(page, () => menu(page, 'File', 'Save'));
}

// Opens a recording file with File > Open.
export async function openFile(page, file) {
  const chooser = page.waitForEvent('filechooser');
  await menu(page, 'File', 'Open');
  await (await chooser).setFiles(file);
}

// The samples of the data chunk of a 32-bit float WAV file.
export function wavSamples(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let at = 12;
  while (at + 8 <= view.byteLength) {
    const id = String.fromCharCode(...bytes.subarray(at, at + 4));
    const size = view.getUint32(at + 4, true);
    if (id === 'fmt ') {
      // 3: IEEE float; 0xFFFE: extensible, whose sub-format's first two bytes say which.
      const tag = view.getUint16(at + 8, true);
      const format = tag === 0xfffe ? view.getUint16(at + 8 + 24, true) : tag;
      const bits = view.getUint16(at + 22, true);
      if (format !== 3 || bits !== 32) throw new Error('not a 32-bit float WAV file');
    }
    if (id === 'data') {
      const samples = new Float32Array(size / 4);
      for (let i = 0; i < samples.length; i++) samples[i] = view.getFloat32(at + 8 + 4 * i, true);
      return samples;
    }
    at += 8 + size + (size % 2);
  }
  throw new Error('no data chunk');
}

// The fundamental of a voiced stretch, Hz: the first clear dip of the cumulative mean
// normalised difference (YIN), refined between neighbouring lags.
export function measurePitch(samples, sampleRate, minHz = 20, maxHz = 1000) {
  const minLag = Math.floor(sampleRate / maxHz);
  const maxLag = Math.ceil(sampleRate / minHz);
  const window = samples.length - maxLag;
  const difference = new Float64Array(maxLag + 2);
  for (let lag = 1; lag <= maxLag + 1; lag++) {
    let sum = 0;
    for (let i = 0; i < window; i++) {
      const d = samples[i] - samples[i + lag];
      sum += d * d;
    }
    difference[lag] = sum;
  }
  const normalised = new Float64Array(maxLag + 2).fill(1);
  let running = 0;
  for (let lag = 1; lag <= maxLag + 1; lag++) {
    running += difference[lag];
    normalised[lag] = (difference[lag] * lag) / running;
  }
  let best = -1;
  for (let lag = minLag; lag <= maxLag; lag++) {
    if (normalised[lag] < 0.15) {
      while (lag + 1 <= maxLag && normalised[lag + 1] < normalised[lag]) lag++;
      best = lag;
      break;
    }
  }
  if (best < 0) return NaN;
  const [a, b, c] = [normalised[best - 1], normalised[best], normalised[best + 1]];
  const shift = (a - c) / (2 * (a - 2 * b + c));
  return sampleRate / (best + (Number.isFinite(shift) ? shift : 0));
}

// How closely a WAV export of the page matches doodlechorus-render's for the same recording
// and controls. The module computes sines, cosines and powers with its C library (musl), the
// tool with glibc, and the two round a few results differently in the last bit; through the
// voice's resonators such a difference moves a sample to the neighbouring float only where the
// sample lies near the midpoint of two floats, or, in near-silence, by a tiny amount. The same
// WAV header and sample count; each sample either the tool's, one float step from it, or within
// kQuietSampleDifference of it; and at most kMaxDifferingSamplesShare of a file's samples not
// the tool's (README.md states this bound).
export const kQuietSampleDifference = 2 ** -30;
export const kMaxDifferingSamplesShare = 1 / 1000;

// A float's place in the order of all floats, so that neighbouring floats are 1 apart (for
// either sign, and across zero).
function floatOrder(bits) {
  return bits < 0 ? -0x80000000 - bits : bits;
}

// Compares the samples of two 32-bit float WAV files: how many differ, the largest difference
// in float steps, the largest absolute difference of a sample more than one step from the
// tool's, and the index of the first sample outside the bound above (-1: none).
export function compareWavSamples(ours, theirs) {
  const ourBits = new Int32Array(ours.buffer, ours.byteOffset, ours.length);
  const theirBits = new Int32Array(theirs.buffer, theirs.byteOffset, theirs.length);
  const result = { differing: 0, largestSteps: 0, largestQuietDifference: 0, firstOutside: -1 };
  for (let i = 0; i < ours.length; i++) {
    if (ourBits[i] === theirBits[i]) continue;
    result.differing++;
    const steps = Math.abs(floatOrder(ourBits[i]) - floatOrder(theirBits[i]));
    result.largestSteps = Math.max(result.largestSteps, steps);
    if (steps > 1) {
      const difference = Math.abs(ours[i] - theirs[i]);
      result.largestQuietDifference = Math.max(result.largestQuietDifference, difference);
      if (!(difference <= kQuietSampleDifference) && result.firstOutside < 0) {
        result.firstOutside = i;
      }
    }
  }
  return result;
}

// A long drawing (ten minutes unless drawingMs says), a point every 40 ms: a recording file's
// text and its number of lines.
export function longDrawing(drawingMs = 600_000) {
  const kPointEveryMs = 40;
  const lines = [];
  for (let ms = 0; ms < drawingMs; ms += kPointEveryMs) {
    const x = Math.round(120 + 110 * Math.sin(ms / 900));
    const y = Math.round(100 + 90 * Math.sin(ms / 530));
    lines.push(`${x};${y};0;${ms}`);
  }
  lines.push(`120;100;1;${drawingMs}`);
  return { text: `${lines.join('\r\n')}\r\n`, lines: lines.length };
}
