// The page as an instrument people keep: the empty area invites, the ink is drawn sharp, the
// drawing and settings survive a reload and a restart, a link carries a recording exactly, and
// what cannot be kept or read is said.
import { isDeepStrictEqual } from 'node:util';
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { deflateRawSync, deflateSync, inflateRawSync } from 'node:zlib';
import {
  serve, launchBrowser, launchProfile, watchProblems, load, listen, takeViews, areaPixel,
  tappedSamples, menu, downloaded, savedRecording, openFile, sourceRoot,
} from './harness.mjs';

const require = createRequire(import.meta.url);
const kStorageKey = 'doodlechorus';
const kMaxRecordingBytes = 16 * 1024 * 1024; // the page's open limit
const renderTool = process.env.DC_RENDER_TOOL
  ?? path.join(sourceRoot, 'build/tools/doodlechorus-render');
// The longest links the compact form is to give: an example's fits in a QR code with room, a
// drawing of 30 seconds at 60 pointer events a second in a message.
const kMaxExampleLinkChars = 150;
const kMaxThirtySecondLinkChars = 2000;
const examples = readdirSync(path.join(sourceRoot, 'examples')).filter((f) => f.endsWith('.sav'))
  .sort().map((f) => path.join(sourceRoot, 'examples', f));

let site;
let browser;
let scratch;
before(async () => {
  site = await serve();
  browser = await launchBrowser();
  scratch = mkdtempSync(path.join(os.tmpdir(), 'dc-web-keep-'));
});
after(async () => {
  await browser.close();
  site.server.kill();
  rmSync(scratch, { recursive: true, force: true });
});

// A page of the site in a fresh browser context (its own storage).
async function freshPage({ viewport = { width: 1280, height: 800 }, clipboard = false } = {}) {
  const context = await browser.newContext({ viewport, acceptDownloads: true });
  if (clipboard) {
    await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: site.url });
  }
  const page = await context.newPage();
  const problems = watchProblems(page);
  await load(page, site.url);
  await listen(page);
  return { context, page, problems };
}

// A drag through drawing-area pixels with the mouse.
async function drag(page, points) {
  const [first, ...rest] = await Promise.all(points.map(([x, y]) => areaPixel(page, x, y)));
  await page.mouse.move(first.x, first.y);
  await page.mouse.down();
  for (const at of rest) await page.mouse.move(at.x, at.y);
  await page.mouse.up();
}

// What the page keeps, once it has stopped changing.
async function keptSettled(page) {
  let last = null;
  for (let attempt = 0; attempt < 80; attempt++) {
    const now = await page.evaluate((key) => localStorage.getItem(key), kStorageKey);
    if (now !== null && now === last) return now;
    last = now;
    await page.waitForTimeout(150);
  }
  throw new Error('the kept drawing does not settle');
}

// The drawing area as the canvas shows it: the colours of the device pixels under the given
// drawing-area points (at x + 0.5, y + 0.5), and how many device pixels are pure ink blue. Read
// from a copy: reading the page's own canvas again and again makes the browser warn.
async function readArea(page, points = []) {
  return page.evaluate((at) => {
    const canvas = document.querySelector('#drawing-area');
    const copy = document.createElement('canvas');
    copy.width = canvas.width;
    copy.height = canvas.height;
    const context = copy.getContext('2d', { willReadFrequently: true });
    context.drawImage(canvas, 0, 0);
    const { data } = context.getImageData(0, 0, canvas.width, canvas.height);
    const colours = at.map(([x, y]) => {
      const i = 4 * (Math.floor(((y + 0.5) * canvas.height) / 200) * canvas.width
        + Math.floor(((x + 0.5) * canvas.width) / 240));
      return [data[i], data[i + 1], data[i + 2]];
    });
    let inkCount = 0;
    for (let i = 0; i < data.length; i += 4) {
      if (data[i] === 0 && data[i + 1] === 0 && data[i + 2] === 255) inkCount++;
    }
    return { colours, inkCount };
  }, points);
}
const areaColour = async (page, x, y) => (await readArea(page, [[x, y]])).colours[0];
const inkPixels = async (page) => (await readArea(page)).inkCount;

// The settings as the controls show them.
async function shownSettings(page) {
  return page.evaluate(() => ({
    scale: document.querySelector('input[name="scale"]:checked').dataset.control,
    root: document.querySelector('#root').selectedOptions[0].textContent,
    speed: document.querySelector('#speed').value,
    speedText: document.querySelector('#speed-text').textContent,
    grid: document.querySelector('#grid').checked,
    voice: document.querySelector('[data-command^="type"][aria-checked="true"]').textContent,
    tuning: document.querySelector('[data-command^="tuning-"][aria-checked="true"]').textContent,
  }));
}

