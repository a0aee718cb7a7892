// The bridge between the page and the module, without a browser: the main thread's tables and
// pictures as objects, links' settings and compact form, the worklet's messages (a restore
// through the program's rules, the settings it reports, one paint message a render quantum,
// the snapshot and the export job with the settings as one object) and the worker's reading
// and exporting. The worklet and the worker run their own scripts here, with a fake port.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const site = process.env.DC_WEB_ROOT;
globalThis.window = globalThis; // the module runs where a page or a worker runs it
const wasmModule = await WebAssembly.compile(fs.readFileSync(path.join(site, 'doodlechorus.wasm')));
const { default: create } = await import(pathToFileURL(path.join(site, 'doodlechorus.js')));
const instantiateWasm = (imports, receive) => {
  receive(new WebAssembly.Instance(wasmModule, imports));
  return {};
};
const main = await create({ instantiateWasm });
const t = main.tables();
const sav = new TextEncoder().encode('10;20;0;0\r\n11;21;1;5\r\n'); // x;y;released;ms
const controlStates = ['scaleMode', 'rootIndex', 'speedTenths'];
let exportJob = null; // the worklet's, for the worker

test('the main thread\'s module gives the tables, labels and point layout as objects', () => {
  for (const name of ['maxOpenFileBytes', 'areaWidthPx', 'areaHeightPx', 'noteNames',
    'minSpeedTenths', 'maxSpeedTenths', 'tenthsPerSpeed', 'speedDecimals', 'speedSuffix', 'menus',
    'clearButton', 'unrestrictedOption', 'majorOption', 'minorOption', 'pentatonicOption',
    'menuOpen', 'menuSave', 'menuExportWav', 'menuExportMidi', 'menuType1', 'menuType2',
    'menuAbout', 'menuHelp', 'leftPress', 'move', 'leftRelease', 'leftButtonBit', 'recordUp',
    'recordDown', 'playUp', 'playDown', 'files', 'informerTitle', 'notSavedText', 'notOpenedText',
    'drawPrompt', 'pitchLow', 'pitchTitle', 'pitchHigh', 'inkDotRadiusPx', 'paintFill',
    'paintColumns', 'paintDots']) {
    assert.ok(t[name] !== undefined, name);
  }
  assert.deepEqual(t.pointLayout, { bytes: 16, timeOffset: 0, xOffset: 8, yOffset: 12 });
  assert.deepEqual(t.scaleNames, ['Unrestricted', 'Major', 'Minor', 'Pentatonic']);
  assert.deepEqual(t.labels, { clear: 'clear', grid: 'Grid', scale: 'Scale',
    currentNote: 'Current note', playbackSpeed: 'Playback speed', rootNote: 'Root note',
    drawingArea: 'Drawing area: left to right is pitch, top to bottom is vowel' });
  assert.equal(t.speedSuffix, '\u00d7');
  assert.equal(t.noteNames.length, 12);
  assert.deepEqual(t.menus.map((m) => m.title), ['File', 'Voice', '?']);
  assert.equal(t.menus[0].items[2].caption, 'Export as WAV\u2026');
  assert.deepEqual([t.tuning.title, ...t.tuning.items.map((item) => item.caption)],
    ['Tuning', 'Classic', 'Concert']);
  assert.ok(t.tuning.items.every((item) => item.checkable && typeof item.id === 'number'));
  assert.deepEqual(t.files.wav, { kind: 1, extension: '.wav', filterName: 'WAV sound' });
  const vowels = main.vowelLabels(1);
  assert.ok(vowels.length > 1 && vowels[0].y === 0, JSON.stringify(vowels));
  assert.ok(vowels.every(({ name }) => typeof name === 'string' && name.length > 0));
  const paint = main.canvasPaint(true, 1, new Int32Array([10, 20, 30, 40]));
  assert.ok(paint instanceof Int32Array);
  assert.equal(paint[0], t.paintFill);
  assert.deepEqual([...paint.slice(-5)], [4, 10, 20, 30, 40], 'the ink\'s dots last');
});

