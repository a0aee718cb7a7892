// The worklet sings what is drawn, at the maps' pitch, and plays a recording back on the
// sample clock exactly where the recording's times put it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { pageForTests, takeViews, tappedSamples, areaPixel, measurePitch, menu }
  from './harness.mjs';

const kSampleRate = 44100;
const kGlideAndFadeInFrames = 3000; // the voice's glide (2000) and fade-in (1000) samples
const kMeasureFrames = 6000;

let page;
const session = pageForTests({}, (opened) => {
  page = opened.page;
});

// Presses at drawing-area pixel (x, y), holds still, releases; the frame of its dot.
async function holdAt(x, y, holdMs) {
  await takeViews(page);
  const at = await areaPixel(page, x, y);
  await page.mouse.move(at.x, at.y);
  await page.mouse.down();
  await page.waitForTimeout(holdMs);
  await page.mouse.up();
  const views = await takeViews(page);
  const dot = views.find((v) => v.type === 'dot');
  assert.ok(dot, `no dot for the press at ${x}, ${y}`);
  assert.deepEqual([dot.x, dot.y], [x, y]);
  return { frame: dot.frame, views };
}

// tuning: 0 Classic, 1 Concert.
async function mapPitch(x, scaleMode, rootIndex, tuning = 0) {
  return page.evaluate(([px, mode, root, tune]) => window.doodleChorus.module.mapPitch(px, mode,
    root, tune), [x, scaleMode, rootIndex, tuning]);
}

