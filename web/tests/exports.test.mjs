// The page's WAV exports compared with doodlechorus-render's over a matrix of recordings and
// controls: the module the page's worker runs, instantiated here as worker.js instantiates it
// and called as it calls it, without a browser (WebAssembly computes the same floats in Node.js
// and in any browser).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { sourceRoot, webRoot, wavSamples, compareWavSamples, longDrawing,
  kMaxDifferingSamplesShare } from './harness.mjs';

const renderTool = process.env.DC_RENDER_TOOL
  ?? path.join(sourceRoot, 'build/tools/doodlechorus-render');

let scratch;
let module;
let tables;
before(async () => {
  scratch = mkdtempSync(path.join(os.tmpdir(), 'dc-web-exports-'));
  const { default: createDoodleChorus } =
    await import(pathToFileURL(path.join(webRoot, 'doodlechorus.js')).href);
  const wasmBytes = readFileSync(path.join(webRoot, 'doodlechorus.wasm'));
  const wasmModule = await WebAssembly.compile(wasmBytes);
  module = await createDoodleChorus({
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(wasmModule, imports).then((instance) => receive(instance));
      return {};
    },
  });
  tables = module.tables();
});
after(() => {
  rmSync(scratch, { recursive: true, force: true });
});

// The WAV export of a recording file's bytes, as the page's worker makes it.
function pageExport(bytes, { scaleMode, rootIndex, voiceType, speedTenths, tuning }) {
  const pointer = module._malloc(Math.max(bytes.length, 1));
  try {
    module.HEAPU8.set(bytes, pointer);
    const size = module.workerExport(tables.files.wav.kind, pointer, bytes.length,
      { scaleMode, rootIndex, voiceType, speedTenths, grid: false, tuning });
    assert.ok(size >= 0, 'the export failed');
    const start = module._dc_worker_exported();
    return Buffer.from(module.HEAPU8.slice(start, start + size));
  } finally {
    module._free(pointer);
  }
}

const kSpeedsTenths = [10, 23, 37, 50];
const kRootStride = 5; // coprime with the 12 roots: successive cells visit all of them

// Every example with every scale and both voices; the roots, speeds and tunings go round over
// those cells so that each scale meets several roots and every speed, and each example every speed
// (a covering design rather than the whole product, which is some 4,000 renders). The
// ten-minute drawing adds a cell of its own, where differing samples are certain to appear.
function matrix() {
  const examples = readdirSync(path.join(sourceRoot, 'examples')).filter((f) => f.endsWith('.sav'))
    .sort().map((f) => path.join(sourceRoot, 'examples', f));
  const long = path.join(scratch, 'ten-minutes.sav');
  writeFileSync(long, longDrawing().text);
  const cells = [];
  for (const [exampleIndex, file] of examples.entries()) {
    for (let scaleMode = 0; scaleMode < tables.scaleNames.length; scaleMode++) {
      for (const voiceType of [1, 2]) {
        const index = cells.length;
        cells.push({ file, scaleMode, voiceType,
          rootIndex: (kRootStride * index) % tables.noteNames.length,
          tuning: Math.floor(index / 2) % tables.tuning.items.length,
          speedTenths: kSpeedsTenths[(exampleIndex + scaleMode + 2 * (voiceType - 1))
            % kSpeedsTenths.length] });
      }
    }
  }
  cells.push({ file: long, scaleMode: 1, rootIndex: 2, voiceType: 2, speedTenths: 23,
    tuning: 1 });
  return cells;
}

test('the page\'s WAV exports are the render tool\'s within the stated bound', () => {
  let samples = 0;
  let differing = 0;
  let largestSteps = 0;
  let largestQuietDifference = 0;
  const cells = matrix();
  for (const [index, cell] of cells.entries()) {
    const { file, scaleMode, rootIndex, voiceType, speedTenths, tuning } = cell;
    const toolWav = path.join(scratch, `${index}.wav`);
    const speed = (speedTenths / tables.tenthsPerSpeed).toFixed(1);
    execFileSync(renderTool, ['--quiet', '--speed', speed, '--voice', String(voiceType),
      '--scale', tables.scaleNames[scaleMode].toLowerCase(), '--root', tables.noteNames[rootIndex],
      '--tuning', tables.tuning.items[tuning].caption.toLowerCase(), file, toolWav]);
    const theirBytes = readFileSync(toolWav);
    rmSync(toolWav);
    const ourBytes = pageExport(readFileSync(file), cell);
    const name = `${path.basename(file)} ${JSON.stringify(cell, ['scaleMode', 'rootIndex',
      'voiceType', 'speedTenths', 'tuning'])}`;

    const ours = wavSamples(ourBytes);
    const theirs = wavSamples(theirBytes);
    assert.equal(ours.length, theirs.length, `${name}: sample count`);
    // Every byte outside the samples is the tool's: the header before them, nothing after.
    const headerBytes = theirBytes.length - 4 * theirs.length;
    assert.equal(ourBytes.length, theirBytes.length, `${name}: file size`);
    assert.ok(ourBytes.subarray(0, headerBytes).equals(theirBytes.subarray(0, headerBytes)),
      `${name}: WAV header differs`);
    const compared = compareWavSamples(ours, theirs);
    assert.equal(compared.firstOutside, -1, `${name}: ${JSON.stringify(compared)}`);
    assert.ok(compared.differing <= kMaxDifferingSamplesShare * ours.length,
      `${name}: ${compared.differing} of ${ours.length} samples differ`);
    samples += ours.length;
    differing += compared.differing;
    largestSteps = Math.max(largestSteps, compared.largestSteps);
    largestQuietDifference = Math.max(largestQuietDifference, compared.largestQuietDifference);
  }
  console.log(`${cells.length} exports, ${samples} samples: ${differing} differ from the tool's `
    + `(largest ${largestSteps} float steps; beyond one step, by at most `
    + `${largestQuietDifference.toExponential(2)})`);
});
