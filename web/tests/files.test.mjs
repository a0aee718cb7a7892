// Open, Save and the exports: the page reads and writes recordings with the core, and its
// exports are the render tool's files for the same recording and controls.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import * as harness from './harness.mjs';
import { pageForTests, takeViews, sourceRoot, wavSamples, compareWavSamples, longDrawing,
  kMaxDifferingSamplesShare } from './harness.mjs';

const renderTool = process.env.DC_RENDER_TOOL
  ?? path.join(sourceRoot, 'build/tools/doodlechorus-render');
const examples = readdirSync(path.join(sourceRoot, 'examples')).filter((f) => f.endsWith('.sav'))
  .sort().map((f) => path.join(sourceRoot, 'examples', f));

let scratch;
before(() => {
  scratch = mkdtempSync(path.join(os.tmpdir(), 'dc-web-files-'));
});
after(() => {
  rmSync(scratch, { recursive: true, force: true });
});
let page;
const session = pageForTests({}, (opened) => {
  page = opened.page;
});

const menu = (title, item) => harness.menu(page, title, item);
const openFile = (file) => harness.openFile(page, file);
const downloaded = (action) => harness.downloaded(page, action);
const savedRecording = () => harness.savedRecording(page);

// The controls as the render tool's options: each example plays with other settings.
const settings = [
  { scale: 'Unrestricted', root: 'C', speedTenths: 10, voice: 'Type 1', tuning: 'Classic' },
  { scale: 'Major', root: 'D', speedTenths: 15, voice: 'Type 2', tuning: 'Concert' },
  { scale: 'Pentatonic', root: 'A#', speedTenths: 32, voice: 'Type 1', tuning: 'Classic' },
  { scale: 'Minor', root: 'F#', speedTenths: 50, voice: 'Type 2', tuning: 'Concert' },
];

async function setControls({ scale, root, speedTenths, voice, tuning }) {
  await page.getByRole('radio', { name: scale }).check();
  if (scale !== 'Unrestricted') {
    await page.getByRole('combobox', { name: 'Root note' }).selectOption(root);
  }
  await page.getByRole('slider', { name: 'Playback speed' }).fill(String(speedTenths));
  await menu('Voice', voice);
  await menu('Voice', tuning);
}

function toolOptions({ scale, root, speedTenths, voice, tuning }) {
  return ['--speed', (speedTenths / 10).toFixed(1), '--voice', voice.at(-1), '--scale',
    scale.toLowerCase(), ...(scale === 'Unrestricted' ? [] : ['--root', root]),
    '--tuning', tuning.toLowerCase()];
}

test('an opened example exports the render tool\'s WAV and MIDI files', async () => {
  let largest = 0;
  for (const [index, example] of examples.entries()) {
    const controls = settings[index % settings.length];
    await setControls(controls);
    await openFile(example);
    // The opened recording is the file's, line for line (Save writes CR LF lines).
    const lines = readFileSync(example, 'latin1').split(/\r\n|\r|\n/).filter((l) => l !== '');
    assert.equal((await savedRecording()).toString('latin1'), lines.map((l) => `${l}\r\n`).join(''));

    const wav = await downloaded(() => menu('File', 'Export as WAV\u2026'));
    const midi = await downloaded(() => menu('File', 'Export as MIDI\u2026'));
    const toolWav = path.join(scratch, `${index}.wav`);
    const toolMidi = path.join(scratch, `${index}.mid`);
    execFileSync(renderTool, [...toolOptions(controls), example, toolWav]);
    execFileSync(renderTool, [...toolOptions(controls), example, toolMidi]);

    const toolWavBytes = readFileSync(toolWav);
    const ours = wavSamples(wav);
    const theirs = wavSamples(toolWavBytes);
    assert.equal(ours.length, theirs.length, `${path.basename(example)}: sample count`);
    // The same format: every byte before the samples is the tool's.
    const headerBytes = toolWavBytes.length - 4 * theirs.length;
    assert.ok(wav.subarray(0, headerBytes).equals(toolWavBytes.subarray(0, headerBytes)),
      `${path.basename(example)}: WAV header differs`);
    // The tool's samples, within the bound README.md states (exports.test.mjs checks it over
    // a matrix of controls).
    const compared = compareWavSamples(ours, theirs);
    assert.equal(compared.firstOutside, -1,
      `${path.basename(example)}: ${JSON.stringify(compared)}`);
    assert.ok(compared.differing <= kMaxDifferingSamplesShare * ours.length,
      `${path.basename(example)}: ${compared.differing} samples differ`);
    largest = Math.max(largest, compared.largestSteps);
    assert.ok(midi.equals(readFileSync(toolMidi)), `${path.basename(example)}: MIDI bytes differ`);
  }
  console.log(`largest WAV sample difference from doodlechorus-render: ${largest} float steps`);
  await setControls(settings[0]);
});