test('a press in the drawing area sings the pitch the maps give its X', async () => {
  // Unrestricted: left, middle and right of the area; then a major scale on D.
  const cases = [
    { x: 12, y: 40, scale: 0, root: 0 },
    { x: 120, y: 100, scale: 0, root: 0 },
    { x: 231, y: 180, scale: 0, root: 0 },
  ];
  for (const { x, y, scale, root } of cases) {
    const { frame } = await holdAt(x, y, 400);
    const samples = await tappedSamples(page, frame + kGlideAndFadeInFrames, kMeasureFrames);
    const expected = await mapPitch(x, scale, root);
    const measured = measurePitch(samples, kSampleRate);
    if (process.env.DC_VERBOSE) console.log(`x = ${x}: ${measured} Hz, map ${expected} Hz`);
    assert.ok(Math.abs(measured / expected - 1) < 0.01,
      `x = ${x}: sang ${measured.toFixed(2)} Hz, the map gives ${expected.toFixed(2)} Hz`);
  }
  await page.getByRole('radio', { name: 'Major' }).check();
  await page.getByRole('combobox', { name: 'Root note' }).selectOption('D');
  const { frame, views } = await holdAt(75, 60, 400);
  const expected = await mapPitch(75, 1, 2);
  const measured = measurePitch(
    await tappedSamples(page, frame + kGlideAndFadeInFrames, kMeasureFrames), kSampleRate);
  assert.ok(Math.abs(measured / expected - 1) < 0.01,
    `Major on D, x = 75: sang ${measured.toFixed(2)} Hz, the map gives ${expected.toFixed(2)} Hz`);
  // The note label showed the point's note while it sounded, and is empty after the release.
  const notes = views.filter((v) => v.type === 'note').map((v) => v.name);
  assert.equal(notes.at(-1), '');
  assert.match(notes[0], /^[A-G]#?$/);
  assert.equal(await page.getByRole('status', { name: 'Current note' }).textContent(), '');

  // Voice > Tuning > Concert: the same point sings its note at concert pitch, a major third
  // above Classic's; the menu shows what the program took.
  await menu(page, 'Voice', 'Concert');
  await page.waitForFunction(() => document.querySelector('[data-command="tuning-concert"]')
    .getAttribute('aria-checked') === 'true');
  const concert = await holdAt(75, 60, 400);
  const concertExpected = await mapPitch(75, 1, 2, 1);
  // Classic's C lies 0.03 cents above the concert A-flat a major third below: 2e-5 apart.
  assert.ok(Math.abs(concertExpected / expected / 2 ** (4 / 12) - 1) < 1e-4);
  const concertMeasured = measurePitch(
    await tappedSamples(page, concert.frame + kGlideAndFadeInFrames, kMeasureFrames), kSampleRate);
  assert.ok(Math.abs(concertMeasured / concertExpected - 1) < 0.01,
    `Concert, Major on D, x = 75: sang ${concertMeasured.toFixed(2)} Hz, the map gives `
    + `${concertExpected.toFixed(2)} Hz`);
  await menu(page, 'Voice', 'Classic');
  await page.getByRole('radio', { name: 'Unrestricted' }).check();
});

test('a press high on the pitch scale stays within full scale', async () => {
  // Voice type 1 peaks at 1.09 there; the worklet's output bends it below 1.0.
  const { frame } = await holdAt(228, 60, 500);
  const samples = await tappedSamples(page, frame, 0.4 * kSampleRate);
  const peak = samples.reduce((largest, sample) => Math.max(largest, Math.abs(sample)), 0);
  assert.ok(peak <= 1.0, `the voice peaks at ${peak}`);
  assert.ok(peak > 0.9, `the press was not heard at its full level: ${peak}`);
});

test('a release silences the voice within its fade-out', async () => {
  const { views } = await holdAt(100, 100, 300);
  const dotAt = views.findIndex((v) => v.type === 'dot');
  const release = views.slice(dotAt).find((v) => v.type === 'note' && v.name === '');
  const after = await tappedSamples(page, release.frame + 4000 + 128, 4096);
  assert.equal(Math.max(...after.map(Math.abs)), 0);
});

function msOf(frame) {
  return Math.floor((frame * 1000) / kSampleRate);
}

// Nearest whole number, halves to even, as the player rounds a line's time.
function roundHalfEven(value) {
  const whole = Math.floor(value);
  const fraction = value - whole;
  if (fraction > 0.5 || (fraction === 0.5 && whole % 2 !== 0)) return whole + 1;
  return whole;
}

test('a recording plays back on the sample clock at the times it was recorded', async () => {
  await page.getByRole('button', { name: 'clear' }).click();
  await takeViews(page);
  await page.getByRole('button', { name: 'record' }).click();
  const path = [[30, 50], [60, 70], [90, 90], [140, 60], [200, 150]];
  let at = await areaPixel(page, ...path[0]);
  await page.mouse.move(at.x, at.y);
  await page.mouse.down();
  for (const point of path.slice(1)) {
    await page.waitForTimeout(40);
    at = await areaPixel(page, ...point);
    await page.mouse.move(at.x, at.y);
  }
  await page.waitForTimeout(40);
  await page.mouse.up();
  await page.waitForTimeout(100);
  await page.getByRole('button', { name: 'recording' }).click();
  await page.waitForTimeout(100);
  const recorded = await takeViews(page);
  const start = recorded.find((v) => v.type === 'state' && v.control === 'recording'
    && v.value === 1);
  const dots = recorded.filter((v) => v.type === 'dot');
  const release = recorded.findLast((v) => v.type === 'note' && v.name === '');

  // The recording's lines, as Save writes them.
  const download = page.waitForEvent('download');
  await page.getByRole('menuitem', { name: 'File' }).click();
  await page.getByRole('menuitem', { name: 'Save' }).click();
  const saved = await (await download).path();
  const { readFileSync } = await import('node:fs');
  const lines = readFileSync(saved, 'latin1').split('\r\n').filter((l) => l !== '')
    .map((l) => l.split(';').map(Number));
  assert.equal(lines.length, dots.length + 1, 'one line per point and one for the release');
  // Each line's time is the sample clock's milliseconds since the record toggle went down.
  const heardTimes = [...dots.map((d) => msOf(d.frame) - msOf(start.frame)),
    msOf(release.frame) - msOf(start.frame)];
  assert.deepEqual(lines.map((l) => l[3]), heardTimes);
  assert.deepEqual(lines.slice(0, -1).map((l) => [l[0], l[1]]), dots.map((d) => [d.x, d.y]));

  // Played at 2.0×: tick k comes just before sample (play frame + floor(k × 44.1)), and a
  // line plays on the first tick past its time / speed, one line per tick.
  const speed = page.getByRole('slider', { name: 'Playback speed' });
  await speed.fill('20');
  await page.getByRole('button', { name: 'play' }).click();
  await page.waitForFunction(() => document.querySelector('#play').textContent === 'play'
    && window.heard.views.some((v) => v.type === 'state' && v.control === 'playing'
      && v.value === 0), null, { timeout: 10_000 });
  const played = await takeViews(page);
  const playStart = played.find((v) => v.type === 'state' && v.control === 'playing'
    && v.value === 1);
  const playedDots = played.filter((v) => v.type === 'dot');
  let tick = 0;
  const expectedFrames = [];
  for (const [, , released, timeMs] of lines) {
    tick = Math.max(tick + 1, roundHalfEven(timeMs / 2.0) + 1);
    if (!released) expectedFrames.push(playStart.frame + Math.floor((tick * kSampleRate) / 1000));
  }
  assert.deepEqual(playedDots.map((d) => d.frame), expectedFrames);
  assert.deepEqual(playedDots.map((d) => [d.x, d.y]), dots.map((d) => [d.x, d.y]));
  const stop = played.find((v) => v.type === 'state' && v.control === 'playing' && v.value === 0);
  assert.equal(stop.frame, playStart.frame + Math.floor(((tick + 1) * kSampleRate) / 1000));
  await speed.fill('10');
});
