// MIDI through Web MIDI: asked for only from the menu, a keyboard on the chosen input plays
// the voice (and records as a drag does), and the chosen output gets what the MIDI export
// writes, at the sample clock's times. The browser's MIDI is a test MIDIAccess put in before
// the page's scripts: its inputs are played from here, its outputs' send() calls recorded.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  openPage, pageForTests, listen, startSound, takeViews, tappedSamples, measurePitch, menu,
  openFile, downloaded, savedRecording, sourceRoot, wavSamples,
} from './harness.mjs';

const kSampleRate = 44100;
const renderTool = process.env.DC_RENDER_TOOL
  ?? path.join(sourceRoot, 'build/tools/doodlechorus-render');

// Runs in the page before its scripts: navigator.requestMIDIAccess answers with ports this
// test controls, through window.fakeMidi.
function installFakeMidi() {
  const fake = {
    calls: [], // performance.now() of each requestMIDIAccess call
    sent: [], // { port, bytes, timestamp } of each send()
    access: null,
    inputs: new Map(),
    outputs: new Map(),
  };
  const makePort = (type, name) => ({
    id: `${type}-${name}`, name, type, manufacturer: 'test', state: 'connected',
    onmidimessage: null,
    send(bytes, timestamp) {
      fake.sent.push({ port: name, bytes: Array.from(bytes), timestamp });
    },
  });
  fake.connect = (type, name) => {
    const port = makePort(type, name);
    (type === 'input' ? fake.inputs : fake.outputs).set(port.id, port);
    fake.access?.onstatechange?.({ port });
  };
  fake.disconnect = (type, name) => {
    const ports = type === 'input' ? fake.inputs : fake.outputs;
    const port = ports.get(`${type}-${name}`);
    ports.delete(port.id);
    port.state = 'disconnected';
    fake.access?.onstatechange?.({ port });
  };
  // One MIDIMessageEvent on input `name`, stamped now; returns the stamp.
  fake.play = (name, bytes) => {
    const timeStamp = performance.now();
    fake.inputs.get(`input-${name}`).onmidimessage?.({ data: new Uint8Array(bytes), timeStamp });
    return timeStamp;
  };
  Object.defineProperty(Navigator.prototype, 'requestMIDIAccess', {
    configurable: true,
    value() {
      fake.calls.push(performance.now());
      fake.access = { inputs: fake.inputs, outputs: fake.outputs, sysexEnabled: false,
        onstatechange: null };
      return Promise.resolve(fake.access);
    },
  });
  fake.connect('input', 'Test keys');
  fake.connect('output', 'Test synth');
  window.fakeMidi = fake;
}

let page;
pageForTests({ initScript: installFakeMidi }, (opened) => {
  page = opened.page;
});

// The MIDI dialog, from the menu item whatever it is called by now, with its port lists.
async function midiDialog() {
  await page.getByRole('menuitem', { name: 'MIDI', exact: true }).click();
  await page.locator('#midi-item').click();
  const dialog = page.getByRole('dialog', { name: 'MIDI' });
  await dialog.getByRole('combobox', { name: /^Input: / }).waitFor();
  return dialog;
}

const optionsOf = (list) => page.locator(`${list} option`).allTextContents();