// The settings the controls show once they are `expected` (all of them, or those it names), or
// after 10 s: the program restores a kept or linked drawing's settings and reports them a
// moment after the page is ready.
async function settingsShownAs(page, expected) {
  const kWaitMs = 10_000;
  const kPollMs = 50;
  const deadline = Date.now() + kWaitMs;
  const matches = (shown) => Object.keys(expected)
    .every((key) => isDeepStrictEqual(shown[key], expected[key]));
  let shown = await shownSettings(page);
  while (!matches(shown) && Date.now() < deadline) {
    await page.waitForTimeout(kPollMs);
    shown = await shownSettings(page);
  }
  return shown;
}

async function chooseSettings(page, { scale, root, speedTenths, voice, tuning, grid }) {
  await page.getByRole('radio', { name: scale }).check();
  await page.getByRole('combobox', { name: 'Root note' }).selectOption(root);
  await page.getByRole('slider', { name: 'Playback speed' }).fill(String(speedTenths));
  await menu(page, 'Voice', voice);
  await menu(page, 'Voice', tuning);
  if (grid) await page.getByRole('checkbox', { name: 'Grid' }).check();
}

// The program's ink, as its next repaint shows it: Grid off and on again.
async function programInk(page) {
  await takeViews(page);
  await page.getByRole('checkbox', { name: 'Grid' }).uncheck();
  await page.getByRole('checkbox', { name: 'Grid' }).check();
  await page.waitForFunction(() => window.heard.views.filter((v) => v.type === 'canvas')
    .length >= 2);
  return Array.from((await takeViews(page)).filter((v) => v.type === 'canvas').at(-1).inkXY);
}

async function dismiss(page, dialogName) {
  await page.getByRole('dialog', { name: dialogName, exact: true }).getByRole('button',
    { name: 'OK' }).click();
}

// Opens `link` in `page` as a new visit: going from the page to its own address with a fragment
// would only change the hash, and the test would read the page before it took it.
async function visit(page, link) {
  await page.goto('about:blank');
  await page.goto(link);
}

// The page's question before a link's drawing takes the place of a kept one.
const linkQuestion = (page) => page.getByRole('dialog', { name: 'Open the shared drawing?' });

// Answers the page's question about a link ('Open the shared drawing' or 'Keep mine'), then
// waits for the page to start and listens to it.
async function answerLink(page, answer) {
  await linkQuestion(page).getByRole('button', { name: answer, exact: true }).click();
  await page.waitForFunction(() => window.doodleChorus?.ready === true);
  await listen(page);
}

// The page that has started shows no question: asserts it, then listens to the page.
async function startedWithoutQuestion(page, what) {
  await page.waitForFunction(() => window.doodleChorus?.ready === true);
  assert.equal(await page.locator('#shared[open]').count(), 0, what);
  await listen(page);
}

test('the empty area invites: a prompt and the axes, gone at the first press, which sings',
  async (t) => {
    const { context, page, problems } = await freshPage();
    t.after(() => context.close());
    const prompt = page.locator('#prompt');
    assert.ok(await prompt.isVisible());
    assert.equal(await prompt.textContent(), 'Press and drag to sing');
    // Overlays of the page: the area's own picture under the prompt is white.
    assert.deepEqual(await areaColour(page, 120, 100), [255, 255, 255]);
    const vowels = () => page.locator('#vowel-labels li').allTextContents();
    assert.deepEqual(await vowels(), ['ee', 'a', 'aw', 'oo', 'ah']);
    assert.match(await page.locator('.pitch-axis').textContent(), /low.*pitch.*high/);
    // The labels stand where the vowel map reaches each vowel: top, band ends, bottom.
    const tops = await page.locator('#vowel-labels li').evaluateAll((items) => items.map(
      (item) => item.style.top));
    assert.deepEqual(tops, ['0%', '25%', '50%', '75%', '100%']);
    await menu(page, 'Voice', 'Type 2');
    await page.waitForFunction(() => document.querySelector('#vowel-labels li').textContent
      !== 'ee');
    assert.deepEqual(await vowels(), ['ih', 'ee', 'a', 'oo', 'uh']);
    assert.match(await page.locator('#axes-text').textContent(), /ih, ee, a, oo, uh/);
    await menu(page, 'Voice', 'Type 1');

    // A fresh page again: its very first press starts the sound and sings at once.
    await page.reload();
    await page.waitForFunction(() => window.doodleChorus?.ready === true);
    await listen(page);
    assert.ok(await prompt.isVisible(), 'an empty area invites after a reload too');
    const at = await areaPixel(page, 80, 60);
    await page.mouse.move(at.x, at.y);
    await page.mouse.down();
    assert.ok(await prompt.isHidden());
    await page.waitForFunction(() => window.heard.views.some((v) => v.type === 'dot'));
    const dot = (await takeViews(page)).find((v) => v.type === 'dot');
    const samples = await tappedSamples(page, dot.frame, 4096);
    await page.mouse.up();
    assert.ok(Math.max(...samples.map(Math.abs)) > 0.01, 'the first press sings');
    assert.deepEqual(problems, []);
  });

