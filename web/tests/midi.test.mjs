// MIDI through Web MIDI: asked for only from the menu, a keyboard on the chosen input plays
// the voice (and records as a drag does), and the chosen output gets what the MIDI export
// writes, at the sample clock's times. The browser's MIDI is a test MIDIAccess put in before
// the page's scripts: its inputs are played from here, its outputs' send() calls recorded.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  openPage, pageForTests, listen, takeViews, tappedSamples, measurePitch, menu, openFile,
  downloaded, savedRecording, sourceRoot, wavSamples,
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
    refuse: false,
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
  // One MIDIMessageEvent on input `name`, stamped now.
  fake.play = (name, bytes) => {
    fake.inputs.get(`input-${name}`).onmidimessage?.({
      data: new Uint8Array(bytes), timeStamp: performance.now(),
    });
  };
  Object.defineProperty(Navigator.prototype, 'requestMIDIAccess', {
    configurable: true,
    value() {
      fake.calls.push(performance.now());
      if (fake.refuse) return Promise.reject(new DOMException('refused', 'NotAllowedError'));
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

const optionsOf = (list) => page.locator(`${list} option`).allTextContents();

test('MIDI is asked for only from its menu item, whose dialog follows the ports', async () => {
  // The page has loaded, the sound runs and the menus open: nothing has asked for MIDI yet.
  await page.getByRole('menuitem', { name: 'File', exact: true }).click();
  await page.keyboard.press('Escape');
  assert.equal(await page.evaluate(() => window.fakeMidi.calls.length), 0);

  const before = await page.evaluate(() => performance.now());
  await menu(page, 'MIDI', 'Connect MIDI\u2026');
  const dialog = page.getByRole('dialog', { name: 'MIDI' });
  await dialog.getByRole('combobox', { name: /Input/ }).waitFor();
  const calls = await page.evaluate(() => window.fakeMidi.calls);
  assert.equal(calls.length, 1);
  assert.ok(calls[0] >= before);
  assert.deepEqual(await optionsOf('#midi-input'), ['None', 'Test keys']);
  assert.deepEqual(await optionsOf('#midi-output'), ['None', 'Test synth']);

  // Ports that come and go show up and leave; a chosen one that leaves stays named.
  await page.evaluate(() => window.fakeMidi.connect('input', 'Wind controller'));
  assert.deepEqual(await optionsOf('#midi-input'), ['None', 'Test keys', 'Wind controller']);
  await dialog.getByRole('combobox', { name: /Input/ }).selectOption('Wind controller');
  await page.evaluate(() => window.fakeMidi.disconnect('input', 'Wind controller'));
  assert.deepEqual(await optionsOf('#midi-input'),
    ['None', 'Test keys', 'Wind controller (not connected)']);
  await dialog.getByRole('combobox', { name: /Input/ }).selectOption('None');
  assert.deepEqual(await optionsOf('#midi-input'), ['None', 'Test keys']);
  await dialog.getByRole('button', { name: 'Close' }).click();
  // Chosen again, the item opens the dialog without asking the browser again.
  assert.match(await page.locator('#midi-item').textContent(), /MIDI ports/);
  await menu(page, 'MIDI', 'MIDI ports\u2026');
  await dialog.getByRole('button', { name: 'Close' }).click();
  assert.equal(await page.evaluate(() => window.fakeMidi.calls.length), 1);
});

test('without Web MIDI, or with MIDI refused, the menu item and its dialog say so', async () => {
  for (const [initScript, item, said] of [
    [() => delete Navigator.prototype.requestMIDIAccess, 'MIDI: not in this browser',
      /This browser has no Web MIDI/],
    [installFakeMidiRefusing, 'Connect MIDI\u2026', /The browser refused MIDI/],
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