test('MIDI is asked for only from its menu item, whose dialog follows the ports', async () => {
  // The page has loaded, the sound runs and the menus open: nothing has asked for MIDI yet.
  await page.getByRole('menuitem', { name: 'File', exact: true }).click();
  await page.keyboard.press('Escape');
  assert.equal(await page.evaluate(() => window.fakeMidi.calls.length), 0);

  const before = await page.evaluate(() => performance.now());
  await menu(page, 'MIDI', 'Connect MIDI\u2026');
  const dialog = page.getByRole('dialog', { name: 'MIDI' });
  await dialog.getByRole('combobox', { name: /^Input: / }).waitFor();
  const calls = await page.evaluate(() => window.fakeMidi.calls);
  assert.equal(calls.length, 1);
  assert.ok(calls[0] >= before);
  assert.deepEqual(await optionsOf('#midi-input'), ['None', 'Test keys']);
  assert.deepEqual(await optionsOf('#midi-output'), ['None', 'Test synth']);

  // Ports that come and go show up and leave; a chosen one that leaves stays named.
  await page.evaluate(() => window.fakeMidi.connect('input', 'Wind controller'));
  assert.deepEqual(await optionsOf('#midi-input'), ['None', 'Test keys', 'Wind controller']);
  await dialog.getByRole('combobox', { name: /^Input: / }).selectOption('Wind controller');
  await page.evaluate(() => window.fakeMidi.disconnect('input', 'Wind controller'));
  assert.deepEqual(await optionsOf('#midi-input'),
    ['None', 'Test keys', 'Wind controller (not connected)']);
  await dialog.getByRole('combobox', { name: /^Input: / }).selectOption('None');
  assert.deepEqual(await optionsOf('#midi-input'), ['None', 'Test keys']);
  await dialog.getByRole('button', { name: 'Close' }).click();
  // Chosen again, the item opens the dialog without asking the browser again.
  assert.match(await page.locator('#midi-item').textContent(), /MIDI ports/);
  await menu(page, 'MIDI', 'MIDI ports\u2026');
  await dialog.getByRole('button', { name: 'Close' }).click();
  assert.equal(await page.evaluate(() => window.fakeMidi.calls.length), 1);

  // The chosen ports are kept in this browser: after a reload, MIDI waits for the menu again
  // and then takes them.
  await midiDialog();
  await page.locator('#midi-input').selectOption('Test keys');
  await page.locator('#midi-output').selectOption('Test synth');
  await page.reload();
  await page.waitForFunction(() => window.doodleChorus?.ready === true);
  await listen(page);
  await startSound(page);
  assert.equal(await page.evaluate(() => window.fakeMidi.calls.length), 0);
  await midiDialog();
  assert.deepEqual([await page.locator('#midi-input').inputValue(),
    await page.locator('#midi-output').inputValue()], ['Test keys', 'Test synth']);
  await page.locator('#midi-input').selectOption('None');
  await page.locator('#midi-output').selectOption('None');
  await dialog.getByRole('button', { name: 'Close' }).click();
});

test('without Web MIDI, or with MIDI refused, the menu item and its dialog say so', async () => {
  for (const [initScript, item, said, itemAfter] of [
    [() => delete Navigator.prototype.requestMIDIAccess, 'MIDI: not in this browser',
      /This browser has no Web MIDI/, /not in this browser/],
    [installFakeMidiRefusing, 'Connect MIDI\u2026', /The browser refused MIDI/, /refused/],
  ]) {
    const session = await openPage({ initScript });
    try {
      const other = session.page;
      await other.getByRole('menuitem', { name: 'MIDI', exact: true }).click();
      await other.getByRole('menuitem', { name: item, exact: true }).click();
      const dialog = other.getByRole('dialog', { name: 'MIDI' });
      await dialog.getByText(said).waitFor();
      assert.ok(!await dialog.getByRole('combobox').first().isVisible());
      await dialog.getByRole('button', { name: 'Close' }).click();
      assert.match(await other.locator('#midi-item').textContent(), itemAfter);
      assert.deepEqual(session.problems, []);
    } finally {
      await session.close();
    }
  }
});

// installFakeMidi, with every requestMIDIAccess refused as a person refusing the prompt.
function installFakeMidiRefusing() {
  Object.defineProperty(Navigator.prototype, 'requestMIDIAccess', {
    configurable: true,
    value: () => Promise.reject(new DOMException('refused', 'NotAllowedError')),
  });
}

// ---- A keyboard plays the voice ----

const kNoteBaseHz = 51.914; // the program's lowest C
const kNoteBaseMidi = 32; // ... as a MIDI note
const kGlideAndFadeInFrames = 3000; // the voice's glide (2000) and fade-in (1000) samples
const kMeasureFrames = 6000;
const kMaxCents = 5;
const kBendCentre = 8192;

const kChannel = 2; // channel 3: the program listens to all 16

function bend(semitones, rangeSemitones) {
  const value = kBendCentre + Math.round((kBendCentre * semitones) / rangeSemitones);
  return [0xe0 | kChannel, value & 0x7f, value >> 7];
}