test('the area is drawn at the screen\'s resolution with the program\'s dots and grid',
  async (t) => {
    const context = await browser.newContext({ viewport: { width: 800, height: 900 },
      deviceScaleFactor: 2 });
    t.after(() => context.close());
    const page = await context.newPage();
    await load(page, site.url);
    await listen(page);
    await page.getByRole('radio', { name: 'Major' }).check();
    await page.getByRole('checkbox', { name: 'Grid' }).check();
    await drag(page, [[120, 100]]);
    await page.waitForFunction(() => window.heard.views.some((v) => v.type === 'dot'));
    await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(resolve)));
    const size = await page.locator('#drawing-area').evaluate((c) => [c.width, c.height,
      c.clientWidth, c.clientHeight]);
    assert.ok(size[0] >= 0.9 * 2 * size[2] && size[1] >= 0.9 * 2 * size[3], `${size}`);
    // The dot: blue at its centre, white beyond its radius of 2 pixels, round (not a "+").
    assert.deepEqual(await areaColour(page, 120, 100), [0, 0, 255]);
    assert.deepEqual(await areaColour(page, 121, 101), [0, 0, 255]);
    assert.deepEqual(await areaColour(page, 123, 100), [255, 255, 255]);
    assert.deepEqual(await areaColour(page, 124, 104), [255, 255, 255]);
    // The grid of Major: strip edges every 10 pixels, octave starts at 0, 70, 140 and 210.
    assert.deepEqual(await areaColour(page, 70, 30), [128, 0, 0]);
    assert.deepEqual(await areaColour(page, 210, 190), [128, 0, 0]);
    assert.deepEqual(await areaColour(page, 50, 30), [192, 192, 192]);
    assert.deepEqual(await areaColour(page, 55, 30), [255, 255, 255]);
  });

test('the drawing, the recording and the settings survive a reload and a browser restart',
  async (t) => {
    const profile = mkdtempSync(path.join(scratch, 'profile-'));
    let context = await launchProfile(profile, { viewport: { width: 1280, height: 800 } });
    t.after(() => context.close());
    let page = context.pages()[0] ?? await context.newPage();
    const problems = watchProblems(page);
    await load(page, site.url);
    await listen(page);
    const settings = { scale: 'Major', root: 'D', speedTenths: 25, voice: 'Type 2',
      tuning: 'Concert', grid: true };
    await chooseSettings(page, settings);
    const shown = await shownSettings(page);
    assert.deepEqual(shown, { scale: 'majorOption', root: 'D', speed: '25', speedText: '2.5×',
      grid: true, voice: 'Type 2', tuning: 'Concert' });
    // A recorded stroke, and a stroke drawn after the recording: the ink is more than it.
    await page.getByRole('button', { name: 'record' }).click();
    await drag(page, [[20, 30], [60, 80], [100, 120]]);
    await page.getByRole('button', { name: 'recording' }).click();
    await drag(page, [[200, 40], [220, 60]]);
    const saved = await savedRecording(page);
    assert.ok(saved.length > 0);
    const midi = await downloaded(page, () => menu(page, 'File', 'Export as MIDI\u2026'));
    const ink = await programInk(page);
    assert.equal(ink.length / 2, 5, 'three recorded dots and two more');
    await keptSettled(page);

    const checkBack = async (what) => {
      // The kept picture is shown before anything is pressed; the program takes it at once.
      assert.ok(await page.locator('#prompt').isHidden(), what);
      assert.ok(await inkPixels(page) > 0, `${what}: the ink is shown`);
      assert.deepEqual(await areaColour(page, 140, 10), [128, 0, 0], `${what}: the grid`);
      assert.deepEqual(await settingsShownAs(page, shown), shown, what);
      assert.ok((await savedRecording(page)).equals(saved), `${what}: Save`);
      assert.ok((await downloaded(page, () => menu(page, 'File', 'Export as MIDI\u2026'))).equals(midi),
        `${what}: the program plays with the kept settings`);
      assert.deepEqual(await programInk(page), ink, `${what}: the program's ink`);
    };
    await page.reload();
    await page.waitForFunction(() => window.doodleChorus?.ready === true);
    await listen(page);
    await checkBack('after a reload');

    await context.close();
    context = await launchProfile(profile, { viewport: { width: 1280, height: 800 } });
    page = context.pages()[0] ?? await context.newPage();
    watchProblems(page, problems);
    await load(page, site.url);
    await listen(page);
    await checkBack('after a restart');
    assert.deepEqual(problems, []);
  });