test('links carry the settings as one number and the recording in its compact form', () => {
  const settings = { scaleMode: 2, rootIndex: 5, voiceType: 2, speedTenths: 23, grid: true,
    tuning: 0 };
  const number = main.linkSettingsNumber(settings);
  assert.deepEqual(main.linkSettingsOf(number), settings);
  // Concert is the most significant digit: a Classic number (every link made before) is below
  // all of its numbers.
  const concert = main.linkSettingsNumber({ ...settings, tuning: 1 });
  assert.equal(concert, number + 4 * 12 * 2 * 2 * 41);
  assert.deepEqual(main.linkSettingsOf(concert), { ...settings, tuning: 1 });
  assert.equal(main.linkSettingsNumber({ ...settings, tuning: 2 }), -1);
  assert.equal(main.linkSettingsOf(1e6), null);
  assert.equal(main.linkSettingsNumber({ ...settings, rootIndex: 12 }), -1);
  const compact = main.compactRecording(sav, 0);
  assert.ok(compact instanceof Uint8Array);
  assert.equal(main.compactRecording(new TextEncoder().encode('x'), 0), null);
  const back = main.expandRecording(compact, 1000);
  assert.deepEqual([...back.bytes], [...sav]);
  assert.equal(back.problem, '');
  assert.deepEqual(main.expandRecording(compact, 5), { bytes: null, problem: 'tooLarge' });
  assert.deepEqual(main.expandRecording(new Uint8Array([1, 2, 3]), 1000),
    { bytes: null, problem: 'damaged' });
  assert.equal(main.compactLayoutCount(), 4);
});

test('the worklet restores through the program, reports its settings, paints once a quantum',
  async () => {
  const posted = [];
  let processor = null;
  globalThis.currentFrame = 0;
  globalThis.AudioWorkletProcessor = class {
    constructor() {
      this.port = { postMessage: (message) => posted.push(message), onmessage: null };
    }
  };
  globalThis.registerProcessor = (name, Processor) => {
    processor = new Processor({ processorOptions: { wasmModule } });
  };
  await import(pathToFileURL(path.join(site, 'worklet.js')));
  while (!processor.program) await new Promise((resolve) => setTimeout(resolve, 10));
  const send = (message) => processor.port.onmessage({ data: message });
  const out = new Float32Array(128);
  const quantum = () => {
    processor.process([], [[out]]);
    globalThis.currentFrame += 128;
  };
  const states = () => posted.filter((m) => m.type === 'state').map((m) => [m.control, m.value]);
  assert.deepEqual(states().filter(([c]) => controlStates.includes(c)),
    [['scaleMode', 0], ['rootIndex', 0], ['speedTenths', 10]]);
  for (let i = 0; i < 10; i++) quantum(); // the first tick ends the idle playback
  posted.length = 0;
  // Restore: voice, speed, scale, root, grid, ink; the program reports the settings.
  const kept = { scaleMode: 1, rootIndex: 4, voiceType: 2, speedTenths: 30, grid: true,
    tuning: 1 };
  send({ type: 'restore', settings: kept, inkXY: new Int32Array([50, 60, 70, 80]) });
  // Painted at once, in one message: a drawing restored at load shows before the sound runs.
  assert.equal(posted.filter((m) => m.type === 'paint').length, 1, 'one paint for the restore');
  const s1 = Object.fromEntries(states());
  assert.deepEqual([s1.scaleMode, s1.rootIndex, s1.speedTenths, s1.voiceType, s1.gridChecked,
    s1.tuning], [1, 4, 30, 2, 1, 1]);
  quantum();
  const paints = posted.filter((m) => m.type === 'paint');
  assert.equal(paints.length, 1, 'nothing more to paint at the next quantum');
  const [pm] = paints;
  assert.ok(pm.steps instanceof Int32Array && pm.ends instanceof Int32Array);
  assert.ok(pm.frames instanceof Float64Array);
  assert.equal(pm.ends.length, pm.frames.length);
  assert.equal(pm.ends[pm.ends.length - 1], pm.steps.length);
  assert.ok(pm.ends.length >= 2, `paints: ${pm.ends.length}`);
  assert.deepEqual([...pm.steps.slice(-5)], [4, 50, 60, 70, 80], 'the ink last');
  // What the page keeps: the settings as one object, the ink, the recording.
  posted.length = 0;
  send({ type: 'snapshot', withRecording: true });
  const snap = posted.find((m) => m.type === 'snapshot');
  assert.deepEqual(snap.settings, kept);
  assert.deepEqual([...snap.ink], [50, 60, 70, 80]);
  assert.ok(snap.recording instanceof ArrayBuffer);
  // A restore to Unrestricted with Grid: refused; ink null keeps the ink.
  posted.length = 0;
  send({ type: 'restore', settings: { ...kept, scaleMode: 0 }, inkXY: null });
  const s2 = Object.fromEntries(states());
  assert.deepEqual([s2.scaleMode, s2.gridChecked, s2.gridEnabled], [0, 0, 0]);
  send({ type: 'snapshot', withRecording: false });
  assert.deepEqual([...posted.find((m) => m.type === 'snapshot').ink], [50, 60, 70, 80]);
  // A person's choices are reported when they change the settings.
  posted.length = 0;
  send({ type: 'control', id: t.majorOption });
  send({ type: 'root', index: 7 });
  send({ type: 'speed', tenths: 12 });
  assert.deepEqual(states().filter(([c]) => controlStates.includes(c)),
    [['scaleMode', 1], ['rootIndex', 7], ['speedTenths', 12]]);
  // The tuning: the program reports the one chosen, and nothing for the one it holds already.
  posted.length = 0;
  send({ type: 'menu', id: t.tuning.items[0].id });
  send({ type: 'menu', id: t.tuning.items[0].id });
  assert.deepEqual(states().filter(([c]) => c === 'tuning'), [['tuning', 0]]);
  // Drawing: several pointer events between quanta give one paint message.
  posted.length = 0;
  send({ type: 'pointer', action: t.leftPress, x: 100, y: 100, buttons: t.leftButtonBit });
  send({ type: 'pointer', action: t.move, x: 110, y: 100, buttons: t.leftButtonBit });
  send({ type: 'pointer', action: t.leftRelease, x: 110, y: 100, buttons: 0 });
  quantum();
  quantum();
  const drawn = posted.filter((m) => m.type === 'paint');
  assert.equal(drawn.length, 1);
  assert.ok(drawn[0].ends.length >= 2);
  // Export: the settings as one object.
  posted.length = 0;
  send({ type: 'record', down: true });
  send({ type: 'pointer', action: t.leftPress, x: 100, y: 100, buttons: t.leftButtonBit });
  for (let i = 0; i < 5; i++) quantum();
  send({ type: 'pointer', action: t.leftRelease, x: 110, y: 100, buttons: 0 });
  send({ type: 'record', down: false });
  posted.length = 0;
  send({ type: 'menu', id: t.menuExportWav });
  const job = posted.find((m) => m.type === 'export');
  exportJob = job;
  assert.ok(job, JSON.stringify(posted.map((m) => m.type)));
  assert.deepEqual(job.settings,
    { scaleMode: 1, rootIndex: 7, voiceType: 2, speedTenths: 12, grid: false, tuning: 0 });
  assert.equal(job.kind, 1);
  assert.ok(job.text instanceof Uint8Array && job.text.length > 0);
  assert.equal(typeof job.frame, 'number');
  // Save, About and Help reach the page as they did: the file's bytes, the texts.
  posted.length = 0;
  send({ type: 'menu', id: t.menuSave });
  const stored = posted.find((m) => m.type === 'store');
  assert.ok(stored.name.endsWith('.sav') && stored.bytes instanceof Uint8Array, stored.name);
  const savText = new TextDecoder().decode(stored.bytes);
  assert.match(savText, /^100;100;0;0\r\n\d+;100;1;\d+\r\n$/, JSON.stringify(savText));
  send({ type: 'menu', id: t.menuAbout });
  assert.equal(posted.find((m) => m.type === 'message').title, 'About');
});