// A melody: ms from its start, one MIDIMessageEvent's bytes, and the MIDI note sounding after
// it (null: silent). On Major from C, notes 44 (C), 48 (E) and 51 (G) lie on strips.
const kChannelCc = 0xb0 | kChannel;
const kNoteOn = 0x90 | kChannel;
const kNoteOff = 0x80 | kChannel;
const kFifth = bend(7, 12);
const kMelody = [
  // RPN 0: bend range ±12 (running status), the vowel's top row, then the first note.
  [0, [kChannelCc, 101, 0, 100, 0, 6, 12, 38, 0, kChannelCc, 74, 127, kNoteOn, 44, 100], 44],
  [350, [kNoteOn, 48, 90], 48], // held over the first: the newest sounds
  [700, [kNoteOff, 48, 0], 44], // released: back to the one still held
  // A bend of a fifth and the bottom row, with SysEx and a clock byte in between.
  [1050, [0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7, kFifth[0], kFifth[1], 0xf8, kFifth[2],
    kChannelCc, 74, 0], 51],
  [1400, bend(0, 12), 44],
  [1750, [kNoteOn, 44, 0], null], // note on at velocity 0: a note off
];
const kMelodyEndMs = 2000;

// Plays kMelody through the test input; the time stamp of each of its events.
function playMelody() {
  return page.evaluate(async ([melody, endMs]) => {
    const stamps = [];
    const start = performance.now();
    for (const [atMs, bytes] of melody) {
      await new Promise((resolve) => setTimeout(resolve, start + atMs - performance.now()));
      stamps.push(window.fakeMidi.play('Test keys', bytes));
    }
    await new Promise((resolve) => setTimeout(resolve, start + endMs - performance.now()));
    return stamps;
  }, [kMelody.map(([atMs, bytes]) => [atMs, bytes]), kMelodyEndMs]);
}

function centsBetween(measuredHz, expectedHz) {
  return 1200 * Math.log2(measuredHz / expectedHz);
}

// The pitch of each sounding stretch of the melody in `samplesAt(from, count)`, the melody's
// first event being at frame `startFrame`: the largest deviation, cents.
async function melodyDeviation(samplesAt, startFrame, stamps, what) {
  let largest = 0;
  for (const [index, [, , note]] of kMelody.entries()) {
    if (note === null) continue;
    const from = startFrame + Math.round(((stamps[index] - stamps[0]) * kSampleRate) / 1000)
      + kGlideAndFadeInFrames;
    const measured = measurePitch(await samplesAt(from, kMeasureFrames), kSampleRate);
    const expected = kNoteBaseHz * 2 ** ((note - kNoteBaseMidi) / 12);
    const cents = centsBetween(measured, expected);
    if (process.env.DC_VERBOSE) console.log(`${what} ${index}: ${measured} Hz, ${expected} Hz`);
    assert.ok(Math.abs(cents) <= kMaxCents, `${what}, event ${index}: sang ${measured.toFixed(2)} `
      + `Hz for note ${note} (${expected.toFixed(2)} Hz), ${cents.toFixed(1)} cents off`);
    largest = Math.max(largest, Math.abs(cents));
  }
  return largest;
}

let scratch;
before(() => {
  scratch = mkdtempSync(path.join(os.tmpdir(), 'dc-web-midi-'));
});
after(() => {
  rmSync(scratch, { recursive: true, force: true });
});

