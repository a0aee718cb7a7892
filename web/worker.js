// The page's worker: a copy of the WebAssembly module that reads opened recordings into lines
// and makes the exports, off the page's main thread and off the audio thread. The page hands it
// the compiled module first; then each message is one job, answered in order. A long export
// reports its progress; the page cancels one by ending the worker.
import createDoodleChorus from './doodlechorus.js';

let program = null;
let pointLayout = null; // a parsed point's bytes and where its x and y (int32) are
const waiting = [];

// Copies `count` bytes at `pointer` out of the module's memory into a buffer of their own.
function copyOut(pointer, count) {
  return program.HEAPU8.slice(pointer, pointer + count).buffer;
}

// Puts `bytes` into the module's memory for the length of `use`.
function withBytes(bytes, use) {
  const pointer = program._malloc(Math.max(bytes.byteLength, 1));
  try {
    program.HEAPU8.set(new Uint8Array(bytes), pointer);
    return use(pointer, bytes.byteLength);
  } finally {
    program._free(pointer);
  }
}

function parse({ id, bytes }) {
  const parsed = withBytes(bytes, (pointer, count) => program.workerParse(pointer, count));
  if (parsed === null) {
    postMessage({ id, type: 'parsed', tooLarge: true });
    return;
  }
  const { lines, text, points, released } = parsed;
  // The dots the page shows for it, x, y pairs, made here rather than on the page's thread.
  const ink = new Int32Array(2 * lines);
  const pointView = new DataView(points);
  for (let i = 0; i < lines; i++) {
    ink[2 * i] = pointView.getInt32(pointLayout.bytes * i + pointLayout.xOffset, true);
    ink[2 * i + 1] = pointView.getInt32(pointLayout.bytes * i + pointLayout.yOffset, true);
  }
  postMessage({ id, type: 'parsed', lines, text, points, released, ink: ink.buffer },
    [text, points, released, ink.buffer]);
}

function exportFile({ id, kind, text, settings }) {
  program.onExportProgress = (done, total) => postMessage({ id, type: 'progress', done, total });
  const size = withBytes(text, (pointer, count) => program.workerExport(kind, pointer, count,
    settings));
  if (size < 0) {
    postMessage({ id, type: 'exported', failed: true });
    return;
  }
  // Made into a Blob here, which posts by reference: a copy on the page's thread (100 MB for
  // ten minutes of WAV) would stall the page for a few frames.
  const at = program._dc_worker_exported();
  postMessage({ id, type: 'exported', file: new Blob([program.HEAPU8.subarray(at, at + size)]) });
}

function handle(message) {
  if (message.type === 'parse') parse(message);
  else if (message.type === 'export') exportFile(message);
}

onmessage = (event) => {
  if (event.data.type === 'module') {
    createDoodleChorus({
      instantiateWasm(imports, receive) {
        WebAssembly.instantiate(event.data.wasmModule, imports).then((instance) => receive(instance));
        return {};
      },
    }).then((instance) => {
      program = instance;
      pointLayout = program.tables().pointLayout;
      for (const message of waiting.splice(0)) handle(message);
    });
  } else if (program) {
    handle(event.data);
  } else {
    waiting.push(event.data);
  }
};