test('the worker reads recordings as the point layout says, exports with the settings object',
  async () => {
  const answers = [];
  globalThis.postMessage = (message) => answers.push(message);
  globalThis.onmessage = null;
  await import(pathToFileURL(path.join(site, 'worker.js')));
  globalThis.onmessage({ data: { type: 'module', wasmModule } });
  globalThis.onmessage({ data: { type: 'parse', id: 1, bytes: sav.buffer.slice(0) } });
  globalThis.onmessage({ data: { type: 'export', id: 2, kind: 1, text: exportJob.text.buffer,
    settings: exportJob.settings } });
  while (answers.filter((a) => a.type !== 'progress').length < 2) {
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
  const parsed = answers.find((a) => a.id === 1);
  assert.equal(parsed.lines, 2);
  assert.equal(parsed.points.byteLength, 2 * t.pointLayout.bytes);
  const view = new DataView(parsed.points);
  const second = t.pointLayout.bytes;
  assert.equal(view.getInt32(second + t.pointLayout.xOffset, true), 11);
  assert.equal(view.getInt32(second + t.pointLayout.yOffset, true), 21);
  assert.equal(view.getFloat64(second + t.pointLayout.timeOffset, true), 5);
  const exported = answers.find((a) => a.id === 2);
  assert.ok(!exported.failed && exported.file.size > 44, JSON.stringify(exported));
});