test('a melody on the MIDI input sings its notes, and records to a file that sings it too',
  async () => {
    const dialog = await midiDialog();
    await page.locator('#midi-input').selectOption('Test keys');
    await dialog.getByRole('button', { name: 'Close' }).click();
    await page.getByRole('radio', { name: 'Major' }).check();
    await page.getByRole('combobox', { name: 'Root note' }).selectOption('C');
    await page.getByRole('button', { name: 'clear' }).click();
    await page.getByRole('button', { name: 'record' }).click();
    await takeViews(page);
    const stamps = await playMelody();
    await page.getByRole('button', { name: 'recording' }).click();
    const views = await takeViews(page);
    const dots = views.filter((v) => v.type === 'dot');
    // A point for each event that leaves a note sounding, at the frame of its time stamp.
    const sounding = kMelody.flatMap(([, , note], i) => (note === null ? [] : [i]));
    assert.equal(dots.length, sounding.length);
    let largestMs = 0;
    for (const [d, i] of sounding.entries()) {
      const ms = ((dots[d].frame - dots[0].frame) * 1000) / kSampleRate;
      largestMs = Math.max(largestMs, Math.abs(ms - (stamps[i] - stamps[0])));
    }
    // At its frame, unless the machine held the message up past the slack the page allows:
    // then the audio thread takes it at its next callback. One callback, as the same context
    // has it here, and one render quantum.
    const callbackMs = await page.evaluate(async (sampleRate) => {
      const context = new AudioContext({ sampleRate, latencyHint: 'interactive' });
      const ms = (context.baseLatency + 128 / sampleRate) * 1000;
      await context.close();
      return ms;
    }, kSampleRate);
    assert.ok(largestMs <= callbackMs,
      `a point came ${largestMs} ms off its event's time (a callback: ${callbackMs} ms)`);
    // CC 74 at 127 is the top row, at 0 the bottom one.
    assert.equal(dots[0].y, 0);
    assert.equal(dots.at(-1).y, await page.evaluate(() => window.doodleChorus.tables
      .areaHeightPx));
    const live = await melodyDeviation((from, count) => tappedSamples(page, from, count),
      dots[0].frame, stamps, 'live');

    // The recording, rendered by the tool as a drawing would be.
    const sav = path.join(scratch, 'melody.sav');
    writeFileSync(sav, await savedRecording(page));
    const firstMs = Number(readFileSync(sav, 'latin1').split('\r\n')[0].split(';')[3]);
    const wav = path.join(scratch, 'melody.wav');
    execFileSync(renderTool, ['--scale', 'major', '--root', 'C', sav, wav]);
    const rendered = wavSamples(readFileSync(wav));
    const saved = await melodyDeviation(
      async (from, count) => Array.from(rendered.subarray(from, from + count)),
      Math.round((firstMs * kSampleRate) / 1000), stamps, 'rendered');
    console.log(`MIDI melody: points within ${largestMs.toFixed(3)} ms of their events' `
      + `times; largest pitch deviation ${live.toFixed(2)} cents live, ${saved.toFixed(2)} `
      + 'cents rendered from its .sav');
  });

// ---- The drawing plays a synthesizer ----

function readVariableLength(bytes, at) {
  let value = 0;
  for (;;) {
    const byte = bytes[at++];
    value = value * 128 + (byte & 0x7f);
    if (!(byte & 0x80)) return [value, at];
  }
}

// The channel messages of a Standard MIDI File's tracks, merged, as { ms, bytes } in time
// order: running status followed, meta and SysEx events skipped, tempo changes applied.
function midiFileMessages(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const division = view.getUint16(12);
  const events = []; // { tick, order, tempo } or { tick, order, bytes }
  let at = 8 + view.getUint32(4);
  let order = 0;
  while (at + 8 <= bytes.length) {
    const end = at + 8 + view.getUint32(at + 4);
    let tick = 0;
    let status = 0;
    at += 8;
    while (at < end) {
      let delta;
      [delta, at] = readVariableLength(bytes, at);
      tick += delta;
      if (bytes[at] === 0xff) {
        const type = bytes[at + 1];
        let length;
        [length, at] = readVariableLength(bytes, at + 2);
        if (type === 0x51) {
          events.push({ tick, order: order++, tempo: (bytes[at] << 16) | (bytes[at + 1] << 8)
            | bytes[at + 2] });
        }
        at += length;
      } else if (bytes[at] === 0xf0 || bytes[at] === 0xf7) {
        let length;
        [length, at] = readVariableLength(bytes, at + 1);
        at += length;
      } else {
        if (bytes[at] & 0x80) status = bytes[at++];
        const dataBytes = (status >> 4) === 0xc || (status >> 4) === 0xd ? 1 : 2;
        events.push({ tick, order: order++, bytes: [status, ...bytes.subarray(at, at + dataBytes)] });
        at += dataBytes;
      }
    }
    at = end;
  }
  events.sort((a, b) => a.tick - b.tick || a.order - b.order);
  const messages = [];
  let tempo = 500000; // µs a quarter note, until a tempo event
  let lastTick = 0;
  let ms = 0;
  for (const event of events) {
    ms += ((event.tick - lastTick) * tempo) / division / 1000;
    lastTick = event.tick;
    if (event.tempo !== undefined) tempo = event.tempo;
    else messages.push({ ms, bytes: event.bytes });
  }
  return messages;
}

