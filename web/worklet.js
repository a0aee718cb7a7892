// The program in the audio worklet: one instance of the WebAssembly module runs the program's
// logic, its voice and its play clock on the sample clock. The page's events arrive through
// the port; the program's view calls go back through it, stamped with the frame they happened
// at.
import createDoodleChorus from './doodlechorus.js';
import { withCString } from './cstring.js';

const kTapFrames = 2048; // samples per tap message: about 46 ms
// Frames of one process() call: the Web Audio render quantum.
const kRenderQuantumFrames = 128;
const kOpenPath = '/open.sav';
const kSaveAnswer = '/DoodleChorus'; // the save dialog's answer; the program adds ".sav"
const kSavedPath = '/DoodleChorus.sav';
const kCopyPath = '/copy.sav';

// An audio worklet's scope has no crypto, whose getRandomValues the module's C library draws on
// (getentropy: the names of temporary files when a file is replaced). This generator (sfc32),
// seeded with the page's crypto.getRandomValues, stands in: the names need to be unlikely to
// collide, not secret.
function seededRandomValues([a, b, c, d]) {
  return (array) => {
    const bytes = new Uint8Array(array.buffer, array.byteOffset, array.byteLength);
    for (let i = 0; i < bytes.length; i++) {
      const t = (((a + b) >>> 0) + d) >>> 0;
      d = (d + 1) >>> 0;
      a = b ^ (b >>> 9);
      b = (c + (c << 3)) >>> 0;
      c = ((c << 21) | (c >>> 11)) >>> 0;
      c = (c + t) >>> 0;
      bytes[i] = t >>> 24;
    }
    return array;
  };
}

class DoodleChorusProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    if (typeof globalThis.crypto === 'undefined') {
      globalThis.crypto = { getRandomValues: seededRandomValues(options.processorOptions.seed) };
    }
    this.program = null;
    this.ids = null; // the program's ids by name, once the module runs
    this.waiting = [];
    this.outPointer = 0; // the module's output block, kRenderQuantumFrames samples
    this.outView = null; // a Float32Array over it, made anew only when the memory grows
    this.tap = null; // { frame, samples, filled } while the page listens
    this.port.onmessage = (event) => {
      if (this.program) this.handle(event.data);
      else this.waiting.push(event.data);
    };
    const post = (message) => {
      message.frame = this.program._dc_program_frame();
      this.port.postMessage(message);
    };
    const view = {
      canvas: (canvas) => post({ type: 'canvas', ...canvas }),
      dot: (x, y) => post({ type: 'dot', x, y }),
      note: (name) => post({ type: 'note', name }),
      state: (control, value) => post({ type: 'state', control, value }),
      message: (title, text) => post({ type: 'message', title, text }),
      help: (text) => post({ type: 'help', text }),
    };
    createDoodleChorus({
      view,
      // A fault in the module ends it: the page says so instead of going on without sound.
      onAbort: (what) => this.port.postMessage({ type: 'failed', what: String(what) }),
      locateFile: (path) => path, // never fetched: the page hands over the compiled module
      instantiateWasm(imports, receive) {
        receive(new WebAssembly.Instance(options.processorOptions.wasmModule, imports));
        return {};
      },
    }).then((program) => {
      this.program = program;
      this.ids = JSON.parse(program.UTF8ToString(program._dc_ids_json()));
      program._dc_program_start();
      // Allocated once here: process() allocates nothing.
      this.outPointer = program._malloc(Float32Array.BYTES_PER_ELEMENT * kRenderQuantumFrames);
      for (const message of this.waiting.splice(0)) this.handle(message);
    });
  }

  // The recording as Save writes it. An empty recording is saved as no file: it is empty bytes.
  copyRecording() {
    const p = this.program;
    const saved = withCString(p, kCopyPath, (pointer) => p._dc_program_copy_recording(pointer));
    const bytes = saved ? p.FS.readFile(kCopyPath).buffer : new ArrayBuffer(0);
    this.removeFile(kCopyPath);
    return bytes;
  }

  // The controls a playback or an export plays with.
  controls() {
    const p = this.program;
    return {
      playSpeed: p._dc_program_play_speed(),
      voiceType: p._dc_program_voice_type(),
      scaleMode: p._dc_program_scale_mode(),
      rootIndex: p._dc_program_root_index(),
    };
  }

  menu(id, path) {
    withCString(this.program, path, (pointer) => this.program._dc_program_menu(id, pointer));
  }

  removeFile(path) {
    const { FS } = this.program;
    if (FS.analyzePath(path).exists) FS.unlink(path);
  }

  handle(message) {
    const p = this.program;
    switch (message.type) {
      case 'pointer':
        p._dc_program_pointer(message.action, message.x, message.y, message.buttons);
        break;
      case 'control':
        p._dc_program_control(message.id);
        break;
      case 'record':
        p._dc_program_record(message.down ? 1 : 0);
        break;
      case 'play':
        p._dc_program_play(message.down ? 1 : 0);
        break;
      case 'grid':
        p._dc_program_grid(message.ticked ? 1 : 0);
        // The box shows the tick the program keeps: a state the program set before this click
        // may reach the page after it.
        this.port.postMessage({ type: 'state', control: 'gridChecked',
          value: p._dc_program_grid_checked(), frame: p._dc_program_frame() });
        break;
      case 'speed':
        p._dc_program_speed(message.tenths);
        break;
      case 'root':
        p._dc_program_root(message.index);
        break;
      case 'menu':
        this.menu(message.id, null);
        break;
      case 'open':
        // The open dialog's answer: the chosen file, in this module's memory for the moment
        // the program reads it.
        if (message.bytes === null) {
          this.menu(this.ids.menuOpen, null);
        } else {
          p.FS.writeFile(kOpenPath, new Uint8Array(message.bytes));
          this.menu(this.ids.menuOpen, kOpenPath);
          this.removeFile(kOpenPath);
        }
        break;
      case 'save': {
        this.removeFile(kSavedPath);
        this.menu(this.ids.menuSave, kSaveAnswer);
        if (p.FS.analyzePath(kSavedPath).exists) {
          const bytes = p.FS.readFile(kSavedPath).buffer;
          this.removeFile(kSavedPath);
          this.port.postMessage({ type: 'saved', bytes }, [bytes]);
        }
        break;
      }
      case 'exportRecording': {
        const bytes = this.copyRecording();
        this.port.postMessage({
          type: 'recordingCopy', format: message.format, bytes, ...this.controls(),
        }, [bytes]);
        break;
      }
      case 'snapshot': {
        // What the page keeps: the ink, the controls, and the recording when asked for.
        const recording = message.withRecording ? this.copyRecording() : null;
        const at = p._dc_program_ink() >> 2;
        const ink = p.HEAP32.slice(at, at + 2 * p._dc_program_ink_count());
        this.port.postMessage({
          type: 'snapshot', recording, ink, ...this.controls(),
          gridChecked: p._dc_program_grid_checked(),
        }, recording ? [recording, ink.buffer] : [ink.buffer]);
        break;
      }
      case 'restoreInk': {
        // Ink kept by the page from an earlier visit, as x, y pairs.
        const pointer = p._malloc(Math.max(message.inkXY.byteLength, 1));
        p.HEAP32.set(message.inkXY, pointer >> 2);
        p._dc_program_restore_ink(pointer, message.inkXY.length / 2);
        p._free(pointer);
        break;
      }
      case 'tap':
        this.tap = message.on ? { frame: 0, samples: null, filled: 0 } : null;
        break;
      default:
        break;
    }
  }

  process(inputs, outputs) {
    const out = outputs[0][0];
    const p = this.program;
    if (!p) return true;
    if (this.outView === null || this.outView.buffer !== p.HEAPF32.buffer) {
      this.outView = new Float32Array(p.HEAPF32.buffer, this.outPointer, kRenderQuantumFrames);
    }
    const frame = p._dc_program_frame();
    // One quantum at a time, should a browser ever ask for more.
    for (let done = 0; done < out.length; done += kRenderQuantumFrames) {
      const frames = Math.min(kRenderQuantumFrames, out.length - done);
      p._dc_program_render(this.outPointer, frames);
      out.set(frames === kRenderQuantumFrames ? this.outView
        : this.outView.subarray(0, frames), done);
    }
    if (this.tap) this.tapSamples(frame, out);
    return true;
  }

  tapSamples(frame, samples) {
    const tap = this.tap;
    if (tap.samples === null) {
      tap.samples = new Float32Array(kTapFrames);
      tap.frame = frame;
      tap.filled = 0;
    }
    const count = Math.min(samples.length, kTapFrames - tap.filled);
    tap.samples.set(samples.subarray(0, count), tap.filled);
    tap.filled += count;
    if (tap.filled === kTapFrames) {
      const full = tap.samples;
      this.port.postMessage({ type: 'tap', frame: tap.frame, samples: full }, [full.buffer]);
      tap.samples = null;
      if (count < samples.length) this.tapSamples(frame + count, samples.subarray(count));
    }
  }
}

registerProcessor('doodlechorus', DoodleChorusProcessor);
