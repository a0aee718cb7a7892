// The WebAssembly module on the page's main thread: compiled once and handed to the worklet and
// the worker, and instantiated here for the program's tables (ids, ranges, captions, messages,
// kinds of files) and the pictures of kept drawings.
import createDoodleChorus from './doodlechorus.js';

async function compileModule() {
  const response = fetch('doodlechorus.wasm');
  try {
    return await WebAssembly.compileStreaming(response);
  } catch {
    // A server that does not send application/wasm.
    return WebAssembly.compile(await (await fetch('doodlechorus.wasm')).arrayBuffer());
  }
}

export const wasmModule = await compileModule();
export const files = await createDoodleChorus({
  instantiateWasm(imports, receive) {
    WebAssembly.instantiate(wasmModule, imports).then((instance) => receive(instance));
    return {};
  },
});

// The program's ids, ranges, captions, labels, messages and kinds of files, by name, as the
// module defines them.
export const ids = files.tables();

// What a kept drawing or a link may hold.
export const limits = {
  noteCount: ids.noteNames.length,
  minSpeedTenths: ids.minSpeedTenths,
  maxSpeedTenths: ids.maxSpeedTenths,
  maxRecordingBytes: ids.maxOpenFileBytes,
  scaleNames: ids.scaleNames,
  tuningNames: ids.tuning.items.map((item) => item.caption),
};

// The program's whole picture of a drawing (its grid when withGrid, its ink as x, y pairs) as
// paint steps: a kept drawing is shown with it before the program's sound has started.
export function paintOf(withGrid, scaleMode, inkXY) {
  return files.canvasPaint(withGrid, scaleMode, inkXY);
}

// The vowel each band of the voice type starts on, as [{ y, name }] from top to bottom.
export function vowelLabels(voiceType) {
  return files.vowelLabels(voiceType);
}