// A send() call's bytes as single messages, each with the call's time stamp.
function sentMessages(sent) {
  const messages = [];
  for (const { bytes, timestamp } of sent) {
    const triples = [];
    for (let at = 0; at < bytes.length;) {
      const dataBytes = (bytes[at] >> 4) === 0xc || (bytes[at] >> 4) === 0xd ? 1 : 2;
      triples.push(bytes.slice(at, at + 1 + dataBytes));
      at += 1 + dataBytes;
    }
    for (const message of triples) messages.push({ ms: timestamp, bytes: message });
  }
  return messages;
}

// Plays the opened recording back; what the test output received meanwhile.
async function playBack() {
  const from = await page.evaluate(() => window.fakeMidi.sent.length);
  await takeViews(page);
  await page.getByRole('button', { name: 'play' }).click();
  await page.waitForFunction(() => window.heard.views.some((v) => v.type === 'state'
    && v.control === 'playing' && v.value === 0), null, { timeout: 20_000 });
  return sentMessages(await page.evaluate((start) => window.fakeMidi.sent.slice(start), from));
}

// The pitch sounding (note + bend, semitones; null when no note sounds) and CC 74's value
// after each message of `messages`, bend range ±24.
function soundingStates(messages) {
  let note = null;
  let bendSemitones = 0;
  let vowel = null;
  return messages.map(({ ms, bytes: [status, data1, data2] }) => {
    const kind = status >> 4;
    if (kind === 0x9 && data2 > 0) note = data1;
    else if ((kind === 0x8 || kind === 0x9) && data1 === note) note = null;
    else if (kind === 0xe) bendSemitones = (((data2 << 7) | data1) - kBendCentre) * 24 / 8192;
    else if (kind === 0xb && data1 === 74) vowel = data2;
    return { ms, pitch: note === null ? null : note + bendSemitones, vowel };
  });
}

// The state of `states` (from soundingStates) at time `ms`.
function stateAt(states, ms) {
  let state = { pitch: null, vowel: null };
  for (const s of states) {
    if (s.ms > ms) break;
    state = s;
  }
  return state;
}

// Plays `heard` after `ignored` (each a message's bytes) on the test input and waits for the
// dots: the X of each dot drawn, which the heard note alone would give once.
async function dotsOf(ignored, heard) {
  await takeViews(page);
  await page.evaluate(([first, second]) => {
    window.fakeMidi.play('Test keys', first);
    window.fakeMidi.play('Test keys', second);
  }, [ignored, heard]);
  await page.waitForFunction(() => window.heard.views.some((v) => v.type === 'dot'));
  return (await takeViews(page)).filter((v) => v.type === 'dot').map((v) => v.x);
}

test('the input channel: all but the drums\' by default, or one chosen, kept after a reload',
  async () => {
    const dialog = await midiDialog();
    await page.locator('#midi-input').selectOption('Test keys');
    const channels = dialog.getByRole('combobox', { name: 'Input Channel' });
    assert.equal(await channels.inputValue(), '0', 'all but 10 at first');
    await dialog.getByRole('button', { name: 'Close' }).click();
    await startSound(page);
    // A drum's note on channel 10, then a note on channel 1: only the second draws.
    const all = await dotsOf([0x99, 44, 100], [0x90, 51, 100]);
    await page.evaluate(() => window.fakeMidi.play('Test keys', [0x80, 51, 0]));
    // Channel 2 chosen: channel 1 is not heard.
    await (await midiDialog()).getByRole('combobox', { name: 'Input Channel' })
      .selectOption('Channel 2');
    await page.waitForFunction(() => document.querySelector('#midi-channel').value === '2');
    await page.getByRole('dialog', { name: 'MIDI' }).getByRole('button', { name: 'Close' })
      .click();
    const second = await dotsOf([0x90, 44, 100], [0x91, 51, 100]);
    await page.evaluate(() => window.fakeMidi.play('Test keys', [0x81, 51, 0]));
    assert.ok(all.length > 0 && second.length > 0);
    assert.deepEqual([...new Set([...all, ...second])], [all[0]], 'only the heard note draws');
    // Kept in this browser, and chosen again after a reload.
    await page.reload();
    await page.waitForFunction(() => window.doodleChorus?.ready === true);
    await listen(page);
    const again = await midiDialog();
    assert.equal(await again.getByRole('combobox', { name: 'Input Channel' }).inputValue(), '2');
    await again.getByRole('combobox', { name: 'Input Channel' })
      .selectOption('All except 10 (drums)');
    await again.getByRole('button', { name: 'Close' }).click();
  });