test('a large opened recording is kept as Save writes it, in CR LF lines', async (t) => {
  const { context, page, problems } = await freshPage();
  t.after(() => context.close());
  // About 1 MiB: the audio thread hands the page the kept form in several pieces. LF line ends
  // and none after the last line, which the kept form ends in CR LF.
  const lines = [];
  for (let i = 0, bytes = 0; bytes < 1024 * 1024; i++) {
    lines.push(`${i % 241};${(7 * i) % 201};${i % 5 === 4 ? 1 : 0};${i}`);
    bytes += lines.at(-1).length + 1;
  }
  const file = path.join(scratch, 'large-lf.sav');
  writeFileSync(file, lines.join('\n'));
  await openFile(page, file);
  await keptSettled(page);
  await page.reload();
  await page.waitForFunction(() => window.doodleChorus?.ready === true);
  const expected = Buffer.from(lines.map((line) => `${line}\r\n`).join(''));
  assert.ok((await savedRecording(page)).equals(expected), 'the kept recording, after a reload');
  assert.deepEqual(problems, []);
});

test('a recording too large to keep plays, and the page says it will not be kept', async (t) => {
  const { context, page, problems } = await freshPage();
  t.after(() => context.close());
  await page.getByRole('radio', { name: 'Minor' }).check();
  // Lines whose fifth field (ignored by the program) is random: 10 MiB that deflate cannot
  // shrink below the browser's storage (5 M characters in chromium). The first line is a
  // recording line as the program writes them, so the file is not refused as having none.
  const lines = ['0;0;0;0\r\n'];
  let bytes = lines[0].length;
  for (let i = 0; bytes < 10 * 1024 * 1024; i++) {
    const noise = Math.floor(Math.random() * 1e15);
    const line = `${i % 241};${(7 * i) % 201};0;${i};${noise}\r\n`;
    lines.push(line);
    bytes += line.length;
  }
  const big = path.join(scratch, 'big.sav');
  writeFileSync(big, lines.join(''));
  await openFile(page, big);
  const message = page.getByRole('dialog', { name: 'DoodleChorus', exact: true });
  await message.waitFor({ timeout: 30_000 });
  assert.match(await message.textContent(), /too large to be kept in this browser. It plays/);
  await dismiss(page, 'DoodleChorus');
  await takeViews(page);
  await page.getByRole('button', { name: 'play' }).click();
  await page.waitForFunction(() => window.heard.views.filter((v) => v.type === 'dot').length > 10);
  await page.getByRole('button', { name: 'playing' }).click();
  await keptSettled(page);
  await page.reload();
  await page.waitForFunction(() => window.doodleChorus?.ready === true);
  assert.equal((await settingsShownAs(page, { scale: 'minorOption' })).scale, 'minorOption',
    'the settings are kept');
  await menu(page, 'File', 'Save');
  await page.getByRole('dialog', { name: 'Informer' }).waitFor();
  await dismiss(page, 'Informer');
  assert.deepEqual(problems, []);
});

// A recording as a hand draws for `seconds`: strokes of two to four seconds along a wavy path,
// a point every minStepMs to minStepMs + stepSpreadMs - 1 ms (a pointer's events, as the sample
// clock stamps them), a short pause between strokes.
function handDrawing(seconds, minStepMs = 14, stepSpreadMs = 7) {
  const lines = [];
  let random = 7;
  const next = () => {
    random = (random * 1103515245 + 12345) % 2147483648;
    return random / 2147483648;
  };
  const lastMs = seconds * 1000;
  let ms = 0;
  for (let stroke = 0; ms < lastMs; stroke++) {
    const endMs = ms + 2000 + 2000 * next();
    let x = 0;
    let y = 0;
    for (; ms < endMs && ms < lastMs; ms += minStepMs + Math.floor(stepSpreadMs * next())) {
      x = Math.round(120 + 110 * Math.sin(ms / 900 + stroke));
      y = Math.round(100 + 90 * Math.sin(ms / 530 + 2 * stroke));
      lines.push(`${x};${y};0;${ms}`);
    }
    lines.push(`${x};${y};1;${ms}`);
    ms += 300 + Math.floor(400 * next());
  }
  return `${lines.join('\r\n')}\r\n`;
}
const thirtySecondDrawing = () => handDrawing(30);
// 30 seconds at 60 events a second while drawing: a point every 14 to 19 ms, 16.5 on average.
const sixtyPerSecondDrawing = () => handDrawing(30, 14, 6);

// The drawings whose links are measured, by file name.
function drawingFiles() {
  const drawings = {
    'ten-seconds.sav': handDrawing(10),
    'thirty-seconds.sav': thirtySecondDrawing(),
    'sixty-seconds.sav': handDrawing(60),
    'thirty-seconds-60-per-second.sav': sixtyPerSecondDrawing(),
  };
  return Object.entries(drawings).map(([name, text]) => {
    const file = path.join(scratch, name);
    writeFileSync(file, text);
    return file;
  });
}

// A link's length goal, if it has one: examples and 30-second drawings.
function linkGoal(file) {
  if (examples.includes(file)) return kMaxExampleLinkChars;
  return path.basename(file).startsWith('thirty-seconds') ? kMaxThirtySecondLinkChars : null;
}