test('a file too large to open is refused with a message and the recording stays', async () => {
  await openFile(examples[0]);
  const before = await savedRecording();
  const maxBytes = await page.evaluate(() => window.doodleChorus.tables.maxOpenFileBytes);
  const huge = path.join(scratch, 'huge.sav');
  writeFileSync(huge, Buffer.alloc(maxBytes + 1, '1;2;0;3\r\n'));
  await takeViews(page);
  await openFile(huge);
  const message = page.getByRole('dialog', { name: 'Informer' });
  await message.waitFor();
  // The program's words, and the page's hint of why beside them.
  assert.equal(await page.locator('#message-text').textContent(),
    'Your DoodleChorus file is not opened!');
  assert.match(await page.locator('#message-hint').textContent(), /huge\.sav" is larger than/);
  await message.getByRole('button', { name: 'OK' }).click();
  assert.ok((await savedRecording()).equals(before));
});

test('Save of an empty recording is refused with the program\'s Informer message', async () => {
  await page.getByRole('button', { name: 'record' }).click();
  await page.getByRole('button', { name: 'recording' }).click();
  let downloads = 0;
  page.on('download', () => downloads++);
  await menu('File', 'Save');
  const message = page.getByRole('dialog', { name: 'Informer' });
  await message.waitFor();
  // The program's words as they are, and the page's hint of why beside them.
  assert.equal(await page.locator('#message-text').textContent(),
    'Your DoodleChorus file is not saved!');
  assert.match(await page.locator('#message-hint').textContent(), /nothing recorded to save yet/);
  await message.getByRole('button', { name: 'OK' }).click();
  await page.waitForTimeout(200); // a download would have started with the message
  assert.equal(downloads, 0);
  // Another message of the program comes without that hint.
  await menu('?', 'About');
  await page.getByRole('dialog', { name: 'About' }).waitFor();
  assert.ok(await page.locator('#message-hint').isHidden());
  await page.getByRole('dialog', { name: 'About' }).getByRole('button', { name: 'OK' }).click();
});

test('Escape during an export cancels it as Cancel does: no file is offered', async () => {
  // An hour of drawing, a point every 40 ms: its WAV export (635 MB, of which no more than the
  // part made before the dismissal is ever in memory) runs long enough to show its progress
  // and be dismissed, on a CPU slowed down six times (the module renders ten minutes in a
  // fraction of a second here, and hands a file over at once).
  const kHourMs = 3_600_000;
  const drawing = longDrawing(kHourMs);
  const long = path.join(scratch, 'an-hour.sav');
  writeFileSync(long, drawing.text);
  // Opened once the program shows its dots: a dot for each line.
  await takeViews(page);
  await openFile(long);
  await page.waitForFunction((count) => window.heard.views.some((view) => view.type === 'canvas'
    && view.inkXY.length === 2 * count), drawing.lines);
  // The files the page offers, in the order it offers them: each download is a link it adds and
  // clicks. (The browser's download events may come in another order: a large file's later.)
  await page.evaluate(() => {
    window.offered = [];
    new MutationObserver((records) => {
      for (const { addedNodes } of records) {
        for (const node of addedNodes) {
          if (node.matches?.('a[download]')) window.offered.push(node.download);
        }
      }
    }).observe(document.body, { childList: true });
  });
  const cdp = await page.context().newCDPSession(page);
  await cdp.send('Emulation.setCPUThrottlingRate', { rate: 6 });
  for (const dismiss of ['Escape', 'Cancel']) {
    await page.evaluate(() => window.offered.splice(0));
    await menu('File', 'Export as WAV\u2026');
    const box = page.getByRole('dialog', { name: 'Exporting' });
    await box.waitFor();
    if (dismiss === 'Escape') await page.keyboard.press('Escape');
    else await box.getByRole('button', { name: 'Cancel' }).click();
    await box.waitFor({ state: 'hidden' });
    // An export asked for after it is made by the next worker; the WAV, had it gone on, would
    // have been offered before it.
    const midi = await downloaded(() => menu('File', 'Export as MIDI\u2026'));
    assert.ok(midi.subarray(0, 4).equals(Buffer.from('MThd')), dismiss);
    assert.deepEqual(await page.evaluate(() => window.offered), ['DoodleChorus.mid'], dismiss);
  }
  await cdp.send('Emulation.setCPUThrottlingRate', { rate: 1 });
  await cdp.detach();
});