test('the MIDI output plays back what the MIDI export writes, at its times', async () => {
  const dialog = await midiDialog();
  await page.locator('#midi-input').selectOption('None');
  const openingFrom = await page.evaluate(() => window.fakeMidi.sent.length);
  await page.locator('#midi-output').selectOption('Test synth');
  await dialog.getByRole('button', { name: 'Close' }).click();
  await page.waitForFunction((from) => window.fakeMidi.sent.length > from, openingFrom);
  const opening = sentMessages(await page.evaluate((from) => window.fakeMidi.sent.slice(from),
    openingFrom)).map((m) => m.bytes);

  // Played at twice the speed; in Unrestricted, a run that the export's look-ahead writes
  // with other notes than the live output picks.
  await page.getByRole('slider', { name: 'Playback speed' }).fill('20');
  let largestMs = 0;
  let largestCents = 0;
  for (const [scale, example] of [['Minor', 'tune.sav'], ['Unrestricted', 'scale-run.sav']]) {
    await openFile(page, path.join(sourceRoot, 'examples', example));
    await page.getByRole('radio', { name: scale }).check();
    const sent = await playBack();
    const exported = midiFileMessages(await downloaded(page,
      () => menu(page, 'File', 'Export as MIDI\u2026')));
    // The file starts as an output is set up, then plays the recording.
    assert.deepEqual(exported.slice(0, opening.length).map((m) => m.bytes), opening);
    const played = exported.slice(opening.length);
    const align = (messages) => messages.map(({ ms, bytes }) => ({ ms: ms - messages[0].ms,
      bytes }));
    const live = align(sent);
    const file = align(played);
    if (scale !== 'Unrestricted') {
      // The very messages, within a millisecond.
      assert.deepEqual(live.map((m) => m.bytes), file.map((m) => m.bytes), `${scale}: messages`);
      for (const [i, { ms }] of live.entries()) {
        largestMs = Math.max(largestMs, Math.abs(ms - file[i].ms));
        assert.ok(Math.abs(ms - file[i].ms) <= 1, `${scale}: message ${i} at ${ms} ms, the `
          + `file's at ${file[i].ms} ms`);
      }
      continue;
    }
    // Without look-ahead the live notes may split otherwise: the same pitch and vowel sound
    // between every two of the file's moments.
    const liveStates = soundingStates(live);
    const fileStates = soundingStates(file);
    const times = [...new Set(file.map((m) => m.ms))];
    for (const [i, ms] of times.entries()) {
      const middle = i + 1 < times.length ? (ms + times[i + 1]) / 2 : ms + 1;
      const ours = stateAt(liveStates, middle);
      const theirs = stateAt(fileStates, middle);
      assert.equal(ours.vowel, theirs.vowel, `CC 74 at ${middle} ms`);
      assert.equal(ours.pitch === null, theirs.pitch === null, `a note sounds at ${middle} ms`);
      if (ours.pitch === null) continue;
      const cents = 100 * Math.abs(ours.pitch - theirs.pitch);
      largestCents = Math.max(largestCents, cents);
      assert.ok(cents <= 1, `pitch at ${middle} ms: ${ours.pitch} live, ${theirs.pitch} in the `
        + 'file');
    }
  }
  console.log(`MIDI output against the export: times within ${largestMs.toFixed(3)} ms `
    + `(Minor), pitch within ${largestCents.toFixed(2)} cents (Unrestricted)`);
});