function lineCount(bytes) {
  return bytes.toString('latin1').split('\r\n').length - 1;
}

// The link File > Copy link gives, from the clipboard and its dialog.
async function copiedLink(page) {
  await menu(page, 'File', 'Copy link');
  const dialog = page.getByRole('dialog', { name: 'Link to your recording' });
  await dialog.waitFor();
  const link = await page.locator('#link-url').inputValue();
  assert.equal(await page.evaluate(() => navigator.clipboard.readText()), link);
  assert.match(await page.locator('#link-status').textContent(), /on the clipboard/);
  await dialog.getByRole('button', { name: 'Close' }).click();
  return link;
}

test('a copied link opens the same recording, with its settings, in another browser',
  async (t) => {
    const source = await freshPage({ clipboard: true });
    t.after(() => source.context.close());
    const settings = { scale: 'Pentatonic', root: 'A#', speedTenths: 32, voice: 'Type 2',
      tuning: 'Concert', grid: true };
    await chooseSettings(source.page, settings);
    await source.page.getByRole('button', { name: 'record' }).click();
    await drag(source.page, [[30, 170], [90, 110], [150, 60], [210, 20]]);
    await source.page.getByRole('button', { name: 'recording' }).click();
    const saved = await savedRecording(source.page);
    const midi = await downloaded(source.page, () => menu(source.page, 'File', 'Export as MIDI\u2026'));
    const link = await copiedLink(source.page);
    assert.ok(link.startsWith(`${site.url}#`), link);

    const other = await freshPage();
    t.after(() => other.context.close());
    // A new load, as another browser opens it: going from the page to its own address with a
    // fragment would only change the hash, and the test would read the page before it took it.
    await other.page.goto('about:blank');
    await other.page.goto(link);
    await other.page.waitForFunction(() => window.doodleChorus?.ready === true);
    assert.equal(await other.page.evaluate(() => location.hash), '', 'the link is taken off');
    const sourceSettings = await shownSettings(source.page);
    assert.deepEqual(await settingsShownAs(other.page, sourceSettings), sourceSettings);
    assert.ok(await inkPixels(other.page) > 0, 'its dots are shown at once');
    assert.ok((await savedRecording(other.page)).equals(saved), 'Save gives the same bytes');
    assert.ok((await downloaded(other.page, () => menu(other.page, 'File', 'Export as MIDI\u2026')))
      .equals(midi), 'and it plays with the same settings');

    assert.match(new URL(link).hash, /^#dc=2&r=[\w-]+&s=\d+$/, 'the compact form');

    // The examples and drawings of 10 to 60 seconds, each through a link and back; an
    // example's link and a 30-second drawing's are within their goals. The first link's drawing
    // is kept in the other browser: each link after it asks first.
    for (const file of [...examples, ...drawingFiles()]) {
      await openFile(source.page, file);
      const bytes = await savedRecording(source.page);
      const fileLink = await copiedLink(source.page);
      assert.match(new URL(fileLink).hash, /^#dc=2&/, path.basename(file));
      // The browser's raw deflate is zlib's: it inflates here as doodlechorus-render's does in
      // the page (the compact form starts with its layout byte, four flags).
      const r = new URLSearchParams(new URL(fileLink).hash.slice(1)).get('r');
      assert.ok(inflateRawSync(Buffer.from(r, 'base64url'))[0] < 16, path.basename(file));
      await visit(other.page, fileLink);
      await answerLink(other.page, 'Open the shared drawing');
      assert.ok((await savedRecording(other.page)).equals(bytes), path.basename(file));
      const fragment = fileLink.length - site.url.length - 1;
      console.log(`${path.basename(file)} (${bytes.length} bytes, ${lineCount(bytes)} lines): `
        + `the link is ${fileLink.length} characters, its fragment ${fragment}`);
      const goal = linkGoal(file);
      if (goal !== null) assert.ok(fileLink.length <= goal, `${path.basename(file)}: ${goal}`);
    }
    assert.deepEqual([...source.problems, ...other.problems], []);
  });

// A link of the older form, as the page made them before the compact one: the recording in the
// zlib format.
function olderLink(bytes, settings) {
  const rec = bytes.length === 0 ? '' : deflateSync(bytes).toString('base64url');
  return `${site.url}#dc=1&rec=${rec}&${settings}`;
}

test('links made by doodlechorus-render and older links open the same recording and settings',
  async (t) => {
    const { context, page, problems } = await freshPage();
    t.after(() => context.close());
    const settings = { scale: 'majorOption', root: 'D', speed: '25', speedText: '2.5×',
      grid: false, voice: 'Type 2', tuning: 'Concert' };
    const drawings = drawingFiles();
    // The first link's drawing is kept: each link of another recording after it asks first.
    for (const [index, file] of [...examples, drawings[1]].entries()) {
      const link = execFileSync(renderTool, ['--link', site.url, '--scale', 'major', '--root',
        'D', '--voice', '2', '--speed', '2.5', '--tuning', 'concert', file],
      { encoding: 'latin1' }).trimEnd();
      assert.match(link, /^http:[^#]*#dc=2&r=[\w-]+&s=\d+$/);
      await visit(page, link);
      if (index === 0) await startedWithoutQuestion(page, 'nothing kept yet');
      else await answerLink(page, 'Open the shared drawing');
      assert.deepEqual(await settingsShownAs(page, settings), settings, path.basename(file));
      const bytes = readFileSync(file);
      assert.ok((await savedRecording(page)).equals(bytes), path.basename(file));
      console.log(`${path.basename(file)} (${bytes.length} bytes, ${lineCount(bytes)} lines): `
        + `the tool's link is ${link.length} characters`);
      const goal = linkGoal(file);
      if (goal !== null) assert.ok(link.length <= goal, `${path.basename(file)}: ${goal}`);
    }

    // A recording with lines of another form: the tool makes the older link, which opens.
    const other = path.join(scratch, 'other.sav');
    writeFileSync(other, '10;20;0;0\r\n12.5;21;0;30\r\n40;50;1;60\r\n');
    const otherLink = execFileSync(renderTool, ['-q', '--link', site.url, other],
      { encoding: 'latin1' }).trimEnd();
    assert.match(otherLink, /#dc=1&rec=/);
    await visit(page, otherLink);
    await answerLink(page, 'Open the shared drawing');
    assert.ok((await savedRecording(page)).equals(readFileSync(other)));

    // A link the page made before the compact form opens as it always did.
    // It holds the kept recording: opened without a question.
    const example = readFileSync(examples[0]);
    await visit(page, olderLink(example, 'scale=minor&root=9&voice=1&speed=12&grid=1'));
    await startedWithoutQuestion(page, 'the kept recording');
    // Made before there was a choice of tuning: Classic, after the Concert links above.
    const olderSettings = { scale: 'minorOption', root: 'A', speed: '12', speedText: '1.2×',
      grid: true, voice: 'Type 1', tuning: 'Classic' };
    assert.deepEqual(await settingsShownAs(page, olderSettings), olderSettings);
    assert.ok((await savedRecording(page)).equals(example));
    assert.deepEqual(problems, []);
  });

test('a damaged or oversized link is refused with a message and the drawing stays',
  async (t) => {
    const { context, page, problems } = await freshPage({ clipboard: true });
    t.after(() => context.close());
    await page.getByRole('button', { name: 'record' }).click();
    await drag(page, [[40, 40], [80, 90]]);
    await page.getByRole('button', { name: 'recording' }).click();
    const saved = await savedRecording(page);
    const link = await copiedLink(page);
    await keptSettled(page);
    const refused = async (url, why) => {
      await page.goto('about:blank');
      await page.goto(url);
      const message = page.getByRole('dialog', { name: 'DoodleChorus', exact: true });
      await message.waitFor();
      assert.match(await message.textContent(), why);
      await dismiss(page, 'DoodleChorus');
      assert.ok((await savedRecording(page)).equals(saved), `the drawing stays: ${url}`);
    };
    const changedAt = (text, at) => `${text.slice(0, at)}${text[at] === 'A' ? 'B' : 'A'}`
      + `${text.slice(at + 1)}`;
    // Cut short as a messenger might cut it, one character changed anywhere in the recording,
    // settings out of range or missing.
    const r = link.indexOf('&r=') + 3;
    const rEnd = link.indexOf('&s=');
    await refused(link.slice(0, rEnd - 5), /does not hold a recording/);
    await refused(link.slice(0, rEnd), /does not hold a recording/);
    await refused(link.replace(/r=([^&]*)/, (whole, rec) => `r=${rec.slice(0, rec.length / 2)}`),
      /does not hold a recording/);
    // Not the last three characters: they may hold only the bits that base64 pads with and
    // those deflate leaves unread after the end of its last block.
    for (let at = r; at < rEnd - 3; at += Math.max(1, Math.floor((rEnd - r - 3) / 6))) {
      await refused(changedAt(link, at), /does not hold a recording/);
    }
    // One past the last settings: 2 tunings * 4 scale modes * 12 roots * 2 voices * 2 * 41 speeds.
    await refused(link.replace(/s=\d+/, 's=15744'), /does not hold a recording/);
    await refused(link.replace(/s=\d+/, 's=-1'), /does not hold a recording/);
    // The older form, damaged: a checksum that fails, a value out of range.
    const older = olderLink(saved, 'scale=major&root=2&voice=1&speed=15&grid=1');
    const rec = older.indexOf('rec=') + 10;
    await refused(changedAt(older, rec), /does not hold a recording/);
    await refused(older.replace('voice=1', 'voice=7'), /does not hold a recording/);
    await refused(`${older}&tuning=baroque`, /does not hold a recording/);
    // More than the page can open, though the link is short: in the older form, and in the
    // compact one (two million lines of zeros, 18 MB as a file).
    const huge = deflateSync(Buffer.alloc(kMaxRecordingBytes + 1, '1;2;0;3\r\n'));
    const hugeLink = olderLink(Buffer.alloc(0), 'scale=major&root=2&voice=1&speed=15&grid=1')
      .replace(/rec=[^&]*/, `rec=${huge.toString('base64url')}`);
    await refused(hugeLink, /larger than the 16 MiB/);
    const lines = 2_000_000;
    const compact = Buffer.alloc(5 + 4 * lines + 2);
    compact.set([0, 0x80 | (lines & 0x7F), 0x80 | ((lines >> 7) & 0x7F), lines >> 14, 0]);
    await refused(`${site.url}#dc=2&r=${deflateRawSync(compact).toString('base64url')}&s=0`,
      /larger than the 16 MiB/);
    // Opened in the page as it runs (pasted into the address bar): refused all the same.
    await page.evaluate((fragment) => { location.hash = fragment; }, new URL(hugeLink).hash);
    await page.getByRole('dialog', { name: 'DoodleChorus', exact: true }).waitFor();
    await dismiss(page, 'DoodleChorus');
    assert.ok((await savedRecording(page)).equals(saved));
    assert.deepEqual(problems, []);
  });

// The drawing someone shares: an example opened in another browser, as its link.
let sharedOnce = null;
async function sharedDrawing() {
  if (sharedOnce === null) {
    const sharer = await freshPage({ clipboard: true });
    await openFile(sharer.page, examples[0]);
    const bytes = await savedRecording(sharer.page);
    const link = await copiedLink(sharer.page);
    assert.deepEqual(sharer.problems, []);
    await sharer.context.close();
    sharedOnce = { bytes, link };
  }
  return sharedOnce;
}

// A recorded drawing of the person's own, kept: its saved bytes and what the browser keeps.
async function recordOwnDrawing(page) {
  await page.getByRole('button', { name: 'record' }).click();
  await drag(page, [[30, 40], [90, 120], [150, 60]]);
  await page.getByRole('button', { name: 'recording' }).click();
  return { bytes: await savedRecording(page), kept: await keptSettled(page) };
}

const keptNow = (page) => page.evaluate((key) => localStorage.getItem(key), kStorageKey);

test('a link over a kept drawing asks first; the kept drawing stays until the shared one is '
  + 'changed, and whoever opens a recording is invited to play it', async (t) => {
  const shared = await sharedDrawing();
  const { context, page, problems } = await freshPage();
  t.after(() => context.close());
  const mine = await recordOwnDrawing(page);

  // Keep mine: the question shows over the person's own drawing, and nothing changes.
  await visit(page, shared.link);
  await linkQuestion(page).waitFor();
  assert.equal(await page.evaluate(() => document.activeElement.closest('dialog')?.id), 'shared',
    'the question has the focus');
  await page.addScriptTag({ path: require.resolve('axe-core') });
  const violations = (await page.evaluate(() => window.axe.run())).violations;
  assert.deepEqual(violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(' ')}`), []);
  await answerLink(page, 'Keep mine');
  assert.ok((await savedRecording(page)).equals(mine.bytes), 'Keep mine: Save gives mine');
  assert.equal(await keptNow(page), mine.kept, 'Keep mine keeps the kept drawing as it was');
  assert.equal(await page.evaluate(() => location.hash), '', 'the link is taken off');
  await page.reload();
  await startedWithoutQuestion(page, 'after a reload the link is not asked about again');
  assert.ok((await savedRecording(page)).equals(mine.bytes), 'after a reload');

  // Escape keeps mine too.
  await visit(page, shared.link);
  await linkQuestion(page).waitFor();
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => window.doodleChorus?.ready === true);
  await listen(page);
  assert.ok((await savedRecording(page)).equals(mine.bytes), 'Escape: Save gives mine');

  // Pasted into the address bar of the running page: the same question.
  await page.evaluate((hash) => { location.hash = hash; }, new URL(shared.link).hash);
  await linkQuestion(page).getByRole('button', { name: 'Keep mine', exact: true }).click();
  assert.ok((await savedRecording(page)).equals(mine.bytes), 'pasted, Keep mine: Save gives mine');
  assert.equal(await page.evaluate(() => location.hash), '', 'the link is taken off');
  assert.equal(await keptNow(page), mine.kept);

  // The shared drawing, opened: shown and saved as shared, invited to play, and not kept.
  await visit(page, shared.link);
  await answerLink(page, 'Open the shared drawing');
  const hint = page.locator('#play-hint');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'play',
    'play has the focus, described by the invitation');
  assert.ok(await hint.isVisible(), 'the invitation is shown');
  assert.equal(await hint.textContent(), 'Press play to hear it.');
  assert.ok((await savedRecording(page)).equals(shared.bytes), 'Save gives the shared drawing');
  assert.equal(await keptNow(page), mine.kept, 'the kept drawing stays as it was');
  // A reload asks again, and keeping mine brings it back byte for byte.
  await page.reload();
  await answerLink(page, 'Keep mine');
  assert.ok((await savedRecording(page)).equals(mine.bytes), 'after a reload, Save gives mine');

  // Played with the keyboard from the focus it is given: the invitation goes.
  await visit(page, shared.link);
  await answerLink(page, 'Open the shared drawing');
  await takeViews(page);
  await page.keyboard.press('Space');
  await page.getByRole('button', { name: 'playing' }).waitFor();
  assert.ok(await hint.isHidden(), 'no invitation once it plays');
  await page.waitForFunction(() => window.heard.views.some((v) => v.type === 'dot'));
  await page.getByRole('button', { name: 'playing' }).click();
  assert.equal(await keptNow(page), mine.kept, 'playing changes nothing kept');

  // A stroke drawn on the shared drawing makes it the person's: it is kept, and a reload shows
  // it without a question.
  await drag(page, [[200, 20], [210, 30]]);
  await page.waitForFunction(([key, before]) => localStorage.getItem(key) !== before,
    [kStorageKey, mine.kept]);
  assert.equal(await page.evaluate(() => location.hash), '', 'the link is taken off');
  await keptSettled(page);
  await page.reload();
  await startedWithoutQuestion(page, 'the changed shared drawing is the kept one');
  assert.ok((await savedRecording(page)).equals(shared.bytes));
  assert.deepEqual(problems, []);
});

test('with two tabs, a link opened in one never takes the place of what the other keeps',
  async (t) => {
    const shared = await sharedDrawing();
    const context = await browser.newContext({ viewport: { width: 1280, height: 800 },
      acceptDownloads: true });
    t.after(() => context.close());
    const tabA = await context.newPage();
    const problems = watchProblems(tabA);
    await load(tabA, site.url);
    await listen(tabA);
    const mine = await recordOwnDrawing(tabA);

    const tabB = await context.newPage();
    watchProblems(tabB, problems);
    await visit(tabB, shared.link);
    await answerLink(tabB, 'Keep mine');
    assert.ok((await savedRecording(tabB)).equals(mine.bytes), 'B, keeping mine, shows mine');
    assert.equal(await keptNow(tabA), mine.kept, 'Keep mine in B changes nothing kept');

    await visit(tabB, shared.link);
    await answerLink(tabB, 'Open the shared drawing');
    assert.ok((await savedRecording(tabB)).equals(shared.bytes), 'B shows the shared drawing');
    assert.equal(await keptNow(tabA), mine.kept, 'the shared drawing in B is not kept');
    assert.ok((await savedRecording(tabA)).equals(mine.bytes), 'A still saves mine');

    // A third tab, as the browser started again: the kept drawing is the person's own.
    const tabC = await context.newPage();
    watchProblems(tabC, problems);
    await load(tabC, site.url);
    await listen(tabC);
    assert.ok((await savedRecording(tabC)).equals(mine.bytes), 'a new tab saves mine');
    assert.deepEqual(problems, []);
  });

test('on a slow machine and network the prompt invites a press once it sings, and that press '
  + 'sings',
  async (t) => {
    const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
    t.after(() => context.close());
    const page = await context.newPage();
    const problems = watchProblems(page);
    const cdp = await context.newCDPSession(page);
    await cdp.send('Network.enable');
    await cdp.send('Emulation.setCPUThrottlingRate', { rate: 4 });
    await cdp.send('Network.emulateNetworkConditions', { offline: false, latency: 150,
      downloadThroughput: 200_000, uploadThroughput: 100_000 });
    await page.goto(site.url, { waitUntil: 'commit' });
    // Until the page takes a press, its prompt says it is getting ready.
    await page.waitForFunction(() => document.querySelector('#prompt')?.textContent
      === 'Press and drag to sing', null, { timeout: 60_000 });
    // The page takes a press when its prompt invites one: its view and sound can be listened
    // to at once, before the press.
    assert.equal(await page.evaluate(() => window.doodleChorus?.ready), true,
      'the page is ready when the prompt shows');
    await listen(page);
    // Pressed as soon as the prompt invites it, before the sound has started.
    const at = await areaPixel(page, 100, 80);
    await page.mouse.move(at.x, at.y);
    await page.mouse.down();
    await page.waitForFunction(() => window.heard.views.some((v) => v.type === 'dot'), null,
      { timeout: 60_000 });
    const dot = (await takeViews(page)).find((v) => v.type === 'dot');
    assert.deepEqual([dot.x, dot.y], [100, 80], 'the press is drawn where it was made');
    const samples = await tappedSamples(page, dot.frame, 4096);
    await page.mouse.up();
    assert.ok(Math.max(...samples.map(Math.abs)) > 0.01, 'the early press sings');
    assert.deepEqual(problems, []);
  });
