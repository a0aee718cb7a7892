// The program in the audio worklet: one instance of the WebAssembly module runs the program's
// logic, its voice and its play clock on the sample clock. The page's events arrive through
// the port; the program's view calls go back through it, stamped with the frame they happened
// at, its paints gathered into one message at the end of each render quantum that had any.
// Files never reach this thread as files: an opened recording arrives read (by the page's
// worker) and is taken in a few pieces per render quantum; saves and exports leave as bytes or
// as lines for the worker to render.
import createDoodleChorus from './doodlechorus.js';
import { MidiInQueue } from './midi-in-queue.js';

const kTapFrames = 2048; // samples per tap message: about 46 ms
// Frames of one process() call: the Web Audio render quantum.
const kRenderQuantumFrames = 128;
// How much of an opened recording one render quantum takes in: a copy of this many bytes
// lasts well under a tenth of the quantum's 2.9 ms, whatever the recording's size.
const kOpenTextBytesPerQuantum = 1 << 20;
const kOpenPointsPerQuantum = 1 << 16; // the module's pointLayout.bytes each
const kOpenFlagsPerQuantum = 1 << 16; // a byte each, taken one by one
// How much of the recording's file a snapshot writes a render quantum: the program writes it
// line by line, about 1.5 ms a MiB, and the voice needs the rest of the quantum's 2.9 ms.
const kSnapshotBytesPerQuantum = 1 << 18;
// A time stamp further ahead than this (a clock gone wrong) is taken as now: 0.1 s.
const kMidiInMaxAheadFrames = 4410;
// dc_program_open's answers.
const kOpenCancelled = 0;
const kOpenUnreadable = 1;
const kOpenTooLarge = 2;
const kOpenRecording = 3;

class DoodleChorusProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.program = null;
    this.waiting = [];
    this.outPointer = 0; // the module's output block, kRenderQuantumFrames samples
    this.outView = null; // a Float32Array over it, made anew only when the memory grows
    // Where each piece of an opened recording is copied in, and each piece of a snapshot's
    // recording written.
    this.piecePointer = 0;
    this.pointBytes = 0; // a recording point's bytes, as the module lays them out
    this.opening = null; // { text, points, released, at: { text, points, released } }
    this.snapshotting = null; // { recording: Uint8Array, at } while written in pieces
    this.tap = null; // { frame, samples, filled } while the page listens
    // The context's frame (currentFrame) minus the program's sample clock; known from the
    // first process() call on.
    this.contextOffset = null;
    this.midiIn = null; // the MIDI input waiting for its frame, once the program runs
    this.port.onmessage = (event) => {
      if (this.program && !this.busy()) this.handle(event.data);
      else this.waiting.push(event.data); // in order, after the recording being taken or given
    };
    const post = (message, transfer = []) => {
      message.frame = this.program._dc_program_frame();
      this.port.postMessage(message, transfer);
    };
    const view = {
      note: (name) => post({ type: 'note', name }),
      state: (control, value) => post({ type: 'state', control, value }),
      message: (title, text) => post({ type: 'message', title, text }),
      help: (text) => post({ type: 'help', text }),
      store: (name, bytes) => post({ type: 'store', name, bytes }, [bytes.buffer]),
      export: (job) => post({ type: 'export', ...job }, [job.text.buffer]),
      midi: (bytes) => this.port.postMessage({ type: 'midi', bytes,
        contextFrame: this.program._dc_program_frame() + (this.contextOffset ?? 0) },
      [bytes.buffer]),
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
      this.pointBytes = program.tables().pointLayout.bytes;
      program.programStart();
      this.midiIn = new MidiInQueue((status, data1, data2) => program._dc_program_midi(status,
        data1, data2), () => program._dc_program_midi_end());
      // Allocated once here: process() allocates nothing of its own.
      this.outPointer = program._malloc(Float32Array.BYTES_PER_ELEMENT * kRenderQuantumFrames);
      this.piecePointer = program._malloc(Math.max(kOpenTextBytesPerQuantum,
        kOpenPointsPerQuantum * this.pointBytes, kSnapshotBytesPerQuantum));
      this.handleWaiting();
    });
  }

  // A recording being taken in or written out in pieces: the events wait, since they may change
  // it.
  busy() {
    return this.opening !== null || this.snapshotting !== null;
  }

  handleWaiting() {
    while (this.waiting.length > 0 && !this.busy()) this.handle(this.waiting.shift());
  }

  handle(message) {
    const p = this.program;
    switch (message.type) {
      case 'pointer':
        p.programPointer(message.action, message.x, message.y, message.buttons);
        break;
      case 'control':
        p.programControl(message.id);
        break;
      case 'record':
        p.programRecord(Boolean(message.down));
        break;
      case 'play':
        p.programPlay(Boolean(message.down));
        break;
      case 'grid': {
        const checked = p.programGrid(Boolean(message.ticked));
        // The box shows the tick the program keeps: a state the program set before this click
        // may reach the page after it.
        this.port.postMessage({ type: 'state', control: 'gridChecked', value: checked ? 1 : 0,
          frame: p._dc_program_frame() });
        break;
      }
      case 'speed':
        p.programSpeed(message.tenths);
        break;
      case 'root':
        p.programRoot(message.index);
        break;
      case 'menu':
        p.programMenu(message.id);
        break;
      case 'open':
        this.open(message);
        break;
      case 'snapshot':
        // The recording as Save writes it, when asked for, is written a piece a quantum (the
        // first one now): a large one would hold up the sound.
        if (message.withRecording) {
          this.snapshotting = {
            recording: new Uint8Array(p._dc_program_recording_start()),
            at: 0,
          };
          this.takeSnapshotPiece();
        } else {
          this.postSnapshot(null);
        }
        break;
      case 'restore':
        // A kept or linked drawing: its settings as a person's choices, then its ink (x, y
        // pairs) unless null. The program reports every setting afterwards.
        p.programRestore(message.settings, message.inkXY ?? null);
        // Its picture now: a drawing restored at load, before the sound may start (a browser
        // starts it at the first press), is shown without waiting for a render quantum.
        this.postPaints();
        break;
      case 'midiIn':
        this.queueMidiIn(message.messages, message.contextFrame);
        break;
      case 'midiOut':
        p.programMidiOut(Boolean(message.open));
        break;
      case 'tap':
        this.tap = message.on ? { frame: 0, samples: null, filled: 0 } : null;
        break;
      default:
        break;
    }
  }

  // What the page keeps: the ink, the controls, and the recording's bytes when asked for (an
  // empty recording is empty bytes).
  postSnapshot(recording) {
    const p = this.program;
    const ink = p.programInk();
    this.port.postMessage({ type: 'snapshot', recording, ink, settings: p.programSettings() },
      recording ? [recording, ink.buffer] : [ink.buffer]);
  }


  takeSnapshotPiece() {
    const p = this.program;
    const s = this.snapshotting;
    const written = p._dc_program_recording_piece(this.piecePointer,
      Math.min(kSnapshotBytesPerQuantum, s.recording.length - s.at));
    s.recording.set(p.HEAPU8.subarray(this.piecePointer, this.piecePointer + written), s.at);
    s.at += written;
    // Nothing written before the end would be a fault: the snapshot ends rather than wait.
    if (s.at < s.recording.length && written > 0) return;
    this.snapshotting = null;
    this.postSnapshot(s.recording.buffer);
    this.handleWaiting();
  }

  // The open dialog's answer: nothing, a reason, or the parts of a recording the worker read,
  // which process() takes in a few pieces a quantum before the program opens it.
  open(message) {
    const p = this.program;
    if (message.answer !== 'recording') {
      p._dc_program_open({ unreadable: kOpenUnreadable, tooLarge: kOpenTooLarge }[message.answer]
        ?? kOpenCancelled);
      return;
    }
    if (!p._dc_program_open_reserve(message.text.byteLength, message.lines)) {
      p._dc_program_open(kOpenTooLarge);
      return;
    }
    this.opening = {
      text: new Uint8Array(message.text),
      points: new Uint8Array(message.points),
      released: new Uint8Array(message.released),
      at: { text: 0, points: 0, released: 0 },
    };
  }

  // Copies the next piece of `part` into the module and hands it over with `add`; false when
  // the part is complete already.
  takePiece(part, pieceBytes, unitBytes, add) {
    const o = this.opening;
    const bytes = o[part];
    if (o.at[part] >= bytes.length) return false;
    const piece = bytes.subarray(o.at[part], o.at[part] + pieceBytes);
    this.program.HEAPU8.set(piece, this.piecePointer);
    if (!add(this.piecePointer, piece.length / unitBytes)) o.failed = true;
    o.at[part] += piece.length;
    return true;
  }

  takeOpeningPiece() {
    const p = this.program;
    const taken = this.takePiece('text', kOpenTextBytesPerQuantum, 1,
      (at, count) => p._dc_program_open_text(at, count))
      || this.takePiece('points', kOpenPointsPerQuantum * this.pointBytes, this.pointBytes,
        (at, count) => p._dc_program_open_points(at, count))
      || this.takePiece('released', kOpenFlagsPerQuantum, 1,
        (at, count) => p._dc_program_open_released(at, count));
    if (taken && !this.opening.failed) return;
    this.opening = null;
    p._dc_program_open(kOpenRecording); // a recording that did not come whole is refused
    this.handleWaiting();
  }

  // One delivery of MIDI input (status, data1, data2 triples), due at the context's frame
  // `contextFrame`.
  queueMidiIn(messages, contextFrame) {
    const now = this.program._dc_program_frame();
    let due = this.contextOffset === null ? now : contextFrame - this.contextOffset;
    if (due > now + kMidiInMaxAheadFrames) due = now;
    this.midiIn.add(messages, due);
  }

  // The module's output block; made anew only after the module's memory grew (an event
  // handed over while rendering may grow it).
  renderedView() {
    const p = this.program;
    if (this.outView === null || this.outView.buffer !== p.HEAPF32.buffer) {
      this.outView = new Float32Array(p.HEAPF32.buffer, this.outPointer, kRenderQuantumFrames);
    }
    return this.outView;
  }

  process(inputs, outputs) {
    const out = outputs[0][0];
    const p = this.program;
    if (!p) return true;
    if (this.opening) this.takeOpeningPiece();
    else if (this.snapshotting) this.takeSnapshotPiece();
    const frame = p._dc_program_frame();
    // currentFrame: the context's frame at this call's first sample.
    this.contextOffset = currentFrame - frame;
    // One quantum at a time, should a browser ever ask for more; split where a MIDI input
    // message falls due, so that the program has it at its own frame (a late one at once).
    for (let done = 0; done < out.length; done += kRenderQuantumFrames) {
      const frames = Math.min(kRenderQuantumFrames, out.length - done);
      for (let rendered = 0; rendered < frames;) {
        const now = p._dc_program_frame();
        this.midiIn.handDue(now);
        const chunk = Math.min(frames - rendered, this.midiIn.nextDueFrame() - now);
        p._dc_program_render(this.outPointer + Float32Array.BYTES_PER_ELEMENT * rendered, chunk);
        rendered += chunk;
      }
      const rendered = this.renderedView();
      out.set(frames === kRenderQuantumFrames ? rendered : rendered.subarray(0, frames), done);
    }
    if (this.tap) this.tapSamples(frame, out);
    this.postPaints();
    return true;
  }

  // What the program painted since the last quantum, as one message: every paint call's steps
  // one after the other, where each call's steps end, and the frame of each call.
  postPaints() {
    const p = this.program;
    const count = p._dc_program_paint_count();
    if (count === 0) return;
    const stepsAt = p._dc_program_paint_steps() / Int32Array.BYTES_PER_ELEMENT;
    const steps = p.HEAP32.slice(stepsAt, stepsAt + p._dc_program_paint_step_count());
    const endsAt = p._dc_program_paint_ends() / Int32Array.BYTES_PER_ELEMENT;
    const ends = p.HEAP32.slice(endsAt, endsAt + count);
    const framesAt = p._dc_program_paint_frames() / Float64Array.BYTES_PER_ELEMENT;
    const frames = p.HEAPF64.slice(framesAt, framesAt + count);
    p._dc_program_paints_clear();
    this.port.postMessage({ type: 'paint', steps, ends, frames },
      [steps.buffer, ends.buffer, frames.buffer]);
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
      // With the wall-clock time it leaves the audio thread, ms: a listener can tell how
      // evenly the thread ran.
      this.port.postMessage({ type: 'tap', frame: tap.frame, samples: full, sentMs: Date.now() },
        [full.buffer]);
      tap.samples = null;
      if (count < samples.length) this.tapSamples(frame + count, samples.subarray(count));
    }
  }
}

registerProcessor('doodlechorus', DoodleChorusProcessor);
